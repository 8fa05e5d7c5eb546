// Image files without GL: binary and text PPM / PGM reading, the CPU mip-chain builder,
// 16-bit grey PNG reading and writing, and 8-bit RGB PNG, PPM and PGM writing.
// All files go through the virtual file system ("@" names, ".gz" variants).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ks {

struct VfsFile;

// Level 0 (rows top to bottom as stored, `depth` bytes per pixel) followed, where the
// reader builds one, by every smaller level down to 1 x 1.
struct PixelImage {
  int width = 0;
  int height = 0;
  int depth = 0;
  std::vector<uint8_t> pixels;
};

enum class MipAlphaMode { kAverage, kMaximum };

// Bytes of a whole chain (level 0 and all smaller levels).
size_t mip_chain_bytes(int width, int height, int depth);
// Fills levels 1.. of a chain whose level 0 is in place.
void build_mip_chain(uint8_t* pixels, int width, int height, int depth, MipAlphaMode mode);

// "P6" / "P3" from the start of f: RGB, depth 3, with its mip chain.
bool read_ppm(VfsFile* f, PixelImage& out);
// "P5" / "P2" from the start of f: 8-bit grey, depth 1, level 0 only.
bool read_pgm(VfsFile* f, PixelImage& out);
// The text of the last reader failure ("Can't get PPM dimensions", ...).
const char* image_last_error();

// Images larger than this many pixels are refused by the readers.
constexpr int64_t kMaxImagePixels = int64_t{1} << 26;

// 16-bit grey samples in host order. Returns 1, or 2 when the file came from its scrambled
// variant; 0 on failure (outputs then empty / 0).
int read_png_gray16(const char* name, std::vector<uint16_t>& samples, int& width,
                    int& height);
// Host-order samples, stored big-endian as PNG wants. The file is replaced safely.
bool write_png_gray16(const char* name, const uint16_t* samples, int width, int height);
// 8-bit RGB, rows stored bottom row first (frame-buffer order comes out upright).
bool write_png_rgb(const char* name, const uint8_t* pixels, int width, int height);
// Binary "P6" / "P5" files of top-to-bottom rows. The file is replaced safely.
bool write_ppm(const char* name, const uint8_t* rgb, int width, int height);
bool write_pgm(const char* name, const uint8_t* grey, int width, int height);

}  // namespace ks
