// Timing gates: sections, sequence storage, the validity rule, caps and the writer.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <string>

#include "support/test_support.h"
#include "track/gates.h"
#include "track_test_util.h"

namespace ks {
namespace {

TimingGates parse(const std::string& text) {
  TimingGates g;
  test::parse_text(text, [&](VfsFile* f) { read_timing_gates(f, g); });
  return g;
}

std::string checkpoints(int n) {
  std::string s = "checkpoints:\n";
  for (int i = 0; i < n; ++i) {
    s += "10 [" + std::to_string(i * 20) + " 0 5] [1 0 0]\n";
  }
  return s;
}

TEST(GateReferences, StoredWithMarkAndClamp) {
  struct Case {
    int value, checkpoints, stored;
  };
  const Case cases[] = {
      {100003, 2, 100001},  // marked, clamped to the last checkpoint
      {1, 2, 1},         {5, 2, 1},         {-4, 2, 0},          {100000, 3, 100000},
      {250003, 10, 100009}, {99999, 300, 299}, {7, 0, 0},  // nothing to refer to
      {-2147483647 - 1, 4, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(clamp_gate_reference(c.value, c.checkpoints), c.stored)
        << c.value << " with " << c.checkpoints << " checkpoints";
  }
}

TEST(GateSequences, FirstLapValueAboveTheCheckpointsIsClamped) {
  TimingGates g = parse(checkpoints(2) + "firstlap:\n0 1 100003 1\nnormallap:\n0 1 0 1\n");
  ASSERT_TRUE(g.valid);
  EXPECT_EQ(g.first_lap, (std::vector<int>{0, 1, 100001, 1}));
  EXPECT_EQ(g.first_lap_unmarked, 3);
  EXPECT_EQ(g.normal_lap_unmarked, 4);
}

TEST(GateSequences, ValidityRule) {
  struct Case {
    const char* what;
    int checkpoints;
    const char* first;
    const char* normal;
    bool valid;
  };
  const Case cases[] = {
      {"three plain gates each", 3, "0 1 2", "0 1 2", true},
      {"two gates each", 3, "0 1", "0 1", false},
      {"first lap of two", 3, "0 1", "0 1 2", false},
      {"normal lap of two", 3, "0 1 2", "1 2", false},
      {"only two unmarked in the first lap", 3, "0 100001 2", "0 1 2", false},
      {"only two unmarked in the normal lap", 3, "0 1 2", "100000 1 2", false},
      {"marks beside three unmarked", 3, "0 100001 1 2", "100000 0 1 2", true},
      {"no checkpoints", 0, "0 1 2", "0 1 2", false},
  };
  for (const Case& c : cases) {
    std::string text = c.checkpoints > 0 ? checkpoints(c.checkpoints) : "";
    text += std::string("firstlap:\n") + c.first + "\nnormallap:\n" + c.normal + "\n";
    TimingGates g = parse(text);
    EXPECT_EQ(g.valid, c.valid) << c.what;
    if (!g.valid) {
      // Without timing gates every count is 0.
      EXPECT_TRUE(g.checkpoints.empty()) << c.what;
      EXPECT_TRUE(g.first_lap.empty()) << c.what;
      EXPECT_TRUE(g.normal_lap.empty()) << c.what;
      EXPECT_EQ(g.first_lap_unmarked + g.normal_lap_unmarked, 0) << c.what;
    }
  }
}

TEST(StartingGate, DefaultsNamesAndAngle) {
  TimingGates g = parse(
      "startinggate:\n"
      "[10 1 20] 0.5\n"
      "[12 1 20] 4.0 @gate.jm null @gate.shp\n"
      "checkpoints:\n10 [0 0 0] [1 0 0]\n");
  ASSERT_EQ(g.start.size(), 2u);
  EXPECT_EQ(g.start[0].slot, (std::array<float, 3>{10, 1, 20}));
  EXPECT_FLOAT_EQ(g.start[0].angle, 0.5f);
  EXPECT_EQ(g.start[0].model, "@startgate.jm");
  EXPECT_EQ(g.start[0].texture, "@startgate.ppm");
  EXPECT_EQ(g.start[0].shape, "@startgate.shp");
  EXPECT_NEAR(g.start[1].angle, 4.0 - 2 * std::numbers::pi, 1e-5);
  EXPECT_EQ(g.start[1].model, "@gate.jm");
  EXPECT_EQ(g.start[1].texture, "");
  EXPECT_EQ(g.start[1].shape, "@gate.shp");
}

TEST(StartingGate, AngleWrapsIntoHalfTurns) {
  const float cases[][2] = {{0, 0}, {3, 3}, {-3, -3}, {7, 7 - 2 * std::numbers::pi_v<float>},
                            {-7, -7 + 2 * std::numbers::pi_v<float>}, {NAN, 0}, {INFINITY, 0}};
  for (const auto& c : cases) EXPECT_NEAR(normalize_gate_angle(c[0]), c[1], 1e-5) << c[0];
}

TEST(StartingGate, ShortLineEndsTheListAndLaterSectionsStillRead) {
  TimingGates g = parse(
      "startinggate:\n[1 0 1] 0\n[2 0] 0\n[3 0 3] 0\n"
      "checkpoints:\n5 [0 0 0] [1 0 0]\n");
  EXPECT_EQ(g.start.size(), 1u);
  // The broken line is gone; "[3 0 3] 0" isn't a section word, so nothing else is read.
  EXPECT_FALSE(g.valid);
}

TEST(StartingGate, TenThousandPositionsKeepTheFirst160) {
  std::string text = "startinggate:\n";
  for (int i = 0; i < 10000; ++i) text += "[" + std::to_string(i) + " 0 0] 0\n";
  text += checkpoints(3) + "firstlap:\n0 1 2\nnormallap:\n0 1 2\n";
  TimingGates g = parse(text);
  ASSERT_EQ(g.start.size(), size_t(kMaxGatePositions));
  EXPECT_FLOAT_EQ(g.start.back().slot[0], 159);
  EXPECT_TRUE(g.valid);
  EXPECT_EQ(g.checkpoints.size(), 3u);
}

TEST(Checkpoints, CapOf256) {
  TimingGates g = parse(checkpoints(256) + "firstlap:\n0 1 255\nnormallap:\n0 1 2\n");
  ASSERT_TRUE(g.valid);
  EXPECT_EQ(g.checkpoints.size(), 256u);
  // Past the cap the next checkpoint stands where "firstlap:" belongs: no sequences, so no
  // timing gates, and nothing breaks with 10 000 of them.
  EXPECT_FALSE(parse(checkpoints(10000) + "firstlap:\n0 1 2\nnormallap:\n0 1 2\n").valid);
}

TEST(Checkpoints, MalformedCheckpointEndsTheList) {
  TimingGates g = parse(
      "checkpoints:\n5 [0 0 0] [1 0 0]\n6 [1 1 1] [0 0 1]\n7 [2 2 x] [0 0 1]\n"
      "firstlap:\n0 1 2\nnormallap:\n0 1 2\n");
  // Two checkpoints, and the rest of the file is no longer in step: no sequences.
  EXPECT_FALSE(g.valid);
  TimingGates h = parse(
      "checkpoints:\n5 [0 0 0] [1 0 0]\n6 [1 1 1] [0 0 1]\nfirstlap:\n0 1 1 x\n"
      "normallap:\n0 1 0\n");
  EXPECT_FALSE(h.valid);  // the first lap stopped at x, so normallap: was never reached
}

TEST(Checkpoints, FieldsAndSequenceCap) {
  auto text = [](int refs) {
    std::string t = "checkpoints:\n12.5 [1 2 3] [0.5 0 -0.5]\n4 [5 6 7] [1 0 0]\nfirstlap:\n";
    for (int i = 0; i < refs; ++i) t += std::to_string(i % 2) + " ";
    return t + "\nnormallap:\n0 1 0\n";
  };
  TimingGates g = parse(text(256));
  ASSERT_TRUE(g.valid);
  EXPECT_FLOAT_EQ(g.checkpoints[0].radius, 12.5f);
  EXPECT_EQ(g.checkpoints[0].position, (std::array<float, 3>{1, 2, 3}));
  EXPECT_EQ(g.checkpoints[0].direction, (std::array<float, 3>{0.5f, 0, -0.5f}));
  EXPECT_EQ(g.first_lap.size(), size_t(kMaxSequenceGates));
  EXPECT_EQ(g.normal_lap.size(), 3u);
  // A 257th reference is read where "normallap:" belongs.
  EXPECT_FALSE(parse(text(257)).valid);
}

TEST(TimingGatesWriter, ExactTextAndRoundTrip) {
  TimingGates g;
  GatePosition a;
  a.slot = {1, 2, 3};
  a.angle = 0.5f;
  GatePosition b = a;
  b.model = "@gate.jm";
  b.texture = "";
  g.start = {a, b};
  TimingGate c;
  c.radius = 10;
  c.position = {1, 0, 2};
  c.direction = {0, 0, 1};
  g.checkpoints = {c, c, c};
  g.first_lap = {0, 1, 100002, 2};
  g.normal_lap = {0, 1, 2};

  test::TempDir dir;
  const std::string path = dir / "timing_gates";
  ASSERT_TRUE(write_timing_gates_file(path.c_str(), g));
  const std::string text = test::read_file(path);
  EXPECT_EQ(text,
            "startinggate:\n"
            "[1.000000 2.000000 3.000000] 0.500000\n"
            "[1.000000 2.000000 3.000000] 0.500000 @gate.jm null @startgate.shp\n"
            "checkpoints:\n"
            "10.000000 [1.000000 0.000000 2.000000] [0.000000 0.000000 1.000000]\n"
            "10.000000 [1.000000 0.000000 2.000000] [0.000000 0.000000 1.000000]\n"
            "10.000000 [1.000000 0.000000 2.000000] [0.000000 0.000000 1.000000]\n"
            "firstlap:\n0 1 100002 2 \n"
            "normallap:\n0 1 2 \n");

  TimingGates back = parse(text);
  ASSERT_TRUE(back.valid);
  ASSERT_EQ(back.start.size(), 2u);
  EXPECT_EQ(back.start[1].model, "@gate.jm");
  EXPECT_EQ(back.start[1].texture, "");
  EXPECT_EQ(back.first_lap, g.first_lap);
  EXPECT_EQ(back.normal_lap, g.normal_lap);
}

TEST(TimingGatesWriter, EmptySectionsAreLeftOutAndFailureIsReported) {
  test::TempDir dir;
  const std::string path = dir / "timing_gates";
  ASSERT_TRUE(write_timing_gates_file(path.c_str(), TimingGates{}));
  EXPECT_EQ(test::read_file(path), "");

  clear_messages();
  const std::string blocked = dir / "file/timing_gates";
  test::write_file(dir / "file", "not a folder");
  EXPECT_FALSE(write_timing_gates_file(blocked.c_str(), TimingGates{}));
  EXPECT_TRUE(test::track_message_posted("Can't open 'timing_gates'\n"));
}

}  // namespace
}  // namespace ks
