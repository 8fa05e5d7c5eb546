// Track scenery.
//
//   1. billboards: "#rrggbb#" tints, reader and writer
//   2. track objects: placement, creation, "statues" reader and writer
//   3. the 8 x 8 object grid
//   4. flaggers: reader, billboards, writer and texture rules
#include "track/objects.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <string_view>

#include "core/detail_settings.h"
#include "fs/messages.h"
#include "fs/vfs.h"
#include "track/track_text.h"

namespace ks {
namespace {

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

using Vec3 = std::array<double, 3>;

Vec3 cross(const Vec3& a, const Vec3& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

double length(const Vec3& v) { return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]); }

}  // namespace

// ---- 1. billboards ----------------------------------------------------------------------

void parse_billboard_texture(const char* text, Billboard& b) {
  b.r = b.g = b.b = 255;
  if (text == nullptr) {
    b.texture_name.clear();
    return;
  }
  if (text[0] == '#' && std::strlen(text) >= 8 && text[7] == '#') {
    int d[6];
    bool ok = true;
    for (int i = 0; i < 6; ++i) {
      d[i] = hex_digit(text[1 + i]);
      ok = ok && d[i] >= 0;
    }
    if (ok) {
      b.r = static_cast<uint8_t>(d[0] * 16 + d[1]);
      b.g = static_cast<uint8_t>(d[2] * 16 + d[3]);
      b.b = static_cast<uint8_t>(d[4] * 16 + d[5]);
      b.texture_name = text + 8;
      return;
    }
  }
  b.texture_name = text;
}

void read_billboards(VfsFile* f, std::vector<Billboard>& out, const GroundHeight& ground) {
  if (f == nullptr) return;
  char texture[1024];
  for (;;) {
    Billboard b;
    float x = 0, h = 0, z = 0;
    if (vfs_scan(f, " [ %f %f %f ] %f %f %1023s ", &x, &h, &z, &b.size, &b.aspect, texture) != 6) {
      break;
    }
    parse_billboard_texture(texture, b);
    b.height = h;
    b.position = {x, ground_at(ground, x, z) + h, z};
    out.push_back(std::move(b));
  }
}

bool write_billboards(VfsFile* f, const std::vector<Billboard>& list, size_t first) {
  if (f == nullptr) return false;
  for (size_t i = first; i < list.size(); ++i) {
    const Billboard& b = list[i];
    if (b.texture_name.empty()) continue;
    vfs_printf(f, "[%f %f %f] %f %f ", double(b.position[0]), double(b.height),
               double(b.position[2]), double(b.size), double(b.aspect));
    if (b.r != 255 || b.g != 255 || b.b != 255) {
      vfs_printf(f, "#%02x%02x%02x#%s\n", b.r, b.g, b.b, b.texture_name.c_str());
    } else {
      vfs_printf(f, "%s\n", b.texture_name.c_str());
    }
  }
  return !vfs_write_failed(f);
}

bool write_billboards_file(const char* path, const std::vector<Billboard>& list, size_t first) {
  return write_track_output(path, "billboards",
                            [&](VfsFile* f) { return write_billboards(f, list, first); });
}

// ---- 2. track objects -------------------------------------------------------------------

void place_track_object(TrackObject& o, const GroundHeight& ground) {
  const float x = o.position[0];
  const float z = o.position[2];
  const float h = ground_at(ground, x, z);
  o.position[1] = h + o.y_offset;
  o.facing_distance = 0;
  o.orientation = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  if (o.angle >= kUprightAngle) {
    o.facing_distance = static_cast<float>(std::exp2(double(o.angle)));
    return;
  }
  // A broken angle would put NaNs into the collision; such an object just isn't turned.
  const double a = std::isfinite(o.angle) ? double(o.angle) : 0.0;
  Vec3 up{0, 1, 0};
  if (a > -2 * std::numbers::pi) {
    const double hx = double(ground_at(ground, x + 1, z)) - double(h);
    const double hz = double(ground_at(ground, x, z + 1)) - double(h);
    Vec3 n{-hx, 1, -hz};
    const double len = length(n);
    if (std::isfinite(len) && len > 0) up = {n[0] / len, n[1] / len, n[2] / len};
  }
  // The object's x axis is the turned x axis made square to `up`; z completes the frame.
  const Vec3 x0{std::cos(a), 0, -std::sin(a)};
  const double d = x0[0] * up[0] + x0[1] * up[1] + x0[2] * up[2];
  Vec3 ax{x0[0] - d * up[0], x0[1] - d * up[1], x0[2] - d * up[2]};
  const double lx = length(ax);
  if (!(lx > 1e-9)) {
    ax = x0;
    up = {0, 1, 0};
  } else {
    ax = {ax[0] / lx, ax[1] / lx, ax[2] / lx};
  }
  const Vec3 az = cross(ax, up);
  for (int r = 0; r < 3; ++r) {
    o.orientation[static_cast<size_t>(r * 3 + 0)] = static_cast<float>(ax[static_cast<size_t>(r)]);
    o.orientation[static_cast<size_t>(r * 3 + 1)] = static_cast<float>(up[static_cast<size_t>(r)]);
    o.orientation[static_cast<size_t>(r * 3 + 2)] = static_cast<float>(az[static_cast<size_t>(r)]);
  }
}

namespace {

bool file_exists(const std::string& name) {
  VfsFile* f = vfs_open(name.c_str(), "rb");
  if (f == nullptr) return false;
  vfs_close(f);
  return true;
}

// The first of name_kind.seq / .png / .ppm that exists, where name is `base` without its
// suffix; a repeating texture ("...-repeat.ext") looks for name_kind-repeat.ext instead.
std::string find_object_map(const std::string& base, const char* kind) {
  std::string stem = base;
  const size_t dot = stem.rfind('.');
  const size_t slash = stem.rfind('/');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) stem.resize(dot);
  std::string tail = kind;
  constexpr std::string_view kRepeat = "-repeat";
  if (stem.size() > kRepeat.size() && stem.ends_with(kRepeat)) {
    stem.resize(stem.size() - kRepeat.size());
    tail += kRepeat;
  }
  for (const char* ext : {".seq", ".png", ".ppm"}) {
    std::string name = stem + tail + ext;
    if (file_exists(name)) return name;
  }
  return {};
}

}  // namespace

TrackObject make_track_object(float x, float y_offset, float z, float angle, const char* model,
                              const char* texture, const char* shape,
                              const GroundHeight& ground) {
  TrackObject o;
  o.model = name_or_none(model);
  o.texture = name_or_none(texture);
  o.shape_name = name_or_none(shape);
  if (detail_settings().use_shaders && !o.model.empty()) {
    const std::string& base = o.texture.empty() ? o.model : o.texture;
    o.normal_map = find_object_map(base, "_norm");
    o.specular_map = find_object_map(base, "_spec");
  }
  if (!o.shape_name.empty()) {
    o.shape = load_shape(o.shape_name.c_str());
    if (!o.shape) post_messagef("Warning: missing shape file %.900s", o.shape_name.c_str());
  }
  o.position = {x, 0, z};
  o.y_offset = y_offset;
  o.angle = angle;
  place_track_object(o, ground);
  return o;
}

void read_statues(VfsFile* f, std::vector<TrackObject>& out, const GroundHeight& ground) {
  if (f == nullptr) return;
  char model[1024], texture[1024], shape[1024];
  for (;;) {
    float x = 0, y = 0, z = 0, angle = 0;
    if (vfs_scan(f, " [ %f %f %f ] %f %1023s %1023s %1023s ", &x, &y, &z, &angle, model, texture,
                 shape) != 7) {
      break;
    }
    out.push_back(make_track_object(x, y, z, angle, model, texture, shape, ground));
  }
}

bool write_statues(VfsFile* f, const std::vector<TrackObject>& list, size_t first) {
  if (f == nullptr) return false;
  for (size_t i = first; i < list.size(); ++i) {
    const TrackObject& o = list[i];
    vfs_printf(f, "[%f %f %f] %f %s %s %s\n", double(o.position[0]), double(o.y_offset),
               double(o.position[2]), double(o.angle), none_as_null(o.model),
               none_as_null(o.texture), none_as_null(o.shape_name));
  }
  return !vfs_write_failed(f);
}

bool write_statues_file(const char* path, const std::vector<TrackObject>& list, size_t first) {
  return write_track_output(path, "statues",
                            [&](VfsFile* f) { return write_statues(f, list, first); });
}

// ---- 3. object grid ---------------------------------------------------------------------

int object_grid_cell(float p, float world_width) {
  if (!(world_width > 0) || !std::isfinite(world_width) || std::isnan(p)) return 0;
  const double c = std::floor(((double(p) / double(world_width)) - 0.125) * 4.0 / 3.0 * kObjectGridSide);
  if (!(c > 0)) return 0;
  if (c > kObjectGridSide - 1) return kObjectGridSide - 1;
  return static_cast<int>(c);
}

void build_object_grid(ObjectGrid& grid, const std::vector<TrackObject>& objects,
                       float world_width) {
  for (auto& cell : grid.cells) cell.clear();
  for (size_t i = 0; i < objects.size(); ++i) {
    const TrackObject& o = objects[i];
    const float r = o.shape ? o.shape->bound : 0.0f;
    const int x0 = object_grid_cell(o.position[0] - r, world_width);
    const int x1 = object_grid_cell(o.position[0] + r, world_width);
    const int z0 = object_grid_cell(o.position[2] - r, world_width);
    const int z1 = object_grid_cell(o.position[2] + r, world_width);
    for (int cz = z0; cz <= z1; ++cz) {
      for (int cx = x0; cx <= x1; ++cx) {
        grid.cells[static_cast<size_t>(cz * kObjectGridSide + cx)].push_back(static_cast<int>(i));
      }
    }
  }
}

// ---- 4. flaggers ------------------------------------------------------------------------

namespace {

template <size_t N>
bool scan_names(VfsFile* f, std::array<std::string, N>& names) {
  char word[1024];
  for (auto& name : names) {
    if (vfs_scan(f, " %1023s ", word) != 1) return false;
    name = word;
  }
  return true;
}

int clamp_checkpoint(int v, int checkpoint_count) {
  if (v < -1) return -1;
  if (v > checkpoint_count - 1) return checkpoint_count - 1;
  return v;
}

Billboard flagger_billboard(const std::array<float, 3>& p, float size, float aspect,
                            const std::string& texture, const GroundHeight& ground) {
  Billboard b;
  b.height = p[1];
  b.position = {p[0], ground_at(ground, p[0], p[2]) + p[1], p[2]};
  b.size = size;
  b.aspect = aspect;
  b.texture_name = texture;
  return b;
}

}  // namespace

void read_flaggers(VfsFile* f, Flaggers& out, int checkpoint_count) {
  out = Flaggers{};
  if (f == nullptr) return;
  StartFlagger s;
  if (vfs_scan(f, " [ %f %f %f ] [ %f %f %f ] %f %f %f ", &s.from[0], &s.from[1], &s.from[2],
               &s.to[0], &s.to[1], &s.to[2], &s.size, &s.aspect, &s.walk_duration) != 9 ||
      !scan_names(f, s.textures)) {
    return;
  }
  s.present = true;
  out.start = std::move(s);

  FinishFlagger e;
  if (vfs_scan(f, " [ %f %f %f ] %f %f ", &e.position[0], &e.position[1], &e.position[2],
               &e.size, &e.aspect) != 5 ||
      !scan_names(f, e.textures)) {
    return;
  }
  e.present = true;
  out.finish = std::move(e);

  for (;;) {
    TrackFlagger t;
    int c[4];
    if (vfs_scan(f, " [ %f %f %f ] %f %f %d %d %d %d", &t.position[0], &t.position[1],
                 &t.position[2], &t.size, &t.aspect, &c[0], &c[1], &c[2], &c[3]) != 9 ||
        !scan_names(f, t.textures)) {
      return;
    }
    for (size_t i = 0; i < 4; ++i) t.checkpoints[i] = clamp_checkpoint(c[i], checkpoint_count);
    out.track_side.push_back(std::move(t));
  }
}

void add_flagger_billboards(Flaggers& fl, std::vector<Billboard>& list,
                            const GroundHeight& ground) {
  if (fl.start.present) {
    fl.start.billboard = static_cast<int>(list.size());
    list.push_back(flagger_billboard(fl.start.from, fl.start.size, fl.start.aspect,
                                     fl.start.textures[0], ground));
  }
  if (fl.finish.present) {
    fl.finish.billboard = static_cast<int>(list.size());
    list.push_back(flagger_billboard(fl.finish.position, fl.finish.size, fl.finish.aspect,
                                     fl.finish.textures[0], ground));
  }
  for (TrackFlagger& t : fl.track_side) {
    t.billboard = static_cast<int>(list.size());
    list.push_back(flagger_billboard(t.position, t.size, t.aspect, t.textures[0], ground));
  }
}

bool write_flaggers(VfsFile* f, const Flaggers& fl) {
  if (f == nullptr) return false;
  // Each section is only readable after the one before it.
  if (fl.start.present) {
    const StartFlagger& s = fl.start;
    vfs_printf(f, "[%f %f %f] [%f %f %f] %f %f %f", double(s.from[0]), double(s.from[1]),
               double(s.from[2]), double(s.to[0]), double(s.to[1]), double(s.to[2]),
               double(s.size), double(s.aspect), double(s.walk_duration));
    for (const std::string& t : s.textures) vfs_printf(f, " %s", none_as_null(t));
    vfs_puts(f, "\n");
    if (fl.finish.present) {
      const FinishFlagger& e = fl.finish;
      vfs_printf(f, "[%f %f %f] %f %f", double(e.position[0]), double(e.position[1]),
                 double(e.position[2]), double(e.size), double(e.aspect));
      for (const std::string& t : e.textures) vfs_printf(f, " %s", none_as_null(t));
      vfs_puts(f, "\n");
      for (const TrackFlagger& t : fl.track_side) {
        vfs_printf(f, "[%f %f %f] %f %f %d %d %d %d %s %s\n", double(t.position[0]),
                   double(t.position[1]), double(t.position[2]), double(t.size),
                   double(t.aspect), t.checkpoints[0], t.checkpoints[1], t.checkpoints[2],
                   t.checkpoints[3], none_as_null(t.textures[0]), none_as_null(t.textures[1]));
      }
    }
  }
  return !vfs_write_failed(f);
}

bool write_flaggers_file(const char* path, const Flaggers& fl) {
  return write_track_output(path, "flaggers",
                            [&](VfsFile* f) { return write_flaggers(f, fl); });
}

int start_flagger_texture(const StartFlagger& s, double seconds) {
  if (seconds < 5.1) return 0;
  if (seconds < 5.4) return 1;
  if (seconds < 6) return 2;
  if (seconds >= 6 + double(s.walk_duration)) return 4;
  return 3;
}

std::array<float, 3> start_flagger_position(const StartFlagger& s, double seconds) {
  if (seconds < 6) return s.from;
  const double walk = double(s.walk_duration);
  if (!(walk > 0) || seconds >= 6 + walk) return s.to;
  const double k = (seconds - 6) / walk;
  std::array<float, 3> p{};
  for (size_t i = 0; i < 3; ++i) {
    const double from = double(s.from[i]), to = double(s.to[i]);
    p[i] = static_cast<float>(from + (to - from) * k);
  }
  return p;
}

int finish_flagger_texture(int leader_laps, int race_laps, int halfway_lap) {
  if (leader_laps >= race_laps) return 4;
  const int lap = leader_laps + 1;  // the lap the leader is riding
  if (lap == race_laps) return 3;
  if (lap == halfway_lap) return 2;
  return 1;
}

}  // namespace ks
