// Demo playback per tic: 1, 20 and 160 replayed riders posed from a recorded minute
// (read-ahead and interpolation included). Also reports the recording's size per
// rider-minute.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>
#include <sys/stat.h>

#include "demo/demo.h"
#include "fs/vfs.h"
#include "physics/bike.h"
#include "physics/world.h"
#include "track/heightfield.h"
#include "track/track.h"

namespace {

constexpr int kMinute = 60 * ks::kTicsPerSecond;

struct Replay {
  explicit Replay(int riders) {
    char dir[] = "/tmp/ks_demo_bench_XXXXXX";
    home = mkdtemp(dir) != nullptr ? dir : "/tmp";
    ks::vfs_set_roots(home, home);
    ks::create_physics_world();
    auto& ts = ks::track_state();
    ts.track.dir = "bench";
    ts.track.terrain = std::make_unique<ks::HeightField>();
    ts.track.terrain->extent = 2048;
    ts.loaded = true;
    ks::RaceState& race = ks::race_state();
    race = ks::RaceState{};
    race.track_dir = "bench";
    for (int s = 0; s < riders; ++s) {
      ks::BikeState* b = ks::create_bike("cr125", s, "1");
      ks::translate_bike(*b, {100.0 + 5 * (s % 40), 20, 100.0 + 20 * (s / 40)});
      race.slots[static_cast<size_t>(s)].bike = b;
      race.slots[static_cast<size_t>(s)].kind = ks::SlotKind::robot;
      race.slots[static_cast<size_t>(s)].model_name = "cr125";
    }
    // A minute of riding in circles, the wheels turning.
    ks::start_recording(race);
    ks::record_step(race, true);
    for (int t = 1; t <= kMinute; ++t) {
      race.current_tic = t;
      const double a = t * 0.004;
      for (int s = 0; s < riders; ++s) {
        ks::BikeState& b = *race.slots[static_cast<size_t>(s)].bike;
        ks::translate_bike(b, {0.3 * std::cos(a + s), 0.0, 0.3 * std::sin(a + s)});
        dBodySetQuaternion(b.bodies[ks::kFrontWheelBody],
                           std::array<dReal, 4>{std::cos(a * 20), std::sin(a * 20), 0, 0}.data());
      }
      ks::record_step(race, false);
    }
    ks::finish_recording();
    struct stat st {};
    if (stat((home + "/demos/default.ksdemo").c_str(), &st) == 0)
      bytes_per_rider_minute = static_cast<double>(st.st_size) / riders;
    for (int s = 0; s < riders; ++s) {
      race.slots[static_cast<size_t>(s)].kind = ks::SlotKind::replayed;
      ks::set_replay_mode(*race.slots[static_cast<size_t>(s)].bike, true);
    }
    restart();
  }
  ~Replay() {
    ks::reset_demo_module();
    ks::RaceState& race = ks::race_state();
    for (auto& slot : race.slots) ks::destroy_bike(slot.bike);
    race = ks::RaceState{};
    ks::track_state().track.terrain.reset();
    ks::track_state().loaded = false;
    ks::destroy_physics_world();
    std::system(("rm -rf " + home).c_str());
  }
  void restart() {
    ks::RaceState& race = ks::race_state();
    race.current_tic = 0;
    ks::clear_histories();
    ks::open_playback(race);
    for (size_t i = 0; i < ks::demo_riders().size(); ++i) ks::demo_riders()[i].slot = static_cast<int>(i);
    ks::read_ahead_step(race);
  }
  // One tic of playback: every replayed slot posed, then the read-ahead.
  void tic() {
    ks::RaceState& race = ks::race_state();
    for (int s = 0; s < ks::kMaxBikes; ++s)
      if (race.slots[static_cast<size_t>(s)].bike != nullptr) ks::replay_slot(race, s, race.current_tic);
    ++race.current_tic;
    ks::read_ahead_step(race);
  }

  std::string home;
  double bytes_per_rider_minute = 0;
};

void BM_PlaybackTic(benchmark::State& state) {
  Replay replay(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    if (ks::race_state().current_tic >= kMinute) {
      state.PauseTiming();
      replay.restart();
      state.ResumeTiming();
    }
    replay.tic();
  }
  state.counters["bytes_per_rider_minute"] = replay.bytes_per_rider_minute;
}
BENCHMARK(BM_PlaybackTic)->Arg(1)->Arg(20)->Arg(160)->Unit(benchmark::kMicrosecond);

}  // namespace
