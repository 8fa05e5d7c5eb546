// Erosion: the packed record, stroke splitting, wheel sampling thresholds, the queue quota
// and full queue, the guard, and what application does to the ground.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "fs/messages.h"
#include "physics/bike_state.h"
#include "physics/erosion.h"
#include "physics/wheel_contact.h"
#include "physics/world.h"
#include "track/heightfield.h"

namespace ks {
namespace {

using Record = std::vector<uint8_t>;

std::vector<Record>& written() {
  static std::vector<Record> w;
  return w;
}
void keep_record(const uint8_t* bytes, int length) {
  written().emplace_back(bytes, bytes + length);
}

class Erosion : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_erosion();
    erosion_hooks() = ErosionHooks{};
    erosion_hooks().record_written = keep_record;
    written().clear();
  }
  void TearDown() override {
    reset_erosion();
    erosion_hooks() = ErosionHooks{};
    written().clear();
  }
};

// 65 x 65 samples of spacing 1 (extent 64) at height h, loaded shape the same.
HeightField flat_field(float h = 0, int exponent = 5) {
  HeightField hf;
  EXPECT_TRUE(init_height_field(hf, exponent, 1.0f, h));
  return hf;
}

RutStroke stroke_of(const std::vector<RutPoint>& points) {
  RutStroke s;
  for (const RutPoint& p : points) {
    const size_t k = static_cast<size_t>(s.point_count);
    s.points[k] = p;
    if (k > 0) {
      const float dx = p.x - s.points[k - 1].x, dz = p.z - s.points[k - 1].z;
      if (k == 1) {
        s.min_delta_x = s.max_delta_x = dx;
        s.min_delta_z = s.max_delta_z = dz;
      } else {
        s.min_delta_x = std::min(s.min_delta_x, dx);
        s.max_delta_x = std::max(s.max_delta_x, dx);
        s.min_delta_z = std::min(s.min_delta_z, dz);
        s.max_delta_z = std::max(s.max_delta_z, dz);
      }
    }
    ++s.point_count;
  }
  return s;
}

std::vector<RutPoint> drain_queue() {
  std::vector<RutPoint> out;
  for (int k = 0; k < erosion_queue_length(); ++k) out.push_back(erosion_queue_at(k));
  clear_erosion_queue();
  return out;
}

// ---- record ----------------------------------------------------------------------------

struct RoundTrip {
  const char* name;
  std::vector<RutPoint> points;
};

TEST_F(Erosion, RecordRoundTripKeepsPointsWithinTheCodingSteps) {
  std::vector<RutPoint> counts;
  for (int c = 1; c <= 16; ++c) {
    counts.push_back({10.0f + 0.9f * static_cast<float>(c), 30.0f - 0.4f * static_cast<float>(c),
                      0.6f, -0.8f, c});
  }
  std::vector<RutPoint> zigzag;
  for (int k = 0; k < 64; ++k) {
    zigzag.push_back({k % 2 ? 40.0f : 9.0f, 5.0f + 0.75f * static_cast<float>(k), -0.125f,
                      0.3f, 1 + k % 16});
  }
  const std::vector<RoundTrip> cases = {
      {"one point", {{12.34f, 56.78f, 0.5f, -0.25f, 7}}},
      {"edges of the field", {{0, 0, 1, -1, 1}, {64, 64, -1, 1, 16}}},
      {"counts 1 to 16", counts},
      {"64 points, 31 ft zigzag", zigzag},
  };
  for (const RoundTrip& c : cases) {
    SCOPED_TRACE(c.name);
    reset_erosion();
    const RutStroke s = stroke_of(c.points);
    uint8_t buf[kErosionRecordMax];
    const int n = encode_erosion_record(s, 64.0f, buf);
    ASSERT_EQ(n, 17 + 4 * (static_cast<int>(c.points.size()) - 1));
    EXPECT_EQ(buf[0], 1);
    decode_erosion_record(buf, n, 64.0f);
    const std::vector<RutPoint> got = drain_queue();
    ASSERT_EQ(got.size(), c.points.size());
    // Half a delta step of the widest axis; the steps don't add up along the stroke.
    const float step = std::max(s.max_delta_x - s.min_delta_x, s.max_delta_z - s.min_delta_z);
    const float tol = (step + 0.125f) / 255.0f * 0.5f + 1e-4f;
    for (size_t k = 0; k < got.size(); ++k) {
      SCOPED_TRACE(k);
      EXPECT_NEAR(got[k].x, c.points[k].x, tol);
      EXPECT_NEAR(got[k].z, c.points[k].z, tol);
      EXPECT_EQ(got[k].count, c.points[k].count);
      // Dig components are cut down to a multiple of 1/32 (+1 reads as 31/32).
      EXPECT_LE(got[k].dig_x, c.points[k].dig_x);
      EXPECT_GE(got[k].dig_x, c.points[k].dig_x - 1.0f / 32);
      EXPECT_LE(got[k].dig_z, c.points[k].dig_z);
      EXPECT_GE(got[k].dig_z, c.points[k].dig_z - 1.0f / 32);
    }
  }
}

TEST_F(Erosion, DigComponentsDecodeToTheirSixBitSteps) {
  struct Case {
    float in, out;
  };
  const Case cases[] = {{1.0f, 0.96875f}, {-1.0f, -1.0f}, {0.0f, 0.0f},
                        {0.5f, 0.5f},     {2.0f, 0.96875f}, {-3.0f, -1.0f}};
  for (const Case& c : cases) {
    reset_erosion();
    const RutStroke s = stroke_of({{1, 1, c.in, c.in, 3}});
    uint8_t buf[kErosionRecordMax];
    decode_erosion_record(buf, encode_erosion_record(s, 64.0f, buf), 64.0f);
    ASSERT_EQ(erosion_queue_length(), 1);
    EXPECT_EQ(erosion_queue_at(0).dig_x, c.out) << c.in;
    EXPECT_EQ(erosion_queue_at(0).dig_z, c.out) << c.in;
  }
}

TEST_F(Erosion, CountSixteenTravelsAsZeroAndReadsBackAsSixteen) {
  const RutStroke s = stroke_of({{1, 1, 0, 0, 16}, {2, 1, 0, 0, 15}});
  uint8_t buf[kErosionRecordMax];
  const int n = encode_erosion_record(s, 64.0f, buf);
  EXPECT_EQ(buf[15] & 3, 0);
  EXPECT_EQ(buf[16] & 3, 0);
  EXPECT_EQ(buf[19] & 3, 3);  // 15 = 0b1111
  EXPECT_EQ(buf[20] & 3, 3);
  decode_erosion_record(buf, n, 64.0f);
  ASSERT_EQ(erosion_queue_length(), 2);
  EXPECT_EQ(erosion_queue_at(0).count, 16);
  EXPECT_EQ(erosion_queue_at(1).count, 15);
}

TEST_F(Erosion, RecordLengthsAndTypes) {
  const RutStroke s = stroke_of({{5, 5, 0, 0, 1}, {6, 6, 0, 0, 2}, {7, 7, 0, 0, 3}});
  uint8_t buf[kErosionRecordMax];
  ASSERT_EQ(encode_erosion_record(s, 64.0f, buf), 25);
  struct Case {
    int length;
    uint8_t type;
    int points;
  };
  const Case cases[] = {{0, 1, 0},  {16, 1, 0}, {17, 1, 1}, {18, 1, 1}, {19, 1, 1},
                        {20, 1, 1}, {21, 1, 2}, {24, 1, 2}, {25, 1, 3}, {21, 0, 0},
                        {21, 2, 0}, {-5, 1, 0}};
  for (const Case& c : cases) {
    clear_erosion_queue();
    uint8_t copy[kErosionRecordMax];
    std::memcpy(copy, buf, sizeof copy);
    copy[0] = c.type;
    decode_erosion_record(copy, c.length, 64.0f);
    EXPECT_EQ(erosion_queue_length(), c.points) << c.length << " bytes, type " << +c.type;
  }
  RutStroke empty;
  EXPECT_EQ(encode_erosion_record(empty, 64.0f, buf), 0);
}

// ---- strokes ---------------------------------------------------------------------------

// Stores one point of a single sample at (x, z).
void store_at(RutStroke& s, const HeightField& hf, float x, float z, int tic) {
  s.sum_x = x;
  s.sum_z = z;
  s.sum_dig_x = 0.6f;
  s.sum_dig_z = 0.8f;
  s.sample_count = 1;
  store_rut_point(s, hf, tic);
}

TEST_F(Erosion, StrokeWithinTheDeltaRangeSplitsOnlyAtSixtyFourPoints) {
  HeightField hf = flat_field(0, 7);  // extent 256
  RutStroke s;
  // Deltas swing between -30 and +30 ft on x: a 60 ft range, never past 64.
  for (int k = 0; k < 64; ++k) store_at(s, hf, k % 2 ? 100.0f : 130.0f, static_cast<float>(k), k);
  EXPECT_EQ(s.point_count, 64);
  EXPECT_TRUE(written().empty());
  store_at(s, hf, 100.0f, 64.0f, 64);
  ASSERT_EQ(written().size(), 1u);
  EXPECT_EQ(written()[0].size(), static_cast<size_t>(kErosionRecordMax));
  EXPECT_EQ(s.point_count, 1);
  EXPECT_EQ(s.points[0].x, 100.0f);
  EXPECT_EQ(erosion_queue_length(), 64);
}

TEST_F(Erosion, DeltaRangePastSixtyFourFeetStartsANewStroke) {
  HeightField hf = flat_field(0, 7);
  RutStroke s;
  store_at(s, hf, 10, 10, 0);
  store_at(s, hf, 11, 10, 1);
  store_at(s, hf, 12, 10, 2);  // deltas x: 1, 1
  store_at(s, hf, 77, 10, 3);  // 65: range 64 exactly, still one stroke
  EXPECT_EQ(s.point_count, 4);
  EXPECT_TRUE(written().empty());
  store_at(s, hf, 76, 10, 4);  // -1: range 66
  ASSERT_EQ(written().size(), 1u);
  EXPECT_EQ(written()[0].size(), 17u + 3 * 4);
  EXPECT_EQ(s.point_count, 1);
  EXPECT_EQ(s.points[0].x, 76.0f);
  EXPECT_EQ(s.min_delta_x, 0.0f);
  EXPECT_EQ(s.max_delta_x, 0.0f);
  EXPECT_EQ(s.last_point_tic, 4);
}

TEST_F(Erosion, DeltaPastWhatARecordCarriesStartsANewStroke) {
  HeightField hf;
  ASSERT_TRUE(init_height_field(hf, 7, 8.0f));  // extent 2048
  RutStroke s;
  store_at(s, hf, 10, 10, 0);
  store_at(s, hf, 1500, 12, 1);  // 1490 ft: a record's deltas stop at 1024
  ASSERT_EQ(written().size(), 1u);
  EXPECT_EQ(written()[0].size(), 17u);
  EXPECT_EQ(s.point_count, 1);
  uint8_t buf[kErosionRecordMax];
  decode_erosion_record(buf, encode_erosion_record(s, hf.extent, buf), hf.extent);
  ASSERT_EQ(erosion_queue_length(), 2);
  EXPECT_NEAR(erosion_queue_at(0).x, 10.0f, 1e-3f);
  EXPECT_NEAR(erosion_queue_at(1).x, 1500.0f, 1e-3f);
}

// ---- sampling --------------------------------------------------------------------------

class Sampling : public Erosion {
 protected:
  void SetUp() override {
    Erosion::SetUp();
    ASSERT_TRUE(create_physics_world());
    body = dBodyCreate(g_physics.world);
    hf = flat_field();
    wheel.body = body;
    wheel.depth = 0.05f;
    wheel.point = {32, 0, 32};
  }
  void TearDown() override {
    destroy_physics_world();
    Erosion::TearDown();
  }
  // Travel along -z at `speed`; the ground pushes along +z with `force` (plus weight).
  void ride(double speed, double force, double slip = 0) {
    dBodySetLinearVel(body, 0, 0, -speed);
    wheel.feedback.f1[0] = 0;
    wheel.feedback.f1[1] = 300;
    wheel.feedback.f1[2] = force;
    wheel.point_velocity = {0, 0, static_cast<float>(slip)};
  }
  dBodyID body = nullptr;
  HeightField hf;
  WheelContact wheel;
  RutStroke stroke;
};

TEST_F(Sampling, ThresholdsOfSpeedForceAndSlip) {
  struct Case {
    const char* name;
    double speed, force, slip;
    float dig;  // expected dig length, 0 for no sample
  };
  const Case cases[] = {
      {"at off_speed", 10, 200, 0, 0},
      {"halfway on", 12.5, 200, 0, 0.5625f},  // g = 100
      {"at on_speed", 15, 200, 0, 1},
      {"force at lower", 20, 50, 0, 0},
      {"just above lower", 20, 50.01, 0, 0.125f},
      {"halfway force", 20, 100, 0, 0.5625f},
      {"at upper", 20, 150, 0, 1},
      {"beyond upper", 20, 900, 0, 1},
      {"slip at upper gives 1.5", 20, 100, 5, 1},
      {"half slip", 20, 80, 2.5, 0.5625f},         // g = 100
      {"slip beyond upper", 20, 40, 30, 0.2125f},  // g = 60
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    stroke = RutStroke{};
    ride(c.speed, c.force, c.slip);
    erosion_sample_wheel(stroke, wheel, false, hf, 10);
    if (c.dig == 0) {
      EXPECT_EQ(stroke.sample_count, 0);
      continue;
    }
    ASSERT_EQ(stroke.sample_count, 1);
    EXPECT_NEAR(std::hypot(stroke.sum_dig_x, stroke.sum_dig_z), c.dig, 1e-3);
    EXPECT_NEAR(stroke.sum_dig_x, 0, 1e-6);  // along the horizontal force
    EXPECT_GT(stroke.sum_dig_z, 0);
    EXPECT_EQ(stroke.sum_x, 32.0f);
    EXPECT_FLOAT_EQ(erosion_state().last.fz, static_cast<float>(-c.force));
  }
}

TEST_F(Sampling, NoSampleWithoutTouchOrHorizontalMotion) {
  ride(20, 200);
  wheel.depth = 0;
  erosion_sample_wheel(stroke, wheel, false, hf, 1);
  EXPECT_EQ(stroke.sample_count, 0);
  wheel.depth = 0.05f;
  dBodySetLinearVel(body, 0, -30, 0);  // falling straight down
  erosion_sample_wheel(stroke, wheel, false, hf, 2);
  EXPECT_EQ(stroke.sample_count, 0);
}

TEST_F(Sampling, FrontAndLateralScales) {
  hf.materials[0].erode.front_scale = 0.5f;
  hf.materials[0].erode.lateral_scale = 0;
  // Force 200 along the travel direction and 200 sideways: the sideways part goes.
  dBodySetLinearVel(body, 0, 0, -20);
  wheel.feedback.f1[0] = 200;
  wheel.feedback.f1[2] = 200;
  erosion_sample_wheel(stroke, wheel, true, hf, 1);  // front: 100 along the travel
  ASSERT_EQ(stroke.sample_count, 1);
  EXPECT_NEAR(stroke.sum_dig_x, 0, 1e-6);
  EXPECT_NEAR(stroke.sum_dig_z, 0.5625, 1e-5);
  stroke = RutStroke{};
  erosion_sample_wheel(stroke, wheel, false, hf, 1);  // rear: 200
  EXPECT_NEAR(stroke.sum_dig_z, 1.0, 1e-5);
}

TEST_F(Sampling, OnePointPerFootOrPerSixteenSamples) {
  ride(20, 200);
  // Standing still: the 17th sample closes a point of 16.
  for (int t = 0; t < 17; ++t) erosion_sample_wheel(stroke, wheel, false, hf, t);
  ASSERT_EQ(stroke.point_count, 1);
  EXPECT_EQ(stroke.points[0].count, 16);
  EXPECT_EQ(stroke.sample_count, 1);
  EXPECT_EQ(stroke.travel, 0.0f);
  // Moving a quarter foot a tic: four samples a point.
  stroke = RutStroke{};
  for (int t = 0; t < 13; ++t) {
    wheel.point[2] = 32.0f - 0.25f * static_cast<float>(t);
    erosion_sample_wheel(stroke, wheel, false, hf, t);
  }
  ASSERT_EQ(stroke.point_count, 3);
  for (int k = 0; k < 3; ++k) {
    const RutPoint& pt = stroke.points[static_cast<size_t>(k)];
    EXPECT_EQ(pt.count, 4);
    EXPECT_FLOAT_EQ(pt.z, 32.0f - 0.375f - static_cast<float>(k));
  }
}

TEST_F(Sampling, IdleStrokeIsSentAfterSixtyFourTics) {
  ride(20, 200);
  for (int t = 0; t < 20; ++t) {
    wheel.point[2] = 32.0f - 0.5f * static_cast<float>(t);
    erosion_sample_wheel(stroke, wheel, false, hf, t);
  }
  const int last = stroke.last_point_tic;
  ASSERT_GT(stroke.point_count, 0);
  const int points = stroke.point_count + 1;  // the pending samples close one more
  wheel.depth = 0;
  erosion_sample_wheel(stroke, wheel, false, hf, last + 64);
  EXPECT_TRUE(written().empty());
  erosion_sample_wheel(stroke, wheel, false, hf, last + 65);
  ASSERT_EQ(written().size(), 1u);
  EXPECT_EQ(written()[0].size(), static_cast<size_t>(17 + 4 * (points - 1)));
  EXPECT_EQ(erosion_queue_length(), points);
  EXPECT_EQ(stroke.point_count, 0);
  EXPECT_EQ(stroke.sample_count, 0);
}

TEST_F(Sampling, BikeSamplesBothWheelsIntoTheirStrokes) {
  BikeState bike;
  bike.front_contact = wheel;
  bike.rear_contact = wheel;
  ride(20, 200);
  bike.front_contact.feedback = wheel.feedback;
  bike.rear_contact.feedback = wheel.feedback;
  bike.rear_contact.depth = 0;
  erosion_sample_bike(bike, hf, 1);
  EXPECT_EQ(bike.front_stroke.sample_count, 1);
  EXPECT_EQ(bike.rear_stroke.sample_count, 0);
  EXPECT_FLOAT_EQ(erosion_state().front.speed, 20.0f);
  EXPECT_EQ(erosion_state().rear.speed, 0.0f);
  reset_rut_strokes(bike);
  EXPECT_EQ(bike.front_stroke.sample_count, 0);
}

// ---- submission ------------------------------------------------------------------------

bool g_server_takes = false;
int g_sent = 0;
bool send_stub(const uint8_t*, int) {
  ++g_sent;
  return g_server_takes;
}

TEST_F(Erosion, SubmitDecodesOfflineAndLeavesOnlineRecordsToTheEcho) {
  const RutStroke s = stroke_of({{5, 5, 0, 0, 1}, {6, 6, 0, 0, 2}});
  uint8_t buf[kErosionRecordMax];
  const int n = encode_erosion_record(s, 64.0f, buf);
  submit_erosion_record(buf, n, 64.0f);
  EXPECT_EQ(erosion_queue_length(), 2);
  EXPECT_EQ(written().size(), 1u);

  erosion_hooks().send_to_server = send_stub;
  g_sent = 0;
  g_server_takes = true;
  submit_erosion_record(buf, n, 64.0f);
  EXPECT_EQ(g_sent, 1);
  EXPECT_EQ(erosion_queue_length(), 2);
  EXPECT_EQ(written().size(), 1u);
  g_server_takes = false;  // not connected after all
  submit_erosion_record(buf, n, 64.0f);
  EXPECT_EQ(erosion_queue_length(), 4);
  EXPECT_EQ(written().size(), 2u);
}

// ---- queue -----------------------------------------------------------------------------

// Queues `count` points at (x, z) in records of up to 64 points.
void queue_points(int count, float x, float z, float dig_x = 0.6f, float dig_z = 0.8f,
                  int samples = 16, float extent = 64.0f) {
  while (count > 0) {
    const int n = std::min(count, 64);
    std::vector<RutPoint> pts(static_cast<size_t>(n), RutPoint{x, z, dig_x, dig_z, samples});
    const RutStroke s = stroke_of(pts);
    uint8_t buf[kErosionRecordMax];
    decode_erosion_record(buf, encode_erosion_record(s, extent, buf), extent);
    count -= n;
  }
}

// A field whose material digs nothing: application costs little and changes nothing.
HeightField inert_field() {
  HeightField hf = flat_field();
  ErodeParams& p = hf.materials[0].erode;
  p.limit_count = 1;
  p.limit_a[0] = 0;
  p.limit_b[0] = 0;
  return hf;
}

TEST_F(Erosion, QuotaGrowsWithTheBacklog) {
  HeightField hf = inert_field();
  struct Case {
    int queued, taken;
  };
  const Case cases[] = {{3, 3}, {511, 4}, {600, 5}, {8192, 20}, {8256, 21}};
  for (const Case& c : cases) {
    clear_erosion_queue();
    queue_points(c.queued, 20, 20);
    apply_erosion(hf, std::nullopt, 1.0, 100);
    EXPECT_EQ(erosion_queue_length(), c.queued - c.taken) << c.queued;
  }
}

TEST_F(Erosion, FullQueueDropsPointsReportsOnceAndDrains) {
  HeightField hf = inert_field();
  queue_points(kErosionQueueSize, 20, 20);
  EXPECT_EQ(erosion_queue_length(), kErosionQueueSize);
  EXPECT_FALSE(erosion_state().full_reported);
  const int before = message_list().next;
  queue_points(10, 30, 30);
  queue_points(10, 30, 30);
  EXPECT_EQ(erosion_queue_length(), kErosionQueueSize);
  EXPECT_TRUE(erosion_state().full_reported);
  EXPECT_EQ((message_list().next - before + kMessageRingLines) % kMessageRingLines, 1);
  EXPECT_STREQ(message_line(0), "Erode queue full!");
  EXPECT_NEAR(erosion_queue_at(kErosionQueueSize - 1).x, 20.0f, 1e-3f);

  apply_erosion(hf, std::nullopt, 1.0, 0);
  EXPECT_EQ(erosion_queue_length(), kErosionQueueSize - 2180);
  int tics = 1;
  while (erosion_queue_length() > 8192) apply_erosion(hf, std::nullopt, 1.0, tics++);
  EXPECT_EQ(tics, 268);
  while (erosion_queue_length() > 0) apply_erosion(hf, std::nullopt, 1.0, tics++);
  EXPECT_EQ(tics, 1145);  // about 9 s for a full queue

  // A new track empties the queue, but the message stays once per run.
  queue_points(5, 1, 1);
  clear_erosion_queue();
  EXPECT_EQ(erosion_queue_length(), 0);
  EXPECT_TRUE(erosion_state().full_reported);
}

TEST_F(Erosion, GuardHoldsNearbyPointsAtMost256Tics) {
  HeightField hf = flat_field();
  queue_points(1, 32, 32);
  queue_points(1, 60, 60);  // far from the rider, but behind the held point
  const GuardPosition near{35, 38};  // 3 ft, 6 ft: 6.7 ft away
  for (int t = 1000; t <= 1256; ++t) {
    apply_erosion(hf, near, 1.0, t);
    ASSERT_EQ(erosion_queue_length(), 2) << t;
  }
  EXPECT_EQ(erosion_state().guard_deadline, 1256);
  apply_erosion(hf, near, 1.0, 1257);
  EXPECT_EQ(erosion_queue_length(), 0);
  EXPECT_EQ(erosion_state().guard_deadline, kNoDeadline);
  EXPECT_NE(ground_height_at(hf, 32, 32), 0.0f);

  // The wait starts again for the next point; moving away releases it at once.
  queue_points(1, 32, 32);
  apply_erosion(hf, near, 1.0, 2000);
  EXPECT_EQ(erosion_queue_length(), 1);
  apply_erosion(hf, GuardPosition{42.5, 32}, 1.0, 2001);  // 10.5 ft
  EXPECT_EQ(erosion_queue_length(), 0);
  queue_points(1, 32, 32);
  apply_erosion(hf, std::nullopt, 1.0, 2002);
  EXPECT_EQ(erosion_queue_length(), 0);
}

// ---- application -----------------------------------------------------------------------

struct Change {
  double removed = 0, added = 0;
  int changed = 0;
};
Change compare(const HeightField& before, const HeightField& after) {
  Change c;
  for (size_t k = 0; k < after.heights.size(); ++k) {
    const double d = static_cast<double>(after.heights[k]) - static_cast<double>(before.heights[k]);
    if (d < 0) c.removed -= d;
    if (d > 0) c.added += d;
    if (d != 0) ++c.changed;
  }
  return c;
}

HeightField copy_of(const HeightField& hf) {
  HeightField c;
  c.heights = hf.heights;
  return c;
}

TEST_F(Erosion, AppliedDirtIsConserved) {
  struct Case {
    const char* name;
    float x, z, dig_x, dig_z;
  };
  const Case cases[] = {
      {"middle", 32, 32, 0.6f, 0.8f},
      {"dug at the edge, thrown inwards", 1.5f, 30, -0.96875f, 0},
      {"dug in the corner, thrown inwards", 62.5f, 62.5f, 0.59375f, 0.78125f},
      {"short throw", 20, 40, 0, -0.5f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    reset_erosion();
    HeightField hf = flat_field(2.0f);
    const HeightField before = copy_of(hf);
    queue_points(1, c.x, c.z, c.dig_x, c.dig_z);
    apply_erosion(hf, std::nullopt, 64.0, 1);
    const Change ch = compare(before, hf);
    ASSERT_GT(ch.removed, 0);
    EXPECT_NEAR(ch.added, ch.removed, 0.01 * ch.removed);
    EXPECT_LT(ground_height_at(hf, c.x, c.z), 2.0f);  // a rut where the wheel dug
  }
}

TEST_F(Erosion, DirtThrownPastTheEdgeIsLost) {
  HeightField hf = flat_field(2.0f);
  const HeightField before = copy_of(hf);
  queue_points(1, 0.5f, 30, 0.96875f, 0);  // lands 1.4 ft outside the field
  apply_erosion(hf, std::nullopt, 64.0, 1);
  const Change ch = compare(before, hf);
  EXPECT_GT(ch.removed, 0);
  EXPECT_LT(ch.added, 0.9 * ch.removed);
  for (const float h : hf.heights) EXPECT_LT(h, 2.5f);  // no pile on the edge
}

TEST_F(Erosion, DirtIsThrownAgainstTheDigDirection) {
  HeightField hf = flat_field();
  queue_points(1, 32, 32, 0.96875f, 0);  // D = 0.964 * displacement 2
  apply_erosion(hf, std::nullopt, 64.0, 1);
  EXPECT_LT(height_sample(hf, 32, 32), 0.0f);
  EXPECT_GT(height_sample(hf, 28, 32), height_sample(hf, 36, 32));
  EXPECT_GT(height_sample(hf, 28, 32), 0.0f);
}

TEST_F(Erosion, ShortestDigDepositsInPlace) {
  for (const float inner_depth : {0.125f, 0.0f}) {
    SCOPED_TRACE(inner_depth);
    reset_erosion();
    HeightField hf = flat_field();
    hf.materials[0].erode.inner_depth = inner_depth;
    queue_points(1, 32, 32, 0, 0.125f, 4);
    // The coded 0.125 reads back exactly, so the target is the point itself.
    ASSERT_EQ(erosion_queue_at(0).dig_z, 0.125f);
    apply_erosion(hf, std::nullopt, 256.0, 1);
    if (inner_depth == 0) {
      // Without the inner dig the main dig is refilled where it was taken.
      for (const float h : hf.heights) ASSERT_NEAR(h, 0.0f, 1e-6f);
      continue;
    }
    // What stays is the narrow inner hole with its dirt spread in a wider ring,
    // symmetric about the point.
    EXPECT_LT(height_sample(hf, 32, 32), -0.005f);
    EXPECT_GT(height_sample(hf, 35, 32), 0.0f);
    for (int d = 1; d <= 4; ++d) {
      EXPECT_NEAR(height_sample(hf, 32 + d, 32), height_sample(hf, 32 - d, 32), 1e-6f) << d;
      EXPECT_NEAR(height_sample(hf, 32, 32 + d), height_sample(hf, 32, 32 - d), 1e-6f) << d;
    }
  }
}

TEST_F(Erosion, DefaultLimitsStopRutsOneFootDown) {
  struct Case {
    float below;  // how far the live ground lies under its loaded shape
    bool changes;
  };
  const Case cases[] = {{1.0f, false}, {1.5f, false}, {0.5f, true}, {-0.5f, true}};
  for (const Case& c : cases) {
    reset_erosion();
    HeightField hf = flat_field(3.0f);
    for (float& h : hf.heights) h -= c.below;
    const HeightField before = copy_of(hf);
    queue_points(1, 32, 32);
    apply_erosion(hf, std::nullopt, 64.0, 1);
    EXPECT_EQ(compare(before, hf).changed > 0, c.changes) << c.below;
  }
}

TEST_F(Erosion, HalfwayToTheLimitDigsHalfAsDeep) {
  HeightField full = flat_field(3.0f);
  HeightField half = flat_field(3.0f);
  for (float& h : half.heights) h -= 0.5f;
  queue_points(1, 32, 32, 0, 0.125f);  // dirt back in place: the inner hole is what's left
  apply_erosion(full, std::nullopt, 64.0, 1);
  queue_points(1, 32, 32, 0, 0.125f);
  apply_erosion(half, std::nullopt, 64.0, 2);
  const double d_full = 3.0 - static_cast<double>(height_sample(full, 32, 32));
  const double d_half = 2.5 - static_cast<double>(height_sample(half, 32, 32));
  EXPECT_NEAR(d_half, 0.5 * d_full, 0.01 * d_full);
}

TEST_F(Erosion, SteepTargetChangesNothing) {
  HeightField hf = flat_field();
  // Ground rising 1 ft per foot towards -x: the target 1.93 ft away lies far above.
  for (int j = 0; j < hf.size; ++j)
    for (int i = 0; i < hf.size; ++i)
      hf.heights[static_cast<size_t>(j * hf.size + i)] = static_cast<float>(64 - i);
  hf.loaded_heights = hf.heights;
  const HeightField before = copy_of(hf);
  queue_points(1, 32, 32, 0.96875f, 0);
  apply_erosion(hf, std::nullopt, 64.0, 1);
  EXPECT_EQ(compare(before, hf).changed, 0);
  EXPECT_EQ(erosion_queue_length(), 0);
}

int g_marked = 0;
int g_square[4];
void mark_stub(HeightField&, int c0, int c1, int r0, int r1) {
  ++g_marked;
  g_square[0] = c0;
  g_square[1] = c1;
  g_square[2] = r0;
  g_square[3] = r1;
}

TEST_F(Erosion, DigReportsTheSquareClampedToTheField) {
  HeightField hf = flat_field();
  erosion_hooks().mark_ground_changed = mark_stub;
  g_marked = 0;
  const uint32_t changes = hf.height_changes;
  const double v = terrain_dig(hf, 1.5, 30.2, 4.0, -0.5);
  EXPECT_LT(v, 0);
  EXPECT_EQ(g_marked, 1);
  EXPECT_EQ(g_square[0], 0);  // columns -2 .. 5, clamped
  EXPECT_EQ(g_square[1], 5);
  EXPECT_EQ(g_square[2], 27);
  EXPECT_EQ(g_square[3], 34);
  EXPECT_GT(hf.height_changes, changes);
  EXPECT_EQ(terrain_dig(hf, 1.5, 30.2, 4.0, 0), 0.0);
  EXPECT_EQ(g_marked, 1);
  // A locked field takes nothing, so nothing is reported as dug.
  hf.edit_locked = true;
  EXPECT_EQ(terrain_dig(hf, 30, 30, 4.0, -0.5), 0.0);
}

TEST_F(Erosion, LogTextNegatesTheForces) {
  ErosionDebug f{12.5f, 1.0f, 2.0f, -3.0f, 4.0f, 5.0f};
  ErosionDebug r{};
  char buf[512];
  const int n = erosion_log_text(f, r, buf, sizeof buf);
  EXPECT_EQ(std::string(buf, static_cast<size_t>(n)),
            "front:\nspeed=12.50\nslip=1.00\nfx=-2.00\nfz=3.00\npfx=-4.00\npfz=-5.00\n"
            "rear:\nspeed=0.00\nslip=0.00\nfx=-0.00\nfz=-0.00\npfx=-0.00\npfz=-0.00\n");
  EXPECT_EQ(erosion_log_text(f, r, buf, 8), 7);
  EXPECT_STREQ(buf, "front:\n");
}

}  // namespace
}  // namespace ks
