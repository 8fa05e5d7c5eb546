// Milliseconds to load each track of the data tree headless (nothing drawn): terrain,
// contents, object grid and hash. The data tree is found through KS_HOME (the generated
// one is <build>/data); without tracks the benchmark says so and skips.
#include <benchmark/benchmark.h>

#include <string>

#include "fs/vfs.h"
#include "track/collision_shape.h"
#include "track/track.h"
#include "track/track_list.h"

namespace {

void load_one(benchmark::State& state, const std::string& dir) {
  for (auto _ : state) {
    if (!ks::load_track(dir)) {
      state.SkipWithError(("track '" + dir + "' failed to load").c_str());
      break;
    }
    state.PauseTiming();
    const ks::Track* t = ks::current_track();
    state.counters["objects"] = static_cast<double>(t->objects.size());
    state.counters["billboards"] =
        static_cast<double>(t->billboards.size() - t->first_track_billboard);
    state.counters["samples"] = t->terrain ? static_cast<double>(t->terrain->size) : 0.0;
    ks::free_track();
    ks::free_shape_cache();  // every load reads its shapes again
    state.ResumeTiming();
  }
}

void no_tracks(benchmark::State& state) {
  for (auto _ : state) {
  }
  state.SkipWithError("no tracks found: set KS_HOME to the generated data tree (<build>/data)");
}

const bool registered = [] {
  ks::vfs_set_roots("", "");
  const int n = ks::build_track_list();
  for (int i = 0; i < n; ++i) {
    const std::string dir = ks::track_list().dirs[static_cast<size_t>(i)];
    benchmark::RegisterBenchmark(("BM_load_track/" + dir).c_str(),
                                 [dir](benchmark::State& s) { load_one(s, dir); })
        ->Unit(benchmark::kMillisecond);
  }
  if (n == 0) benchmark::RegisterBenchmark("BM_load_track/none", no_tracks);
  return true;
}();

}  // namespace
