// DemoState: the 39-byte quantised state of one bike (frame pose, joint values, rider
// pose, wheel angles, gear, throttle and engine speed) that demos and the network carry;
// encoding from a bike, decoding, interpolation, and posing a bike from a state.
#pragma once

#include <array>
#include <cstdint>

#include "physics/bike_state.h"

namespace ks {

struct BikeModelInfo;

constexpr int kDemoStateBytes = 39;
using DemoState = std::array<uint8_t, kDemoStateBytes>;

// Byte offsets inside a DemoState.
constexpr int kStatePosition = 0;        // 3 x 24 bits
constexpr int kStateOrientation = 9;     // 4 x 16 bits (w, x, y, z)
constexpr int kStateSteer = 17;
constexpr int kStateSwingarm = 18;       // bit 0: 1 = recorded, 0 = interpolated
constexpr int kStateFork = 19;           // bit 0 reserved, always 0
constexpr int kStateRiderOffset = 20;    // 3 x 16 bits
constexpr int kStateRiderOrientation = 26;
constexpr int kStateFrontWheel = 34;
constexpr int kStateRearWheel = 35;
constexpr int kStateFlags = 36;
constexpr int kStateRpm = 37;            // 16 bits

// The coordinate box positions are coded in: x and z in 0..W, y in B..B+W.
struct DemoFrame {
  double extent = 1;      // W, the terrain's extent
  double min_height = 0;  // B, the terrain's lowest height
};
// The current track's terrain, or a 1 ft box at the origin when none is loaded.
DemoFrame current_demo_frame();

// A state read back into physical values.
struct DecodedState {
  std::array<double, 3> position{};
  std::array<double, 4> orientation{1, 0, 0, 0};  // w, x, y, z
  double steer = 0;     // steering hinge angle
  double swingarm = 0;  // swingarm hinge angle, -A..0
  double fork = 0;      // fork slider position, -T..0
  std::array<double, 3> rider_offset{};
  std::array<double, 4> rider_orientation{1, 0, 0, 0};
  double front_wheel = 0;  // axle hinge angles, -pi..pi
  double rear_wheel = 0;
  int gear = 0;         // 0..6, or 7 while the rider is down
  bool effect = false;  // bit 3 of the flags byte
  int throttle = 0;     // 0..15; while down the crash level
  double rpm = 0;
  bool recorded = false;
};

DemoState encode_demo_state(const BikeState& bike, const DemoFrame& frame);
DecodedState decode_demo_state(const DemoState& s, const BikeModelInfo& model,
                               const DemoFrame& frame);

// Between a (older) and b (newer) at `fraction` (0 = a, 1 = b, above 1 extrapolates
// positions, suspension and engine speed; orientations stop at b).
DemoState interpolate_demo_states(const DemoState& a, const DemoState& b, double fraction);

// World poses of the seven bodies that a state describes, in body order.
struct BikePose {
  std::array<std::array<double, 3>, kBikeBodyCount> position{};
  std::array<std::array<double, 4>, kBikeBodyCount> orientation{};  // w, x, y, z
};
BikePose bike_pose_from_state(const DemoState& s, const BikeModelInfo& model,
                              const DemoFrame& frame);

// Puts every body at the state's pose. With `older` (and tics > 0) each body's linear and
// angular velocity is the motion from `older` to `newer` over that many tics; otherwise
// the bodies are still. Gear, throttle, engine speed and the crash level are copied too.
void pose_bike(BikeState& bike, const DemoState& s, const DemoFrame& frame);
void pose_bike(BikeState& bike, const DemoState& s, const DemoState* older,
               const DemoState* newer, int tics, const DemoFrame& frame);

}  // namespace ks
