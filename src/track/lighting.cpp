// The "lighting" file: line-based identifiers, then the clip-plane clamps, the sun
// normalised and the default sky names.
#include "track/lighting.h"

#include <cmath>
#include <cstring>

#include "fs/messages.h"
#include "fs/vfs.h"
#include "track/track_text.h"

namespace ks {
namespace {

constexpr const char* kDefaultSky[kSkyFaces] = {"@sky-n.ppm", "@sky-e.ppm", "@sky-s.ppm",
                                                "@sky-w.ppm", "@sky-u.ppm"};
constexpr const char* kDefaultSkyEnv = "@sky-env.ppm";
constexpr const char* kSkyKeys[kSkyFaces] = {"sky_n", "sky_e", "sky_s", "sky_w", "sky_u"};

// " [ %f %f %f ] " straight into the fields, so a partial line keeps what scanned.
void scan_vector(const char* value, std::array<float, 3>& v) {
  scan_text(value, " [ %f %f %f ] ", &v[0], &v[1], &v[2]);
}

}  // namespace

bool read_lighting(VfsFile* f, Lighting& l) {
  if (f == nullptr) return false;
  LensFlare pending;
  std::string line;
  char texture[1024];
  while (read_track_line(f, line)) {
    trim_right(line);
    const char* s = skip_blanks(line.c_str());
    if (*s == '\0') continue;
    const char* end = s;
    while (*end != '\0' && *end != ' ' && *end != '\t') ++end;
    const std::string id(s, static_cast<size_t>(end - s));
    const char* value = skip_blanks(end);

    if (id == "sun_vector") {
      scan_vector(value, l.sun_vector);
    } else if (id == "sun_color") {
      scan_vector(value, l.sun_color);
    } else if (id == "ambient") {
      scan_vector(value, l.ambient);
    } else if (id == "global_ambient") {
      scan_vector(value, l.global_ambient);
    } else if (id == "sky_env") {
      l.sky_env = value;
    } else if (id == "flare_element") {
      FlareElement e;
      texture[0] = '\0';
      int n = scan_text(value, " [ %f %f ] [ %f %f %f ] %f %1023s", &e.placement[0],
                        &e.placement[1], &e.color[0], &e.color[1], &e.color[2], &e.size,
                        texture);
      if (n >= 6) {
        if (n == 7) e.texture = name_or_none(texture);
        if (pending.elements.size() < kMaxFlareElements) pending.elements.push_back(e);
      }
    } else if (id == "flare_point" || id == "flare_vector") {
      scan_vector(value, pending.where);
      pending.kind = id == "flare_point" ? FlareKind::point : FlareKind::direction;
      l.flares.push_back(std::move(pending));
      pending = LensFlare{};
    } else if (id == "fog") {
      std::array<float, 3> c{};
      float density = 0;
      if (scan_text(value, " [ %f %f %f ] %f ", &c[0], &c[1], &c[2], &density) == 4) {
        l.fog_color = {c[0], c[1], c[2], l.fog_color[3]};
        l.fog_density = density;
      }
    } else if (id == "dynamic_lighting") {
      int on = 0;
      if (scan_text(value, "%d", &on) == 1) l.dynamic_lighting = on > 0;
    } else if (id == "near_plane") {
      scan_text(value, "%f", &l.near_plane);
    } else if (id == "far_plane") {
      scan_text(value, "%f", &l.far_plane);
    } else {
      bool sky = false;
      for (int i = 0; i < kSkyFaces; ++i) {
        if (id == kSkyKeys[i]) {
          l.sky[static_cast<size_t>(i)] = value;
          sky = true;
        }
      }
      if (!sky) {
        post_messagef("Error reading lighting: Unknown identifier '%.950s'\n", id.c_str());
        return false;
      }
    }
  }
  return true;
}

void finish_lighting(Lighting& l) {
  // Written as "not inside" so that a NaN takes the bound too.
  if (!(l.near_plane >= kMinNearPlane)) l.near_plane = kMinNearPlane;
  if (l.near_plane > kMaxNearPlane) l.near_plane = kMaxNearPlane;
  if (!(l.far_plane >= l.near_plane)) l.far_plane = l.near_plane;
  if (l.far_plane > kMaxFarPlane) l.far_plane = kMaxFarPlane;

  auto& v = l.sun_vector;
  const double vx = double(v[0]), vy = double(v[1]), vz = double(v[2]);
  const double len2 = vx * vx + vy * vy + vz * vz;
  if (len2 > 0 && std::isfinite(len2)) {
    const double inv = 1.0 / std::sqrt(len2);
    for (float& c : v) c = static_cast<float>(double(c) * inv);
  } else {
    // A zero or broken sun would turn every light term into NaN: keep the default sun.
    const float d = static_cast<float>(1.0 / std::sqrt(3.0));
    v = {d, d, d};
  }

  for (int i = 0; i < kSkyFaces; ++i) {
    if (l.sky[static_cast<size_t>(i)].empty()) l.sky[static_cast<size_t>(i)] = kDefaultSky[i];
  }
  if (l.sky_env.empty()) l.sky_env = kDefaultSkyEnv;
}

bool write_lighting(VfsFile* f, const Lighting& l) {
  if (f == nullptr) return false;
  auto vec = [f](const char* id, const std::array<float, 3>& v) {
    vfs_printf(f, "%s [%f %f %f]\n", id, double(v[0]), double(v[1]), double(v[2]));
  };
  vec("sun_vector", l.sun_vector);
  vec("sun_color", l.sun_color);
  vec("ambient", l.ambient);
  vec("global_ambient", l.global_ambient);
  vfs_printf(f, "near_plane %f\n", double(l.near_plane));
  vfs_printf(f, "far_plane %f\n", double(l.far_plane));
  vfs_printf(f, "dynamic_lighting %d\n", l.dynamic_lighting ? 1 : 0);
  vfs_printf(f, "fog [%f %f %f] %f\n", double(l.fog_color[0]), double(l.fog_color[1]),
             double(l.fog_color[2]), double(l.fog_density));
  for (int i = 0; i < kSkyFaces; ++i) {
    const std::string& name = l.sky[static_cast<size_t>(i)];
    if (!name.empty()) vfs_printf(f, "%s %s\n", kSkyKeys[i], name.c_str());
  }
  if (!l.sky_env.empty()) vfs_printf(f, "sky_env %s\n", l.sky_env.c_str());
  for (const LensFlare& fl : l.flares) {
    for (const FlareElement& e : fl.elements) {
      vfs_printf(f, "flare_element [%f %f] [%f %f %f] %f %s\n", double(e.placement[0]),
                 double(e.placement[1]), double(e.color[0]), double(e.color[1]),
                 double(e.color[2]), double(e.size), none_as_null(e.texture));
    }
    vfs_printf(f, "%s [%f %f %f]\n", fl.kind == FlareKind::point ? "flare_point" : "flare_vector",
               double(fl.where[0]), double(fl.where[1]), double(fl.where[2]));
  }
  return !vfs_write_failed(f);
}

bool write_lighting_file(const char* path, const Lighting& l) {
  return write_track_output(path, "lighting",
                            [&](VfsFile* f) { return write_lighting(f, l); });
}

}  // namespace ks
