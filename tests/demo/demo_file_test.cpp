// Demo files: the recording's layout (header, rider blocks, chunk every 16 tics, XOR chain),
// backups and renames, erosion chunks, playback posing bikes within the coding bound,
// damaged files, the first tic, the ghost's offset, and seeking back.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "demo/demo.h"
#include "fs/messages.h"
#include "fs/vfs.h"
#include "physics/bike.h"
#include "physics/erosion.h"
#include "physics/world.h"
#include "support/test_support.h"
#include "track/heightfield.h"
#include "track/track.h"

namespace ks {
namespace {

constexpr int kRiders = 6;  // slot 0 the rider, 1..5 robots
constexpr double kExtent = 2048.0;

uint32_t get32(const std::string& b, size_t at) {
  uint32_t v = 0;
  for (size_t k = 0; k < 4; ++k) v |= uint32_t{static_cast<uint8_t>(b[at + k])} << (8 * k);
  return v;
}
void put32(std::string& out, uint32_t v) {
  for (int k = 0; k < 4; ++k) out.push_back(static_cast<char>(v >> (8 * k)));
}

struct Chunk {
  uint32_t length;
  int tic;
  int type;
  std::string payload;
};

// Splits a version 6 file into its header lines and chunks (test side, independent).
std::vector<Chunk> chunks_of(const std::string& file, size_t* header_lines, size_t* first) {
  size_t pos = 0, lines = 0, blank_seen = 0;
  // Header: 2 lines, then 4 lines per rider (the last one empty).
  const int riders = std::atoi(file.c_str() + 5);
  const size_t want = 2 + 4 * static_cast<size_t>(riders);
  while (lines < want) {
    pos = file.find('\n', pos) + 1;
    ++lines;
  }
  (void)blank_seen;
  *header_lines = lines;
  *first = pos;
  std::vector<Chunk> out;
  uint32_t prev = 0;
  while (pos + 9 <= file.size()) {
    Chunk c;
    c.length = get32(file, pos) ^ prev;
    c.tic = static_cast<int>(get32(file, pos + 4));
    c.type = static_cast<uint8_t>(file[pos + 8]);
    if (pos + 9 + c.length > file.size()) break;
    c.payload = file.substr(pos + 9, c.length);
    out.push_back(c);
    prev = c.length;
    pos += 9 + c.length;
  }
  return out;
}

class DemoFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::use_roots(home.path(), data.path());
    ASSERT_TRUE(create_physics_world());
    reset_demo_module();
    demo_options() = DemoOptions{};
    race = &race_state();
    *race = RaceState{};
    race->track_dir = "testtrack";
    race->start_tic = 1700;
    race->laps = 3;
    auto& ts = track_state();
    ts.track.dir = "testtrack";
    ts.track.terrain = std::make_unique<HeightField>();
    ts.track.terrain->extent = static_cast<float>(kExtent);
    ts.track.terrain->min_height = -40;
    ts.loaded = true;
    for (int s = 0; s < kRiders; ++s) {
      BikeState* b = create_bike("cr125", s, std::to_string(20 + s).c_str());
      ASSERT_NE(b, nullptr);
      translate_bike(*b, {100.0 + 10 * s, 10, 100});
      RaceSlot& slot = race->slots[static_cast<size_t>(s)];
      slot.bike = b;
      slot.kind = s == 0 ? SlotKind::local : SlotKind::robot;
      slot.name = s == 0 ? "Me" : "Vidaraver";
      slot.model_name = "cr125";
      slot.bike_texture = s == 2 ? "@cr125-alt1.png" : "";
    }
  }
  void TearDown() override {
    reset_demo_module();
    for (auto& slot : race->slots) {
      destroy_bike(slot.bike);
      slot.bike = nullptr;
    }
    *race = RaceState{};
    track_state().track.terrain.reset();
    track_state().loaded = false;
    destroy_physics_world();
    erosion_hooks() = ErosionHooks{};
  }

  // Records tics 0..last with every bike moving; remembers each frame position per tic.
  void record_race(int last) {
    race->current_tic = 0;
    ASSERT_TRUE(start_recording(*race));
    record_step(*race, true);
    remember();
    for (int t = 1; t <= last; ++t) {
      race->current_tic = t;
      for (int s = 0; s < kRiders; ++s)
        translate_bike(*race->slots[static_cast<size_t>(s)].bike, {0.05 * (s + 1), 0.01, -0.2});
      record_step(*race, false);
      remember();
    }
    finish_recording();
  }
  void remember() {
    for (int s = 0; s < kRiders; ++s) {
      const dReal* p = dBodyGetPosition(race->slots[static_cast<size_t>(s)].bike->bodies[kFrameBody]);
      positions[std::make_pair(s, race->current_tic)] = {p[0], p[1], p[2]};
    }
  }
  std::array<double, 3> pos_at(int s, int t) { return positions[std::make_pair(s, t)]; }
  std::string demo_file(const std::string& name = "default.ksdemo") {
    return test::read_file(home / ("demos/" + name));
  }
  // Replay bikes in slots 10.. for the demo's riders.
  void add_replay_bikes() {
    for (size_t i = 0; i < demo_riders().size(); ++i) {
      const int s = 10 + static_cast<int>(i);
      BikeState* b = create_bike(demo_riders()[i].model.c_str(), s, demo_riders()[i].number.c_str());
      race->slots[static_cast<size_t>(s)].bike = b;
      race->slots[static_cast<size_t>(s)].kind = SlotKind::replayed;
      set_replay_mode(*b, true);
      demo_riders()[i].slot = s;
    }
  }
  bool open_bytes(const std::string& bytes) {
    held = bytes;
    return open_playback_file(*race, vfs_open_memory(held.data(), held.size()));
  }

  test::TempDir home, data;
  RaceState* race = nullptr;
  std::map<std::pair<int, int>, std::array<double, 3>> positions;
  std::string held;
};

TEST_F(DemoFileTest, RecordingLayoutHasSixRiderBlocksAndAChunkEvery16Tics) {
  record_race(64);
  const std::string file = demo_file();
  ASSERT_FALSE(file.empty());
  EXPECT_EQ(file.substr(0, file.find('\n') + 1), "KS06 6 0 3 1700\n");
  size_t lines = 0, first = 0;
  const std::vector<Chunk> chunks = chunks_of(file, &lines, &first);
  const std::string header = file.substr(0, first);
  EXPECT_NE(header.find("\ntesttrack\ncr125||||\n20\nMe\n\n"), std::string::npos) << header;
  EXPECT_NE(header.find("cr125||@cr125-alt1.png||\n22\nVidaraver\n\n"), std::string::npos);
  ASSERT_EQ(chunks.size(), 5u);  // the reset's frame at 0, then 16, 32, 48, 64
  EXPECT_EQ(chunks[0].tic, 0);
  EXPECT_EQ(chunks[0].length, 6u * 44u);
  for (size_t k = 1; k < chunks.size(); ++k) {
    const Chunk& c = chunks[k];
    EXPECT_EQ(c.type, kChunkStates);
    EXPECT_EQ(c.tic, static_cast<int>(16 * k));
    ASSERT_EQ(c.length, 6u * 4u * 44u);
    // Rider index in header order, each rider's entries oldest first, 4 tics apart.
    for (size_t e = 0; e < 24; ++e) {
      EXPECT_EQ(static_cast<uint8_t>(c.payload[e * 44]), e / 4);
      EXPECT_EQ(static_cast<int>(get32(c.payload, e * 44 + 1)), c.tic - 12 + static_cast<int>(e % 4) * 4);
      EXPECT_EQ(static_cast<uint8_t>(c.payload[e * 44 + 5 + 18]) & 1, 1);  // recorded
    }
  }
}

TEST_F(DemoFileTest, ThreeBackupsShiftUpAndTheOldestGoes) {
  demo_options().backups = 3;
  for (int k = 1; k <= 5; ++k) {
    race->laps = k;
    ASSERT_TRUE(start_recording(*race));
    finish_recording();
  }
  auto laps_of = [&](const char* name) {
    const std::string f = demo_file(name);
    return f.empty() ? -1 : std::atoi(f.c_str() + 9);
  };
  EXPECT_EQ(laps_of("default.ksdemo"), 5);
  EXPECT_EQ(laps_of("default00.ksdemo"), 4);
  EXPECT_EQ(laps_of("default01.ksdemo"), 3);
  EXPECT_EQ(laps_of("default02.ksdemo"), 2);
  EXPECT_FALSE(test::file_exists(home / "demos/default03.ksdemo"));
}

TEST_F(DemoFileTest, PendingNameRenamesTheFinishedRecording) {
  set_pending_demo_name("best race");
  ASSERT_TRUE(start_recording(*race));
  finish_recording();
  EXPECT_TRUE(test::file_exists(home / "demos/best race.ksdemo"));
  EXPECT_FALSE(test::file_exists(home / "demos/default.ksdemo"));
  // The name is used once.
  ASSERT_TRUE(start_recording(*race));
  finish_recording();
  EXPECT_TRUE(test::file_exists(home / "demos/default.ksdemo"));
}

TEST_F(DemoFileTest, ErosionRecordsBecomeChunksAtTheirTic) {
  race->erosion_rate = 512;
  ASSERT_TRUE(start_recording(*race));
  ASSERT_NE(erosion_hooks().record_written, nullptr);
  race->current_tic = 21;
  const uint8_t record[20] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20};
  erosion_hooks().record_written(record, 20);
  finish_recording();
  EXPECT_EQ(erosion_hooks().record_written, nullptr);
  size_t lines = 0, first = 0;
  const std::vector<Chunk> chunks = chunks_of(demo_file(), &lines, &first);
  ASSERT_EQ(chunks.size(), 2u);
  EXPECT_EQ(chunks[0].type, kChunkSettings);
  EXPECT_EQ(chunks[0].payload, "erode 512");
  EXPECT_EQ(chunks[1].type, kChunkErosion);
  EXPECT_EQ(chunks[1].tic, 21);
  EXPECT_EQ(chunks[1].payload, std::string(reinterpret_cast<const char*>(record), 20));
}

TEST_F(DemoFileTest, UnwritableRecordingLeavesTheRaceRunning) {
  test::write_file(home / "blocker", "x");
  demo_options().record_file = home / "blocker/demo.ksdemo";
  EXPECT_FALSE(start_recording(*race));
  EXPECT_FALSE(recording());
  record_step(*race, true);  // harmless
  finish_recording();
}

TEST_F(DemoFileTest, PlaybackPosesBikesWithinTheCodingBound) {
  record_race(64);
  race->current_tic = 0;
  ASSERT_TRUE(open_playback(*race));
  EXPECT_EQ(playback_track(), "testtrack");
  EXPECT_EQ(race->start_tic, 1700);
  EXPECT_EQ(race->laps, 3);
  ASSERT_EQ(demo_riders().size(), 6u);
  EXPECT_EQ(demo_riders()[2].bike_texture, "@cr125-alt1.png");
  EXPECT_EQ(demo_riders()[0].name, "Me");
  EXPECT_EQ(demo_riders()[1].number, "21");
  add_replay_bikes();
  read_ahead_step(*race);
  // Exact on recorded tics, linear motion between them: half a code step per axis, plus
  // the rounding of the interpolated code.
  const double bound = kExtent / 16777215.0 / 2.0 + 1e-9;
  for (int t = 0; t <= 64; ++t) {
    for (int i = 0; i < kRiders; ++i) {
      replay_slot(*race, 10 + i, t);
      const dReal* p = dBodyGetPosition(race->slots[static_cast<size_t>(10 + i)].bike->bodies[kFrameBody]);
      const auto& want = pos_at(i, t);
      const double tol = t % 4 == 0 ? bound : 3 * bound;
      for (size_t k = 0; k < 3; ++k) EXPECT_NEAR(p[k], want[k], tol) << "rider " << i << " tic " << t;
    }
  }
  // The velocity comes from the bracketing states: 0.05 (i + 1) ft per tic in x.
  replay_slot(*race, 12, 30);
  const dReal* v = dBodyGetLinearVel(race->slots[12].bike->bodies[kFrameBody]);
  EXPECT_NEAR(v[0], 0.15 * 128, 0.01);
  EXPECT_NEAR(v[2], -0.2 * 128, 0.01);
  // Past the newest entry the bike goes on for 64 tics, then holds.
  replay_slot(*race, 10, 64 + 64);
  const double x128 = dBodyGetPosition(race->slots[10].bike->bodies[kFrameBody])[0];
  replay_slot(*race, 10, 64 + 200);
  const double x264 = dBodyGetPosition(race->slots[10].bike->bodies[kFrameBody])[0];
  EXPECT_NEAR(x128, pos_at(0, 64)[0] + 64 * 0.05, 40 * bound);
  EXPECT_DOUBLE_EQ(x264, x128);
}

TEST_F(DemoFileTest, TruncatedFilePlaysUpToTheDamageAndSaysSo) {
  record_race(64);
  std::string file = demo_file();
  size_t lines = 0, first = 0;
  const std::vector<Chunk> chunks = chunks_of(file, &lines, &first);
  // Cut in the middle of the third chunk (tic 32).
  const size_t cut = first + (9 + chunks[0].length) + (9 + chunks[1].length) + 100;
  clear_messages();
  ASSERT_TRUE(open_bytes(file.substr(0, cut)));
  add_replay_bikes();
  for (int t = 0; t < 200; ++t) {
    race->current_tic = t;
    read_ahead_step(*race);
  }
  int oldest = 0, newest = 0;
  ASSERT_TRUE(history_bounds(10, oldest, newest));
  EXPECT_EQ(newest, 16);
  ASSERT_NE(message_line(0), nullptr);
  EXPECT_NE(std::strstr(message_line(0), "damaged"), nullptr);
}

// A demo of one rider with type-1 chunks at the given tics (one state each).
std::string handmade_demo(const std::vector<int>& tics, uint32_t damage_length_of_last = 0) {
  std::string f = "KS06 1 0 2 1600\nsandridge\nkx250f(2008)|||||\n7\nTester\nextra line\n\n";
  uint32_t prev = 0;
  for (size_t k = 0; k < tics.size(); ++k) {
    uint32_t len = 44;
    if (k + 1 == tics.size() && damage_length_of_last != 0) len = damage_length_of_last;
    put32(f, len ^ prev);
    put32(f, static_cast<uint32_t>(tics[k]));
    f.push_back(static_cast<char>(kChunkStates));
    f.push_back(0);
    put32(f, static_cast<uint32_t>(tics[k]));
    f.append(39, '\x40');
    prev = len;
  }
  return f;
}

TEST_F(DemoFileTest, FirstChunkAtTic1600SetsTheClock) {
  race->current_tic = 0;
  ASSERT_TRUE(open_bytes(handmade_demo({1600, 1616})));
  EXPECT_EQ(demo_riders()[0].name, "Tester");
  add_replay_bikes();
  read_ahead_step(*race);
  EXPECT_EQ(race->current_tic, 1600);
  int oldest = 0, newest = 0;
  ASSERT_TRUE(history_bounds(10, oldest, newest));
  EXPECT_EQ(oldest, 1600);
  EXPECT_EQ(newest, 1616);
}

TEST_F(DemoFileTest, GhostAlignsToTheMomentItWasOpened) {
  race->time_trial = true;
  race->current_tic = 40000;
  ASSERT_TRUE(open_bytes(handmade_demo({1600, 1616})));
  EXPECT_EQ(race->start_tic, 1700);  // the time trial keeps its own race
  add_replay_bikes();
  read_ahead_step(*race);
  EXPECT_EQ(race->current_tic, 40000);
  int oldest = 0, newest = 0;
  ASSERT_TRUE(history_bounds(10, oldest, newest));
  EXPECT_EQ(oldest, 40000);
  EXPECT_EQ(newest, 40016);
}

TEST_F(DemoFileTest, GhostRecordedLaterInItsSessionStillAligns) {
  // The ghost's lap began at tic 100000 of its session, with a settings chunk first.
  std::string f = "KS06 1 0 2 1600\nsandridge\ncr125||||\n7\nTester\n\n";
  const std::string erode = "erode 1024";
  put32(f, static_cast<uint32_t>(erode.size()));
  put32(f, 100000);
  f.push_back(static_cast<char>(kChunkSettings));
  f += erode;
  uint32_t prev = static_cast<uint32_t>(erode.size());
  for (int t : {100000, 100016}) {
    put32(f, 44u ^ prev);
    put32(f, static_cast<uint32_t>(t));
    f.push_back(static_cast<char>(kChunkStates));
    f.push_back(0);
    put32(f, static_cast<uint32_t>(t));
    f.append(39, '\x40');
    prev = 44;
  }
  race->time_trial = true;
  race->current_tic = 40000;
  race->erosion_rate = 0;
  ASSERT_TRUE(open_bytes(f));
  add_replay_bikes();
  read_ahead_step(*race);
  int oldest = 0, newest = 0;
  ASSERT_TRUE(history_bounds(10, oldest, newest));
  EXPECT_EQ(oldest, 40000);
  EXPECT_EQ(newest, 40016);
  EXPECT_EQ(race->erosion_rate, 0);  // a ghost doesn't change the live race's settings
}

TEST_F(DemoFileTest, BadHeadersAndChunksNeverReadOutOfBounds) {
  const std::string bad_headers[] = {
      "", "KS06", "KS07 1 0 2 0\nt\n", "KS06 1 0 2 0\nt\nm||||\n7\nname\n",  // no blank line
      "KS06 1 0 2 0\nt", "KS06 999 0 2 0\nt\n", "KS06 1 0 2 0\n../../etc\nm\n7\nn\n\n",
      "KS04 1 0 2\nt\nm\n7\n"};
  for (const std::string& h : bad_headers) EXPECT_FALSE(open_bytes(h)) << h;
  EXPECT_FALSE(playing());
  // A chunk length far beyond the file, and one that isn't a whole number of entries.
  clear_messages();
  ASSERT_TRUE(open_bytes(handmade_demo({0, 16}, 0x7FFFFFF0u)));
  add_replay_bikes();
  race->current_tic = 0;
  read_ahead_step(*race);
  int oldest = 0, newest = 0;
  ASSERT_TRUE(history_bounds(10, oldest, newest));
  EXPECT_EQ(newest, 0);
  ASSERT_TRUE(open_bytes(handmade_demo({0, 16, 32}, 45)));
  for (size_t i = 0; i < demo_riders().size(); ++i) demo_riders()[i].slot = 10;
  clear_histories();
  read_ahead_step(*race);
  ASSERT_TRUE(history_bounds(10, oldest, newest));
  EXPECT_EQ(newest, 16);
}

TEST_F(DemoFileTest, SeekingBackRereadsFromAChunkBeforeTheTarget) {
  record_race(160);
  race->current_tic = 0;
  ASSERT_TRUE(open_playback(*race));
  add_replay_bikes();
  for (int t = 0; t <= 160; ++t) {
    race->current_tic = t;
    read_ahead_step(*race);
  }
  ASSERT_TRUE(seek_playback(*race, 120));
  race->current_tic = 120;
  clear_histories();
  read_ahead_step(*race);
  int oldest = 0, newest = 0;
  ASSERT_TRUE(history_bounds(10, oldest, newest));
  EXPECT_EQ(oldest, 36);  // the chunk at tic 48 holds 36 .. 48
  EXPECT_EQ(newest, 160);
  replay_slot(*race, 11, 100);
  const dReal* p = dBodyGetPosition(race->slots[11].bike->bodies[kFrameBody]);
  EXPECT_NEAR(p[0], pos_at(1, 100)[0], 1e-3);
}

}  // namespace
}  // namespace ks

namespace ks {
namespace {

TEST_F(DemoFileTest, Version5HoldsOneStatePerRiderPerTic) {
  std::string f = "KS05 2 0 3\nsandridge\ncr125|||\n12\nkx125\n34\n";
  for (int t = 0; t < 20; ++t)
    for (int r = 0; r < 2; ++r) {
      DemoState s{};
      s[0] = static_cast<uint8_t>(t);
      s[1] = static_cast<uint8_t>(r);
      f.append(reinterpret_cast<const char*>(s.data()), s.size());
    }
  race->current_tic = 0;
  ASSERT_TRUE(open_bytes(f));
  EXPECT_EQ(playback_version(), 5);
  EXPECT_EQ(race->start_tic, 14 * 128);  // a header without the start tic
  EXPECT_EQ(race->laps, 3);
  ASSERT_EQ(demo_riders().size(), 2u);
  EXPECT_EQ(demo_riders()[1].model, "kx125");
  EXPECT_EQ(demo_riders()[1].number, "34");
  add_replay_bikes();
  read_ahead_step(*race);
  int oldest = 0, newest = 0;
  ASSERT_TRUE(history_bounds(11, oldest, newest));
  EXPECT_EQ(oldest, 0);
  EXPECT_EQ(newest, 8);
  EXPECT_EQ(newest_entry(11)->state[0], 8);
  EXPECT_EQ(newest_entry(11)->state[1], 1);
  clear_messages();
  ASSERT_TRUE(seek_playback(*race, 15));
  race->current_tic = 15;
  clear_histories();
  read_ahead_step(*race);
  ASSERT_TRUE(history_bounds(10, oldest, newest));
  EXPECT_EQ(oldest, 15);
  EXPECT_EQ(newest, 19);
  EXPECT_EQ(newest_entry(10)->state[0], 19);
  const char* line = message_line(0);
  EXPECT_EQ(line != nullptr ? std::strstr(line, "damaged") : nullptr, nullptr);  // a clean end
}

TEST(PlaybackLineup, RaceAgainstPutsTheRiderAfterTheDemoRiders) {
  const Lineup only = playback_lineup(PlaybackMode::playback_only, 5);
  for (int code : only) EXPECT_EQ(code, kLineupEmpty);
  const Lineup against = playback_lineup(PlaybackMode::race_against, 5);
  for (size_t s = 0; s < against.size(); ++s) EXPECT_EQ(against[s], s == 5 ? kLineupHuman : kLineupEmpty);
  EXPECT_EQ(playback_lineup(PlaybackMode::race_against, 500)[kMaxBikes - 1], kLineupHuman);
}

}  // namespace
}  // namespace ks
