// Terrain files of a track folder.
//
//   1. the renderer seam
//   2. "terrain.hf" and "terrain.png": header and heights
//   3. shading, shadows, materials, tile map, decals
//   4. load_terrain
//   5. save_terrain
#include "track/terrain_io.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "core/detail_settings.h"
#include "core/hash.h"
#include "fs/messages.h"
#include "fs/vfs.h"
#include "gfx/image_io.h"
#include "platform/vant.h"
#include "track/heightfield.h"
#include "track/tileinfo.h"

namespace ks {

// ---- 1. the renderer seam -------------------------------------------------------------

namespace {
TerrainRenderSeam g_seam;
}

TerrainRenderSeam& terrain_render_seam() { return g_seam; }
void set_terrain_render_seam(TerrainRenderSeam seam) { g_seam = std::move(seam); }
void reset_terrain_render_seam() { g_seam = TerrainRenderSeam{}; }

namespace {

void progress(const char* label, bool entering) {
  if (g_seam.progress) g_seam.progress(label, entering);
}

// Shows a stage's label around its work.
struct Stage {
  explicit Stage(const char* l) : label(l) { progress(label, true); }
  ~Stage() { progress(label, false); }
  Stage(const Stage&) = delete;
  Stage& operator=(const Stage&) = delete;
  const char* label;
};

std::string join(const char* folder, const char* file) {
  std::string p = folder != nullptr ? folder : "";
  p += '/';
  p += file;
  return p;
}

VfsFile* open_required(const std::string& path) {
  VfsFile* f = vfs_open(path.c_str(), "rb");
  if (f == nullptr) post_messagef("Can't open '%.950s'", path.c_str());
  return f;
}

// Closes the file when the scope ends.
struct FileGuard {
  explicit FileGuard(VfsFile* file) : f(file) {}
  ~FileGuard() {
    if (f != nullptr) vfs_close(f);
  }
  FileGuard(const FileGuard&) = delete;
  FileGuard& operator=(const FileGuard&) = delete;
  VfsFile* f;
};

}  // namespace

// ---- 2. header and heights ------------------------------------------------------------

bool read_terrain_hf(VfsFile* f, const char* folder, HeightField& hf) {
  int n = 0;
  float spacing = 0, lo = 0, hi = 0;
  if (f == nullptr || vfs_scan(f, "%d %f %f %f ", &n, &spacing, &lo, &hi) != 4 ||
      !std::isfinite(spacing) || !(spacing > 0) || !std::isfinite(lo) || !std::isfinite(hi) ||
      (n >= 0 && n <= kMaxTerrainExponent &&
       !std::isfinite(spacing * static_cast<float>(2 << n)))) {
    post_message("Bad height field parameters");
    post_message("Error reading heights");
    return false;
  }
  if (n < 0 || n > kMaxTerrainExponent) {
    post_messagef("Height field exponent %d is outside 0..%d", n, kMaxTerrainExponent);
    post_message("Error reading heights");
    return false;
  }
  const int r = (1 << (n + 1)) + 1;
  const size_t count = static_cast<size_t>(r) * static_cast<size_t>(r);
  std::vector<uint16_t> samples;
  try {
    if (vfs_peekc(f) == ':') {
      vfs_getc(f);
      // Read in pieces, so a header that claims more samples than follow costs nothing.
      constexpr size_t kChunk = size_t{1} << 18;
      std::vector<uint8_t> bytes(kChunk * 2);
      while (samples.size() < count) {
        const size_t want = std::min(kChunk, count - samples.size());
        if (vfs_read(f, bytes.data(), want * 2) != want * 2) {
          post_message("Error reading heights");
          return false;
        }
        for (size_t k = 0; k < want; ++k) {
          samples.push_back(static_cast<uint16_t>(bytes[2 * k] | (bytes[2 * k + 1] << 8)));
        }
      }
    } else {
      std::vector<uint16_t> png;
      int w = 0, h = 0;
      const std::string png_path = folder != nullptr ? join(folder, "terrain.png") : "";
      if (folder != nullptr && read_png_gray16(png_path.c_str(), png, w, h) != 0) {
        samples.resize(count);
        for (int j = 0; j < r; ++j) {
          const size_t row = static_cast<size_t>(std::min(j, h - 1)) * static_cast<size_t>(w);
          for (int i = 0; i < r; ++i) {
            samples[static_cast<size_t>(j) * static_cast<size_t>(r) + static_cast<size_t>(i)] =
                png[row + static_cast<size_t>(std::min(i, w - 1))];
          }
        }
      } else {
        samples.assign(count, 0);
      }
    }
    hf.heights.resize(count);
  } catch (const std::bad_alloc&) {
    post_message("Not enough memory for the height field");
    post_message("Error reading heights");
    return false;
  }
  if (detail_settings().verbose >= 2) {
    Ripemd160 md;
    for (const uint16_t v : samples) {
      const uint8_t le[2] = {static_cast<uint8_t>(v & 0xff), static_cast<uint8_t>(v >> 8)};
      md.update(le, 2);
    }
    vant_log("%s\n", to_hex(md.finish()).c_str());
  }
  const auto lo_d = static_cast<double>(lo);
  const double scale = (static_cast<double>(hi) - lo_d) / 65535.0;
  for (size_t k = 0; k < count; ++k) {
    hf.heights[k] = static_cast<float>(lo_d + samples[k] * scale);
  }
  hf.exponent = n;
  hf.size = r;
  hf.spacing = spacing;
  hf.tile_size = 2 * spacing;
  hf.extent = spacing * static_cast<float>(r - 1);
  hf.min_height = lo;
  hf.max_height = hi;
  try {
    hf.loaded_heights = hf.heights;
  } catch (const std::bad_alloc&) {
    post_message("Not enough memory for the height field");
    return false;
  }
  return true;
}

// ---- 3. lighting, materials, tile map, decals ------------------------------------------

namespace {

bool load_shading(HeightField& hf, const char* folder) {
  const Stage stage("Loading shading");
  bool halve = false;
  std::string path = join(folder, "shadingx2.ppm");
  VfsFile* f = vfs_open(path.c_str(), "rb");
  if (f == nullptr) {
    path = join(folder, "shading.ppm");
    f = open_required(path);
    if (f == nullptr) return false;
    halve = true;
  }
  const FileGuard guard(f);
  PixelImage img;
  if (!read_ppm(f, img)) {
    post_message("Error reading shading");
    return false;
  }
  if (img.width != hf.size || img.height != hf.size) {
    post_messagef("Bad shading dimensions (%dx%d)", img.width, img.height);
    return false;
  }
  const size_t n = static_cast<size_t>(hf.size) * static_cast<size_t>(hf.size) * 3;
  hf.shading.assign(img.pixels.begin(), img.pixels.begin() + static_cast<std::ptrdiff_t>(n));
  if (halve) {
    for (uint8_t& b : hf.shading) b = static_cast<uint8_t>(b / 2);
  }
  return true;
}

bool load_shadows(HeightField& hf, const char* folder) {
  const Stage stage("Loading shadows");
  const size_t n = static_cast<size_t>(hf.size) * static_cast<size_t>(hf.size);
  const std::string path = join(folder, "shadows.pgm");
  VfsFile* f = vfs_open(path.c_str(), "rb");
  if (f == nullptr) {
    hf.shadows.assign(n, 0);
    return true;
  }
  const FileGuard guard(f);
  PixelImage img;
  if (!read_pgm(f, img)) {
    post_message("Error reading shadows");
    return false;
  }
  if (img.width != hf.size || img.height != hf.size) {
    vant_log("Bad shadow dimensions (%dx%d)\n", img.width, img.height);
    return false;
  }
  hf.shadows.assign(img.pixels.begin(), img.pixels.begin() + static_cast<std::ptrdiff_t>(n));
  for (uint8_t& b : hf.shadows) b = static_cast<uint8_t>(255 - b);
  return true;
}

bool load_materials(HeightField& hf, const char* folder) {
  const Stage stage("Loading tileinfo");
  std::string path = join(folder, "tileinfo");
  VfsFile* f = vfs_open(path.c_str(), "rb");
  bool ok = false;
  if (f != nullptr) {
    ok = load_tileinfo(f, hf);
    vfs_close(f);
  } else {
    path = join(folder, "texturelist");
    f = open_required(path);
    if (f == nullptr) return false;
    ok = load_texturelist(f, hf);
    vfs_close(f);
  }
  if (!ok) {
    post_message("Error reading tileinfo");
    return false;
  }
  if (hf.material_count <= 0) {
    // Every tile needs a material to read from; give the ground the defaults.
    post_message("tileinfo warning: no tiles defined, using the default material\n");
    hf.materials[0] = default_tile_info();
    hf.material_count = 1;
  }
  compute_material_codes(hf);
  return true;
}

bool load_tilemap(HeightField& hf, const char* folder) {
  const Stage stage("Loading tilemap");
  const std::string path = join(folder, "tilemap");
  VfsFile* f = open_required(path);
  if (f == nullptr) return false;
  const FileGuard guard(f);
  const size_t n = size_t{1} << (2 * hf.exponent);
  try {
    hf.tile_map.assign(n, 0);
  } catch (const std::bad_alloc&) {
    post_message("Not enough memory for the tile map");
    return false;
  }
  const size_t got = vfs_read(f, hf.tile_map.data(), n);
  if (got < n) {
    // The rest of the ground keeps the first material.
    post_messagef("Short tilemap '%.900s' (%zu of %zu bytes)", path.c_str(), got, n);
  }
  const auto last = static_cast<uint8_t>(hf.material_count - 1);
  for (uint8_t& b : hf.tile_map) {
    if (b > last) b = last;
  }
  return true;
}

unsigned try_texture(const std::string& name) {
  if (g_seam.load_texture) return g_seam.load_texture(name.c_str());
  // Headless: a texture counts as present when its file can be opened.
  VfsFile* f = vfs_open(name.c_str(), "rb");
  if (f == nullptr) return 0;
  vfs_close(f);
  return 1;
}

unsigned companion_texture(const std::string& name, const char* suffix) {
  const size_t dot = name.rfind('.');
  const std::string stem = dot == std::string::npos ? name : name.substr(0, dot);
  unsigned t = g_seam.load_texture(std::string(stem + suffix + ".png").c_str());
  if (t == 0) t = g_seam.load_texture(std::string(stem + suffix + ".ppm").c_str());
  return t;
}

}  // namespace

void read_decals(VfsFile* f, HeightField& hf) {
  hf.decals.clear();
  if (f != nullptr) {
    char name[1024];
    for (;;) {
      Decal d;
      name[0] = '\0';
      if (vfs_scan(f, "[ %f %f ] %f %f %f %1023s ", &d.x, &d.z, &d.angle, &d.size, &d.aspect,
                   name) != 6) {
        break;
      }
      d.texture_name = name;
      d.texture = try_texture(d.texture_name);
      if (d.texture == 0) continue;
      if (g_seam.load_texture && detail_settings().use_shaders) {
        d.normal_texture = companion_texture(d.texture_name, "_tnorm");
        d.specular_texture = companion_texture(d.texture_name, "_tspec");
      }
      d.sin_angle = std::sin(d.angle);
      d.cos_angle = std::cos(d.angle);
      hf.decals.push_back(std::move(d));
    }
  }
  build_decal_buckets(hf);
}

// ---- 4. load_terrain ------------------------------------------------------------------

namespace {

bool load_all(HeightField& hf, const char* folder, int texture_method) {
  {
    const Stage stage("Loading heights");
    const std::string path = join(folder, "terrain.hf");
    VfsFile* f = open_required(path);
    if (f == nullptr) return false;
    const FileGuard guard(f);
    if (!read_terrain_hf(f, folder, hf)) return false;
  }
  if (!load_shading(hf, folder)) return false;
  if (!load_shadows(hf, folder)) return false;
  if (!load_materials(hf, folder)) return false;
  if (!load_tilemap(hf, folder)) return false;
  if (g_seam.setup && !g_seam.setup(hf, texture_method)) return false;
  {
    const Stage stage("Loading decals");
    const std::string path = join(folder, "decals");
    VfsFile* f = vfs_open(path.c_str(), "rb");
    const FileGuard guard(f);
    read_decals(f, hf);
  }
  return true;
}

}  // namespace

bool load_terrain(HeightField& hf, const char* folder, int texture_method) {
  const Stage stage("Loading terrain");
  clear_height_field(hf);
  bool ok = false;
  try {
    ok = load_all(hf, folder, texture_method);
  } catch (const std::bad_alloc&) {
    post_message("Not enough memory for the terrain");
    ok = false;
  }
  if (!ok) clear_height_field(hf);
  return ok;
}

// ---- 5. save_terrain ------------------------------------------------------------------

namespace {

bool save_file(const char* folder, const char* file,
               const std::function<bool(VfsFile*)>& write) {
  const std::string path = join(folder, file);
  VfsFile* f = vfs_open_replace(path.c_str());
  if (f == nullptr || !write(f) || vfs_write_failed(f) || !vfs_commit(f)) {
    if (f != nullptr) vfs_close(f);
    post_messagef("Can't open '%s'", file);
    return false;
  }
  return true;
}

}  // namespace

bool save_terrain(HeightField& hf, const char* folder) {
  if (hf.size <= 0) return false;
  update_height_range(hf);
  const size_t count = static_cast<size_t>(hf.size) * static_cast<size_t>(hf.size);

  // The header's "%f" text is what a reload sees, so the samples are quantised against the
  // printed range, not the exact one.
  char header[256];
  std::snprintf(header, sizeof header, "%d %f %f %f\n", hf.exponent,
                static_cast<double>(hf.spacing), static_cast<double>(hf.min_height),
                static_cast<double>(hf.max_height));
  int e = 0;
  float s = 0, lo = 0, hi = 0;
  if (scan_text(header, "%d %f %f %f", &e, &s, &lo, &hi) != 4) {
    lo = hf.min_height;
    hi = hf.max_height;
  }
  if (!save_file(folder, "terrain.hf", [&](VfsFile* f) { return vfs_puts(f, header); })) {
    return false;
  }

  std::vector<uint16_t> q(count, 0);
  const auto lo_d = static_cast<double>(lo);
  const double range = static_cast<double>(hi) - lo_d;
  if (range > 0) {
    for (size_t k = 0; k < count; ++k) {
      const auto h = static_cast<double>(hf.heights[k]);
      double v = std::isfinite(h) ? std::floor((h - lo_d) / range * 65535.0 + 0.5) : 0.0;
      if (!(v >= 0)) v = 0;
      if (v > 65535) v = 65535;
      q[k] = static_cast<uint16_t>(v);
    }
  }
  const std::string png_path = join(folder, "terrain.png");
  if (!write_png_gray16(png_path.c_str(), q.data(), hf.size, hf.size)) {
    post_message("Can't open 'terrain.png'");
    return false;
  }

  if (g_seam.flush) g_seam.flush(hf);
  std::vector<uint8_t> shading(hf.shading);
  shading.resize(count * 3, 0);
  auto write_shading = [&](bool doubled) {
    return [&, doubled](VfsFile* f) {
      vfs_printf(f, "P6\n%d %d\n255\n", hf.size, hf.size);
      if (!doubled) return vfs_write(f, shading.data(), shading.size()) == shading.size();
      std::vector<uint8_t> d(shading.size());
      for (size_t k = 0; k < d.size(); ++k) {
        d[k] = static_cast<uint8_t>(std::min(255, shading[k] * 2));
      }
      return vfs_write(f, d.data(), d.size()) == d.size();
    };
  };
  if (!save_file(folder, "shading.ppm", write_shading(true))) return false;
  if (!save_file(folder, "shadingx2.ppm", write_shading(false))) return false;

  std::vector<uint8_t> tiles(hf.tile_map);
  tiles.resize(size_t{1} << (2 * hf.exponent), 0);
  if (!save_file(folder, "tilemap", [&](VfsFile* f) {
        return vfs_write(f, tiles.data(), tiles.size()) == tiles.size();
      })) {
    return false;
  }

  if (!hf.decals.empty()) {
    if (!save_file(folder, "decals", [&](VfsFile* f) {
          for (const Decal& d : hf.decals) {
            vfs_printf(f, "[%f %f] %f %f %f %s\n", static_cast<double>(d.x),
                       static_cast<double>(d.z), static_cast<double>(d.angle),
                       static_cast<double>(d.size), static_cast<double>(d.aspect),
                       d.texture_name.c_str());
          }
          return true;
        })) {
      return false;
    }
  }
  return true;
}

}  // namespace ks
