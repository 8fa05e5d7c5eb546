// The built-in catalog of 80 bike models: one BikeModelInfo row per model with its
// geometry, masses, suspension ranges, gearing, engine curves, file names and rider limb
// points, and the lookup by name with its fallback.
//
// Sections: the row record - the catalog - lookup.
#pragma once

#include <array>
#include <cstddef>

namespace ks {

// ---- the row record --------------------------------------------------------------------

constexpr int kBikeModelCount = 80;
constexpr size_t kBikeNameBytes = 16;      // model name and class, NUL included
constexpr int kTorqueEntries = 50;         // torque at 0, 500, 1000 ... 24 500 rpm
constexpr float kTorqueRpmStep = 500.0f;
constexpr int kGearCount = 6;
constexpr int kModelFileCount = 23;
constexpr size_t kModelFileBytes = 64;     // one file name, NUL included

// A point in bike coordinates (feet; y up, front towards -z).
struct BikeVec3 {
  float x = 0;
  float y = 0;
  float z = 0;
};

// One wheel: the tyre is a torus around the x axis through the centre.
struct WheelInfo {
  BikeVec3 pos;               // rest position of the wheel centre
  float torus_radius = 0;     // centre to the middle of the tyre section
  float section_radius = 0;   // tyre section radius
  float tyre_mass = 0;
  float hub_radius = 0;
  float hub_mass = 0;
};

// The 23 files of a row, in the order of BikeModelInfo::files.
enum ModelFile : int {
  kFrameModel = 0,
  kFrameShape,
  kBikeTexture,
  kForkUpperModel,
  kForkUpperShape,
  kForkLowerModel,
  kForkLowerShape,
  kSwingarmModel,
  kSwingarmShape,
  kFrontWheelModel,
  kFrontWheelShape,
  kRearWheelModel,
  kRearWheelShape,
  kWheelTexture,
  kRiderHeadModel,
  kRiderHeadTexture,
  kRiderBodyModel,
  kRiderBodyFirstPersonModel,
  kRiderShape,
  kRiderBodyTexture,
  kSidePlatesModel,
  kFrontPlateModel,
  kRiderPlateModel,
};

// Points of the rider model used by the arm tethers after a crash and by the drawn pose.
// Index 0 is left, 1 right.
struct RiderLimbs {
  std::array<BikeVec3, 2> shoulder;   // rider body coordinates
  std::array<BikeVec3, 2> hip;        // rider body coordinates
  std::array<BikeVec3, 2> grip;       // fork upper coordinates
  std::array<BikeVec3, 2> foot_rest;  // frame coordinates
  float upper_arm = 0;
  float forearm = 0;
  float thigh = 0;
  float shin = 0;
  // Rest pivots of the nine bones of the rider-body model: left and right forearm, left
  // and right upper arm, left and right shin, left and right thigh, torso.
  std::array<BikeVec3, 9> bone_centre;
};

struct BikeModelInfo {
  std::array<char, kBikeNameBytes> name{};
  std::array<char, kBikeNameBytes> bike_class{};  // "125", "250", "250f", "450f" or "50"

  WheelInfo front_wheel;
  WheelInfo rear_wheel;

  BikeVec3 frame_pos;
  float frame_mass = 0;
  float frame_width = 0;   // box sides (x, y, z)
  float frame_height = 0;
  float frame_length = 0;

  BikeVec3 fork_upper_pos;  // steering body; the steering axis runs lower -> upper
  BikeVec3 swingarm_pos;
  BikeVec3 swingarm_pivot;  // swingarm hinge anchor
  BikeVec3 fork_lower_pos;  // sliding fork body

  // Two fork legs: radius spacing/8, length factor*2/3, at x = +-spacing/2.
  float fork_leg_spacing = 0;
  float fork_leg_length_factor = 0;
  float fork_mass = 0;
  std::array<float, 2> fork_spring_rate{};  // lb/ft of both legs at setting 0 and 1
  std::array<float, 2> fork_preload{};      // ft at setting 0 and 1
  std::array<float, 2> fork_air_gap{};      // ft at oil setting 0 and 1 (more oil, less gap)
  float fork_compression = 0;               // high speed
  float fork_slow_compression = 0;
  float fork_rebound = 0;                   // high speed
  float fork_slow_rebound = 0;
  float fork_travel = 0;                    // ft

  float swingarm_mass = 0;

  std::array<float, 2> shock_spring_rate{};  // lb/ft at setting 0 and 1
  std::array<float, 2> shock_preload{};      // ft at setting 0 and 1
  float shock_compression = 0;
  float shock_slow_compression = 0;
  float shock_rebound = 0;
  float shock_slow_rebound = 0;

  // Shock stroke against swingarm travel.
  float link_stroke_knot = 0;       // stroke at the knot
  float link_stroke_end = 0;        // stroke at full travel
  float swingarm_travel_angle = 0;  // rad
  float link_knot = 0;              // knot position, fraction of travel
  float link_slope_start = 0;
  float link_slope_knot = 0;
  float link_slope_end = 0;

  float primary_ratio = 0;
  float countershaft_teeth = 0;
  float rear_sprocket_teeth = 0;
  std::array<float, kGearCount> gear_ratios{};  // a ratio <= 0 marks a missing gear

  float crank_inertia = 0;         // slug ft^2
  float drivetrain_stiffness = 0;  // lb ft / rad
  float drivetrain_damping = 0;    // lb ft s / rad

  std::array<float, kTorqueEntries> closed_throttle_torque{};  // lb ft
  std::array<float, kTorqueEntries> full_throttle_torque{};    // lb ft

  float downshift_rpm = 0;
  float upshift_rpm = 0;

  BikeVec3 rider_pos;  // rest position of the rider body
  float rider_mass = 0;

  std::array<std::array<char, kModelFileBytes>, kModelFileCount> files{};

  RiderLimbs limbs;

  const char* file(ModelFile which) const { return files[static_cast<size_t>(which)].data(); }
};

// ---- the catalog -----------------------------------------------------------------------

// The 80 rows in catalog order; built on first use, never changed.
const std::array<BikeModelInfo, kBikeModelCount>& bike_catalog();
// Row `index` (clamped to the table).
const BikeModelInfo& bike_model(int index);

// The index of the highest gear whose ratio is positive (4 for a five-speed).
int top_gear(const BikeModelInfo& m);

// ---- lookup ----------------------------------------------------------------------------

// The row of the exact name. Otherwise the first row whose name contains "125" when the
// request does, else the first whose name contains "250f", and the message
// "bike info for '%.20s' not found using '%.20s' instead" is posted.
int find_bike_model(const char* name);
// The exact row index, or -1 (no fallback, no message).
int find_bike_model_exact(const char* name);

// A year-less model name stands for its usual year ("crf250" -> "crf250(2008)"); any other
// name is returned as it is.
const char* bike_model_aliases(const char* name);

}  // namespace ks
