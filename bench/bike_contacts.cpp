// Cost of bike_bike_contacts per bike per tic: every pair of a pack of bikes tested, as
// the offline race tests its speed-sorted list, with neighbours in a row close enough to
// touch. Each part carries four spheres made here (no data tree needed). The contact
// group is emptied once per tic. The "pairs_touching" counter says how many pairs met.
#include <benchmark/benchmark.h>

#include <vector>

#include "physics/bike.h"
#include "physics/bike_contact.h"
#include "physics/bike_state.h"
#include "physics/world.h"
#include "track/collision_shape.h"

namespace {

ks::CollisionShape four_spheres(float r) {
  ks::CollisionShape s;
  s.name = "bench";
  for (int k = 0; k < 4; ++k) {
    ks::CollisionSphere c;
    const float x = (k & 1) != 0 ? 0.25f : -0.25f, z = (k & 2) != 0 ? 0.25f : -0.25f;
    c.centre = {x, 0, z};
    c.radius = r;
    c.friction = 0.8f;
    c.stiffness = 2500;
    c.damping = 250;
    s.spheres.push_back(c);
  }
  s.bound = r + 0.36f;
  return s;
}

void BM_bike_bike_contacts(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  ks::create_physics_world();
  dWorldSetGravity(ks::g_physics.world, 0, 0, 0);
  std::vector<ks::BikeState*> bikes;
  for (int k = 0; k < count; ++k) {
    ks::BikeState* b = ks::create_bike("cr125", k, "1");
    if (b == nullptr) break;
    b->shapes[ks::kFrontWheelBody] = four_spheres(0.9f);
    b->shapes[ks::kRearWheelBody] = four_spheres(0.9f);
    b->shapes[ks::kFrameBody] = four_spheres(0.6f);
    b->shapes[ks::kForkUpperBody] = four_spheres(0.3f);
    b->shapes[ks::kForkLowerBody] = four_spheres(0.3f);
    b->shapes[ks::kSwingarmBody] = four_spheres(0.3f);
    b->shapes[ks::kRiderBody] = four_spheres(0.7f);
    // Rows of ten, 1.6 ft apart across and 10 ft apart along.
    ks::translate_bike(*b, {1.6 * (k % 10), 0, 10.0 * (k / 10)});
    bikes.push_back(b);
  }
  int tic = 0;
  long touching = 0;
  for (auto _ : state) {
    for (size_t i = 0; i < bikes.size(); ++i) {
      for (size_t j = i + 1; j < bikes.size(); ++j) {
        touching += ks::bike_bike_contacts(*bikes[i], *bikes[j], false, tic) != 0 ? 1 : 0;
      }
    }
    dJointGroupEmpty(ks::g_physics.contact_group);
    ++tic;
  }
  state.counters["per_bike"] = benchmark::Counter(
      static_cast<double>(bikes.size()),
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  state.counters["pairs_touching"] =
      benchmark::Counter(static_cast<double>(touching), benchmark::Counter::kAvgIterations);
  for (ks::BikeState* b : bikes) ks::destroy_bike(b);
  ks::destroy_physics_world();
}
BENCHMARK(BM_bike_bike_contacts)->ArgName("bikes")->Arg(2)->Arg(40)->Arg(160)->Unit(
    benchmark::kMicrosecond);

// The geometry alone: one overlapping sphere pair.
void BM_sphere_overlap(benchmark::State& state) {
  const ks::Vec3d a{0, 0, 0}, b{0.9, 0.3, -0.2};
  for (auto _ : state) benchmark::DoNotOptimize(ks::sphere_overlap(a, 0.6, b, 0.5));
}
BENCHMARK(BM_sphere_overlap);

}  // namespace
