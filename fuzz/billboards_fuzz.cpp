// "billboards" and "flaggers" from hostile bytes (the first byte picks the reader), then
// the writers' text for what was read.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "fs/vfs.h"
#include "track/objects.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t mode = data[0];
  ++data;
  --size;
  ks::GroundHeight ground = [](float x, float z) { return x * 0.5f + z; };
  ks::VfsFile* f = ks::vfs_open_memory(data, size);
  std::vector<ks::Billboard> list(3);
  if ((mode & 1) != 0) {
    ks::Flaggers fl;
    const int checkpoints = mode >> 1;
    ks::read_flaggers(f, fl, checkpoints);
    ks::vfs_close(f);
    for (const ks::TrackFlagger& t : fl.track_side) {
      for (int c : t.checkpoints) {
        if (c < -1 || c > checkpoints - 1) std::abort();
      }
    }
    if (fl.finish.present && !fl.start.present) std::abort();
    ks::add_flagger_billboards(fl, list, ground);
    return 0;
  }
  ks::read_billboards(f, list, ground);
  ks::vfs_close(f);
  for (size_t i = 3; i < list.size(); ++i) {
    if (list[i].a != 255) std::abort();
  }
  return 0;
}
