// 16-bit grey PNG height images from hostile bytes, read through libpng.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "gfx/image_io.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = "/tmp/kessra-png-fuzz-" + std::to_string(getpid()) + ".png";
  FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) return 0;
  std::fwrite(data, 1, size, out);
  std::fclose(out);
  std::vector<uint16_t> samples;
  int width = 0, height = 0;
  if (ks::read_png_gray16(path.c_str(), samples, width, height) != 0 &&
      samples.size() != static_cast<size_t>(width) * static_cast<size_t>(height)) {
    std::abort();
  }
  return 0;
}
