// Loading a whole track folder: order of the contents, gate pieces, billboards after the
// roost and flagger sprites, the grid, the hash, freeing, writers and ".trackinfo".
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "core/detail_settings.h"
#include "core/hash.h"
#include "fs/vfs.h"
#include "fs/vfs_test_util.h"
#include "support/test_support.h"
#include "track/track.h"
#include "track/track_list.h"
#include "track_test_util.h"

namespace ks {
namespace {

using test::write_file;

// A data tree with one track "hill": flat ground at height 5, 17 x 17 samples 4 ft apart
// (64 ft across), two shapes, and every contents file.
class TrackFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    clear_messages();
    free_track();
    free_shape_cache();
    std::string hf = "3 4.0 5.0 6.0:";
    hf += std::string(17 * 17 * 2, '\0');
    put("hill/terrain.hf", hf);
    put("hill/shadingx2.ppm", "P6\n17 17\n255\n" + std::string(17 * 17 * 3, '\x40'));
    put("hill/tileinfo", "texture @dirt.png\naddtile\n");
    put("hill/tilemap", std::string(64, '\0'));
    put("hill/desc", "Hill Country\r\nsecond line\n");
    put("hill/lighting", "near_plane 0\nambient [0.3 0.3 0.3]\n");
    put("hill/timing_gates",
        "startinggate:\n[20 0 40] 0\n[24 0 40] 0.5 @gate.jm @gate.png @gate.shp\n"
        "checkpoints:\n10 [32 0 10] [1 0 0]\n10 [50 0 32] [0 0 1]\n10 [32 0 54] [-1 0 0]\n"
        "firstlap:\n0 1 2\nnormallap:\n0 1 2 100001\n");
    put("hill/flaggers", "[30 0 30] [34 0 30] 2 0.5 3 a b c d e\n");
    put("hill/billboards", "[10 1 10] 3 0.5 #ff0000#@tree.png\n");
    put("hill/statues", "[32 2 32] 0.25 @rock.jm @rock.png @rock.shp\n"
                        "[40 0 40] 3.5 @post.jm null @rock.shp\n");
    put("hill/cameras", "gate 1 2\naddcamera 32 6 32\n");
    put("startgate.shp", "1\n0 0 0 1 1 1000 10\n");
    put("gate.shp", "1\n0 1 0 0.5 1 1000 10\n");
    put("rock.shp", "2\n0 0 0 1 1 1000 10\n3 0 4 1 1 1000 10\n");
    test::use_roots(home.path(), data.path());
  }
  void TearDown() override {
    free_track();
    free_shape_cache();
  }

  void put(const std::string& name, const std::string& bytes) { write_file(data / name, bytes); }
  std::string data_file(const std::string& name) { return test::read_file(data / name); }

  test::TempDir home, data;
};

TEST_F(TrackFolder, LoadsTheContentsInOrder) {
  ASSERT_TRUE(load_track("hill"));
  const Track* t = current_track();
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->long_name, "Hill Country");
  EXPECT_FLOAT_EQ(t->world_width, 64);
  EXPECT_FLOAT_EQ(t->lighting.near_plane, 1.0f / 1024);
  EXPECT_EQ(t->lighting.sky[kSkyNorth], "@sky-n.ppm");

  ASSERT_TRUE(t->gates.valid);
  EXPECT_EQ(t->gates.normal_lap_unmarked, 3);
  ASSERT_EQ(t->gates.start.size(), 2u);

  // Gate pieces come first, 3 ft ahead of their slots, standing on the ground.
  ASSERT_EQ(t->objects.size(), 4u);
  EXPECT_EQ(t->first_statue, 2u);
  EXPECT_EQ(t->gates.start[0].object, 0);
  const TrackObject& piece = t->objects[0];
  EXPECT_NEAR(piece.position[0], 20, 1e-5);
  EXPECT_NEAR(piece.position[2], 37, 1e-5);
  EXPECT_FLOAT_EQ(piece.position[1], 5);
  EXPECT_EQ(piece.model, "@startgate.jm");
  ASSERT_TRUE(piece.shape);
  const TrackObject& turned = t->objects[1];
  EXPECT_NEAR(turned.position[0], 24 - 3 * std::sin(0.5), 1e-5);
  EXPECT_NEAR(turned.position[2], 40 - 3 * std::cos(0.5), 1e-5);
  EXPECT_EQ(turned.shape_name, "@gate.shp");
  const TrackObject& rock = t->objects[2];
  EXPECT_FLOAT_EQ(rock.position[1], 7);
  ASSERT_TRUE(rock.shape);
  EXPECT_FLOAT_EQ(rock.shape->bound, 6);

  // Roost sprites, then the flagger, then the track's billboards.
  EXPECT_EQ(t->first_track_billboard, size_t(kRoostSprites + 1));
  ASSERT_EQ(t->billboards.size(), size_t(kRoostSprites + 2));
  EXPECT_EQ(t->flaggers.start.billboard, kRoostSprites);
  EXPECT_EQ(t->billboards.back().texture_name, "@tree.png");
  EXPECT_FLOAT_EQ(t->billboards.back().position[1], 6);
  EXPECT_EQ(t->billboards.back().r, 255);
  EXPECT_EQ(t->billboards.back().g, 0);

  // (32 / 64 - 0.125) * 32 / 3 = 4: the rock (reaching 6 ft) is in cell (4, 4), and so is
  // the post at (40, 40), whose reach begins at 34 ft.
  EXPECT_EQ(t->grid.cells[4 * 8 + 4], (std::vector<int>{2, 3}));
  EXPECT_EQ(t->grid.cells[6 * 8 + 6], (std::vector<int>{3}));
  EXPECT_EQ(t->map_texture, "@hill/map.png");
  EXPECT_EQ(camera_for_checkpoint(t->cameras, 2), 0);
  EXPECT_FLOAT_EQ(t->cameras.list[0].position[1], 11);
}

TEST_F(TrackFolder, HashCoversTheFilesInTheirOrder) {
  ASSERT_TRUE(load_track("hill"));
  Ripemd160 digest;
  // terrain.hf, terrain.png (none), texturelist (none), tilemap, tileinfo, timing_gates,
  // statues, then each distinct shape once in object order.
  for (const char* f : {"hill/terrain.hf", "hill/tilemap", "hill/tileinfo", "hill/timing_gates",
                        "hill/statues", "startgate.shp", "gate.shp", "rock.shp"}) {
    digest.update(data_file(f));
  }
  const Ripemd160Digest expected = digest.finish();
  EXPECT_EQ(to_hex(current_track()->hash), to_hex(expected));
  EXPECT_EQ(track_hash("hill", current_track()->objects), expected);

  // Any change to a hashed file changes the identity; a file outside the hash doesn't.
  put("hill/billboards", "[11 1 10] 3 0.5 @tree.png\n");
  ASSERT_TRUE(load_track("hill"));
  EXPECT_EQ(current_track()->hash, expected);
  put("hill/statues", "[33 2 32] 0.25 @rock.jm @rock.png @rock.shp\n");
  ASSERT_TRUE(load_track("hill"));
  EXPECT_NE(current_track()->hash, expected);
}

TEST_F(TrackFolder, CompressedFilesAddTheirDecompressedBytes) {
  ASSERT_TRUE(load_track("hill"));
  const Ripemd160Digest plain = current_track()->hash;
  const std::string gates = data_file("hill/timing_gates");
  std::remove((data / "hill/timing_gates").c_str());
  put("hill/timing_gates.gz", test::gzip_bytes(gates));
  test::use_roots(home.path(), data.path());
  ASSERT_TRUE(load_track("hill"));
  EXPECT_TRUE(current_track()->gates.valid);
  EXPECT_EQ(current_track()->hash, plain);
}

TEST_F(TrackFolder, ShaderMapsAreFoundBesideTheTexture) {
  put("rock_norm.png", "x");
  put("rock_norm.ppm", "x");
  put("rock_spec.seq", "x");
  put("post_norm-repeat.ppm", "x");
  put("hill/statues", "[32 2 32] 0.25 @rock.jm @rock.png null\n"
                      "[40 0 40] 0 @post.jm @post-repeat.png null\n"
                      "[41 0 40] 0 @rock.jm null null\n");
  ASSERT_TRUE(load_track("hill"));
  EXPECT_EQ(current_track()->objects[2].normal_map, "");  // headless: no shader programs
  detail_settings().use_shaders = true;
  ASSERT_TRUE(load_track("hill"));
  detail_settings().use_shaders = false;
  const auto& o = current_track()->objects;
  EXPECT_EQ(o[2].normal_map, "@rock_norm.png");
  EXPECT_EQ(o[2].specular_map, "@rock_spec.seq");
  EXPECT_EQ(o[3].normal_map, "@post_norm-repeat.ppm");
  EXPECT_EQ(o[3].specular_map, "");
  EXPECT_EQ(o[4].normal_map, "@rock_norm.png");  // from the model's name
}

TEST_F(TrackFolder, MissingOptionalFilesLeaveDefaults) {
  for (const char* f : {"desc", "lighting", "timing_gates", "flaggers", "billboards", "statues",
                        "cameras"}) {
    std::remove((data / ("hill/" + std::string(f))).c_str());
  }
  ASSERT_TRUE(load_track("hill"));
  const Track* t = current_track();
  EXPECT_EQ(t->long_name, "hill");
  EXPECT_FALSE(t->gates.valid);
  EXPECT_TRUE(t->objects.empty());
  EXPECT_EQ(t->billboards.size(), size_t(kRoostSprites));
  EXPECT_FALSE(t->flaggers.start.present);
  EXPECT_TRUE(t->cameras.list.empty());
  EXPECT_FLOAT_EQ(t->lighting.far_plane, 5000);
}

TEST_F(TrackFolder, BadTerrainFailsAndLeavesNoTrack) {
  ASSERT_TRUE(load_track("hill"));
  put("hill/terrain.hf", "garbage");
  EXPECT_FALSE(load_track("hill"));
  EXPECT_EQ(current_track(), nullptr);
  EXPECT_FALSE(load_track("nowhere"));
  EXPECT_EQ(current_track(), nullptr);
}

TEST_F(TrackFolder, FreeLeavesNoTrack) {
  ASSERT_TRUE(load_track("hill"));
  free_track();
  EXPECT_EQ(current_track(), nullptr);
  free_track();  // twice is harmless
}

TEST_F(TrackFolder, EditorWritersReproduceTheFiles) {
  ASSERT_TRUE(load_track("hill"));
  const Track& t = *current_track();
  ASSERT_TRUE(write_billboards(t));
  ASSERT_TRUE(write_statues(t));
  ASSERT_TRUE(write_timing_gates(t));
  // "@" writes land in the home folder.
  EXPECT_EQ(test::read_file(home / "hill/billboards"),
            "[10.000000 1.000000 10.000000] 3.000000 0.500000 #ff0000#@tree.png\n");
  EXPECT_EQ(test::read_file(home / "hill/statues"),
            "[32.000000 2.000000 32.000000] 0.250000 @rock.jm @rock.png @rock.shp\n"
            "[40.000000 0.000000 40.000000] 3.500000 @post.jm null @rock.shp\n");
  const std::string gates = test::read_file(home / "hill/timing_gates");
  EXPECT_NE(gates.find("[20.000000 0.000000 40.000000] 0.000000\n"), std::string::npos);
  EXPECT_NE(gates.find("0.500000 @gate.jm @gate.png @gate.shp\n"), std::string::npos);
  EXPECT_NE(gates.find("normallap:\n0 1 2 100001 \n"), std::string::npos);

  // The home copies are read back first and give the same track.
  const Ripemd160Digest before = t.hash;
  ASSERT_TRUE(load_track("hill"));
  EXPECT_EQ(current_track()->objects.size(), 4u);
  EXPECT_EQ(current_track()->billboards.back().r, 255);
  EXPECT_NE(current_track()->hash, before);  // the text of the hashed files differs
}

TEST_F(TrackFolder, TrackInfo) {
  ASSERT_TRUE(load_track("hill"));
  clear_messages();
  ASSERT_TRUE(write_track_info(*current_track()));
  EXPECT_EQ(test::read_file(home / "hill.trackinfo"),
            "dir=hill\nlongname=Hill Country\nfirstlap=3\nnormallap=4\ngatecount=2\nhash=" +
                to_hex(current_track()->hash) + "\n");
  EXPECT_TRUE(test::track_message_posted("Track info saved to hill.trackinfo"));
}

TEST_F(TrackFolder, WriterFailureShowsTheMessage) {
  ASSERT_TRUE(load_track("hill"));
  write_file(home / "hill", "a file where the folder should be");
  clear_messages();
  // With the home folder blocked the data folder takes the write; block that too.
  std::remove((data / "hill/billboards").c_str());
  test::write_file(data / "hill/billboards/x", "");
  EXPECT_FALSE(write_billboards(*current_track()));
  EXPECT_TRUE(test::track_message_posted("Can't open 'billboards'\n"));
}

}  // namespace
}  // namespace ks
