// DemoState: coding bounds, joint values read back through the engine's own joint
// getters after posing, the flags byte, and interpolation.
#include <gtest/gtest.h>

#include <cmath>

#include "demo/demo_state.h"
#include "physics/bike.h"
#include "physics/bike_catalog.h"
#include "physics/world.h"

namespace ks {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr DemoFrame kFrame{2048.0, -40.0};

class DemoStateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(create_physics_world());
    bike = create_bike("cr125", 0, "7");
    ASSERT_NE(bike, nullptr);
  }
  void TearDown() override {
    destroy_bike(bike);
    destroy_physics_world();
  }
  BikeState* bike = nullptr;
};

// A state with chosen codes, built byte by byte as the format lays them out.
DemoState make_state(uint32_t x, uint32_t y, uint32_t z, uint8_t steer, uint8_t swing,
                     uint8_t fork, uint8_t front, uint8_t rear) {
  DemoState s{};
  auto put24 = [&](int at, uint32_t v) {
    for (int k = 0; k < 3; ++k) s[static_cast<size_t>(at + k)] = static_cast<uint8_t>(v >> (8 * k));
  };
  auto put16 = [&](int at, uint32_t v) {
    for (int k = 0; k < 2; ++k) s[static_cast<size_t>(at + k)] = static_cast<uint8_t>(v >> (8 * k));
  };
  put24(0, x);
  put24(3, y);
  put24(6, z);
  // Identity orientations: w = 1 codes as 65535, the rest as 0 -> 32768 (0.0000153).
  put16(9, 65535);
  for (int k = 1; k < 4; ++k) put16(9 + 2 * k, 32768);
  put16(26, 65535);
  for (int k = 1; k < 4; ++k) put16(26 + 2 * k, 32768);
  s[17] = steer;
  s[18] = swing;
  s[19] = fork;
  for (int k = 0; k < 3; ++k) put16(20 + 2 * k, 32768);
  s[34] = front;
  s[35] = rear;
  return s;
}

TEST_F(DemoStateTest, FramePositionCodesWithinHalfAStep) {
  // Position error <= W / 16777215 / 2 on every axis; outside the box it clamps to the box.
  const double bound = kFrame.extent / 16777215.0 / 2.0 + 1e-9;
  const BikeModelInfo& m = bike_model(bike->model);
  struct Case {
    double x, y, z;      // placed
    double ex, ey, ez;   // expected after clamping
  } cases[] = {
      {0, -40, 0, 0, -40, 0},
      {1024.123456789, 3.3333333, 77.7777777, 1024.123456789, 3.3333333, 77.7777777},
      {2047.99999, 2007.9, 0.00001, 2047.99999, 2007.9, 0.00001},
      {-5, -100, 3000, 0, -40, 2048},
  };
  for (const Case& c : cases) {
    dBodySetPosition(bike->bodies[kFrameBody], c.x, c.y, c.z);
    const DecodedState d = decode_demo_state(encode_demo_state(*bike, kFrame), m, kFrame);
    EXPECT_NEAR(d.position[0], c.ex, bound) << c.x;
    EXPECT_NEAR(d.position[1], c.ey, bound) << c.y;
    EXPECT_NEAR(d.position[2], c.ez, bound) << c.z;
  }
}

TEST_F(DemoStateTest, OrientationAndRiderOffsetWithinHalfAStep) {
  // Quaternion components within 1/65535 (range 2 over 65535 steps), rider offset within
  // 32/65535/2 per axis, clamped to +-16 ft.
  const BikeModelInfo& m = bike_model(bike->model);
  dMatrix3 r;
  dRFromEulerAngles(r, 0.3, -1.2, 2.5);
  dBodySetRotation(bike->bodies[kFrameBody], r);
  dBodySetPosition(bike->bodies[kFrameBody], 100, 10, 100);
  dBodySetPosition(bike->bodies[kRiderBody], 100.5, 12.25, 99.1);
  const DecodedState d = decode_demo_state(encode_demo_state(*bike, kFrame), m, kFrame);
  const dReal* q = dBodyGetQuaternion(bike->bodies[kFrameBody]);
  // Decoding normalises, which can move a component by a little more than the step.
  for (size_t k = 0; k < 4; ++k) EXPECT_NEAR(d.orientation[k], q[k], 2.0 / 65535.0);
  const double off = 32.0 / 65535.0 / 2.0 + 1e-9;
  EXPECT_NEAR(d.rider_offset[0], 0.5, off);
  EXPECT_NEAR(d.rider_offset[1], 2.25, off);
  EXPECT_NEAR(d.rider_offset[2], -0.9, off);

  dBodySetPosition(bike->bodies[kRiderBody], 150, -10, 100);
  const DecodedState far = decode_demo_state(encode_demo_state(*bike, kFrame), m, kFrame);
  EXPECT_NEAR(far.rider_offset[0], 16.0, off);
  EXPECT_NEAR(far.rider_offset[1], -16.0, off);
}

TEST_F(DemoStateTest, PosedJointsReadBackThroughTheJoints) {
  const BikeModelInfo& m = bike_model(bike->model);
  struct Case {
    uint8_t steer, swing, fork, front, rear;
  } cases[] = {{128, 255, 254, 128, 128}, {0, 1, 0, 10, 250}, {255, 129, 100, 200, 3},
               {40, 61, 200, 0, 255}};
  for (const Case& c : cases) {
    DemoState s = make_state(8000000, 500000, 9000000, c.steer, c.swing, c.fork, c.front, c.rear);
    // A frame pitched, rolled and turned.
    const double q[4] = {0.9, 0.3, -0.2, 0.245};
    const double n = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
    for (int k = 0; k < 4; ++k) {
      const auto code = static_cast<uint32_t>(std::floor((q[k] / n + 1) / 2 * 65535 + 0.5));
      s[static_cast<size_t>(9 + 2 * k)] = static_cast<uint8_t>(code);
      s[static_cast<size_t>(10 + 2 * k)] = static_cast<uint8_t>(code >> 8);
    }
    pose_bike(*bike, s, kFrame);
    const DecodedState d = decode_demo_state(s, m, kFrame);
    EXPECT_NEAR(dJointGetHingeAngle(bike->joints[kSteeringJoint]), d.steer, 1e-9);
    EXPECT_NEAR(dJointGetHingeAngle(bike->joints[kSwingarmJoint]), d.swingarm, 1e-9);
    EXPECT_NEAR(dJointGetSliderPosition(bike->joints[kForkJoint]), d.fork, 1e-9);
    // Wheel angles are the same turn (+-pi are one angle).
    const double front = std::remainder(dJointGetHingeAngle(bike->joints[kFrontAxleJoint]) - d.front_wheel, 2 * kPi);
    const double rear = std::remainder(dJointGetHingeAngle(bike->joints[kRearAxleJoint]) - d.rear_wheel, 2 * kPi);
    EXPECT_NEAR(front, 0, 1e-9);
    EXPECT_NEAR(rear, 0, 1e-9);
    // The hinges' anchors stay joined: the engine sees no joint error.
    dVector3 a1, a2;
    for (int j : {kFrontAxleJoint, kRearAxleJoint, kSteeringJoint, kSwingarmJoint}) {
      dJointGetHingeAnchor(bike->joints[j], a1);
      dJointGetHingeAnchor2(bike->joints[j], a2);
      for (int k = 0; k < 3; ++k) EXPECT_NEAR(a1[k], a2[k], 1e-9) << "joint " << j;
    }
    // Encoding the posed bike gives the same joint bytes back (bit 0 of byte 18 set: recorded).
    const DemoState back = encode_demo_state(*bike, kFrame);
    EXPECT_EQ(back[17], s[17]);
    EXPECT_EQ(back[18], static_cast<uint8_t>(s[18] | 1));
    EXPECT_EQ(back[19], static_cast<uint8_t>(s[19] & 0xFE));
    EXPECT_EQ(back[34] % 255, s[34] % 255);
    EXPECT_EQ(back[35] % 255, s[35] % 255);
  }
}

TEST_F(DemoStateTest, FlagsByteAndEngineSpeed) {
  struct Case {
    int gear;
    float throttle;
    int crash;
    uint8_t expected;
  } cases[] = {
      {3, 0.5f, 0, 3 | 7 << 4},   {9, 1.0f, 0, 6 | 15 << 4}, {-2, 2.0f, 0, 0 | 15 << 4},
      {2, 1.0f, 1, 7},            {2, 1.0f, 128, 7 | 15 << 4}, {2, 1.0f, 60, 7 | 6 << 4},
  };
  for (const Case& c : cases) {
    bike->drivetrain.gear = c.gear;
    bike->controls.throttle = c.throttle;
    bike->crash.counter = c.crash;
    EXPECT_EQ(encode_demo_state(*bike, kFrame)[36], c.expected) << c.gear << " " << c.crash;
  }
  const BikeModelInfo& m = bike_model(bike->model);
  bike->crash.counter = 0;
  bike->drivetrain.engine_speed = static_cast<float>(9000.0 / 9.549296585513721);
  EXPECT_NEAR(decode_demo_state(encode_demo_state(*bike, kFrame), m, kFrame).rpm, 9000.0,
              32768.0 / 65535.0 / 2.0 + 0.01);
  bike->drivetrain.engine_speed = 1e6f;
  EXPECT_NEAR(decode_demo_state(encode_demo_state(*bike, kFrame), m, kFrame).rpm, 32768.0, 1e-6);
}

TEST(DemoInterpolation, PositionsExtrapolateOrientationsStopAtTheNewerState) {
  const BikeModelInfo& m = bike_model(0);
  const DemoState a = make_state(1000, 2000, 3000, 100, 101, 50, 0, 0);
  DemoState b = make_state(2000, 2000, 2000, 110, 121, 60, 0, 0);
  // b turned half a turn about y: a different orientation.
  b[9] = 0xFF; b[10] = 0x7F;   // w ~ 0
  b[13] = 0xFF; b[14] = 0xFF;  // y = 1
  DemoState a2 = a;
  a2[36] = 0x35;
  const DemoState mid = interpolate_demo_states(a2, b, 0.5);
  const DemoState ext = interpolate_demo_states(a2, b, 2.0);
  const DecodedState dm = decode_demo_state(mid, m, kFrame);
  const DecodedState de = decode_demo_state(ext, m, kFrame);
  const DecodedState db = decode_demo_state(b, m, kFrame);
  const double step = kFrame.extent / 16777215.0;
  EXPECT_NEAR(dm.position[0], 1500 * step, step);
  EXPECT_NEAR(de.position[0], 3000 * step, step);
  EXPECT_NEAR(de.position[2], 1000 * step, step);
  EXPECT_EQ(ext[17], 120);
  // Orientation stops at b beyond fraction 1.
  double dot = 0;
  for (size_t k = 0; k < 4; ++k) dot += de.orientation[k] * db.orientation[k];
  EXPECT_NEAR(std::fabs(dot), 1.0, 1e-6);
  // Bit 0 of byte 18 is cleared; byte 36 comes from the older state.
  EXPECT_EQ(mid[18] & 1, 0);
  EXPECT_EQ(mid[36], 0x35);
}

TEST(DemoInterpolation, OppositeQuaternionSignsInterpolateToTheSameTurn) {
  const BikeModelInfo& m = bike_model(0);
  DemoState a = make_state(0, 0, 0, 128, 129, 128, 0, 0);
  DemoState b = a;
  // b holds the negated quaternion of a (w = -1): the same turn.
  b[9] = 0;
  b[10] = 0;
  for (int k = 1; k < 4; ++k) {
    b[static_cast<size_t>(9 + 2 * k)] = 0xFF;
    b[static_cast<size_t>(10 + 2 * k)] = 0x7F;
  }
  const DecodedState d = decode_demo_state(interpolate_demo_states(a, b, 0.5), m, kFrame);
  EXPECT_NEAR(std::fabs(d.orientation[0]), 1.0, 1e-4);
}

TEST(DemoInterpolation, WheelAnglesWrapAroundTheTurn) {
  struct Case {
    uint8_t a, b;
    double fraction;
    int expected;
  } cases[] = {
      {250, 5, 0.5, 0},   // forward across the wrap: 250 -> 260 (= 5), middle 255 (= 0)
      {10, 20, 0.5, 15},
      {20, 10, 0.5, 15},               // a small step back stays a step back
      {10, 200, 0.5, 105},             // 190/255 of a turn forward is within 7/8
      {10, 250, 0.4, 4},               // 240/255 is more than 7/8: taken as 15 back
      {100, 110, 2.0, 120},            // extrapolated
  };
  for (const Case& c : cases) {
    const DemoState a = make_state(0, 0, 0, 128, 129, 128, c.a, c.a);
    const DemoState b = make_state(0, 0, 0, 128, 129, 128, c.b, c.b);
    const DemoState s = interpolate_demo_states(a, b, c.fraction);
    EXPECT_EQ(s[34] % 255, c.expected % 255) << int(c.a) << " -> " << int(c.b);
  }
}

}  // namespace
}  // namespace ks
