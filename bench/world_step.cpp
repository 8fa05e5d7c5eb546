// One physics world step with 1, 40 and 160 bikes resting on flat ground (the ground
// contacts of every bike are made before each step, untimed), and the same with the
// contacts timed as part of the tic. Headless there are no body shapes: the tyres alone
// touch the ground.
#include <benchmark/benchmark.h>

#include <vector>

#include "physics/bike.h"
#include "physics/terrain_contact.h"
#include "physics/world.h"
#include "track/heightfield.h"

namespace {

struct Paddock {
  explicit Paddock(int count) {
    ks::create_physics_world();
    ks::init_height_field(hf, 6, 2.0f);  // 256 ft a side
    for (int i = 0; i < count; ++i) {
      ks::BikeState* bike = ks::create_bike("cr125", i, "1");
      // Rows of 16 bikes, 10 ft apart, facing -z.
      const ks::StartPosition at{20.0 + 10.0 * (i % 16), 20.0 + 12.0 * (i / 16), 0};
      ks::place_bike(*bike, hf, at, ks::bike_ground_contacts);
      bikes.push_back(bike);
    }
    // Let the suspension settle onto its stops before timing.
    for (int t = 0; t < 256; ++t) tic();
  }
  ~Paddock() {
    for (ks::BikeState* b : bikes) ks::destroy_bike(b);
    ks::destroy_physics_world();
  }
  // Ground contacts, and a one-step joint holding each rider where the rider springs of
  // the per-tic bike step would.
  void contacts() {
    for (ks::BikeState* b : bikes) {
      ks::bike_ground_contacts(*b, hf);
      const dJointID hold = dJointCreateFixed(ks::g_physics.world, ks::g_physics.contact_group);
      dJointAttach(hold, b->bodies[ks::kRiderBody], b->bodies[ks::kFrameBody]);
      dJointSetFixed(hold);
    }
  }
  void tic() {
    contacts();
    ks::world_step();
  }
  ks::HeightField hf;
  std::vector<ks::BikeState*> bikes;
};

void BM_world_step(benchmark::State& state) {
  Paddock p(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    state.PauseTiming();
    p.contacts();
    state.ResumeTiming();
    ks::world_step();
  }
  state.counters["per_bike"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * static_cast<double>(state.range(0)),
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_world_step)->Arg(1)->Arg(40)->Arg(160)->Unit(benchmark::kMicrosecond);

void BM_tic_with_contacts(benchmark::State& state) {
  Paddock p(static_cast<int>(state.range(0)));
  for (auto _ : state) p.tic();
}
BENCHMARK(BM_tic_with_contacts)->Arg(1)->Arg(40)->Arg(160)->Unit(benchmark::kMicrosecond);

}  // namespace
