// Cost of bike_ground_contacts (both tyres and the five body shapes against the terrain,
// joints included) per bike per tic, for bikes resting on rolling ground of 1 ft and 2 ft
// sample spacing. The contact group is emptied once per tic of all bikes, as the race
// does. Shapes come from the data tree found through KS_HOME (the generated one is
// <build>/data); without it the bikes have tyres only, and the "shapes" counter says 0.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "fs/vfs.h"
#include "physics/bike.h"
#include "physics/bike_state.h"
#include "physics/terrain_contact.h"
#include "physics/world.h"
#include "track/collision_shape.h"
#include "track/heightfield.h"

namespace {

void rolling_ground(ks::HeightField& hf, float spacing) {
  ks::init_height_field(hf, 7, spacing);
  for (int j = 0; j < hf.size; ++j) {
    for (int i = 0; i < hf.size; ++i) {
      const double x = i * static_cast<double>(spacing), z = j * static_cast<double>(spacing);
      hf.heights[static_cast<size_t>(j * hf.size + i)] =
          static_cast<float>(2.0 * std::sin(x * 0.05) + 1.5 * std::cos(z * 0.07) +
                             0.3 * std::sin((x + z) * 0.4));
    }
  }
  ks::update_height_range(hf);
}

void BM_bike_ground_contacts(benchmark::State& state) {
  const float spacing = static_cast<float>(state.range(0));
  const int count = static_cast<int>(state.range(1));
  ks::vfs_set_roots("", "");
  ks::build_index();
  ks::create_physics_world();
  ks::HeightField hf;
  rolling_ground(hf, spacing);
  std::vector<ks::BikeState*> bikes;
  const double extent = static_cast<double>(hf.extent);
  for (int k = 0; k < count; ++k) {
    ks::BikeState* b = ks::create_bike("cr125", k, "1");
    if (b == nullptr) break;
    const double x = extent * (0.1 + 0.8 * ((k * 37) % 100) / 100.0);
    const double z = extent * (0.1 + 0.8 * ((k * 61) % 100) / 100.0);
    ks::place_bike(*b, hf, {x, z, 0.1 * k}, ks::bike_ground_contacts);
    bikes.push_back(b);
  }
  // Let them come down onto the ground.
  for (int t = 0; t < 48; ++t) {
    for (ks::BikeState* b : bikes) ks::bike_ground_contacts(*b, hf);
    ks::world_step();
  }
  int shapes = 0, touching = 0;
  for (ks::BikeState* b : bikes) {
    for (const auto& s : b->shapes) shapes += s.has_value() ? 1 : 0;
  }
  for (auto _ : state) {
    for (ks::BikeState* b : bikes) touching += ks::bike_ground_contacts(*b, hf) ? 1 : 0;
    dJointGroupEmpty(ks::g_physics.contact_group);
  }
  state.counters["per_bike"] = benchmark::Counter(
      static_cast<double>(bikes.size()),
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  state.counters["shapes"] = bikes.empty() ? 0.0 : static_cast<double>(shapes) / static_cast<double>(bikes.size());
  state.counters["touching"] = benchmark::Counter(
      static_cast<double>(touching) / static_cast<double>(bikes.size()),
      benchmark::Counter::kAvgIterations);
  for (ks::BikeState* b : bikes) ks::destroy_bike(b);
  ks::destroy_physics_world();
  ks::free_shape_cache();
  ks::free_roots_and_index();
}
// The geometry alone: one upright tyre, or one body sphere, resting on the same ground.
void BM_torus_terrain_test(benchmark::State& state) {
  ks::HeightField hf;
  rolling_ground(hf, static_cast<float>(state.range(0)));
  const double x = 60.3, z = 70.6;
  const double y = static_cast<double>(ks::ground_height_at(hf, x, z)) + 1.1;
  int touching = 0;
  for (auto _ : state) {
    const ks::GroundHit hit = ks::torus_terrain_test(hf, {x, y, z}, {1, 0, 0}, 0.833333, 0.333333);
    touching += hit.touches ? 1 : 0;
    benchmark::DoNotOptimize(hit);
  }
  state.counters["touching"] = benchmark::Counter(touching, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_torus_terrain_test)->ArgName("spacing")->Arg(1)->Arg(2);

void BM_sphere_terrain_test(benchmark::State& state) {
  ks::HeightField hf;
  rolling_ground(hf, static_cast<float>(state.range(0)));
  const double x = 60.3, z = 70.6;
  const double y = static_cast<double>(ks::ground_height_at(hf, x, z)) + 0.25;
  for (auto _ : state) benchmark::DoNotOptimize(ks::sphere_terrain_test(hf, {x, y, z}, 0.3));
}
BENCHMARK(BM_sphere_terrain_test)->ArgName("spacing")->Arg(1)->Arg(2);

BENCHMARK(BM_bike_ground_contacts)
    ->ArgNames({"spacing", "bikes"})
    ->Args({1, 40})
    ->Args({2, 40})
    ->Unit(benchmark::kMicrosecond);

}  // namespace
