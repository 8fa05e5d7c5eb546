// Track scenery: billboards (camera-facing sprites), track objects ("statues" and the
// starting-gate pieces), the 8 x 8 object grid, and the flaggers. Textures and models
// are held by name; the renderer turns them into handles.
//
//   billboards   read_billboards / write_billboards, "#rrggbb#" tints
//   objects      make_track_object / place_track_object, read_statues / write_statues
//   grid         object_grid_cell / build_object_grid
//   flaggers     read_flaggers / write_flaggers and the flagger texture rules
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "track/collision_shape.h"
#include "track/ground_height.h"

namespace ks {

struct VfsFile;

// ---- billboards -------------------------------------------------------------------------

constexpr int kRoostSprites = 2000;

struct Billboard {
  std::array<float, 3> position{};  // y = ground height + height
  float height = 0;                 // above the terrain
  float size = 0;                   // sprite height
  float aspect = 0;                 // width as a multiple of size
  uint32_t texture = 0;             // renderer handle, 0 = none
  uint8_t r = 255, g = 255, b = 255, a = 255;
  uint32_t render = 0;              // renderer's own word
  std::string texture_name;         // empty = no texture
};

// Splits "#rrggbb#name" into colour and name; other names are returned whole and white.
void parse_billboard_texture(const char* text, Billboard& b);

// Appends "[ x h z ] size aspect texture" records until one doesn't scan.
void read_billboards(VfsFile* f, std::vector<Billboard>& out, const GroundHeight& ground);

// Writes every billboard from `first` on that has a texture. Posts
// "Can't open 'billboards'\n" when the file can't be opened; false on any failure.
bool write_billboards(VfsFile* f, const std::vector<Billboard>& list, size_t first);
bool write_billboards_file(const char* path, const std::vector<Billboard>& list, size_t first);

// ---- track objects ----------------------------------------------------------------------

// An angle at or above this makes an upright object that may face the viewer.
constexpr float kUprightAngle = 3.25f;

struct TrackObject {
  std::string model;         // empty = none
  std::string texture;
  std::string normal_map;
  std::string specular_map;
  std::string shape_name;    // as given; empty = none
  std::optional<CollisionShape> shape;  // none when not given or not loadable
  std::array<float, 3> position{};      // (x, ground + y offset, z)
  float y_offset = 0;
  float angle = 0;
  std::array<float, 9> orientation{1, 0, 0, 0, 1, 0, 0, 0, 1};  // row-major, columns = axes
  float facing_distance = 0;  // 2^angle for upright objects, else 0
  int touch_tic = -1;         // last tic a bike touched it
  std::array<uint32_t, 4> render{};
};

// Sets position, orientation and facing distance from x, y offset, z and angle.
void place_track_object(TrackObject& o, const GroundHeight& ground);

// A placed object. Names "null" or empty mean none; a shape that can't be loaded posts
// "Warning: missing shape file %.900s" and leaves the object without one.
TrackObject make_track_object(float x, float y_offset, float z, float angle, const char* model,
                              const char* texture, const char* shape, const GroundHeight& ground);

// Appends "[ x y z ] angle model texture shape" records until one doesn't scan.
void read_statues(VfsFile* f, std::vector<TrackObject>& out, const GroundHeight& ground);

// Writes every object from `first` on. Posts "Can't open 'statues'\n" when the file
// can't be opened; false on any failure.
bool write_statues(VfsFile* f, const std::vector<TrackObject>& list, size_t first);
bool write_statues_file(const char* path, const std::vector<TrackObject>& list, size_t first);

// ---- object grid ------------------------------------------------------------------------

constexpr int kObjectGridSide = 8;

struct ObjectGrid {
  std::array<std::vector<int>, kObjectGridSide * kObjectGridSide> cells;  // by z * 8 + x
};

// floor(((p / W) - 0.125) * 4/3 * 8) clamped to 0..7; 0 for a bad width or coordinate.
int object_grid_cell(float p, float world_width);

// Enters every object: one with a shape in every cell its bounding radius overlaps,
// one without in the cell of its position. Object indices are ascending in each cell.
void build_object_grid(ObjectGrid& grid, const std::vector<TrackObject>& objects,
                       float world_width);

// ---- flaggers ---------------------------------------------------------------------------

struct StartFlagger {
  bool present = false;
  int billboard = -1;
  std::array<float, 3> from{};  // y is the height above the terrain
  std::array<float, 3> to{};
  float size = 0, aspect = 0;
  float walk_duration = 0;      // seconds
  std::array<std::string, 5> textures;
};

struct FinishFlagger {
  bool present = false;
  int billboard = -1;
  std::array<float, 3> position{};
  float size = 0, aspect = 0;
  std::array<std::string, 5> textures;  // billboard, normal, halfway, last lap, finished
};

struct TrackFlagger {
  int billboard = -1;
  std::array<float, 3> position{};
  float size = 0, aspect = 0;
  std::array<int, 4> checkpoints{-1, -1, -1, -1};
  std::array<std::string, 2> textures;  // calm, warning
};

struct Flaggers {
  StartFlagger start;
  FinishFlagger finish;
  std::vector<TrackFlagger> track_side;
};

// Reads the start, finish and track-side flaggers (each section optional at the end of
// the file); checkpoint numbers are clamped to -1 .. checkpoint_count - 1.
void read_flaggers(VfsFile* f, Flaggers& out, int checkpoint_count);

// Creates the flaggers' billboards at the end of `list` and records their indices.
void add_flagger_billboards(Flaggers& fl, std::vector<Billboard>& list,
                            const GroundHeight& ground);

bool write_flaggers(VfsFile* f, const Flaggers& fl);
bool write_flaggers_file(const char* path, const Flaggers& fl);

// Index 0..4 of the start flagger's texture at `seconds` after the race reset.
int start_flagger_texture(const StartFlagger& s, double seconds);
// Where the start flagger stands at `seconds` (y = height above the terrain).
std::array<float, 3> start_flagger_position(const StartFlagger& s, double seconds);
// Index 1..4 of the finish flagger's state texture from the leader's completed laps.
int finish_flagger_texture(int leader_laps, int race_laps, int halfway_lap);

}  // namespace ks
