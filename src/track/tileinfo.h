// Ground materials: the TileInfo record with its friction and rolling-resistance curves,
// roost types and erosion settings, the "tileinfo" reader and writer, the older
// "texturelist" reader, and the transition codes of material textures.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace ks {

struct VfsFile;
struct HeightField;

constexpr int kMaxMaterials = 256;
constexpr int kMaxFrictionPoints = 8;
constexpr int kMaxRollResistPoints = 8;
constexpr int kMaxRoostTypes = 4;
constexpr int kMaxErodeLimits = 8;
constexpr int kMaterialNameChars = 47;
constexpr float kMinCurveSpeed = 1.0f / 1048576.0f;  // 2^-20

struct FrictionPoint {
  float value = 0;
  float speed = 0;  // 0 ends the list
};

struct RollResistPoint {
  float low = 0;    // force at zero tyre compression
  float high = 0;   // force at full compression
  float speed = 0;  // 0 ends the list
};

enum RoostKind : int { kRoostNormal = 1, kRoostSplash = 2 };

struct RoostType {
  int kind = kRoostNormal;
  std::string texture_name = "@roost.png";
  unsigned texture = 0;  // renderer handle (0 headless)
  float count = 10.0f;
  float dig = 1.0f;
  float slip_threshold = 4.0f;
  float slow_angle = 1.57079632679489662f;
  float fast_angle = 0.196349540849362077f;
  float slow_speed = 0.0f;
  float fast_speed = 64.0f;
  float size = 0.25f;
  float grow = 4.0f;
  float drag = 0.5f;
  float vscale = 1.0f;
  float randomize = 15.0f;
  uint8_t r = 255, g = 255, b = 255, a = 255;
  int8_t fade_r = 0, fade_g = 0, fade_b = 0, fade_a = -2;
};

// 44 four-byte words, in this order.
struct ErodeParams {
  float depth = 1.0f;
  float lower = 50;
  float upper = 150;
  float displacement = 2;
  float radius = 4;
  float inner_depth = 0.125f;
  float inner_radius = 2;
  float min_slope = -0.5f;
  float max_slope = 0.5f;
  float off_speed = 10;
  float on_speed = 15;
  float slip_lower = 0;
  float slip_upper = 5;
  float slip_base_scale = 1;
  float slip_scale = 1.5f;
  float downhill_scale = 0;
  std::array<float, kMaxErodeLimits> limit_depth{0, 1};
  std::array<float, kMaxErodeLimits> limit_a{1, 0};
  std::array<float, kMaxErodeLimits> limit_b{1, 0};
  float project_to_ground = 1;
  float lateral_scale = 1;
  float front_scale = 1;
  int32_t limit_count = 2;
};
static_assert(sizeof(ErodeParams) == 44 * 4, "ErodeParams is 44 words");

struct TileInfo {
  std::string name;          // at most 47 characters
  std::string texture_name;  // as given on the "texture" line
  unsigned texture = 0;      // renderer handle (0 headless)
  std::string short_name;    // texture file name after "@" and the last "/"
  int code = 0;              // material_code
  // Sorted by speed; the first point of speed 0 ends the list. *_count is the number of
  // points before it.
  std::array<FrictionPoint, kMaxFrictionPoints> friction{};
  int friction_count = 0;
  std::array<RollResistPoint, kMaxRollResistPoints> roll_resist{};
  int roll_resist_count = 0;
  std::array<RoostType, kMaxRoostTypes> roost{};
  int roost_count = 0;
  ErodeParams erode{};
};

// A material with the defaults: constant friction 1.0, roll_resist 5 / 15, no roost types,
// default erosion.
TileInfo default_tile_info();

// Reads a "tileinfo" file into hf.materials / hf.material_count (replacing them). Warnings
// go to the message list; returns false only when the file cannot be read at all.
bool load_tileinfo(VfsFile* f, HeightField& hf);
// The older one-material-per-line format.
bool load_texturelist(VfsFile* f, HeightField& hf);
// Adds one RoostType to `pending` from a "roost" line's argument.
void parse_roost(TileInfo& pending, const char* arg);

// Short name of a texture name: after a leading "@" and after the last "/".
std::string texture_short_name(std::string_view texture_name);
// (index of A) << 16 | (index of B) << 8 | mask for the short name at `own_index`.
int material_code(std::string_view short_name, int own_index, const TileInfo* materials,
                  int count);
// Fills short_name and code of every material of hf.
void compute_material_codes(HeightField& hf);

// Writes materials in the "tileinfo" grammar (read back by load_tileinfo to the same
// values). write_tileinfo_file replaces `path` safely; it posts "Can't open '%.950s'" on
// failure.
bool write_tileinfo(VfsFile* f, const TileInfo* materials, int count);
bool write_tileinfo_file(const char* path, const TileInfo* materials, int count);

}  // namespace ks
