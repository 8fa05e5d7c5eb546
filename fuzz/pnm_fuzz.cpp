// PPM and PGM images (raw and text) from hostile bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "fs/vfs.h"
#include "gfx/image_io.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ks::PixelImage img;
  ks::VfsFile* f = ks::vfs_open_memory(data, size);
  if (ks::read_ppm(f, img) &&
      img.pixels.size() != ks::mip_chain_bytes(img.width, img.height, 3)) {
    std::abort();
  }
  ks::vfs_close(f);
  f = ks::vfs_open_memory(data, size);
  if (ks::read_pgm(f, img) &&
      img.pixels.size() != static_cast<size_t>(img.width) * static_cast<size_t>(img.height)) {
    std::abort();
  }
  ks::vfs_close(f);
  return 0;
}
