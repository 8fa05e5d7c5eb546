// "timing_gates" from hostile bytes: caps, the validity rule and stored references.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "fs/vfs.h"
#include "track/gates.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ks::TimingGates g;
  ks::VfsFile* f = ks::vfs_open_memory(data, size);
  ks::read_timing_gates(f, g);
  ks::vfs_close(f);
  if (g.start.size() > ks::kMaxGatePositions || g.checkpoints.size() > ks::kMaxCheckpoints ||
      g.first_lap.size() > ks::kMaxSequenceGates || g.normal_lap.size() > ks::kMaxSequenceGates) {
    std::abort();
  }
  if (g.valid != !g.checkpoints.empty()) std::abort();
  const int n = static_cast<int>(g.checkpoints.size());
  for (const auto* seq : {&g.first_lap, &g.normal_lap}) {
    for (int v : *seq) {
      if (v < 0 || v % ks::kMarkedGate >= n || v >= 2 * ks::kMarkedGate) std::abort();
    }
  }
  for (const ks::GatePosition& p : g.start) {
    if (!(p.angle >= -3.1416f && p.angle <= 3.1416f)) std::abort();
  }
  return 0;
}
