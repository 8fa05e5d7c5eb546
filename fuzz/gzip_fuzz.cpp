// Fuzzes the gzip reader: the input is a gzip member read from memory through the file
// layer's header parse and raw inflate, with every reader in turn.
#include <cstdint>

#include "fs/vfs.h"
#include "fs/vfs_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ks::VfsFile* f = ks::vfs_open_memory_gzip(data, size);
  if (f == nullptr) return 0;
  char line[64];
  char block[3000];
  for (int round = 0; round < 1000; ++round) {
    int c = ks::vfs_peekc(f);
    if (c < 0) break;
    switch (round % 3) {
      case 0: (void)ks::vfs_getc(f); break;
      case 1: (void)ks::vfs_gets(f, line, sizeof line); break;
      default: (void)ks::vfs_read(f, block, sizeof block); break;
    }
  }
  (void)ks::vfs_tell(f);
  ks::vfs_close(f);
  return 0;
}
