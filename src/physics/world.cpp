#include "physics/world.h"

namespace ks {

PhysicsWorld g_physics;

namespace {
bool g_ode_initialised = false;
}

bool create_physics_world() {
  if (!g_ode_initialised) {
    if (dInitODE2(0) == 0) return false;
    g_ode_initialised = true;
  }
  destroy_physics_world();
  g_physics.world = dWorldCreate();
  if (g_physics.world == nullptr) return false;
  dWorldSetGravity(g_physics.world, 0, -kGravity, 0);
  g_physics.contact_group = dJointGroupCreate(0);
  if (g_physics.contact_group == nullptr) {
    dWorldDestroy(g_physics.world);
    g_physics.world = nullptr;
    return false;
  }
  return true;
}

void destroy_physics_world() {
  if (g_physics.contact_group != nullptr) dJointGroupDestroy(g_physics.contact_group);
  if (g_physics.world != nullptr) dWorldDestroy(g_physics.world);
  g_physics = PhysicsWorld{};
}

void world_step(double h) {
  if (g_physics.world == nullptr) return;
  dWorldStep(g_physics.world, h);
  dJointGroupEmpty(g_physics.contact_group);
}

}  // namespace ks
