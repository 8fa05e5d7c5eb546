// BikeState: everything one bike carries — its bodies and joints in the physics world,
// the wheel contacts of the current step, the rider's controls, drivetrain, suspension
// and assist values, crash state, erosion strokes and an opaque appearance handle.
//
// A BikeState must not move once created: its joints point at the feedback records
// inside it. Create and destroy it only through create_bike / destroy_bike (bike.h).
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include <ode/ode.h>

#include "physics/bike_setup.h"
#include "physics/rut_stroke.h"
#include "physics/wheel_contact.h"
#include "track/collision_shape.h"

namespace ks {

constexpr int kMaxBikes = 160;

// Body order is also the creation order.
enum BikeBody : int {
  kFrameBody = 0,
  kFrontWheelBody,
  kRearWheelBody,
  kForkUpperBody,
  kForkLowerBody,
  kSwingarmBody,
  kRiderBody,
  kBikeBodyCount
};

// Joint order is also the creation order.
enum BikeJoint : int {
  kFrontAxleJoint = 0,  // hinge: fork lower - front wheel; motor is the front brake
  kRearAxleJoint,       // hinge: swingarm - rear wheel; motor is the rear brake
  kSteeringJoint,       // hinge: fork upper - frame
  kForkJoint,           // slider: fork upper - fork lower; motor carries the fork force
  kSwingarmJoint,       // hinge: swingarm - frame; motor carries the shock torque
  kRiderJoint,          // hinge-2: rider - frame; detached by a crash
  kBikeJointCount
};

struct BikeControls {
  float throttle = 0;     // 0..1
  float clutch = 0;       // engagement 0..1, 1 = engaged
  float front_brake = 0;  // 0..1
  float rear_brake = 0;   // 0..1
  float steer = 0;        // -1..1
  float sit_dab = 0;      // 0..1
  float dab_pose = 0;     // 0..1, how far the foot is down in the drawn pose
  float back_up = 0;      // 0..1
  float lean = 0;         // fore-aft, -1..1
};

// The final drive ratio lives in BikeTuning with the sprockets that set it.
struct Drivetrain {
  int gear = 0;            // 0..5
  float last_shift = 0;    // shift input of the previous tic
  float windup = 0;        // drivetrain wind-up angle (rad)
  float engine_speed = 0;  // rad/s
  float crank_inertia = 0;
  float clutch_engagement = 0;  // engagement the last drivetrain step used, 0..1
  float drive_torque = 0;       // torque the last step put on the rear wheel (lb ft)
};

struct CrashState {
  int counter = 0;  // tics to recovery; > 0 while crashed
  int count = 0;    // crashes so far
  std::array<float, 3> rider_velocity{};          // rider body at the crash
  std::array<float, 3> rider_angular_velocity{};
  int ground_touch = 0;        // a body other than the wheels touched the ground
  float collision_timer = 0;   // moved towards 0 every tic; set by bike contacts
  int last_bike_contact_tic = -1;
};

// Airtime and the balance assists' own state.
struct AssistState {
  float landing_multiplier = 1;  // roll damping boost right after a landing
  int takeoff_tic = 0;
  int landing_tic = 0;
  float lock_warning = 0;  // 0..1, how close the front is to its lock or slip limit
};

struct RiderFoot {
  std::array<float, 3> position{};
  std::array<float, 3> velocity{};
};

struct BikeState {
  BikeState() = default;
  BikeState(const BikeState&) = delete;  // joints point into it
  BikeState& operator=(const BikeState&) = delete;

  int model = 0;  // catalog row
  std::array<dBodyID, kBikeBodyCount> bodies{};
  std::array<dJointID, kBikeJointCount> joints{};
  std::array<dJointFeedback, kBikeJointCount> joint_feedback{};

  WheelContact front_contact{};
  WheelContact rear_contact{};
  RutStroke front_stroke{};
  RutStroke rear_stroke{};

  BikeControls controls;
  Drivetrain drivetrain;
  // Assists, fork and shock parameters, rider springs, sprockets and final drive, rider
  // mass distribution and the two flag bytes, as the setup sets them.
  BikeTuning tuning;
  float total_mass = 0;  // sum of the seven body masses at creation

  // Collision shapes by body (none where the file couldn't be read). Each bike has its
  // own copies: world centres are written into them every tic.
  std::array<std::optional<CollisionShape>, kBikeBodyCount> shapes{};
  // Models, textures and the plate of the drawn bike, owned by the appearance seam
  // (null headless).
  void* appearance = nullptr;

  std::array<char, 8> number{};  // plate text, at most 7 characters
  int slot = 0;

  CrashState crash;
  AssistState assist;
  std::array<RiderFoot, 2> rider_feet{};
  // Rider body linear velocity of the last four tics, indexed by tic % 4.
  std::array<std::array<float, 3>, 4> rider_velocity_history{};

  float enabled = 1;  // 1 when the bodies are enabled, 0 when disabled

  // Identifiers of the lines the autopilot picked for its last four line indices
  // (index mod 4); a meeting with another bike clears them, so the stretch isn't credited.
  std::array<int, 4> followed_lines{};
};

}  // namespace ks
