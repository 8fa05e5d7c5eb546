// The default data generator, run as a real process: same bytes on every run, archives
// the file layer can index, and tracks that the game's own loader takes and a bike can
// race on (gates in riding order, a full starting gate, shapes for every object).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "fs/vfs.h"
#include "support/test_support.h"
#include "track/collision_shape.h"
#include "track/heightfield.h"
#include "track/track.h"
#include "track/track_list.h"

namespace ks {
namespace {

const char* const kArchives[] = {"zzzz.saf", "rabbithill.saf", "sandridge.saf"};

test::RunResult run_mkdata(const std::vector<std::string>& args) {
  return test::run_program(test::bin_dir() + "/kessra-mkdata", args);
}

// name -> bytes of every member, or an empty map when the header is malformed.
std::map<std::string, std::string> unpack(const std::string& saf) {
  std::map<std::string, std::string> out;
  std::vector<std::pair<std::string, size_t>> heads;
  size_t pos = 0;
  for (;;) {
    const size_t nl = saf.find('\n', pos);
    if (nl == std::string::npos) return {};
    const std::string line = saf.substr(pos, nl - pos);
    pos = nl + 1;
    if (line == "-") break;
    const size_t sp = line.find(' ');
    if (sp == std::string::npos || sp == 0) return {};
    heads.emplace_back(line.substr(sp + 1), std::stoul(line.substr(0, sp)));
  }
  for (const auto& [name, size] : heads) {
    if (pos + size > saf.size()) return {};
    out[name] = saf.substr(pos, size);
    pos += size;
  }
  if (pos != saf.size()) return {};
  return out;
}

class Mkdata : public ::testing::Test {
 protected:
  // One generated tree shared by the tests of this suite.
  static void SetUpTestSuite() {
    out_ = new test::TempDir;
    result_ = new test::RunResult(run_mkdata({out_->path()}));
  }
  static void TearDownTestSuite() {
    delete result_;
    delete out_;
  }
  void SetUp() override { ASSERT_EQ(result_->status, 0) << result_->err; }
  void TearDown() override {
    free_track();
    reset_track_list();
    free_shape_cache();
    free_roots_and_index();
  }
  void index_generated_tree() {
    test::use_roots(home_.path(), out_->path());
    build_index();
  }

  static test::TempDir* out_;
  static test::RunResult* result_;
  test::TempDir home_;
};

test::TempDir* Mkdata::out_ = nullptr;
test::RunResult* Mkdata::result_ = nullptr;

TEST_F(Mkdata, SameBytesOnEveryRunAndTheArchivesHoldTheLooseTree) {
  test::TempDir again, loose;
  ASSERT_EQ(run_mkdata({again.path()}).status, 0);
  ASSERT_EQ(run_mkdata({"--loose", loose.path()}).status, 0);
  std::set<std::string> members;
  for (const char* a : kArchives) {
    const std::string first = test::read_file(*out_ / a);
    ASSERT_FALSE(first.empty()) << a;
    EXPECT_TRUE(first == test::read_file(again / a)) << a << " differs between runs";
    const auto files = unpack(first);
    ASSERT_FALSE(files.empty()) << a << " has a malformed header";
    for (const auto& [name, bytes] : files) {
      members.insert(name);
      EXPECT_TRUE(bytes == test::read_file(loose / name)) << name << " in " << a;
    }
  }
  // Nothing but the archives is left behind.
  EXPECT_FALSE(test::file_exists(*out_ / ".mkdata-stage/zzzz.saf"));
  EXPECT_FALSE(test::file_exists(*out_ / ".mkdata-stage/rabbithill/desc"));
  for (const char* shape : {"startgate.shp", "haybale.shp", "tuffblock.shp"})
    EXPECT_EQ(members.count(shape), 1u) << shape;
  for (const char* track : {"rabbithill", "sandridge"}) {
    for (const char* f : {"desc", "terrain.hf", "tilemap", "tileinfo", "shadingx2.ppm",
                          "shadows.pgm", "lighting", "timing_gates", "statues", "billboards",
                          "flaggers", "cameras", "map.png"})
      EXPECT_EQ(members.count(std::string(track) + "/" + f), 1u) << track << "/" << f;
  }
}

TEST_F(Mkdata, BadCommandLinesAndUnwritableFoldersFail) {
  const test::RunResult none = run_mkdata({});
  EXPECT_EQ(none.status, 2);
  EXPECT_NE(none.err.find("usage:"), std::string::npos);
  EXPECT_EQ(run_mkdata({"--bogus", "dir"}).status, 2);
  EXPECT_EQ(run_mkdata({"a", "b"}).status, 2);
  // A folder below a plain file can't be created.
  test::TempDir tmp;
  test::write_file(tmp / "file", "x");
  const test::RunResult r = run_mkdata({tmp / "file/data"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("kessra-mkdata:"), std::string::npos);
  EXPECT_FALSE(test::file_exists(tmp / "file/data/zzzz.saf"));
}

TEST_F(Mkdata, TheTrackListFindsBothTracks) {
  index_generated_tree();
  ASSERT_EQ(build_track_list(), 2);
  EXPECT_EQ(track_list().long_names, (std::vector<std::string>{"Rabbit Hill MX", "Sand Ridge MX"}));
  EXPECT_EQ(track_list().dirs, (std::vector<std::string>{"rabbithill", "sandridge"}));
}

struct TrackCase {
  const char* dir;
  double min_lap_miles, max_lap_miles;
};

TEST_F(Mkdata, EveryTrackLoadsAndCanBeRaced) {
  index_generated_tree();
  const TrackCase cases[] = {{"rabbithill", 0.7, 1.2}, {"sandridge", 0.6, 1.2}};
  for (const TrackCase& c : cases) {
    SCOPED_TRACE(c.dir);
    ASSERT_TRUE(load_track(c.dir));
    const Track& t = *current_track();
    const HeightField& hf = *t.terrain;
    EXPECT_TRUE(hf.exponent == 8 || hf.exponent == 9);
    EXPECT_EQ(hf.size, (2 << hf.exponent) + 1);
    EXPECT_EQ(hf.shading.size(), hf.heights.size() * 3);
    EXPECT_EQ(hf.shadows.size(), hf.heights.size());
    EXPECT_GE(hf.material_count, 4);
    // Terrain casts shadows somewhere, and the ground isn't flat.
    size_t shadowed = 0;
    for (uint8_t s : hf.shadows) shadowed += s > 128;
    EXPECT_GT(shadowed, 0u);
    EXPECT_GT(hf.max_height - hf.min_height, 10.0f);
    // The tile map uses the racing surface, the edges and the ground beside the track.
    std::set<uint8_t> used(hf.tile_map.begin(), hf.tile_map.end());
    EXPECT_GE(used.size(), 3u);

    const TimingGates& g = t.gates;
    ASSERT_TRUE(g.valid);
    EXPECT_EQ(g.start.size(), 40u);
    EXPECT_GT(g.first_lap.size(), 2u);
    EXPECT_GT(g.normal_lap.size(), 2u);
    EXPECT_LT(g.first_lap.size(), g.normal_lap.size() + 2);
    EXPECT_EQ(g.first_lap.back(), g.normal_lap.back()) << "both laps end on the finish line";
    // The lap, gate to gate: its length, and every gate facing the way riders go.
    double lap = 0;
    const size_t n = g.normal_lap.size();
    for (size_t k = 0; k < n; ++k) {
      const TimingGate& a = g.checkpoints[static_cast<size_t>(g.normal_lap[k])];
      const TimingGate& b = g.checkpoints[static_cast<size_t>(g.normal_lap[(k + 1) % n])];
      const double dx = double(b.position[0] - a.position[0]);
      const double dz = double(b.position[2] - a.position[2]);
      const double len = std::hypot(dx, dz);
      lap += len;
      EXPECT_GT((dx * double(a.direction[0]) + dz * double(a.direction[2])) / len, 0.2) << "gate " << k;
      EXPECT_GE(a.radius, 12.0f);
      EXPECT_LE(a.radius, 30.0f);
    }
    EXPECT_GT(lap / 5280, c.min_lap_miles);
    EXPECT_LT(lap / 5280, c.max_lap_miles);
    // The riders at the gate face the first checkpoint of the first lap.
    const TimingGate& first = g.checkpoints[static_cast<size_t>(g.first_lap[0])];
    for (const GatePosition& p : g.start) {
      const double fx = -std::sin(double(p.angle)), fz = -std::cos(double(p.angle));
      const double dx = double(first.position[0] - p.slot[0]);
      const double dz = double(first.position[2] - p.slot[2]);
      EXPECT_GT(fx * dx + fz * dz, 0.0);
    }

    // Gate pieces first, then the statues; every object found its collision shape.
    EXPECT_EQ(t.first_statue, 40u);
    EXPECT_GT(t.objects.size(), t.first_statue + 50);
    std::set<std::string> shapes;
    for (const TrackObject& o : t.objects) {
      ASSERT_TRUE(o.shape.has_value()) << o.shape_name;
      EXPECT_GT(o.shape->bound, 1.0f);
      shapes.insert(o.shape_name);
    }
    EXPECT_EQ(shapes, (std::set<std::string>{"@haybale.shp", "@startgate.shp", "@tuffblock.shp"}));

    EXPECT_GT(t.billboards.size(), t.first_track_billboard + 50);
    EXPECT_TRUE(t.flaggers.start.present);
    EXPECT_TRUE(t.flaggers.finish.present);
    EXPECT_FALSE(t.flaggers.track_side.empty());
    EXPECT_GT(t.cameras.list.size(), 4u);
    for (size_t k = 0; k < g.checkpoints.size(); ++k)
      EXPECT_GE(camera_for_checkpoint(t.cameras, static_cast<int>(k)), 0) << "checkpoint " << k;
    EXPECT_GT(t.lighting.sun_vector[1], 0.3f);
  }
}

}  // namespace
}  // namespace ks
