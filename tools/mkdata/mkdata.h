// The default data generator's own records and the entry point of each asset family.
//
//   numbers        Vec2, the seeded generator
//   output         the staging tree and the ".saf" packer (archive.cpp)
//   layout         the lap, the start chute and the features along them (track_layout.cpp)
//   terrain        heights and the per-sample track lookup (terrain_shape.cpp)
//   materials      ground materials and the painted tile map (materials.cpp)
//   baking         shading and shadows (bake.cpp)
//   contents       gates, cameras, statues, billboards, flaggers, desc, lighting, map
//   common         shapes and other files of "zzzz.saf" (shapes.cpp, common.cpp)
#pragma once

#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "track/heightfield.h"
#include "track/lighting.h"

namespace ks::mkdata {

// ---- numbers ------------------------------------------------------------------------------

struct Vec2 {
  double x = 0, z = 0;
};
inline Vec2 operator+(Vec2 a, Vec2 b) { return {a.x + b.x, a.z + b.z}; }
inline Vec2 operator-(Vec2 a, Vec2 b) { return {a.x - b.x, a.z - b.z}; }
inline Vec2 operator*(Vec2 a, double k) { return {a.x * k, a.z * k}; }
inline double dot(Vec2 a, Vec2 b) { return a.x * b.x + a.z * b.z; }
// Positive when b lies to the +z side of a walking along +x.
inline double cross(Vec2 a, Vec2 b) { return a.x * b.z - a.z * b.x; }
inline double length(Vec2 a) { return std::sqrt(dot(a, a)); }
inline Vec2 normalized(Vec2 a) {
  const double l = length(a);
  return l > 0 ? a * (1.0 / l) : Vec2{1, 0};
}
// The left-hand normal (the +d side of lateral offsets).
inline Vec2 side_of(Vec2 dir) { return {-dir.z, dir.x}; }

inline double clamp01(double t) { return t < 0 ? 0 : (t > 1 ? 1 : t); }
inline double smoothstep(double t) {
  t = clamp01(t);
  return t * t * (3 - 2 * t);
}

// std::mt19937 is fully specified; the standard distributions are not, so draws are made
// here to keep the output identical across standard libraries.
class Draw {
 public:
  explicit Draw(uint32_t seed) : gen_(seed) {}
  double unit() { return static_cast<double>(gen_() >> 8) * (1.0 / 16777216.0); }
  double range(double lo, double hi) { return lo + (hi - lo) * unit(); }
  int below(int n) { return n > 0 ? static_cast<int>(gen_() % static_cast<uint32_t>(n)) : 0; }

 private:
  std::mt19937 gen_;
};

// ---- output -------------------------------------------------------------------------------

// Files are first written into a staging tree (the game's writers write files), then
// packed. Paths inside the tree are "/"-separated names as the archives list them.
struct Output {
  std::string stage;  // staging folder, ends without "/"
};
// Creates every folder along `path` (which names a file).
bool make_parent_folders(const std::string& path);
bool write_bytes(const std::string& path, const std::string& bytes);
bool read_bytes(const std::string& path, std::string& bytes);
// Full staging path of an archive member name.
std::string stage_path(const Output& out, const std::string& name);
bool stage_file(const Output& out, const std::string& name, const std::string& bytes);
// Every regular file under stage/<prefix> (or the whole stage when prefix is empty),
// as member names, sorted bytewise.
std::vector<std::string> list_staged(const Output& out, const std::string& prefix);
// "<size> <name>\n" lines, "-\n", then the data in header order.
bool pack_archive(const Output& out, const std::vector<std::string>& members,
                  const std::string& archive_path);
void remove_tree(const std::string& path);

// ---- layout -------------------------------------------------------------------------------

// The kind of racing surface along a stretch; each track maps it to one of its materials.
enum class Surface : uint8_t { main, hard, sand, soft };

// One height bump along a path: a kicker face (concave, steepening to the lip), a flat top
// and a landing (smooth). `round` makes the face smooth too (whoops, rollers).
struct Mound {
  double start = 0;  // arc position of the foot of the face
  double height = 0;
  double up = 0, top = 0, down = 0;
  bool round = false;
  double end() const { return start + up + top + down; }
};

enum class FeatureKind {
  tabletop,
  double_jump,
  step_up,
  whoops,
  rhythm,
  finish_jump,
  triple
};
const char* feature_name(FeatureKind k);

struct Feature {
  FeatureKind kind;
  double begin = 0, end = 0;  // arc positions on the lap
  double face_height = 0;     // highest take-off face
  bool blind = false;         // a flagger watches the landing
};

struct PathPoint {
  Vec2 p, dir;
  double s = 0;
  double half_width = 12;
  double bank = 0;  // berm height at the outside edge; signed like the curvature
  Surface surface = Surface::main;
};

struct Path {
  std::vector<PathPoint> pts;  // one per `step` of arc length
  double step = 1;
  double length = 0;
  bool closed = false;
  std::vector<Mound> mounds;   // sorted by start
  std::vector<double> profile;  // feature height every `profile_step` of arc length
  double profile_step = 0.25;
  double surface_height(double s) const;  // feature height at arc position s
  // Point at arc position s (wrapped on a closed path, clamped on an open one).
  PathPoint at(double s) const;
};

// The land the track is cut into: rolling farmland with a hill, or coastal dunes.
enum class Ground { hills, dunes };

struct TrackLayout {
  std::string dir, long_name;
  int exponent = 9;
  double spacing = 2;
  Ground ground = Ground::hills;
  uint32_t seed = 1;
  Path lap;
  Path chute;                   // open: from behind the starting gate to the merge
  double merge_s = 0;           // lap position where the chute ends
  double finish_s = 0;          // lap position of the finish line
  double gate_s = 0;            // chute position of the gate slots
  int gate_count = 40;
  double gate_pitch = 3.25;     // ft between neighbouring slots
  double pad_length = 0;        // level pad (height 0) behind and past the gate
  // Lap positions of the checkpoints besides the finish line: every corner's apex (so a
  // cut corner misses a gate) and the middle of every long straight.
  std::vector<double> checkpoint_s;
  std::vector<Feature> features;
  std::vector<double> hay_corners;   // lap positions of corner apexes that get hay bales
  double extent() const { return spacing * std::ldexp(1.0, exponent + 1); }
};

std::vector<TrackLayout> build_layouts();

// ---- terrain ------------------------------------------------------------------------------

// What the ground synthesis learned about one sample; the painter and the scenery read it.
struct SampleInfo {
  int8_t path = -1;       // -1 none, 0 lap, 1 chute
  float s = 0;            // arc position on that path
  float d = 0;            // signed lateral offset
  float half_width = 0;
  float feature = 0;      // feature height above the grade
  float bank = 0;
  Surface surface = Surface::main;
};

struct TerrainResult {
  HeightField hf;
  std::vector<SampleInfo> info;  // R * R
};

bool shape_terrain(const TrackLayout& t, TerrainResult& out);
// The "terrain.hf" bytes with inline 16-bit samples.
std::string terrain_hf_bytes(const HeightField& hf);

// ---- materials ----------------------------------------------------------------------------

// The material table of a track and the index of each role in it.
struct MaterialSet {
  std::vector<TileInfo> materials;
  int off_track = 0, main = 0, hard = 0, sand = 0, soft = 0;
};
MaterialSet track_materials(const TrackLayout& t);
void paint_tile_map(const TrackLayout& t, const MaterialSet& m, TerrainResult& r);

// ---- baking -------------------------------------------------------------------------------

Lighting track_lighting(const TrackLayout& t);
// Fills hf.shading (file scale of "shadingx2.ppm") and the light factor per sample (the
// bytes of "shadows.pgm": 255 lit, 0 in full shadow).
void bake_lighting(const Lighting& l, HeightField& hf, std::vector<uint8_t>& light_factor);

// ---- contents -----------------------------------------------------------------------------

// Writes everything of one track folder into the stage. False when a file can't be written.
bool write_track(const Output& out, const TrackLayout& t);

// ---- common -------------------------------------------------------------------------------

struct ShapeFile {
  std::string name;  // "startgate.shp", ...
  std::string text;
};
std::vector<ShapeFile> standard_shapes();
// The seven collision shapes of the generic bike (frame, fork upper, fork lower, swingarm,
// front wheel, rear wheel, rider).
std::vector<ShapeFile> bike_shapes();
bool write_common(const Output& out);

}  // namespace ks::mkdata
