// One track folder: the terrain files, then what stands on the ground — timing gates and
// the starting gate, replay cameras, statues (hay bales, tuff blocks), billboards (trees,
// banners), flaggers, the lighting, the name and the minimap.
//
//   placement    where things go relative to the lap
//   gates        checkpoints, the starting gate and both lap sequences
//   scenery      statues, billboards, flaggers, cameras
//   map          the minimap image
//   write_track  every file of the folder
#include <algorithm>
#include <cstdio>

#include "mkdata.h"
#include "gfx/image_io.h"
#include "track/cameras.h"
#include "track/gates.h"
#include "track/objects.h"
#include "track/tileinfo.h"
#include "track/track.h"

namespace ks::mkdata {

namespace {

constexpr double kPi = 3.14159265358979323846;

// ---- placement ----------------------------------------------------------------------------

struct Site {
  const TrackLayout& t;
  const TerrainResult& r;
  double ground(double x, double z) const { return static_cast<double>(ground_height_at(r.hf, x, z)); }
  const SampleInfo& info(double x, double z) const {
    const int R = r.hf.size;
    const int i = std::clamp(static_cast<int>(std::lround(x / t.spacing)), 0, R - 1);
    const int j = std::clamp(static_cast<int>(std::lround(z / t.spacing)), 0, R - 1);
    return r.info[static_cast<size_t>(j) * static_cast<size_t>(R) + static_cast<size_t>(i)];
  }
  bool inside(double x, double z, double margin) const {
    const double e = t.extent();
    return x > margin && z > margin && x < e - margin && z < e - margin;
  }
  // Clear of every racing surface by `gap` ft.
  bool clear_of_track(double x, double z, double gap) const {
    const SampleInfo& si = info(x, z);
    return si.path < 0 || std::fabs(static_cast<double>(si.d)) > static_cast<double>(si.half_width) + gap;
  }
};

// Yaw that turns an object's own x axis along `dir`.
double yaw_along(Vec2 dir) { return std::atan2(-dir.z, dir.x); }
// Yaw of a rider facing `dir` (a bike faces -z at yaw 0).
double yaw_facing(Vec2 dir) { return std::atan2(-dir.x, -dir.z); }

// Lap positions of the checkpoints in riding order from the finish line: the last one is
// the finish line itself.
std::vector<double> checkpoint_positions(const TrackLayout& t) {
  const double L = t.lap.length;
  auto after_finish = [&](double s) { return std::fmod(s - t.finish_s + 2 * L, L); };
  std::vector<double> s = t.checkpoint_s;
  std::sort(s.begin(), s.end(), [&](double a, double b) { return after_finish(a) < after_finish(b); });
  s.push_back(t.finish_s);
  return s;
}

// ---- gates --------------------------------------------------------------------------------

TimingGates make_gates(const Site& site, const std::vector<double>& lap_s) {
  const TrackLayout& t = site.t;
  TimingGates g;
  const PathPoint gate = t.chute.at(t.gate_s);
  const Vec2 side = side_of(gate.dir);
  const float angle = static_cast<float>(yaw_facing(gate.dir));
  for (int i = 0; i < t.gate_count; ++i) {
    const Vec2 p = gate.p + side * ((i - (t.gate_count - 1) / 2.0) * t.gate_pitch);
    GatePosition pos;
    // The pad is level at height 0, so the slot height is 0 above the ground as well.
    pos.slot = {static_cast<float>(p.x), 0.0f, static_cast<float>(p.z)};
    pos.angle = angle;
    g.start.push_back(pos);
  }
  auto checkpoint = [&](const PathPoint& at, double extra) {
    TimingGate c;
    c.position = {static_cast<float>(at.p.x), static_cast<float>(site.ground(at.p.x, at.p.z)),
                  static_cast<float>(at.p.z)};
    c.direction = {static_cast<float>(at.dir.x), 0.0f, static_cast<float>(at.dir.z)};
    c.radius = static_cast<float>(at.half_width + extra);
    g.checkpoints.push_back(c);
  };
  for (double s : lap_s) checkpoint(t.lap.at(s), 6);
  const int n = static_cast<int>(lap_s.size());
  // Two gates down the start chute, so that a first lap can't begin anywhere else.
  checkpoint(t.chute.at(t.gate_s + 60), 4);
  checkpoint(t.chute.at(std::min(t.gate_s + 200, t.chute.length - 20)), 6);

  const double L = t.lap.length;
  const double merge_off = std::fmod(t.merge_s - t.finish_s + 2 * L, L);
  g.first_lap = {n, n + 1};
  for (int k = 0; k < n; ++k) {
    const double off = k == n - 1 ? L : std::fmod(lap_s[static_cast<size_t>(k)] - t.finish_s + 2 * L, L);
    if (off > merge_off + 30) g.first_lap.push_back(k);
  }
  for (int k = 0; k < n; ++k) g.normal_lap.push_back(k);
  g.first_lap_unmarked = static_cast<int>(g.first_lap.size());
  g.normal_lap_unmarked = static_cast<int>(g.normal_lap.size());
  g.valid = true;
  return g;
}

// ---- scenery ------------------------------------------------------------------------------

struct Statue {
  double x, y_offset, z, angle;
  const char* kind;  // "haybale", "tuffblock"
};

std::vector<Statue> place_statues(const Site& site) {
  const TrackLayout& t = site.t;
  std::vector<Statue> out;
  auto put = [&](Vec2 p, Vec2 dir, const char* kind, double gap) {
    if (!site.inside(p.x, p.z, 10) || !site.clear_of_track(p.x, p.z, gap)) return;
    out.push_back({p.x, 0, p.z, yaw_along(dir), kind});
  };
  // Hay bales where the back of each berm meets the ground, around the turn.
  for (double apex : t.hay_corners) {
    for (double u = -36; u <= 36; u += 5) {
      const PathPoint at = t.lap.at(apex + u);
      const double out_sign = at.bank > 0 ? -1 : 1;
      const double e = at.half_width + 3 + std::max(6.0, 1.8 * std::fabs(at.bank)) + 3;
      put(at.p + side_of(at.dir) * (out_sign * e), at.dir, "haybale", 4);
    }
    // Tuff blocks mark the inside of the turn.
    for (double u = -8; u <= 8; u += 8) {
      const PathPoint at = t.lap.at(apex + u);
      const double in_sign = at.bank > 0 ? 1 : -1;
      put(at.p + side_of(at.dir) * (in_sign * (at.half_width + 3)), at.dir, "tuffblock", 2);
    }
  }
  // Bales either side of every take-off.
  for (const Feature& f : t.features) {
    for (double u : {2.0, 8.0}) {
      const PathPoint at = t.lap.at(f.begin + u);
      for (double sgn : {-1.0, 1.0})
        put(at.p + side_of(at.dir) * (sgn * (at.half_width + 2.5)), at.dir, "haybale", 2);
    }
  }
  // Tuff blocks line the start chute from the end of the pad to the merge.
  for (double s = t.pad_length + 40; s < t.chute.length - 40; s += 9) {
    const PathPoint at = t.chute.at(s);
    for (double sgn : {-1.0, 1.0})
      put(at.p + side_of(at.dir) * (sgn * (at.half_width + 2.5)), at.dir, "tuffblock", 2);
  }
  return out;
}

std::vector<TrackObject> statue_objects(const std::vector<Statue>& list) {
  std::vector<TrackObject> out;
  const std::string at = "@";
  for (const Statue& s : list) {
    TrackObject o;
    o.position = {static_cast<float>(s.x), 0.0f, static_cast<float>(s.z)};
    o.y_offset = static_cast<float>(s.y_offset);
    o.angle = static_cast<float>(s.angle);
    o.model = at + s.kind + ".jm";
    o.texture = at + s.kind + ".png";
    o.shape_name = at + s.kind + ".shp";
    out.push_back(std::move(o));
  }
  return out;
}

std::vector<Billboard> billboard_list(const Site& site) {
  const TrackLayout& t = site.t;
  Draw r(t.seed ^ 0x62696c6cu);
  std::vector<Billboard> out;
  auto put = [&](double x, double h, double z, double size, double aspect, const char* tex,
                 uint32_t tint = 0xffffff) {
    Billboard b;
    b.position = {static_cast<float>(x), static_cast<float>(site.ground(x, z) + h), static_cast<float>(z)};
    b.height = static_cast<float>(h);
    b.size = static_cast<float>(size);
    b.aspect = static_cast<float>(aspect);
    b.r = static_cast<uint8_t>(tint >> 16);
    b.g = static_cast<uint8_t>(tint >> 8);
    b.b = static_cast<uint8_t>(tint);
    b.texture_name = tex;
    out.push_back(std::move(b));
  };
  // Trees in clumps, well clear of the track.
  const bool dunes = t.ground == Ground::dunes;
  const char* const kinds_hills[] = {"@tree_oak.png", "@tree_pine.png", "@tree_birch.png"};
  const char* const kinds_dunes[] = {"@tree_pine.png", "@bush_dune.png", "@tree_cypress.png"};
  const double e = t.extent();
  const int clumps = dunes ? 18 : 36;
  for (int c = 0; c < clumps; ++c) {
    const double cx = r.range(40, e - 40), cz = r.range(40, e - 40);
    const int trees = 6 + r.below(12);
    for (int k = 0; k < trees; ++k) {
      const double ang = r.range(0, 2 * kPi), dist = 70 * std::sqrt(r.unit());
      const double x = cx + std::cos(ang) * dist, z = cz + std::sin(ang) * dist;
      const int kind = r.below(3);
      const double size = dunes && kind == 1 ? r.range(5, 9) : r.range(24, 46);
      const double aspect = r.range(0.55, 0.8);
      if (!site.inside(x, z, 15) || !site.clear_of_track(x, z, 30)) continue;
      put(x, -0.5, z, size, aspect, (dunes ? kinds_dunes : kinds_hills)[kind]);
    }
  }
  // Sponsor banners along the start chute and past the finish line.
  struct Banner {
    const char* texture;
    uint32_t tint;
  };
  const Banner banners[] = {{"@banner_kessra.png", 0xffffff}, {"@banner_fuel.png", 0xffd040},
                            {"@banner_tyres.png", 0xffffff}, {"@banner_oil.png", 0x40a0ff}};
  int b = 0;
  auto banner = [&](Vec2 p) {
    if (!site.clear_of_track(p.x, p.z, 8)) return;
    const Banner& k = banners[b++ % 4];
    put(p.x, 0, p.z, 3, 4, k.texture, k.tint);
  };
  for (double s = t.pad_length; s < t.chute.length - 30; s += 40) {
    const PathPoint at = t.chute.at(s);
    banner(at.p + side_of(at.dir) * (at.half_width + 12));
  }
  for (double u = -40; u <= 120; u += 40) {
    const PathPoint at = t.lap.at(t.finish_s + u);
    banner(at.p - side_of(at.dir) * (at.half_width + 14));
  }
  return out;
}

// The first checkpoint at or after lap position s (counted along the lap).
int checkpoint_after(const TrackLayout& t, const std::vector<double>& lap_s, double s) {
  const double L = t.lap.length;
  int best = 0;
  double best_off = 1e18;
  for (size_t k = 0; k < lap_s.size(); ++k) {
    const double off = std::fmod(lap_s[k] - s + 2 * L, L);
    if (off < best_off) best_off = off, best = static_cast<int>(k);
  }
  return best;
}

std::array<float, 3> on_ground(Vec2 p) {
  return {static_cast<float>(p.x), 0.0f, static_cast<float>(p.z)};
}

Flaggers make_flaggers(const Site& site, const std::vector<double>& lap_s) {
  const TrackLayout& t = site.t;
  Flaggers fl;
  // The starter shows the boards beside the gate, then walks off to the side.
  const PathPoint gate = t.chute.at(t.gate_s);
  const double half = (t.gate_count - 1) * t.gate_pitch / 2;
  const Vec2 from = gate.p + gate.dir * 14 + side_of(gate.dir) * (half + 6);
  fl.start.present = true;
  fl.start.from = on_ground(from);
  fl.start.to = on_ground(from + side_of(gate.dir) * 10);
  fl.start.size = 6;
  fl.start.aspect = 0.5f;
  fl.start.walk_duration = 2.5f;
  fl.start.textures = {"@flagger_board30.png", "@flagger_board_turn.png", "@flagger_board5.png",
                       "@flagger_walk.png", "@flagger_stand.png"};
  const PathPoint fin = t.lap.at(t.finish_s);
  fl.finish.present = true;
  fl.finish.position = on_ground(fin.p + side_of(fin.dir) * (fin.half_width + 6));
  fl.finish.size = 6;
  fl.finish.aspect = 0.5f;
  fl.finish.textures = {"@flagger_finish.png", "@flag_none.png", "@flag_halfway.png",
                        "@flag_white.png", "@flag_checkered.png"};
  // A flagger at every blind landing, watching the gates on either side of it.
  const int n = static_cast<int>(lap_s.size());
  for (const Feature& f : t.features) {
    if (!f.blind) continue;
    const PathPoint at = t.lap.at(f.end - 10);
    const Vec2 p = at.p + side_of(at.dir) * (at.half_width + 6);
    if (!site.clear_of_track(p.x, p.z, 4)) continue;
    TrackFlagger tf;
    tf.position = on_ground(p);
    tf.size = 6;
    tf.aspect = 0.5f;
    const int after = checkpoint_after(t, lap_s, f.end);
    tf.checkpoints = {(after + n - 1) % n, after, -1, -1};
    tf.textures = {"@flagger_calm.png", "@flagger_yellow.png"};
    fl.track_side.push_back(tf);
  }
  return fl;
}

Cameras make_cameras(const Site& site, const std::vector<double>& lap_s) {
  const TrackLayout& t = site.t;
  Cameras c;
  auto add = [&](Vec2 p, double h) {
    Camera cam;
    cam.position = {static_cast<float>(p.x), static_cast<float>(site.ground(p.x, p.z) + h),
                    static_cast<float>(p.z)};
    cam.height = static_cast<float>(h);
    cam.fov = 55;
    cam.auto_fov_size = 14;
    c.list.push_back(cam);
  };
  // One behind the gate, high, for the start and the chute.
  const PathPoint gate = t.chute.at(t.gate_s);
  add(gate.p - gate.dir * 45, 30);
  // Then one beside every other checkpoint, on the side away from other parts of the track.
  for (size_t k = 0; k < lap_s.size(); k += 2) {
    const PathPoint at = t.lap.at(lap_s[k]);
    Vec2 p = at.p + side_of(at.dir) * (at.half_width + 40);
    if (!site.clear_of_track(p.x, p.z, 20) || !site.inside(p.x, p.z, 10))
      p = at.p - side_of(at.dir) * (at.half_width + 40);
    add(p, 18);
  }
  // Every checkpoint selects the camera nearest to it; the chute's gates the start camera.
  const int n = static_cast<int>(lap_s.size());
  for (int k = 0; k < n; ++k) {
    const PathPoint at = t.lap.at(lap_s[static_cast<size_t>(k)]);
    int best = 1;
    double bd = 1e18;
    for (size_t i = 1; i < c.list.size(); ++i) {
      const Vec2 cp{static_cast<double>(c.list[i].position[0]), static_cast<double>(c.list[i].position[2])};
      const double d = length(cp - at.p);
      if (d < bd) bd = d, best = static_cast<int>(i);
    }
    c.gate_camera[static_cast<size_t>(k)] = best;
  }
  c.gate_camera[static_cast<size_t>(n)] = 0;
  c.gate_camera[static_cast<size_t>(n + 1)] = 0;
  return c;
}

// ---- map ----------------------------------------------------------------------------------

// Rows bottom first, the way the image writer takes them, so the file shows z = 0 at the top.
std::vector<uint8_t> map_pixels(const Site& site, const MaterialSet& m,
                                const std::vector<Statue>& statues,
                                const std::vector<Billboard>& billboards) {
  const TrackLayout& t = site.t;
  const HeightField& hf = site.r.hf;
  const int tiles = 1 << t.exponent;
  std::vector<uint8_t> img(static_cast<size_t>(tiles) * static_cast<size_t>(tiles) * 3);
  auto colour_of = [&](int mat, uint8_t out[3]) {
    const std::string& name = m.materials[static_cast<size_t>(mat)].name;
    int c[3] = {110, 150, 70};
    if (name == "loam") c[0] = 120, c[1] = 88, c[2] = 60;
    if (name == "hardpack") c[0] = 165, c[1] = 135, c[2] = 100;
    if (name == "sand") c[0] = 215, c[1] = 195, c[2] = 145;
    if (name == "mud") c[0] = 85, c[1] = 65, c[2] = 45;
    if (name == "dunegrass") c[0] = 150, c[1] = 160, c[2] = 95;
    for (int k = 0; k < 3; ++k) out[k] = static_cast<uint8_t>(c[k]);
  };
  for (int cz = 0; cz < tiles; ++cz) {
    for (int cx = 0; cx < tiles; ++cx) {
      const size_t tile = static_cast<size_t>(cz) * static_cast<size_t>(tiles) + static_cast<size_t>(cx);
      uint8_t c[3];
      colour_of(hf.tile_map[tile], c);
      const size_t s = (static_cast<size_t>(2 * cz + 1) * static_cast<size_t>(hf.size) +
                        static_cast<size_t>(2 * cx + 1)) * 3;
      for (int k = 0; k < 3; ++k) {
        // Lit as on the ground, and a little brighter the higher it lies.
        const double high = (static_cast<double>(hf.heights[s / 3] - hf.min_height)) /
                            static_cast<double>(hf.max_height - hf.min_height);
        const int v = static_cast<int>(c[k] * hf.shading[s + static_cast<size_t>(k)] / 128.0 *
                                       (0.85 + 0.3 * high));
        img[tile * 3 + static_cast<size_t>(k)] = static_cast<uint8_t>(std::min(v, 255));
      }
    }
  }
  auto dot_at = [&](double x, double z, uint8_t r, uint8_t g, uint8_t b) {
    const int cx = static_cast<int>(x / (2 * t.spacing)), cz = static_cast<int>(z / (2 * t.spacing));
    if (cx < 0 || cz < 0 || cx >= tiles || cz >= tiles) return;
    uint8_t* p = &img[(static_cast<size_t>(cz) * static_cast<size_t>(tiles) + static_cast<size_t>(cx)) * 3];
    p[0] = r, p[1] = g, p[2] = b;
  };
  for (const Billboard& b : billboards) {
    if (b.texture_name.find("tree") == std::string::npos && b.texture_name.find("bush") == std::string::npos)
      continue;
    // A crown as wide as the sprite.
    const double r = static_cast<double>(b.size * b.aspect) / 2;
    for (double dz = -r; dz <= r; dz += t.spacing)
      for (double dx = -r; dx <= r; dx += t.spacing)
        if (dx * dx + dz * dz <= r * r)
          dot_at(static_cast<double>(b.position[0]) + dx, static_cast<double>(b.position[2]) + dz, 45, 85, 35);
  }
  for (const Statue& s : statues) {
    if (s.kind[0] == 'h') dot_at(s.x, s.z, 230, 200, 80);
    else dot_at(s.x, s.z, 40, 110, 230);
  }
  // The gate as a white bar, the finish line chequered.
  const PathPoint gate = t.chute.at(t.gate_s);
  const double half = (t.gate_count - 1) * t.gate_pitch / 2;
  for (double u = -half; u <= half; u += t.spacing) {
    const Vec2 p = gate.p + side_of(gate.dir) * u;
    dot_at(p.x, p.z, 255, 255, 255);
  }
  const PathPoint fin = t.lap.at(t.finish_s);
  int k = 0;
  for (double u = -fin.half_width; u <= fin.half_width; u += t.spacing, ++k) {
    const Vec2 p = fin.p + side_of(fin.dir) * u;
    const uint8_t v = (k / 2) % 2 ? 255 : 0;
    dot_at(p.x, p.z, v, v, v);
  }
  std::vector<uint8_t> flipped(img.size());
  const size_t row = static_cast<size_t>(tiles) * 3;
  for (size_t y = 0; y < static_cast<size_t>(tiles); ++y)
    std::copy_n(&img[y * row], row, &flipped[(static_cast<size_t>(tiles) - 1 - y) * row]);
  return flipped;
}

}  // namespace

// ---- write_track --------------------------------------------------------------------------

bool write_track(const Output& out, const TrackLayout& t) {
  TerrainResult r;
  if (!shape_terrain(t, r)) {
    std::fprintf(stderr, "kessra-mkdata: %s: can't build the height field\n", t.dir.c_str());
    return false;
  }
  const MaterialSet mats = track_materials(t);
  paint_tile_map(t, mats, r);
  const Lighting light = track_lighting(t);
  std::vector<uint8_t> light_factor;
  bake_lighting(light, r.hf, light_factor);

  const Site site{t, r};
  const std::vector<double> lap_s = checkpoint_positions(t);
  const std::vector<Statue> statues = place_statues(site);
  const std::string dir = t.dir + "/";
  auto staged = [&](const char* name) { return stage_path(out, dir + name); };
  const int R = r.hf.size;
  bool ok = true;
  const std::vector<Billboard> billboards = billboard_list(site);
  const std::vector<uint8_t> map = map_pixels(site, mats, statues, billboards);
  const int tiles = 1 << t.exponent;
  ok = ok && make_parent_folders(staged("desc"));
  ok = ok && write_desc_file(staged("desc").c_str(), t.long_name);
  ok = ok && stage_file(out, dir + "terrain.hf", terrain_hf_bytes(r.hf));
  ok = ok && stage_file(out, dir + "tilemap",
                        std::string(r.hf.tile_map.begin(), r.hf.tile_map.end()));
  ok = ok && write_ppm(staged("shadingx2.ppm").c_str(), r.hf.shading.data(), R, R);
  ok = ok && write_pgm(staged("shadows.pgm").c_str(), light_factor.data(), R, R);
  ok = ok && write_tileinfo_file(staged("tileinfo").c_str(), mats.materials.data(),
                                 static_cast<int>(mats.materials.size()));
  ok = ok && write_lighting_file(staged("lighting").c_str(), light);
  ok = ok && write_timing_gates_file(staged("timing_gates").c_str(), make_gates(site, lap_s));
  ok = ok && write_statues_file(staged("statues").c_str(), statue_objects(statues), 0);
  ok = ok && write_billboards_file(staged("billboards").c_str(), billboards, 0);
  ok = ok && write_flaggers_file(staged("flaggers").c_str(), make_flaggers(site, lap_s));
  ok = ok && write_cameras_file(staged("cameras").c_str(), make_cameras(site, lap_s));
  ok = ok && write_png_rgb(staged("map.png").c_str(), map.data(), tiles, tiles);
  if (!ok) std::fprintf(stderr, "kessra-mkdata: %s: writing the track failed\n", t.dir.c_str());
  return ok;
}

}  // namespace ks::mkdata
