// Ground materials and the tile map. Each material has its own grip curve (grip falls as
// the tyre slides faster), rolling resistance (sand drags, concrete-hard ground hardly),
// rut settings and roost; the tile map is painted from where each tile lies on the track.
#include <algorithm>

#include "mkdata.h"

namespace ks::mkdata {

namespace {

struct RoostSpec {
  const char* texture;
  float count, dig, size, grow, drag;
  uint8_t r, g, b, a;
  int8_t fade_a;
};

TileInfo make_material(const char* name, const char* texture,
                       std::initializer_list<FrictionPoint> friction,
                       std::initializer_list<RollResistPoint> roll,
                       std::initializer_list<RoostSpec> roost, float erode_depth,
                       float erode_radius, float erode_displacement, float rut_limit) {
  TileInfo t = default_tile_info();
  t.name = name;
  t.texture_name = texture;
  t.friction_count = 0;
  for (const FrictionPoint& p : friction) t.friction[static_cast<size_t>(t.friction_count++)] = p;
  t.roll_resist_count = 0;
  for (const RollResistPoint& p : roll) t.roll_resist[static_cast<size_t>(t.roll_resist_count++)] = p;
  t.roost_count = 0;
  for (const RoostSpec& s : roost) {
    RoostType& r = t.roost[static_cast<size_t>(t.roost_count++)];
    r.texture_name = s.texture;
    r.count = s.count;
    r.dig = s.dig;
    r.size = s.size;
    r.grow = s.grow;
    r.drag = s.drag;
    r.r = s.r;
    r.g = s.g;
    r.b = s.b;
    r.a = s.a;
    r.fade_a = s.fade_a;
  }
  t.erode.depth = erode_depth;
  t.erode.radius = erode_radius;
  t.erode.inner_radius = erode_radius / 2;
  t.erode.displacement = erode_displacement;
  // Ruts stop deepening at rut_limit below the prepared ground.
  t.erode.limit_count = 2;
  t.erode.limit_depth[0] = 0;
  t.erode.limit_a[0] = 1;
  t.erode.limit_b[0] = 1;
  t.erode.limit_depth[1] = rut_limit;
  t.erode.limit_a[1] = 0;
  t.erode.limit_b[1] = 0;
  return t;
}

TileInfo grass() {
  return make_material("grass", "@grass.png", {{1.0f, 2}, {0.7f, 12}, {0.5f, 35}},
                       {{7, 20, 5}, {9, 24, 60}},
                       {{"@roost_grass.png", 4, 0.4f, 0.15f, 2, 1.0f, 70, 115, 40, 255, -3}},
                       0.35f, 3, 1, 0.4f);
}
TileInfo dune_grass() {
  return make_material("dunegrass", "@dunegrass.png", {{0.95f, 2}, {0.75f, 12}, {0.6f, 35}},
                       {{12, 34, 5}, {15, 40, 60}},
                       {{"@roost_sand.png", 8, 0.8f, 0.2f, 4, 0.8f, 196, 182, 140, 255, -2}},
                       0.8f, 4, 2, 0.8f);
}
TileInfo loam() {
  return make_material(
      "loam", "@loam.png", {{1.25f, 2}, {1.1f, 15}, {0.9f, 40}}, {{6, 20, 5}, {8, 25, 60}},
      {{"@roost_loam.png", 12, 1.0f, 0.3f, 3, 0.6f, 105, 78, 52, 255, -2},
       {"@dust.png", 3, 0.2f, 0.6f, 8, 1.6f, 150, 128, 100, 120, -1}},
      1.0f, 4, 2, 1.25f);
}
TileInfo hardpack() {
  return make_material(
      "hardpack", "@hardpack.png", {{1.1f, 2}, {0.85f, 15}, {0.7f, 40}}, {{4, 12, 5}, {5, 14, 60}},
      {{"@roost_hardpack.png", 6, 0.5f, 0.2f, 2, 0.6f, 140, 112, 84, 255, -3},
       {"@dust.png", 5, 0.1f, 0.7f, 10, 1.5f, 170, 150, 120, 140, -1}},
      0.3f, 3, 1, 0.5f);
}
TileInfo sand() {
  return make_material("sand", "@sand.png", {{0.9f, 2}, {0.8f, 15}, {0.75f, 40}},
                       {{22, 60, 5}, {30, 80, 60}},
                       {{"@roost_sand.png", 20, 1.5f, 0.2f, 4, 0.8f, 205, 185, 135, 255, -2}},
                       2.0f, 5, 3, 2.0f);
}
TileInfo mud() {
  return make_material("mud", "@mud.png", {{0.75f, 2}, {0.6f, 10}, {0.5f, 30}},
                       {{18, 55, 5}, {24, 70, 60}},
                       {{"@roost_mud.png", 10, 1.2f, 0.35f, 1.5f, 0.3f, 70, 52, 36, 255, -1}},
                       1.5f, 4, 2, 1.5f);
}

}  // namespace

MaterialSet track_materials(const TrackLayout& t) {
  MaterialSet m;
  if (t.ground == Ground::dunes) {
    m.materials = {dune_grass(), sand(), hardpack(), mud()};
    m.off_track = 0;
    m.main = 1;
    m.sand = 1;
    m.hard = 2;
    m.soft = 3;
  } else {
    m.materials = {grass(), loam(), hardpack(), sand()};
    m.off_track = 0;
    m.main = 1;
    m.soft = 1;
    m.hard = 2;
    m.sand = 3;
  }
  return m;
}

void paint_tile_map(const TrackLayout& t, const MaterialSet& m, TerrainResult& r) {
  HeightField& hf = r.hf;
  const int tiles = 1 << t.exponent;
  hf.tile_map.assign(static_cast<size_t>(tiles) * static_cast<size_t>(tiles),
                     static_cast<uint8_t>(m.off_track));
  Draw patch(t.seed ^ 0x7469u);
  // A fixed scatter of grass tufts on the track-side dirt.
  std::vector<uint8_t> tuft(static_cast<size_t>(tiles) * static_cast<size_t>(tiles));
  for (auto& b : tuft) b = patch.unit() < 0.35 ? 1 : 0;
  for (int cz = 0; cz < tiles; ++cz) {
    for (int cx = 0; cx < tiles; ++cx) {
      const size_t s = static_cast<size_t>(2 * cz + 1) * static_cast<size_t>(hf.size) +
                       static_cast<size_t>(2 * cx + 1);
      const SampleInfo& si = r.info[s];
      const size_t tile = static_cast<size_t>(cz) * static_cast<size_t>(tiles) + static_cast<size_t>(cx);
      if (si.path < 0) continue;
      const double over = static_cast<double>(std::fabs(si.d) - si.half_width);
      const double feature = static_cast<double>(si.feature);
      int mat = m.off_track;
      if (over <= 1.5) {
        switch (si.surface) {
          case Surface::main: mat = m.main; break;
          case Surface::hard: mat = m.hard; break;
          case Surface::sand: mat = m.sand; break;
          case Surface::soft: mat = m.soft; break;
        }
        // Take-off faces and decks get packed hard by the riders.
        if (feature > 2.5 && si.surface == Surface::main && t.ground == Ground::hills) mat = m.hard;
      } else if (over <= 5 || (over <= 9 && !tuft[tile])) {
        mat = si.surface == Surface::hard ? m.hard : m.main;
      }
      hf.tile_map[tile] = static_cast<uint8_t>(mat);
    }
  }
  hf.material_count = static_cast<int>(m.materials.size());
  for (size_t i = 0; i < m.materials.size(); ++i) hf.materials[i] = m.materials[i];
}

}  // namespace ks::mkdata
