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

// First flag byte.
constexpr uint8_t kFlagDirectSteering = 1u << 0;  // always set
constexpr uint8_t kFlagStopWheelies = 1u << 1;
constexpr uint8_t kFlagStopFrontFlips = 1u << 2;
constexpr uint8_t kFlagFrontAntilock = 1u << 3;
constexpr uint8_t kFlagRearAntilock = 1u << 4;
constexpr uint8_t kFlagAutoShift = 1u << 5;
constexpr uint8_t kFlagAutoDab = 1u << 6;
constexpr uint8_t kFlagRealign = 1u << 7;
// Second flag byte.
constexpr uint8_t kFlag2Arcade = 1u << 0;

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

struct Drivetrain {
  int gear = 0;            // 0..5
  float last_shift = 0;    // shift input of the previous tic
  float windup = 0;        // drivetrain wind-up angle (rad)
  float engine_speed = 0;  // rad/s
  float crank_inertia = 0;
  float final_drive = 1;   // rear teeth / countershaft teeth
};

struct ForkParams {
  float compression = 0, slow_compression = 0;
  float rebound = 0, slow_rebound = 0;
  float spring_rate = 0, preload = 0, air_gap = 0;
};

struct ShockParams {
  float compression = 0, slow_compression = 0;
  float rebound = 0, slow_rebound = 0;
  float spring_rate = 0, preload = 0;
};

struct RiderSprings {
  float vertical_spring = 0, vertical_damping = 0;
  float forward_spring = 0, forward_damping = 0;
};

struct Assists {
  float roll_damping = 0;
  float leveling = 0;
  float roll_limit_factor = 0;
  float roll_limit_angle = 0;  // rad
  float steering_damping = 0;
  float steering_strength = 0;
  float max_steering_force = 0;
  float direct_steering = 0;
  float slow_damping_speed = 0;
  float slow_damping_factor = 0;
  float land_damping_falloff = 0;
  float land_damping_factor = 0;
  float auto_clutch_rpm = 0;
  float front_brake_torque = 0;  // lb ft
  float rear_brake_torque = 0;   // lb ft
  float max_dab_speed = 0;       // ft/s
  float full_lock_speed = 0;
  float restricted_lock_speed = 0;
  float restricted_lock = 0;     // rad
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
  ForkParams fork;
  ShockParams shock;
  RiderSprings rider_springs;
  float mass_distribution = 1.0f / 3.0f;  // share of the rider's mass in the rider body
  float total_mass = 0;                   // sum of the seven body masses at creation
  Assists assists;

  // Collision shapes by body (none where the file couldn't be read). Each bike has its
  // own copies: world centres are written into them every tic.
  std::array<std::optional<CollisionShape>, kBikeBodyCount> shapes{};
  // Models, textures and the plate of the drawn bike, owned by the appearance seam
  // (null headless).
  void* appearance = nullptr;

  std::array<char, 8> number{};  // plate text, at most 7 characters
  int slot = 0;

  CrashState crash;
  std::array<RiderFoot, 2> rider_feet{};
  // Rider body linear velocity of the last four tics, indexed by tic % 4.
  std::array<std::array<float, 3>, 4> rider_velocity_history{};

  float enabled = 1;  // 1 when the bodies are enabled, 0 when disabled
  std::array<uint8_t, 2> flags{};
};

}  // namespace ks
