// Settings and the "config" file.
//
// Sections: setting kinds - bindings - defaults - the key table - reading - writing.
#include "core/config.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <variant>

#include "fs/vfs.h"

namespace ks {

// ---- setting kinds ---------------------------------------------------------------------

const char* ChoiceSetting::text() const {
  if (index < 0 || index >= count()) return "";
  return items[static_cast<size_t>(index)].c_str();
}

bool set_choice_by_text(ChoiceSetting& choice, const char* text) {
  for (int i = 0; i < choice.count(); ++i) {
    if (choice.items[static_cast<size_t>(i)] == text) {
      choice.index = i;
      return true;
    }
  }
  return false;
}

bool set_slider_from_text(SliderSetting& slider, const char* text) {
  double v = 0;
  if (scan_text(text, "%lf", &v) != 1) return false;
  if (v < slider.min) v = slider.min;
  if (v > slider.max) v = slider.max;
  slider.value = v;
  return true;
}

bool set_text(char* buf, size_t max_chars, const char* text) {
  size_t n = std::strlen(text);
  if (n > max_chars) n = max_chars;
  std::memcpy(buf, text, n);
  buf[n] = '\0';
  return true;
}

// ---- bindings --------------------------------------------------------------------------

void parse_binding(InputControl& control, const char* value) {
  while (*value == ' ' || *value == '\t') ++value;
  control.key_name.clear();
  control.key_code = 0;
  control.axis_name.clear();
  control.axis = nullptr;
  control.low = 0;
  control.high = 1;
  if (value[0] == '(') {
    if (const char* close = std::strchr(value, ')')) {
      float low = 0;
      float high = 0;
      if (scan_text(value, "(%f,%f)", &low, &high) == 2) {
        control.low = low;
        control.high = high;
        control.axis_name = close + 1;
        return;
      }
    }
  }
  if (std::strncmp(value, "(k)", 3) == 0) value += 3;
  control.key_name = value;
}

std::string format_binding(const InputControl& control) {
  if (!control.key_name.empty()) return "(k)" + control.key_name;
  if (!control.axis_name.empty()) {
    char range[128];
    std::snprintf(range, sizeof range, "(%f,%f)", static_cast<double>(control.low),
                  static_cast<double>(control.high));
    return range + control.axis_name;
  }
  return {};
}

// ---- defaults --------------------------------------------------------------------------

namespace {

ChoiceSetting make_choice(const char* label, std::vector<std::string> items,
                          const char* current) {
  ChoiceSetting c;
  c.label = label;
  c.items = std::move(items);
  set_choice_by_text(c, current);
  return c;
}

SliderSetting make_slider(const char* label, double value, double step, double min,
                          double max) {
  return SliderSetting{label, value, step, min, max};
}

const std::vector<std::string> kNoYes = {"No", "Yes"};

struct ControlDefault {
  const char* label;
  const char* key;
  const char* name;
};

constexpr std::array<ControlDefault, kControlCount> kControls = {{
    {"Throttle", "throttle_key", "x"},
    {"Front Brake", "front_brake_key", "c"},
    {"Rear Brake", "rear_brake_key", "v"},
    {"Left", "left_key", "left"},
    {"Right", "right_key", "right"},
    {"Clutch", "clutch_key", "z"},
    {"Upshift", "upshift_key", "up"},
    {"Downshift", "downshift_key", "down"},
    {"Sit/Dab", "dab_key", "right ctrl"},
    {"Back up", "back_up_key", "b"},
    {"Lean Forward", "lean_forward_key", "n"},
    {"Lean Backward", "lean_backward_key", "m"},
    {"Pause", "pause_key", "pause"},
    {"Step", "step_key", "."},
    {"Rewind", "rewind_key", "\\"},
    {"Skip", "skip_key", "/"},
    {"Previous Bike", "prev_key", "["},
    {"Next Bike", "next_key", "]"},
    {"Chat", "console_key", "t"},
    {"Screenshot", "screenshot_key", "s"},
}};

}  // namespace

Settings& settings() {
  static Settings s = [] {
    Settings fresh;
    reset_settings(fresh);
    return fresh;
  }();
  return s;
}

void reset_settings(Settings& s) {
  s.xres = 640;
  s.yres = 480;
  s.draw_fps = 0;
  s.draw_time = 0;
  s.draw_ping = 1;
  s.draw_speed = 0;
  s.spy = 0;
  set_text(s.track.data(), kTrackNameChars, "rabbithill");
  s.record = make_choice("Record Demo", kNoYes, "No");
  s.skill = make_choice("Robot Skill", {"Novice", "Amateur", "Expert"}, "Novice");
  s.minutes = make_slider("Minutes", 0, 1, 0, 60);
  s.laps = make_slider("Laps", 5, 1, 0, 50);
  for (int i = 0; i < kGateSlotCount; ++i) {
    const int gate = i + 1;
    const char* who = "Empty";
    if (gate == 18 || gate == 19 || (gate >= 21 && gate <= 23)) who = "Robot";
    if (gate == 20) who = "Human";
    const std::string label = "Gate " + std::to_string(gate);
    s.slots[static_cast<size_t>(i)] = make_choice(
        label.c_str(), {"Empty", "Human", "Robot", "Robot (2 stroke)", "Robot (4 stroke)"},
        who);
  }
  s.ghost_fade_distance = make_slider("Ghost Fade Distance", 10, 1, 0, 40);
  s.time_trial_abort = make_choice("Backing Up Aborts Attempt", kNoYes, "Yes");
  s.video_mode = make_choice("Video Mode", {"Default Fullscreen", "Windowed"},
                             "Default Fullscreen");
  s.video_mode_sizes = {{0, 0, 0}, {0, 0, 0}};
  set_text(s.server_name.data(), kServerNameChars, kDefaultServerName);
  clear_server_history(s);
  s.ground_detail = make_slider("Ground Geometric Detail", 70, 1, 0, 100);
  s.ground_texture_detail = make_slider("Ground Texture Levels", 9, 1, 0, 10);
  s.ground_texture_dim =
      make_choice("Ground Texture Resolution",
                  {"32x32", "64x64", "128x128", "256x256", "512x512", "1024x1024"}, "64x64");
  s.ground_mipmaps = make_choice("Enable Ground Mipmaps", kNoYes, "Yes");
  s.texture_compress = make_choice("Compress Textures", {"No", "Yes", "Always"}, "No");
  s.render_texture = make_choice("Terrain Rendering Method",
                                 {"Software", "Hardware/Copy", "Hardware/Direct",
                                  "Shaders/Copy", "Shaders/Direct"},
                                 "Software");
  s.use_shader = make_choice("Use Shader Programs", kNoYes, "Yes");
  s.roost_density = make_slider("Roost Density", 1000, 10, 0, 1000);
  s.reshade_delay = make_slider("Reshade Delay", 8, 1, 0, 20);
  s.lens_flare = make_choice("Enable Lens Flares", kNoYes, "Yes");
  s.reflections = make_choice("Enable Reflections", kNoYes, "Yes");
  s.hide_rider = make_choice("Hide 1st Person Rider", kNoYes, "No");
  s.rigid_camera = make_choice("Rigid 3rd person camera", kNoYes, "No");
  s.model_detail = make_slider("Model Geometric Detail", 50, 1, 0, 100);
  s.model_texture_detail = make_slider("Model Texture Detail", 9, 1, 0, 10);
  s.fov = make_slider("Field Of View", 110, 1, 10, 170);
  s.first_person_height = make_slider("1st Person Height", 0, 0.03125, 0, 1);
  s.first_person_angle = make_slider("1st Person Angle", 0, 1, 0, 40);
  s.third_person_height = make_slider("3rd Person Height", 5, 1, 0, 20);
  s.third_person_distance = make_slider("3rd Person Distance", 10, 1, 5, 40);
  s.volume = make_slider("Volume", 10, 1, 0, 10);
  s.comp_volume = make_slider("Competitor Volume", 8, 1, 0, 10);
  s.playback_mode = make_choice("Playback Mode", {"Playback Only", "Race Against"},
                                "Playback Only");
  s.billboard_optimize_lookahead = 8;
  s.message_lines = 5;
  s.demo_backups = 0;
  s.map_scale = 1.0;
  for (size_t i = 0; i < kControls.size(); ++i) {
    InputControl& c = s.controls[i];
    c = InputControl{};
    c.label = kControls[i].label;
    c.key_name = kControls[i].name;
  }
  s.use_fbo = make_choice("use_fbo", kNoYes, "Yes");
}

void apply_first_graphics_preset(Settings& s) {
  s.ground_detail.value = 70;
  set_choice_by_text(s.ground_mipmaps, "Yes");
  set_choice_by_text(s.texture_compress, "No");
  set_choice_by_text(s.render_texture, "Software");
  set_choice_by_text(s.ground_texture_dim, "64x64");
  set_choice_by_text(s.use_shader, "Yes");
  s.ground_texture_detail.value = 9;
  set_choice_by_text(s.lens_flare, "Yes");
  s.model_detail.value = 50;
  set_choice_by_text(s.reflections, "Yes");
  s.model_texture_detail.value = 9;
  s.roost_density.value = 1000;
  s.reshade_delay.value = 8;
}

void set_video_modes(Settings& s, const std::vector<VideoMode>& listed) {
  const std::string current = s.video_mode.text();
  s.video_mode.items = {"Default Fullscreen", "Windowed"};
  s.video_mode_sizes = {{0, 0, 0}, {0, 0, 0}};
  for (const VideoMode& m : listed) {
    if (m.depth != listed.front().depth) continue;
    char name[48];
    std::snprintf(name, sizeof name, "%dx%d", m.width, m.height);
    s.video_mode.items.emplace_back(name);
    s.video_mode_sizes.push_back(m);
  }
  s.video_mode.index = 0;
  set_choice_by_text(s.video_mode, current.c_str());
}

void clear_server_history(Settings& s) {
  for (auto& entry : s.server_name_hist) entry[0] = '\0';
}

void push_server_history(Settings& s, const char* name) {
  if (name[0] == '\0' || std::strcmp(name, s.server_name_hist[0].data()) == 0) return;
  for (size_t i = kServerHistoryCount - 1; i > 0; --i)
    s.server_name_hist[i] = s.server_name_hist[i - 1];
  set_text(s.server_name_hist[0].data(), kServerNameChars, name);
}

ConfigSeam& config_seam() {
  static ConfigSeam seam;
  return seam;
}

// ---- the key table ---------------------------------------------------------------------

namespace {

struct TextTarget {
  char* buf;
  size_t max_chars;
  bool drop_long;  // a value of max_chars or more characters is ignored, not cut
};
struct ClampedNumber {
  double* value;
  double min;
  double max;
};
struct SetupBlock {};  // where the bike setup lines go

using Target = std::variant<int*, TextTarget, ChoiceSetting*, SliderSetting*, ClampedNumber,
                            InputControl*, SetupBlock>;

struct ConfigKey {
  std::string key;
  Target target;
};

// Every written key in file order. The table points into s.
std::vector<ConfigKey> config_keys(Settings& s) {
  std::vector<ConfigKey> k;
  k.reserve(160);
  char name[32];
  k.push_back({"xres", &s.xres});
  k.push_back({"yres", &s.yres});
  k.push_back({"draw_fps", &s.draw_fps});
  k.push_back({"draw_time", &s.draw_time});
  k.push_back({"draw_ping", &s.draw_ping});
  k.push_back({"draw_speed", &s.draw_speed});
  k.push_back({"spy", &s.spy});
  k.push_back({"track", TextTarget{s.track.data(), kTrackNameChars, false}});
  k.push_back({"record", &s.record});
  k.push_back({"skill", &s.skill});
  k.push_back({"minutes", &s.minutes});
  k.push_back({"laps", &s.laps});
  for (int i = 0; i < kGateSlotCount; ++i) {
    std::snprintf(name, sizeof name, "slot%02d", i);
    k.push_back({name, &s.slots[static_cast<size_t>(i)]});
  }
  k.push_back({"ghost_fade_distance", &s.ghost_fade_distance});
  k.push_back({"time_trial_abort", &s.time_trial_abort});
  k.push_back({"", SetupBlock{}});
  k.push_back({"video_mode", &s.video_mode});
  k.push_back({"server_name", TextTarget{s.server_name.data(), kServerNameChars, false}});
  for (int i = 0; i < kServerHistoryCount; ++i) {
    std::snprintf(name, sizeof name, "server_name_hist%02d", i);
    k.push_back(
        {name, TextTarget{s.server_name_hist[static_cast<size_t>(i)].data(), kServerNameChars,
                          true}});
  }
  k.push_back({"ground_detail", &s.ground_detail});
  k.push_back({"ground_texture_detail", &s.ground_texture_detail});
  k.push_back({"ground_texture_dim", &s.ground_texture_dim});
  k.push_back({"ground_mipmaps", &s.ground_mipmaps});
  k.push_back({"texture_compress", &s.texture_compress});
  k.push_back({"render_texture", &s.render_texture});
  k.push_back({"use_shader", &s.use_shader});
  k.push_back({"roost_density", &s.roost_density});
  k.push_back({"reshade_delay", &s.reshade_delay});
  k.push_back({"lens_flare", &s.lens_flare});
  k.push_back({"reflections", &s.reflections});
  k.push_back({"hide_rider", &s.hide_rider});
  k.push_back({"rigid_camera", &s.rigid_camera});
  k.push_back({"model_detail", &s.model_detail});
  k.push_back({"model_texture_detail", &s.model_texture_detail});
  k.push_back({"fov", &s.fov});
  k.push_back({"first_person_height", &s.first_person_height});
  k.push_back({"first_person_angle", &s.first_person_angle});
  k.push_back({"third_person_height", &s.third_person_height});
  k.push_back({"third_person_distance", &s.third_person_distance});
  k.push_back({"volume", &s.volume});
  k.push_back({"comp_volume", &s.comp_volume});
  k.push_back({"playback_mode", &s.playback_mode});
  k.push_back({"billboard_optimize_lookahead", &s.billboard_optimize_lookahead});
  k.push_back({"message_lines", &s.message_lines});
  k.push_back({"demo_backups", &s.demo_backups});
  k.push_back({"map_scale", ClampedNumber{&s.map_scale, 0.125, 8}});
  for (size_t i = 0; i < kControls.size(); ++i) k.push_back({kControls[i].key, &s.controls[i]});
  return k;
}

// ---- reading ---------------------------------------------------------------------------

void read_value(const Target& target, const char* value) {
  if (auto* p = std::get_if<int*>(&target)) {
    int v = 0;
    if (scan_text(value, "%d", &v) == 1) **p = v;
  } else if (auto* t = std::get_if<TextTarget>(&target)) {
    if (t->drop_long && std::strlen(value) >= t->max_chars) return;
    set_text(t->buf, t->max_chars, value);
  } else if (auto* c = std::get_if<ChoiceSetting*>(&target)) {
    set_choice_by_text(**c, value);
  } else if (auto* sl = std::get_if<SliderSetting*>(&target)) {
    set_slider_from_text(**sl, value);
  } else if (auto* n = std::get_if<ClampedNumber>(&target)) {
    double v = 0;
    if (scan_text(value, "%lf", &v) == 1) *n->value = std::clamp(v, n->min, n->max);
  } else if (auto* b = std::get_if<InputControl*>(&target)) {
    parse_binding(**b, value);
  }
}

}  // namespace

void apply_config_line(Settings& s, const char* line) {
  const char* eq = std::strchr(line, '=');
  if (!eq) return;
  const std::string key(line, static_cast<size_t>(eq - line));
  std::string value(eq + 1);
  while (!value.empty() && (value.back() == '\r' || value.back() == '\n')) value.pop_back();

  if (const ConfigSeam& seam = config_seam();
      seam.read_setup_line && seam.read_setup_line(key.c_str(), value.c_str()))
    return;

  if (key == "ground_texture_distance") return;  // old key, no longer used
  if (key == "use_fbo") {
    if (set_choice_by_text(s.use_fbo, value.c_str()))
      set_choice_by_text(s.render_texture, s.use_fbo.index == 1 ? "Hardware/Direct"
                                                                : "Hardware/Copy");
    return;
  }
  for (const ConfigKey& k : config_keys(s)) {
    if (!k.key.empty() && k.key == key) {
      read_value(k.target, value.c_str());
      return;
    }
  }
}

bool next_config_line(VfsFile* f, char (&line)[kConfigLineBytes]) {
  const long before = vfs_tell(f);
  if (!vfs_gets(f, line, sizeof line)) return false;
  // Counted from the position, since a line may hold NUL bytes.
  const long got = vfs_tell(f) - before;
  if (got >= static_cast<long>(sizeof line) - 1 && line[sizeof line - 2] != '\n') {
    // Overlong line: drop the rest of it, so it is never read as a line of its own.
    int c;
    while ((c = vfs_getc(f)) != -1 && c != '\n') {
    }
  }
  return true;
}

void read_config_file(Settings& s, VfsFile* f) {
  char line[kConfigLineBytes];
  while (next_config_line(f, line)) apply_config_line(s, line);
}

void read_config(Settings& s) {
  VfsFile* f = vfs_open("@config", "rb");
  if (!f) return;
  read_config_file(s, f);
  vfs_close(f);
}

// ---- writing ---------------------------------------------------------------------------

bool write_config_file(const Settings& s, VfsFile* f) {
  // The table only reads through its pointers here.
  for (const ConfigKey& k : config_keys(const_cast<Settings&>(s))) {
    const char* key = k.key.c_str();
    if (auto* p = std::get_if<int*>(&k.target)) {
      vfs_printf(f, "%s=%d\n", key, **p);
    } else if (auto* t = std::get_if<TextTarget>(&k.target)) {
      vfs_printf(f, "%s=%s\n", key, t->buf);
    } else if (auto* c = std::get_if<ChoiceSetting*>(&k.target)) {
      vfs_printf(f, "%s=%s\n", key, (*c)->text());
    } else if (auto* sl = std::get_if<SliderSetting*>(&k.target)) {
      vfs_printf(f, "%s=%f\n", key, (*sl)->value);
    } else if (auto* n = std::get_if<ClampedNumber>(&k.target)) {
      vfs_printf(f, "%s=%f\n", key, *n->value);
    } else if (auto* b = std::get_if<InputControl*>(&k.target)) {
      const std::string value = format_binding(**b);
      if (!value.empty()) vfs_printf(f, "%s=%s\n", key, value.c_str());
    } else if (std::holds_alternative<SetupBlock>(k.target)) {
      if (const ConfigSeam& seam = config_seam(); seam.write_setup_lines)
        seam.write_setup_lines(f);
    }
  }
  return !vfs_write_failed(f);
}

bool write_config(const Settings& s) {
  VfsFile* f = vfs_open_replace("@config");
  if (!f) return false;
  if (!write_config_file(s, f)) {
    vfs_close(f);  // discards the temporary file; the old config stays
    return false;
  }
  return vfs_commit(f);
}

}  // namespace ks
