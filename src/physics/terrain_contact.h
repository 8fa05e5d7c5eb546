// Body shapes against the ground: spheres against the terrain triangles, the contact
// joints of a body's shape, the whole bike's ground contacts with the crash rule, and the
// knockout times that lengthen repeated crashes.
#pragma once

#include <array>

#include <ode/ode.h>

#include "physics/wheel_contact.h"

namespace ks {

struct BikeState;
struct CollisionShape;
struct HeightField;

// A sphere against every terrain triangle under its bounding square; the deepest wins.
GroundHit sphere_terrain_test(const HeightField& hf, const Vec3d& centre, double radius);

// Places every sphere of the shape with the body's pose (writing the world centres into
// this copy of the shape) and makes a contact joint for each one that touches. True if
// any sphere touches.
bool shape_ground_contacts(CollisionShape& shape, dBodyID body, const dReal* position,
                           const dReal* rotation, const HeightField& hf);

// Both wheels, then the frame, fork, swingarm and rider shapes, against the ground; sets
// the crash when the rider lands upside down at speed. True if anything touches.
bool bike_ground_contacts(BikeState& bike, const HeightField& hf);

// The rider leaves the bike: the rider joint lets go, the feet go on from where the pose
// had them with the rider body's motion there, and the crash counter starts.
void crash_rider_off(BikeState& bike, const HeightField& hf);

// The roll angle of a body about its forward (-z) axis: 0 upright, signed.
double body_roll_angle(dBodyID body);

// Grip of the tyres under arcade physics at a roll angle (1 upright, 0.625 from 45 degrees).
double arcade_grip_factor(double roll);

// Extra tics a crash keeps the rider down, by crash number (the 16th and later share the
// last entry). Set by the race server's "knockout" message.
constexpr int kKnockoutEntries = 16;
constexpr int kMaxKnockoutTicks = 460800;  // one hour
struct KnockoutTable {
  std::array<int, kKnockoutEntries> ticks{};
};
extern KnockoutTable knockout_ticks;
// Stores one entry, clamped to [0, kMaxKnockoutTicks]; an index outside the table is ignored.
void set_knockout_ticks(int index, int ticks);
void reset_knockout_ticks();

// Crash counter of a new crash: 512 tics plus the knockout entry of the crash number.
int crash_ticks(int crash_count);

}  // namespace ks
