// Cost of autopilot_step per robot per tic: a pack of robots driving on a flat field, each
// with a 200-point path ahead of it, rows of ten bikes 6 ft apart across and 12 ft apart
// along (so riders ahead overlap and the follow limit runs). The bikes are moving at
// 30 ft/s along their paths; the world isn't stepped, so every tic sees the same scene.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "autopilot/autopilot.h"
#include "physics/bike.h"
#include "physics/world.h"
#include "race/race_state.h"
#include "track/heightfield.h"
#include "track/track.h"

namespace {

void BM_autopilot_step(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  ks::create_physics_world();
  ks::TrackState& ts = ks::track_state();
  ts.track.terrain = std::make_unique<ks::HeightField>();
  ks::init_height_field(*ts.track.terrain, 8, 2.0f, 0.0f);
  ts.loaded = true;
  ks::line_store().records.clear();  // no planning: only the driving is timed

  auto race = std::make_unique<ks::RaceState>();
  race->start_tic = 0;
  race->current_tic = 40 * 128;
  race->slots[0].timing.gate_count = 1;
  std::vector<ks::BikeState*> bikes;
  for (int k = 0; k < count; ++k) {
    ks::BikeState* b = ks::create_bike("cr125", k, "1");
    if (b == nullptr) break;
    const double x = 300 + 6.0 * (k % 10), z = 900 - 12.0 * (k / 10);
    ks::translate_bike(*b, {x, 1.5, z});
    for (int body = 0; body < ks::kBikeBodyCount; ++body)
      dBodySetLinearVel(b->bodies[size_t(body)], 0, 0, -30);
    race->slots[size_t(k)].bike = b;
    race->slots[size_t(k)].kind = ks::SlotKind::robot;
    race->slots[size_t(k)].timing.gate_count = 1;
    ks::reset_robot(k, 1);
    ks::RobotState& r = ks::robot_states()[size_t(k)];
    for (int i = 0; i < 200; ++i) {
      ks::LinePoint p;
      p.x = float(x + 0.02 * i * i);
      p.y = 3;
      p.z = float(z - 7.5 * i);
      p.speed = 30;
      r.path.push_back(p);
    }
    r.target = 8;
    r.last_advance_tic = race->current_tic;
    bikes.push_back(b);
  }
  for (auto _ : state) {
    for (int k = 0; k < count; ++k) {
      ks::robot_states()[size_t(k)].target = 8;  // keep the scene the same every tic
      ks::autopilot_step(*race, k);
    }
    dJointGroupEmpty(ks::g_physics.contact_group);
  }
  state.SetItemsProcessed(state.iterations() * count);
  state.SetLabel("items = robot tics");
  for (ks::BikeState* b : bikes) ks::destroy_bike(b);
  for (int k = 0; k < count; ++k) ks::reset_robot(k, 0);
  ks::destroy_physics_world();
  ts.loaded = false;
  ts.track.terrain.reset();
}
BENCHMARK(BM_autopilot_step)->Arg(1)->Arg(40)->Arg(160);

}  // namespace
