// Image input and output without GL.
//
//   1. the mip-chain builder
//   2. PPM and PGM readers
//   3. PNG through libpng: 16-bit grey reading, 16-bit grey and 8-bit RGB writing
//   4. PPM and PGM writers
#include "gfx/image_io.h"

#include <png.h>

#include <algorithm>
#include <climits>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <string>

#include "fs/vfs.h"

namespace ks {

namespace {

std::string g_last_error;

bool fail(const char* text) {
  g_last_error = text;
  return false;
}

// Reads exactly `count` bytes, growing `out` as data arrives, so a header that claims more
// than the file holds never makes us allocate for it.
bool read_exact(VfsFile* f, std::vector<uint8_t>& out, size_t count) {
  constexpr size_t kChunk = size_t{1} << 20;
  out.clear();
  while (out.size() < count) {
    const size_t want = std::min(kChunk, count - out.size());
    const size_t at = out.size();
    out.resize(at + want);
    const size_t got = vfs_read(f, out.data() + at, want);
    if (got != want) {
      out.resize(at + got);
      return false;
    }
  }
  return true;
}

}  // namespace

const char* image_last_error() { return g_last_error.c_str(); }

// ---- 1. the mip-chain builder ---------------------------------------------------------

size_t mip_chain_bytes(int width, int height, int depth) {
  if (width <= 0 || height <= 0 || depth <= 0) return 0;
  size_t total = 0;
  size_t w = static_cast<size_t>(width), h = static_cast<size_t>(height);
  for (;;) {
    total += w * h;
    if (w * h == 1) break;
    w = std::max<size_t>(1, w / 2);
    h = std::max<size_t>(1, h / 2);
  }
  return total * static_cast<size_t>(depth);
}

void build_mip_chain(uint8_t* pixels, int width, int height, int depth, MipAlphaMode mode) {
  if (pixels == nullptr || width <= 0 || height <= 0 || depth <= 0) return;
  const size_t d = static_cast<size_t>(depth);
  size_t w = static_cast<size_t>(width), h = static_cast<size_t>(height);
  uint8_t* src = pixels;
  while (w * h > 1) {
    const size_t nw = std::max<size_t>(1, w / 2), nh = std::max<size_t>(1, h / 2);
    uint8_t* dst = src + w * h * d;
    for (size_t y = 0; y < nh; ++y) {
      for (size_t x = 0; x < nw; ++x) {
        uint8_t* out = dst + (y * nw + x) * d;
        if (w > 1 && h > 1) {
          const uint8_t* p[4] = {src + ((2 * y) * w + 2 * x) * d,
                                 src + ((2 * y) * w + 2 * x + 1) * d,
                                 src + ((2 * y + 1) * w + 2 * x) * d,
                                 src + ((2 * y + 1) * w + 2 * x + 1) * d};
          if (d == 4) {
            const unsigned s = unsigned{p[0][3]} + p[1][3] + p[2][3] + p[3][3];
            for (size_t c = 0; c < 3; ++c) {
              unsigned v;
              if (s > 0 && s < 1020) {
                v = (unsigned{p[0][c]} * p[0][3] + unsigned{p[1][c]} * p[1][3] +
                     unsigned{p[2][c]} * p[2][3] + unsigned{p[3][c]} * p[3][3]) /
                    s;
              } else {
                v = (unsigned{p[0][c]} + p[1][c] + p[2][c] + p[3][c]) / 4;
              }
              out[c] = static_cast<uint8_t>(v);
            }
            out[3] = mode == MipAlphaMode::kMaximum
                         ? std::max({p[0][3], p[1][3], p[2][3], p[3][3]})
                         : static_cast<uint8_t>(s / 4);
          } else {
            for (size_t c = 0; c < d; ++c) {
              out[c] = static_cast<uint8_t>(
                  (unsigned{p[0][c]} + p[1][c] + p[2][c] + p[3][c]) / 4);
            }
          }
        } else {
          // A one-wide or one-high level: pairs along the other side.
          const uint8_t* a = w > 1 ? src + (2 * x) * d : src + (2 * y) * w * d;
          const uint8_t* b = w > 1 ? src + (2 * x + 1) * d : src + (2 * y + 1) * w * d;
          for (size_t c = 0; c < d; ++c) {
            out[c] = static_cast<uint8_t>((unsigned{a[c]} + b[c]) / 2);
          }
        }
      }
    }
    src = dst;
    w = nw;
    h = nh;
  }
}

// ---- 2. PPM and PGM readers -----------------------------------------------------------

namespace {

// Reads the magic token and the three header numbers. `raw` / `text` are the two accepted
// tokens ("P6"/"P3", "P5"/"P2").
bool read_pnm_header(VfsFile* f, const char* raw, const char* text, const char* parse_error,
                     const char* dims_error, bool* is_raw, int* w, int* h, int* maxval) {
  char token[16] = {};
  if (f == nullptr) return fail(parse_error);
  if (vfs_scan(f, "%15s", token) != 1) return fail(parse_error);
  if (std::strcmp(token, raw) == 0) {
    *is_raw = true;
  } else if (std::strcmp(token, text) == 0) {
    *is_raw = false;
  } else {
    return fail(parse_error);
  }
  int v[3];
  for (int& x : v) {
    skip_comments(f);
    x = read_int(f);
    if (x == INT_MIN || x < 0) return fail(dims_error);
  }
  // Zero sizes and a zero maximum would divide by zero or make empty chains.
  if (v[0] == 0 || v[1] == 0 || v[2] == 0 ||
      int64_t{v[0]} * int64_t{v[1]} > kMaxImagePixels) {
    return fail(dims_error);
  }
  *w = v[0];
  *h = v[1];
  *maxval = v[2];
  return true;
}

inline uint8_t scale_sample(int v, int maxval) {
  const int64_t s = int64_t{v} * 255 / maxval;
  return static_cast<uint8_t>(std::clamp<int64_t>(s, 0, 255));
}

// Level-0 samples of a PNM body into out[0 .. count).
bool read_pnm_body(VfsFile* f, bool is_raw, int maxval, size_t count,
                   std::vector<uint8_t>& out) {
  if (is_raw) {
    vfs_getc(f);  // the one separator byte after the maximum value
    if (!read_exact(f, out, count)) return fail("Unexpected end of image data");
    if (maxval != 255) {
      for (uint8_t& b : out) b = scale_sample(b, maxval);
    }
    return true;
  }
  // Missing samples count as -1; once the file has ended the rest are all missing.
  out.assign(count, scale_sample(-1, maxval));
  for (size_t k = 0; k < count; ++k) {
    skip_comments(f);
    const int v = read_int(f);
    if (v != INT_MIN) {
      out[k] = scale_sample(v, maxval);
    } else if (vfs_peekc(f) == -1) {
      break;
    }
  }
  return true;
}

}  // namespace

bool read_ppm(VfsFile* f, PixelImage& out) {
  out = PixelImage{};
  bool is_raw = false;
  int w = 0, h = 0, maxval = 0;
  if (!read_pnm_header(f, "P6", "P3", "Can't parse PPM header", "Can't get PPM dimensions",
                       &is_raw, &w, &h, &maxval)) {
    return false;
  }
  const size_t count = static_cast<size_t>(w) * static_cast<size_t>(h) * 3;
  std::vector<uint8_t> px;
  if (!read_pnm_body(f, is_raw, maxval, count, px)) return false;
  px.resize(mip_chain_bytes(w, h, 3));
  build_mip_chain(px.data(), w, h, 3, MipAlphaMode::kAverage);
  out.width = w;
  out.height = h;
  out.depth = 3;
  out.pixels = std::move(px);
  return true;
}

bool read_pgm(VfsFile* f, PixelImage& out) {
  out = PixelImage{};
  bool is_raw = false;
  int w = 0, h = 0, maxval = 0;
  if (!read_pnm_header(f, "P5", "P2", "Can't parse PGM header", "Can't get PGM dimensions",
                       &is_raw, &w, &h, &maxval)) {
    return false;
  }
  const size_t count = static_cast<size_t>(w) * static_cast<size_t>(h);
  std::vector<uint8_t> px;
  if (!read_pnm_body(f, is_raw, maxval, count, px)) return false;
  out.width = w;
  out.height = h;
  out.depth = 1;
  out.pixels = std::move(px);
  return true;
}

// ---- 3. PNG ---------------------------------------------------------------------------

namespace {

// libpng reports errors by longjmp; these callbacks keep no objects with destructors on
// the frames it jumps over.
void png_read_vfs(png_structp png, png_bytep data, png_size_t length) {
  auto* f = static_cast<VfsFile*>(png_get_io_ptr(png));
  if (vfs_read(f, data, length) != length) png_error(png, "Unexpected end of PNG data");
}

void png_write_vfs(png_structp png, png_bytep data, png_size_t length) {
  auto* f = static_cast<VfsFile*>(png_get_io_ptr(png));
  if (vfs_write(f, data, length) != length) png_error(png, "Write failed");
}

void png_flush_vfs(png_structp) {}

void png_error_quiet(png_structp png, png_const_charp msg) {
  g_last_error = msg != nullptr ? msg : "PNG error";
  png_longjmp(png, 1);
}

void png_warning_quiet(png_structp, png_const_charp) {}

struct Gray16Read {
  std::vector<uint16_t>* samples;
  png_uint_32 width = 0, height = 0;
  std::vector<png_bytep>* rows;
};

// Everything that may longjmp happens between setjmp and the return of this function,
// which itself owns no objects with destructors.
bool decode_gray16(png_structp png, png_infop info, Gray16Read* r) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_read_info(png, info);
  const png_uint_32 w = png_get_image_width(png, info);
  const png_uint_32 h = png_get_image_height(png, info);
  if (w == 0 || h == 0 || int64_t{w} * int64_t{h} > kMaxImagePixels) {
    g_last_error = "PNG too large";
    return false;
  }
  const int color = png_get_color_type(png, info);
  const int bits = png_get_bit_depth(png, info);
  if (color == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  if (color == PNG_COLOR_TYPE_GRAY && bits < 8) png_set_expand_gray_1_2_4_to_8(png);
  if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
  if ((color & PNG_COLOR_MASK_ALPHA) != 0 || png_get_valid(png, info, PNG_INFO_tRNS)) {
    png_set_strip_alpha(png);
  }
  if ((color & PNG_COLOR_MASK_COLOR) != 0) {
    png_set_rgb_to_gray_fixed(png, 1, -1, -1);
  }
  const uint16_t probe = 1;
  const bool little = *reinterpret_cast<const uint8_t*>(&probe) == 1;
  if (bits == 16 && little) png_set_swap(png);
  png_read_update_info(png, info);
  const int out_bits = png_get_bit_depth(png, info);
  const size_t rowbytes = png_get_rowbytes(png, info);
  if (png_get_channels(png, info) != 1 || rowbytes != size_t{w} * (out_bits == 16 ? 2 : 1)) {
    g_last_error = "Unexpected PNG layout";
    return false;
  }
  r->samples->assign(size_t{w} * size_t{h}, 0);
  r->rows->resize(h);
  // 8-bit rows land in the second half of each 16-bit row and are widened in place.
  auto* base = reinterpret_cast<uint8_t*>(r->samples->data());
  for (png_uint_32 y = 0; y < h; ++y) {
    uint8_t* row = base + size_t{y} * size_t{w} * 2;
    (*r->rows)[y] = out_bits == 16 ? row : row + w;
  }
  png_read_image(png, r->rows->data());
  png_read_end(png, nullptr);
  if (out_bits != 16) {
    for (png_uint_32 y = 0; y < h; ++y) {
      uint16_t* row = r->samples->data() + size_t{y} * size_t{w};
      const uint8_t* bytes = base + size_t{y} * size_t{w} * 2 + w;
      for (png_uint_32 x = 0; x < w; ++x) row[x] = static_cast<uint16_t>(bytes[x] * 257u);
    }
  }
  r->width = w;
  r->height = h;
  return true;
}

struct PngWrite {
  const uint8_t* data;
  int width, height;
  bool gray16;
  bool bottom_up;
  std::vector<uint8_t>* row;
};

bool encode_png(png_structp png, png_infop info, PngWrite* wr) {
  if (setjmp(png_jmpbuf(png))) return false;
  const auto w = static_cast<png_uint_32>(wr->width);
  const auto h = static_cast<png_uint_32>(wr->height);
  png_set_IHDR(png, info, w, h, wr->gray16 ? 16 : 8,
               wr->gray16 ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  const size_t rowbytes = size_t{w} * (wr->gray16 ? 2 : 3);
  wr->row->resize(rowbytes);
  for (png_uint_32 y = 0; y < h; ++y) {
    const png_uint_32 src_y = wr->bottom_up ? h - 1 - y : y;
    const uint8_t* src = wr->data + size_t{src_y} * rowbytes;
    if (wr->gray16) {
      // Host order in, big-endian out.
      const auto* s = reinterpret_cast<const uint16_t*>(src);
      uint8_t* d = wr->row->data();
      for (png_uint_32 x = 0; x < w; ++x) {
        uint16_t v;
        std::memcpy(&v, s + x, 2);
        d[2 * x] = static_cast<uint8_t>(v >> 8);
        d[2 * x + 1] = static_cast<uint8_t>(v & 0xff);
      }
    } else {
      std::memcpy(wr->row->data(), src, rowbytes);
    }
    png_write_row(png, wr->row->data());
  }
  png_write_end(png, info);
  return true;
}

bool write_png(const char* name, const uint8_t* data, int width, int height, bool gray16,
               bool bottom_up) {
  if (name == nullptr || data == nullptr || width <= 0 || height <= 0) {
    return fail("Bad image size");
  }
  VfsFile* f = vfs_open_replace(name);
  if (f == nullptr) return fail("Can't open file for writing");
  png_structp png =
      png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, png_error_quiet, png_warning_quiet);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  if (png == nullptr || info == nullptr) {
    png_destroy_write_struct(&png, &info);
    vfs_close(f);
    return fail("Out of memory for PNG");
  }
  png_set_write_fn(png, f, png_write_vfs, png_flush_vfs);
  std::vector<uint8_t> row;
  PngWrite wr{data, width, height, gray16, bottom_up, &row};
  const bool ok = encode_png(png, info, &wr);
  png_destroy_write_struct(&png, &info);
  if (!ok) {
    vfs_close(f);  // discards the temporary file
    return false;
  }
  return vfs_commit(f);
}

}  // namespace

int read_png_gray16(const char* name, std::vector<uint16_t>& samples, int& width,
                    int& height) {
  samples.clear();
  width = height = 0;
  VfsFile* f = name != nullptr ? vfs_open(name, "rb") : nullptr;
  if (f == nullptr) {
    g_last_error = "Can't open PNG";
    return 0;
  }
  png_structp png =
      png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, png_error_quiet, png_warning_quiet);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  if (png == nullptr || info == nullptr) {
    png_destroy_read_struct(&png, &info, nullptr);
    vfs_close(f);
    return 0;
  }
  png_set_read_fn(png, f, png_read_vfs);
  std::vector<png_bytep> rows;
  Gray16Read r{&samples, 0, 0, &rows};
  const bool ok = decode_gray16(png, info, &r);
  png_destroy_read_struct(&png, &info, nullptr);
  vfs_close(f);
  if (!ok) {
    samples.clear();
    return 0;
  }
  width = static_cast<int>(r.width);
  height = static_cast<int>(r.height);
  // Scrambled variants are not read by this build's file layer, so every success is 1.
  return 1;
}

bool write_png_gray16(const char* name, const uint16_t* samples, int width, int height) {
  return write_png(name, reinterpret_cast<const uint8_t*>(samples), width, height, true, false);
}

bool write_png_rgb(const char* name, const uint8_t* pixels, int width, int height) {
  return write_png(name, pixels, width, height, false, true);
}

// ---- 4. PPM and PGM writers -----------------------------------------------------------

namespace {

bool write_pnm(const char* name, const char* magic, const uint8_t* data, int width,
               int height, int depth) {
  if (name == nullptr || data == nullptr || width <= 0 || height <= 0) {
    return fail("Bad image size");
  }
  VfsFile* f = vfs_open_replace(name);
  if (f == nullptr) return fail("Can't open file for writing");
  vfs_printf(f, "%s\n%d %d\n255\n", magic, width, height);
  const size_t n = static_cast<size_t>(width) * static_cast<size_t>(height) *
                   static_cast<size_t>(depth);
  if (vfs_write(f, data, n) != n || vfs_write_failed(f)) {
    vfs_close(f);
    return fail("Write failed");
  }
  return vfs_commit(f);
}

}  // namespace

bool write_ppm(const char* name, const uint8_t* rgb, int width, int height) {
  return write_pnm(name, "P6", rgb, width, height, 3);
}

bool write_pgm(const char* name, const uint8_t* grey, int width, int height) {
  return write_pnm(name, "P5", grey, width, height, 1);
}

}  // namespace ks
