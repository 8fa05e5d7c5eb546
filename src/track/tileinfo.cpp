// Ground materials.
//
//   1. defaults
//   2. "roost" arguments (parse_roost)
//   3. the "tileinfo" reader
//   4. the "texturelist" reader
//   5. material codes of transition textures
//   6. the "tileinfo" writer
#include "track/tileinfo.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "fs/messages.h"
#include "fs/vfs.h"
#include "track/heightfield.h"
#include "track/terrain_io.h"

namespace ks {

// ---- 1. defaults -----------------------------------------------------------------------

TileInfo default_tile_info() {
  TileInfo t;
  t.friction[0] = {1.0f, 1.0f};
  t.friction_count = 1;
  t.roll_resist[0] = {5.0f, 15.0f, 1.0f};
  t.roll_resist_count = 1;
  return t;
}

namespace {

constexpr int kLineChars = 4096;

unsigned load_named_texture(const std::string& name) {
  const TerrainRenderSeam& seam = terrain_render_seam();
  if (!seam.load_texture || name.empty()) return 0;
  return seam.load_texture(name.c_str());
}

// One number from text, through the scanner; false for missing or non-finite values.
bool scan_float(const char* text, float* out) {
  float v = 0;
  if (scan_text(text, "%f", &v) != 1 || !std::isfinite(v)) return false;
  *out = v;
  return true;
}

bool all_finite(std::initializer_list<float> values) {
  for (const float v : values) {
    if (!std::isfinite(v)) return false;
  }
  return true;
}

// ---- 2. "roost" arguments --------------------------------------------------------------

enum class RoostField { kFloat, kColour, kFade, kTexture, kSplash };

struct RoostKey {
  const char* key;  // with its "="
  RoostField field;
  float RoostType::*f;
  uint8_t RoostType::*colour;
  int8_t RoostType::*fade;
  const char* warning;
};

const RoostKey kRoostKeys[] = {
    {"splash=", RoostField::kSplash, nullptr, nullptr, nullptr, nullptr},
    {"texture=", RoostField::kTexture, nullptr, nullptr, nullptr, nullptr},
    {"count=", RoostField::kFloat, &RoostType::count, nullptr, nullptr,
     "tileinfo warning: bad count\n"},
    {"dig=", RoostField::kFloat, &RoostType::dig, nullptr, nullptr,
     "tileinfo warning: bad dig\n"},
    {"slip_threshold=", RoostField::kFloat, &RoostType::slip_threshold, nullptr, nullptr,
     "tileinfo warning: bad slip_threshold\n"},
    {"slow_angle=", RoostField::kFloat, &RoostType::slow_angle, nullptr, nullptr,
     "tileinfo warning: bad slow_angle\n"},
    {"fast_angle=", RoostField::kFloat, &RoostType::fast_angle, nullptr, nullptr,
     "tileinfo warning: bad fast_angle\n"},
    {"slow_speed=", RoostField::kFloat, &RoostType::slow_speed, nullptr, nullptr,
     "tileinfo warning: bad slow_speed\n"},
    {"fast_speed=", RoostField::kFloat, &RoostType::fast_speed, nullptr, nullptr,
     "tileinfo warning: bad fast_speed\n"},
    {"size=", RoostField::kFloat, &RoostType::size, nullptr, nullptr,
     "tileinfo warning: bad size\n"},
    {"grow=", RoostField::kFloat, &RoostType::grow, nullptr, nullptr,
     "tileinfo warning: bad grow\n"},
    {"drag=", RoostField::kFloat, &RoostType::drag, nullptr, nullptr,
     "tileinfo warning: bad drag\n"},
    {"vscale=", RoostField::kFloat, &RoostType::vscale, nullptr, nullptr,
     "tileinfo warning: bad vscale\n"},
    {"randomize=", RoostField::kFloat, &RoostType::randomize, nullptr, nullptr,
     "tileinfo warning: bad randomize\n"},
    {"r=", RoostField::kColour, nullptr, &RoostType::r, nullptr, "tileinfo warning: bad r\n"},
    {"g=", RoostField::kColour, nullptr, &RoostType::g, nullptr, "tileinfo warning: bad g\n"},
    {"b=", RoostField::kColour, nullptr, &RoostType::b, nullptr, "tileinfo warning: bad b\n"},
    {"a=", RoostField::kColour, nullptr, &RoostType::a, nullptr, "tileinfo warning: bad a\n"},
    {"fade_r=", RoostField::kFade, nullptr, nullptr, &RoostType::fade_r,
     "tileinfo warning: bad fade_r\n"},
    {"fade_g=", RoostField::kFade, nullptr, nullptr, &RoostType::fade_g,
     "tileinfo warning: bad fade_g\n"},
    {"fade_b=", RoostField::kFade, nullptr, nullptr, &RoostType::fade_b,
     "tileinfo warning: bad fade_b\n"},
    {"fade_a=", RoostField::kFade, nullptr, nullptr, &RoostType::fade_a,
     "tileinfo warning: bad fade_a\n"},
};

bool is_roost_blank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\b';
}

// Integer part, held inside the byte's range (out-of-range conversions are undefined).
template <typename T>
T clamp_to(double v, double lo, double hi) {
  if (!(v >= lo)) v = lo;
  if (v > hi) v = hi;
  return static_cast<T>(static_cast<int>(v));
}

void apply_roost_token(RoostType& rt, const std::string& token) {
  for (const RoostKey& k : kRoostKeys) {
    const size_t n = std::strlen(k.key);
    if (token.compare(0, n, k.key) != 0) continue;
    const char* value = token.c_str() + n;
    float v = 0;
    const bool ok = scan_float(value, &v);
    switch (k.field) {
      case RoostField::kTexture:
        rt.texture_name.assign(value);
        rt.texture = load_named_texture(rt.texture_name);
        return;
      case RoostField::kSplash:
        rt.kind = (ok && v != 0.0f) ? kRoostSplash : kRoostNormal;
        return;
      case RoostField::kFloat:
        rt.*(k.f) = ok ? v : 0.0f;
        break;
      case RoostField::kColour:
        rt.*(k.colour) = ok ? clamp_to<uint8_t>(static_cast<double>(v), 0, 255) : uint8_t{0};
        break;
      case RoostField::kFade:
        rt.*(k.fade) = ok ? clamp_to<int8_t>(static_cast<double>(v) / 128.0, -128, 127)
                          : int8_t{0};
        break;
    }
    if (!ok) post_message(k.warning);
    return;
  }
  post_messagef("tileinfo warning: unknown roost parameter '%.40s'\n", token.c_str());
}

}  // namespace

void parse_roost(TileInfo& pending, const char* arg) {
  if (pending.roost_count >= kMaxRoostTypes) {
    post_message("tileinfo warning: too many roost types\n");
    return;
  }
  RoostType rt;
  const char* p = arg != nullptr ? arg : "";
  std::string token;
  while (*p != '\0') {
    while (*p != '\0' && is_roost_blank(*p)) ++p;
    if (*p == '\0') break;
    token.clear();
    while (*p != '\0' && !is_roost_blank(*p)) {
      if (*p == '"') {
        ++p;
        while (*p != '\0' && *p != '"') token.push_back(*p++);
        if (*p == '"') ++p;
      } else {
        token.push_back(*p++);
      }
    }
    if (!token.empty()) apply_roost_token(rt, token);
  }
  pending.roost[static_cast<size_t>(pending.roost_count++)] = rt;
}

// ---- 3. the "tileinfo" reader ----------------------------------------------------------

namespace {

struct ErodeKey {
  const char* key;
  float ErodeParams::*field;
};

const ErodeKey kErodeKeys[] = {
    {"erode_depth", &ErodeParams::depth},
    {"erode_lower", &ErodeParams::lower},
    {"erode_upper", &ErodeParams::upper},
    {"erode_displacement", &ErodeParams::displacement},
    {"erode_radius", &ErodeParams::radius},
    {"erode_inner_depth", &ErodeParams::inner_depth},
    {"erode_inner_radius", &ErodeParams::inner_radius},
    {"erode_min_slope", &ErodeParams::min_slope},
    {"erode_max_slope", &ErodeParams::max_slope},
    {"erode_off_speed", &ErodeParams::off_speed},
    {"erode_on_speed", &ErodeParams::on_speed},
    {"erode_slip_lower", &ErodeParams::slip_lower},
    {"erode_slip_upper", &ErodeParams::slip_upper},
    {"erode_slip_base_scale", &ErodeParams::slip_base_scale},
    {"erode_slip_scale", &ErodeParams::slip_scale},
    {"erode_downhill_scale", &ErodeParams::downhill_scale},
    {"erode_project_to_ground", &ErodeParams::project_to_ground},
    {"erode_lateral_scale", &ErodeParams::lateral_scale},
    {"erode_front_scale", &ErodeParams::front_scale},
};

// The pending material and how many points of each list the file has given so far.
struct Pending {
  TileInfo tile = default_tile_info();
  int friction_given = 0;
  int roll_given = 0;
  int limits_given = 0;
};

std::string cut_name(const std::string& s) {
  return s.substr(0, std::min(s.size(), static_cast<size_t>(kMaterialNameChars)));
}

void commit(Pending& p, HeightField& hf) {
  TileInfo& t = p.tile;
  std::stable_sort(t.friction.begin(), t.friction.begin() + t.friction_count,
                   [](const FrictionPoint& a, const FrictionPoint& b) { return a.speed < b.speed; });
  std::stable_sort(t.roll_resist.begin(), t.roll_resist.begin() + t.roll_resist_count,
                   [](const RollResistPoint& a, const RollResistPoint& b) {
                     return a.speed < b.speed;
                   });
  if (t.name.empty()) t.name = cut_name(t.texture_name);
  hf.materials[static_cast<size_t>(hf.material_count++)] = std::move(t);
  p = Pending{};
}

// Reads one line into buf (without its line break and CR); a longer line than the buffer
// is cut there and the rest of it dropped. False at the end of the file.
bool read_line(VfsFile* f, char* buf, int size) {
  if (vfs_gets(f, buf, size) == nullptr) return false;
  size_t n = std::strlen(buf);
  if (n > 0 && buf[n - 1] != '\n' && n + 1 == static_cast<size_t>(size)) {
    int c;
    while ((c = vfs_getc(f)) != -1 && c != '\n') {
    }
  }
  while (n > 0 && (buf[n - 1] == '\n' || buf[n - 1] == '\r')) buf[--n] = '\0';
  return true;
}

void tileinfo_line(Pending& p, char* line, HeightField& hf, bool* full) {
  char* end = line;
  while (*end != '\0' && *end != ' ' && *end != '\t' && *end != '\r' && *end != '\n') ++end;
  char* arg = end;
  while (*arg == ' ' || *arg == '\t') ++arg;
  *end = '\0';
  const char* kw = line;
  TileInfo& t = p.tile;

  if (std::strcmp(kw, "name") == 0) {
    t.name = cut_name(arg);
  } else if (std::strcmp(kw, "texture") == 0) {
    t.texture_name = arg;
    t.texture = load_named_texture(t.texture_name);
  } else if (std::strcmp(kw, "friction") == 0) {
    FrictionPoint fp;
    if (p.friction_given >= kMaxFrictionPoints) {
      post_message("tileinfo warning: too many friction points\n");
    } else if (scan_text(arg, "%f %f", &fp.value, &fp.speed) != 2 ||
               !all_finite({fp.value, fp.speed})) {
      post_message("tileinfo warning: bad friction parameters\n");
    } else {
      if (fp.value < 0) fp.value = 0;
      if (fp.speed <= kMinCurveSpeed) fp.speed = kMinCurveSpeed;
      if (p.friction_given == 0) t.friction = {};
      t.friction[static_cast<size_t>(p.friction_given++)] = fp;
      t.friction_count = p.friction_given;
    }
  } else if (std::strcmp(kw, "roll_resist") == 0) {
    RollResistPoint rp;
    if (p.roll_given >= kMaxRollResistPoints) {
      post_message("tileinfo warning: too many roll_resist points\n");
    } else if (scan_text(arg, "%f %f %f", &rp.low, &rp.high, &rp.speed) != 3 ||
               !all_finite({rp.low, rp.high, rp.speed})) {
      post_message("tileinfo warning: bad roll_resist parameters\n");
    } else {
      if (rp.low < 0) rp.low = 0;
      if (rp.high < 0) rp.high = 0;
      if (rp.speed <= kMinCurveSpeed) rp.speed = kMinCurveSpeed;
      if (p.roll_given == 0) t.roll_resist = {};
      t.roll_resist[static_cast<size_t>(p.roll_given++)] = rp;
      t.roll_resist_count = p.roll_given;
    }
  } else if (std::strcmp(kw, "roost") == 0) {
    parse_roost(t, arg);
  } else if (std::strcmp(kw, "erode_limit") == 0) {
    float depth = 0, a = 0, b = 0;
    if (p.limits_given >= kMaxErodeLimits) {
      post_message("tileinfo warning: too many erode limits\n");
    } else if (scan_text(arg, "%f %f %f", &depth, &a, &b) != 3 || !all_finite({depth, a, b})) {
      post_message("tileinfo warning: bad erode_limit\n");
    } else if (p.limits_given > 0 &&
               !(depth > t.erode.limit_depth[static_cast<size_t>(p.limits_given - 1)])) {
      post_message("tileinfo warning: erode_limit depth <= prev depth\n");
    } else {
      if (p.limits_given == 0) {
        t.erode.limit_depth = {};
        t.erode.limit_a = {};
        t.erode.limit_b = {};
      }
      const auto k = static_cast<size_t>(p.limits_given++);
      t.erode.limit_depth[k] = depth;
      t.erode.limit_a[k] = a;
      t.erode.limit_b[k] = b;
      t.erode.limit_count = p.limits_given;
    }
  } else if (std::strcmp(kw, "addtile") == 0) {
    commit(p, hf);
    if (hf.material_count >= kMaxMaterials) *full = true;
  } else {
    for (const ErodeKey& k : kErodeKeys) {
      if (std::strcmp(kw, k.key) != 0) continue;
      float v = 0;
      if (scan_float(arg, &v)) {
        t.erode.*(k.field) = v;
      } else {
        post_messagef("tileinfo warning: bad %s\n", k.key);
      }
      return;
    }
    post_messagef("tileinfo warning: Unknown identifier '%.950s'\n", kw);
  }
}

bool is_blank_line(const char* s) {
  for (; *s != '\0'; ++s) {
    if (*s != ' ' && *s != '\t' && *s != '\r' && *s != '\n') return false;
  }
  return true;
}

void reset_table(HeightField& hf) {
  hf.material_count = 0;
  for (TileInfo& t : hf.materials) t = TileInfo{};
}

}  // namespace

bool load_tileinfo(VfsFile* f, HeightField& hf) {
  if (f == nullptr) return false;
  reset_table(hf);
  Pending p;
  char line[kLineChars];
  bool full = false;
  while (!full && read_line(f, line, kLineChars)) {
    if (is_blank_line(line)) continue;
    tileinfo_line(p, line, hf, &full);
  }
  return true;
}

// ---- 4. the "texturelist" reader -------------------------------------------------------

bool load_texturelist(VfsFile* f, HeightField& hf) {
  if (f == nullptr) return false;
  reset_table(hf);
  char line[kLineChars];
  while (hf.material_count < kMaxMaterials && vfs_gets(f, line, kLineChars) != nullptr) {
    size_t n = std::strlen(line);
    if (n > 0 && line[n - 1] != '\n' && n + 1 == sizeof line) {
      int c;
      while ((c = vfs_getc(f)) != -1 && c != '\n') {
      }
    }
    // Drop the line break (only a real one: the last line may have none) and a CR before it.
    if (n > 0 && line[n - 1] == '\n') line[--n] = '\0';
    if (n > 0 && line[n - 1] == '\r') line[--n] = '\0';
    const char* p = line;
    while (*p == ' ' || *p == '\t') ++p;
    float fr = 1.0f, low = 5.0f, high = 15.0f;
    float a = 0, b = 0, c = 0;
    int used = 0;
    if (scan_text(p, "%f %f %f %n", &a, &b, &c, &used) == 3 && all_finite({a, b, c}) &&
        used > 0 && static_cast<size_t>(used) <= std::strlen(p)) {
      fr = a;
      low = b;
      high = c;
      p += used;
    }
    TileInfo t = default_tile_info();
    t.texture_name = std::string("@") + p;
    t.texture = load_named_texture(t.texture_name);
    t.name = cut_name(t.texture_name);
    t.friction[0] = {fr, 1.0f};
    t.roll_resist[0] = {low, high, 1.0f};
    t.roost[0] = RoostType{};
    t.roost_count = 1;
    hf.materials[static_cast<size_t>(hf.material_count++)] = std::move(t);
  }
  return true;
}

// ---- 5. material codes -----------------------------------------------------------------

std::string texture_short_name(std::string_view texture_name) {
  std::string_view s = texture_name;
  if (!s.empty() && s.front() == '@') s.remove_prefix(1);
  const size_t slash = s.rfind('/');
  if (slash != std::string_view::npos) s.remove_prefix(slash + 1);
  return std::string(s);
}

namespace {

// Index of the first material whose short name is `stem` followed by a dot, or -1.
int find_plain(std::string_view stem, const TileInfo* materials, int count) {
  if (stem.empty()) return -1;
  for (int k = 0; k < count; ++k) {
    const std::string& sn = materials[k].short_name;
    if (sn.size() > stem.size() && sn.compare(0, stem.size(), stem) == 0 &&
        sn[stem.size()] == '.') {
      return k;
    }
  }
  return -1;
}

int make_code(int a, int b, int mask) { return (a << 16) | (b << 8) | mask; }

}  // namespace

int material_code(std::string_view short_name, int own_index, const TileInfo* materials,
                  int count) {
  std::string_view stem = short_name;
  const size_t dot = stem.rfind('.');
  if (dot != std::string_view::npos) stem = stem.substr(0, dot);
  const size_t dash = stem.find('-');
  const std::string_view a_name = stem.substr(0, dash);
  const int a = find_plain(a_name, materials, count);
  if (a < 0) return make_code(own_index, own_index, 0);
  if (dash == std::string_view::npos) return make_code(a, a, 0);
  std::string_view rest = stem.substr(dash + 1);
  if (rest.size() > 3 && rest.compare(0, 3, "alt") == 0 && rest[3] >= '0' && rest[3] <= '9') {
    return make_code(a, a, 0);
  }
  const size_t dash2 = rest.find('-');
  const int b = find_plain(rest.substr(0, dash2), materials, count);
  // A second material we don't know is drawn as the plain first one.
  if (b < 0) return make_code(a, a, 0);
  int mask = 0;
  if (dash2 != std::string_view::npos) {
    const std::string_view m = rest.substr(dash2 + 1);
    if (m.size() == 4 && std::all_of(m.begin(), m.end(), [](char c) { return c == '0' || c == '1'; })) {
      for (const char c : m) mask = (mask << 1) | (c - '0');
    }
  }
  return make_code(a, b, mask);
}

void compute_material_codes(HeightField& hf) {
  const int count = std::clamp(hf.material_count, 0, kMaxMaterials);
  for (int k = 0; k < count; ++k) {
    TileInfo& t = hf.materials[static_cast<size_t>(k)];
    t.short_name = texture_short_name(t.texture_name);
  }
  for (int k = 0; k < count; ++k) {
    TileInfo& t = hf.materials[static_cast<size_t>(k)];
    t.code = material_code(t.short_name, k, hf.materials.data(), count);
  }
}

// ---- 6. the "tileinfo" writer ----------------------------------------------------------

bool write_tileinfo(VfsFile* f, const TileInfo* materials, int count) {
  if (f == nullptr) return false;
  for (int k = 0; k < count; ++k) {
    const TileInfo& t = materials[k];
    if (!t.name.empty()) vfs_printf(f, "name %s\n", t.name.c_str());
    if (!t.texture_name.empty()) vfs_printf(f, "texture %s\n", t.texture_name.c_str());
    for (int i = 0; i < t.friction_count && i < kMaxFrictionPoints; ++i) {
      const FrictionPoint& p = t.friction[static_cast<size_t>(i)];
      vfs_printf(f, "friction %.9g %.9g\n", static_cast<double>(p.value),
                 static_cast<double>(p.speed));
    }
    for (int i = 0; i < t.roll_resist_count && i < kMaxRollResistPoints; ++i) {
      const RollResistPoint& p = t.roll_resist[static_cast<size_t>(i)];
      vfs_printf(f, "roll_resist %.9g %.9g %.9g\n", static_cast<double>(p.low),
                 static_cast<double>(p.high), static_cast<double>(p.speed));
    }
    for (int i = 0; i < t.roost_count && i < kMaxRoostTypes; ++i) {
      const RoostType& r = t.roost[static_cast<size_t>(i)];
      vfs_printf(f, "roost splash=%d texture=\"%s\"", r.kind == kRoostSplash ? 1 : 0,
                 r.texture_name.c_str());
      for (const RoostKey& key : kRoostKeys) {
        if (key.field == RoostField::kFloat) {
          vfs_printf(f, " %s%.9g", key.key, static_cast<double>(r.*(key.f)));
        } else if (key.field == RoostField::kColour) {
          vfs_printf(f, " %s%d", key.key, r.*(key.colour));
        } else if (key.field == RoostField::kFade) {
          vfs_printf(f, " %s%d", key.key, r.*(key.fade) * 128);
        }
      }
      vfs_puts(f, "\n");
    }
    for (const ErodeKey& key : kErodeKeys) {
      vfs_printf(f, "%s %.9g\n", key.key, static_cast<double>(t.erode.*(key.field)));
    }
    for (int i = 0; i < t.erode.limit_count && i < kMaxErodeLimits; ++i) {
      const auto u = static_cast<size_t>(i);
      vfs_printf(f, "erode_limit %.9g %.9g %.9g\n", static_cast<double>(t.erode.limit_depth[u]),
                 static_cast<double>(t.erode.limit_a[u]), static_cast<double>(t.erode.limit_b[u]));
    }
    vfs_puts(f, "addtile\n\n");
  }
  return !vfs_write_failed(f);
}

bool write_tileinfo_file(const char* path, const TileInfo* materials, int count) {
  VfsFile* f = vfs_open_replace(path);
  if (f == nullptr) {
    post_messagef("Can't open '%.950s'", path);
    return false;
  }
  if (!write_tileinfo(f, materials, count)) {
    vfs_close(f);
    return false;
  }
  return vfs_commit(f);
}

}  // namespace ks
