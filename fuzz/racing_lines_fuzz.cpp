// A racing-line file from hostile bytes: the bounds on what is kept, then pruning, the
// plans and chain costs over whatever was read.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "autopilot/racing_lines.h"
#include "fs/vfs.h"
#include "track/gates.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ks::TimingGates g;
  g.checkpoints.resize(4);
  g.first_lap = {0, 1 + ks::kMarkedGate, 2, 3};
  g.normal_lap = {0, 1, 2};
  g.first_lap_unmarked = 3;
  g.normal_lap_unmarked = 3;
  g.valid = true;
  ks::LineStore store;
  ks::create_line_records(store, g);
  ks::VfsFile* f = ks::vfs_open_memory(data, size);
  ks::read_lines(store, f);
  ks::vfs_close(f);
  if (store.records.size() != 6) std::abort();
  for (const ks::LineRecord& r : store.records) {
    for (const ks::RacingLine& l : r.lines) {
      if (l.points.empty()) continue;
      if (l.points.size() < size_t(ks::kMinLinePoints) || l.id <= 0) std::abort();
      if (l.tested < 0 || l.tested > 65535 || l.fails < 0 || l.fails > 65535) std::abort();
      if (l.sum_a < 0 || l.sum_a > 100000000 || l.sum_b < 0 || l.sum_b > 100000000) std::abort();
      for (const ks::LinePoint& p : l.points) {
        if (!std::isfinite(p.x) || !std::isfinite(p.z) || !std::isfinite(p.speed)) std::abort();
      }
    }
  }
  ks::analyze_lines(store);
  for (const auto& plan : store.plan) {
    if (plan.size() != store.records.size()) std::abort();
  }
  ks::ChainCosts m;
  ks::line_chain_costs(store, 2, 8, 3, m, nullptr);
  return 0;
}
