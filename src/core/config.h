// The user's settings and the "config" file: the two kinds of menu setting (choice and
// slider), the control bindings, the settings record with its defaults, and the reader and
// writer of the key=value file.
//
// Sections: setting kinds - control bindings - the settings record - the file.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

struct AxisHandle;  // platform layer; opened for a binding once the window exists

namespace ks {

struct VfsFile;

// ---- setting kinds ---------------------------------------------------------------------

// A choice among texts; the file stores the text of the current item.
struct ChoiceSetting {
  std::string label;
  std::vector<std::string> items;
  int index = 0;  // always a valid item index when items is not empty

  int count() const { return static_cast<int>(items.size()); }
  // The current item's text, or "" when there are no items.
  const char* text() const;
};

// A number; the file stores the value with "%f". The step is for the menus only.
struct SliderSetting {
  std::string label;
  double value = 0;
  double step = 1;
  double min = 0;
  double max = 1;
};

// Selects the first item whose text equals `text` exactly; an unknown text changes nothing.
bool set_choice_by_text(ChoiceSetting& choice, const char* text);
// Scans "%f" and clamps to the range; an unscannable text changes nothing.
bool set_slider_from_text(SliderSetting& slider, const char* text);
// Copies at most max_chars characters into buf (which holds max_chars + 1) and terminates.
bool set_text(char* buf, size_t max_chars, const char* text);

// ---- control bindings ------------------------------------------------------------------

// One binding: a key or button name, or an axis name with the range that maps to 0..1.
struct InputControl {
  std::string label;
  std::string key_name;  // empty: no key
  int key_code = 0;      // resolved after the window opens
  std::string axis_name; // empty: no axis
  AxisHandle* axis = nullptr;
  float low = 0;
  float high = 1;
};

constexpr int kControlCount = 20;

// Reads a binding value: "(low,high)axis name", or a key name with an optional "(k)" in
// front. The binding is cleared first.
void parse_binding(InputControl& control, const char* value);
// The value text as the file stores it; empty when the binding has neither key nor axis.
std::string format_binding(const InputControl& control);

// ---- the settings record ---------------------------------------------------------------

constexpr int kGateSlotCount = 40;
constexpr int kServerHistoryCount = 16;
constexpr size_t kServerNameChars = 127;
constexpr size_t kTrackNameChars = 255;
// The race server that a fresh installation offers.
constexpr const char* kDefaultServerName = "localhost";

// A display mode as the platform lists it.
struct VideoMode {
  int width = 0;
  int height = 0;
  int depth = 0;  // colour bits
};

struct Settings {
  int xres = 640;
  int yres = 480;
  int draw_fps = 0;
  int draw_time = 0;
  int draw_ping = 1;
  int draw_speed = 0;
  int spy = 0;
  std::array<char, kTrackNameChars + 1> track{};
  ChoiceSetting record;
  ChoiceSetting skill;
  SliderSetting minutes;
  SliderSetting laps;
  std::array<ChoiceSetting, kGateSlotCount> slots;
  SliderSetting ghost_fade_distance;
  ChoiceSetting time_trial_abort;
  ChoiceSetting video_mode;
  std::vector<VideoMode> video_mode_sizes;  // parallel to video_mode.items; 0 x 0: desktop
  std::array<char, kServerNameChars + 1> server_name{};
  std::array<std::array<char, kServerNameChars + 1>, kServerHistoryCount> server_name_hist{};
  SliderSetting ground_detail;
  SliderSetting ground_texture_detail;
  ChoiceSetting ground_texture_dim;
  ChoiceSetting ground_mipmaps;
  ChoiceSetting texture_compress;
  ChoiceSetting render_texture;
  ChoiceSetting use_shader;
  SliderSetting roost_density;
  SliderSetting reshade_delay;
  ChoiceSetting lens_flare;
  ChoiceSetting reflections;
  ChoiceSetting hide_rider;
  ChoiceSetting rigid_camera;
  SliderSetting model_detail;
  SliderSetting model_texture_detail;
  SliderSetting fov;
  SliderSetting first_person_height;
  SliderSetting first_person_angle;
  SliderSetting third_person_height;
  SliderSetting third_person_distance;
  SliderSetting volume;
  SliderSetting comp_volume;
  ChoiceSetting playback_mode;
  int billboard_optimize_lookahead = 8;
  int message_lines = 5;
  int demo_backups = 0;
  double map_scale = 1.0;
  // Throttle ... Screenshot, in the order of the file and of the Customize Controls page.
  std::array<InputControl, kControlCount> controls;
  ChoiceSetting use_fbo;  // read from old files, never written
};

// The program's settings, live for the whole run.
Settings& settings();
// Every setting to its default (a fresh installation); the video mode list goes back to
// "Default Fullscreen" and "Windowed".
void reset_settings(Settings& s);
// The graphics values a fresh installation starts from (the first preset of the menu).
void apply_first_graphics_preset(Settings& s);
// "Default Fullscreen", "Windowed", then "%dx%d" for every listed mode of the first listed
// mode's colour depth, in list order. The current choice stays when its text is still there.
void set_video_modes(Settings& s, const std::vector<VideoMode>& listed);
void clear_server_history(Settings& s);
// Makes `name` the newest history entry unless it is empty or already the newest.
void push_server_history(Settings& s, const char* name);

// ---- the file --------------------------------------------------------------------------

// The bike setup keys share the file. read_setup_line is offered every line first and
// returns true when it took the key; write_setup_lines writes its block at its place in
// the key order. Both empty by default.
struct ConfigSeam {
  std::function<bool(const char* key, const char* value)> read_setup_line;
  std::function<void(VfsFile* f)> write_setup_lines;
};
ConfigSeam& config_seam();

constexpr int kConfigLineBytes = 1024;
// The next line of a key=value file; the rest of an overlong line is skipped.
bool next_config_line(VfsFile* f, char (&line)[kConfigLineBytes]);

// One "key=value" line (a trailing "\r" / "\n" allowed); lines without "=" are ignored.
void apply_config_line(Settings& s, const char* line);
// Reads every line of f; a line longer than the line buffer keeps its first part and the
// rest of it is skipped, so a long value can never be read as a key of its own.
void read_config_file(Settings& s, VfsFile* f);
// Reads "@config"; a missing file leaves everything as it is.
void read_config(Settings& s);
// Writes every key in file order; true when every write succeeded.
bool write_config_file(const Settings& s, VfsFile* f);
// Replaces "@config" as a whole (temporary file, then rename), so a failed write keeps the
// old file. True on success.
bool write_config(const Settings& s);

}  // namespace ks
