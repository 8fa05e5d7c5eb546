// The drawn rider: the two-bone reach for elbows and knees, the feet (on the pegs, dabbed
// onto the ground, or flung up in a crash) and the nine-bone skeleton of the rider-body
// model. Everything is recomputed from the current body poses; nothing here touches the
// physics.
//
// Sections: two-bone reach - feet - skeleton.
#pragma once

#include <array>

#include "physics/wheel_contact.h"

namespace ks {

struct BikeState;
struct HeightField;

// ---- two-bone reach -------------------------------------------------------------------

// Fraction of the full limb length a limb ever stretches to, so it never snaps straight.
constexpr double kLimbReach = 0.95;

// The middle joint of a limb from `root` with segments `a` (from the root) and `b` (to the
// target), bent towards `pole`. A target beyond kLimbReach * (a + b) places the joint as
// for that reach along the line to the target; the lower segment then ends short of the
// target. A target closer than |a - b| straightens the joint along the line (or folds it
// back). A target at the root, or a pole on the line, picks a fixed side.
Vec3d two_bone_ik(const Vec3d& root, const Vec3d& target, double a, double b,
                  const Vec3d& pole);

// ---- feet -----------------------------------------------------------------------------

// World foot positions and how firmly each foot is placed off its peg (0 = on the peg,
// 1 = fully dabbed or following the crash foot point). Index 0 is left, 1 right.
struct RiderFeet {
  std::array<Vec3d, 2> position{};
  std::array<double, 2> weight{};
};

// The feet from the frame's foot rests, the dab pose level, the crash counter and the
// stored foot points of a crash; dabbed feet stand on the ground of `hf`. A bike without
// its frame or rider body gives feet at the origin.
RiderFeet rider_feet(const BikeState& bike, const HeightField& hf);

// ---- skeleton -------------------------------------------------------------------------

// Bone numbering of the rider-body model.
enum RiderBone : int {
  kLeftForearmBone = 0,
  kRightForearmBone,
  kLeftUpperArmBone,
  kRightUpperArmBone,
  kLeftShinBone,
  kRightShinBone,
  kLeftThighBone,
  kRightThighBone,
  kTorsoBone,
  kRiderBoneCount
};

// A posed bone: its pivot in the world and the rotation whose columns are the model's
// x, y and z axes in the world (column 0 = column 1 x column 2).
struct PosedBone {
  Vec3d pivot{};
  std::array<Vec3d, 3> columns{{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};
};

struct RiderSkeleton {
  std::array<PosedBone, kRiderBoneCount> bones{};
};

// Arms from the shoulders to the grips, legs from the hips to the feet of rider_feet, and
// the torso. A bike without its frame, fork upper or rider body gives the identity pose.
RiderSkeleton rider_skeleton(const BikeState& bike, const HeightField& hf);

}  // namespace ks
