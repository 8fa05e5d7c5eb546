// The physics world shared by every bike: one ODE world with its contact group, stepped
// at the fixed tic. Created once at start-up and kept across races.
#pragma once

#include <ode/ode.h>

namespace ks {

// One simulation tic, in seconds.
constexpr double kTicSeconds = 1.0 / 128.0;
constexpr double kGravity = 32.0;  // ft/s^2, downwards

struct PhysicsWorld {
  dWorldID world = nullptr;
  // Joints that live for one step (contacts, rider springs, assist motors).
  dJointGroupID contact_group = nullptr;
};

// The program's one world. Empty until create_physics_world.
extern PhysicsWorld g_physics;

// Creates the world (gravity (0, -32, 0), the library's default ERP and CFM) and the
// contact group. Safe to call again: an existing world is destroyed first. False when
// the library can't give a world.
bool create_physics_world();

// Destroys the contact group and the world (every body and joint in it goes with it).
// Bikes must be destroyed first.
void destroy_physics_world();

// One exact step of h seconds, then the contact group is emptied.
void world_step(double h = kTicSeconds);

}  // namespace ks
