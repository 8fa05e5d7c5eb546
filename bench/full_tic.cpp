// The whole physics tic of 1, 40 and 160 riding bikes: every bike's ground and object
// contacts, the bike pairs fastest first, the world step and every bike step, as the race
// tic runs them. Each part is timed inside the same run, so the counters give the cost per
// bike of each and the world step's share of the whole.
//
// The bikes ride steady circles about 100 ft across on flat hardpack, far enough apart
// not to meet. With KS_BENCH_DATA (or KS_TEST_DATA) naming a generated data tree, the bikes
// carry their body shapes, as in a race; without, only the tyres touch the ground.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "fs/vfs.h"
#include "physics/bike.h"
#include "physics/bike_catalog.h"
#include "physics/bike_contact.h"
#include "physics/bike_setup.h"
#include "physics/bike_state.h"
#include "physics/bike_step.h"
#include "physics/rider.h"
#include "physics/terrain_contact.h"
#include "physics/world.h"
#include "track/collision_shape.h"
#include "track/heightfield.h"
#include "track/objects.h"

namespace {

constexpr double kCircleSpacing = 260;  // ft between circle centres
constexpr double kSpeed = 27;           // ft/s
// The parts are timed in this thread's CPU time, so that other work on the machine
// doesn't land in them.
double cpu_us() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_nsec) * 1e-3;
}

double speed(const ks::BikeState& b) {
  const dReal* v = dBodyGetLinearVel(b.bodies[ks::kFrameBody]);
  return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
}

struct Fleet {
  explicit Fleet(int count) {
    const char* data = std::getenv("KS_BENCH_DATA");
    if (data == nullptr) data = std::getenv("KS_TEST_DATA");
    if (data != nullptr && *data != '\0') {
      ks::vfs_set_roots("", data);
      ks::build_index();
    }
    ks::create_physics_world();
    ks::reset_bike_step_module();
    ks::reset_rider_module();
    ks::init_height_field(hf, 9, 4.0f);  // 4096 ft a side
    ks::TileInfo& m = hf.materials[0];
    m.friction = {};
    m.friction[0] = {1.1f, 2};
    m.friction[1] = {0.85f, 15};
    m.friction[2] = {0.7f, 40};
    m.friction_count = 3;
    ks::BikeSetup setup;
    ks::reset_bike_setup(setup);
    ks::apply_stability_preset(setup, 100);
    setup.arcade.index = 0;
    const int side = static_cast<int>(std::ceil(std::sqrt(count)));
    for (int i = 0; i < count; ++i) {
      ks::BikeState* b = ks::create_bike("cr125", i, "1");
      ks::setup_to_tuning(setup, ks::bike_model(b->model), b->tuning);
      // Heading -z; the steer input turns it right, about a point some 100 ft to its +x
      // side, inside its own square.
      const double x = 200.0 + kCircleSpacing * (i % side);
      const double z = 200.0 + kCircleSpacing * (i / side);
      ks::place_bike(*b, hf, {x, z, 0}, ks::bike_ground_contacts);
      ks::set_control(*b, ks::Control::clutch, 1);
      bikes.push_back(b);
    }
    order = bikes;
    // Up to speed and into the turn before anything is timed.
    for (int t = 0; t < 128 * 8; ++t) tic(nullptr);
  }
  ~Fleet() {
    for (ks::BikeState* b : bikes) ks::destroy_bike(b);
    ks::destroy_physics_world();
    ks::free_shape_cache();
    ks::free_roots_and_index();
  }

  struct Split {
    double contacts = 0, world = 0, bike = 0;
  };

  void tic(Split* split) {
    for (ks::BikeState* b : bikes) {
      ks::set_control(*b, ks::Control::throttle, std::clamp(0.4 + (kSpeed - speed(*b)) * 0.1, 0.0, 1.0));
      ks::set_control(*b, ks::Control::steer, now > 256 ? 0.4 : 0.0);
    }
    const double t0 = cpu_us();
    for (ks::BikeState* b : bikes)
      ks::bike_object_contacts(*b, hf, objects, grid, hf.extent, now);
    std::stable_sort(order.begin(), order.end(),
                     [](const ks::BikeState* a, const ks::BikeState* b) { return speed(*a) > speed(*b); });
    for (size_t i = 0; i < order.size(); ++i)
      for (size_t j = i + 1; j < order.size(); ++j)
        ks::bike_bike_contacts(*order[i], *order[j], false, now);
    const double t1 = cpu_us();
    ks::world_step();
    const double t2 = cpu_us();
    for (ks::BikeState* b : bikes) ks::bike_step(*b, hf, now);
    const double t3 = cpu_us();
    ++now;
    if (split != nullptr) {
      split->contacts += t1 - t0;
      split->world += t2 - t1;
      split->bike += t3 - t2;
    }
  }

  ks::HeightField hf;
  std::vector<ks::TrackObject> objects;
  ks::ObjectGrid grid;
  std::vector<ks::BikeState*> bikes;
  std::vector<ks::BikeState*> order;
  int now = 0;
};

void BM_full_tic(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  Fleet fleet(count);
  Fleet::Split split;
  for (auto _ : state) fleet.tic(&split);
  // Counters are CPU microseconds per bike and tic.
  const double n = static_cast<double>(state.iterations()) * count;
  const double total = split.contacts + split.world + split.bike;
  state.counters["contacts_us_per_bike"] = split.contacts / n;
  state.counters["world_step_us_per_bike"] = split.world / n;
  state.counters["bike_step_us_per_bike"] = split.bike / n;
  state.counters["own_us_per_bike"] = (split.contacts + split.bike) / n;
  state.counters["world_step_share"] = total > 0 ? split.world / total : 0;
  int crashes = 0;
  for (const ks::BikeState* b : fleet.bikes) crashes += b->crash.count;
  state.counters["crashes"] = crashes;
}
BENCHMARK(BM_full_tic)->Arg(1)->Arg(40)->Arg(160)->Unit(benchmark::kMicrosecond);

}  // namespace
