// Start-up: brings the game up in its fixed order, runs the main loop and shuts down.
//
// Steps whose subsystem is not built yet are named functions that do nothing; each says
// what it will do.
//
// Sections: later-subsystem steps - own steps - game_main.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#endif

#include "core/config.h"
#include "core/detail_settings.h"
#include "core/game/game.h"
#include "core/startup_lists.h"
#include "core/startup_options.h"
#include "demo/demo.h"
#include "fs/memory.h"
#include "fs/messages.h"
#include "fs/vfs.h"
#include "physics/bike_setup.h"
#include "platform/vant.h"
#include "platform/vant_window.h"
#include "track/track_list.h"

namespace ks {

GameState& game_state() {
  static GameState g;
  return g;
}

namespace {

// ---- later-subsystem steps -------------------------------------------------------------

// The 32-byte identifier the multiplayer client sends with its hello.
void compute_build_identifier() {}
// The platform's display mode list.
std::vector<VideoMode> list_video_modes() { return {}; }
// Selects "yz250f(2017)" in the Bike choice, and lets the config reader and writer carry
// the bike setup block.
void select_default_bike() {
  reset_bike_setup(bike_setup());
  install_bike_setup_config_hooks();
}
// Applies the Stability preset for the current Stability value.
void apply_default_stability() {
  BikeSetup& b = bike_setup();
  apply_stability_preset(b, b.stability.value);
}
// Copies the default sun, ambient and clip planes into the track lighting record.
void apply_default_lighting() {}
// Drains the window's events and draws the loading screen at most every 1/16 s.
void pump_loading_screen() {}
// Checks the standard bike collision-shape files against their known hashes.
void check_standard_shapes() {}
// The graphics prefix of the selected bike model; nullptr until the catalog exists.
const char* selected_bike_graphics_prefix() { return nullptr; }
// Selects in each variant list the variant named by the bike setup's texture keys.
void select_texture_variants(GameState&) {}
// Reads the points series.
void read_points_series() {}
// Closes the audio output, if open.
void close_audio_output() {}
// Audio output, or the readback recorder for --record-audio; a failure stays silent.
void open_audio(const StartupOptions&) {}
// Waits until vant_begin_frame hands out a frame, draining events every 1/16 s.
void wait_for_first_frame() {}
// GL extension functions and shader programs; logs GL_VENDOR, GL_RENDERER, GL_VERSION and
// GL_EXTENSIONS and decides the shader and render-to-texture flags.
void load_gl_functions() {}
// Clear colour, back-face culling, row alignment 1, flat shading when asked.
void set_initial_gl_state(const DetailSettings&) {}
// Fonts and the images "!@tach.png", "!@shifter.png", "!@pitboard.png", "!@title.png".
void load_fonts_and_hud_images() {}
// Presents the first frame; false when it could not be presented.
bool present_first_frame() { return false; }
// The cursor axes, every control binding and the fixed menu controls.
void resolve_controls() {}
// The growable lists of the track contents and the HUD, 16 entries each.
void create_content_lists() {}
// The physics world with gravity (0, -32, 0) and the contact joint group.
void create_physics_world() {}
// Opens the file argument as a demo for playback; the start track becomes its track.
bool open_playback_demo(const char*, std::string*) { return false; }
// Empties the 160 bike slots and the lineup; lineup slot 0 is a robot without a demo.
void clear_bike_slots(bool) {}
// Loads the first race: the lineup, 1000 laps, no time limit, the Robot Skill index.
void load_first_race(const char*, bool) {}
// Race view, and the main menu (closed when connecting).
void set_start_display(bool) {}
// The main loop; returns when the window closes.
void run_main_loop(GameState&) {}

// ---- own steps -------------------------------------------------------------------------

bool cpu_has_mmx() {
#if defined(__i386__) || defined(__x86_64__)
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
  return (edx & (1u << 23)) != 0;
#else
  return false;
#endif
}

void build_texture_variant_lists(GameState& g, const std::vector<const char*>& files) {
  g.rider_textures = build_texture_variants(files, "rider_body-");
  g.head_textures = build_texture_variants(files, "rider_head-");
  if (const char* prefix = selected_bike_graphics_prefix())
    g.bike_textures = build_texture_variants(files, prefix);
  g.wheel_textures = build_texture_variants(files, "wheels-");
  select_texture_variants(g);
}

// A name that is no track directory leaves the choice as it is.
void select_start_track(GameState& g, const std::string& dir) {
  const int i = find_track(track_list(), dir);
  if (i >= 0) g.selected_track = i;
}

// Out of memory: the window goes before the message box shows.
void close_window_when_out_of_memory() {
  GameState& g = game_state();
  close_audio_output();
  if (g.window) vant_close_gl_window(g.window);
  g.window = nullptr;
}

void write_err(const std::string& text) {
  if (!text.empty()) std::fputs(text.c_str(), stderr);
}

// --help and --version answer at once, before anything is created on disk. A dry run of
// the parser finds them with the usual matching rules; any other outcome is left to the
// real parse in its place.
bool answer_help_or_version(int argc, char** argv) {
  Settings scratch_settings;
  reset_settings(scratch_settings);
  DetailSettings scratch_detail;
  StartupOptions scratch_options;
  scratch_options.no_mmx = true;  // keeps the dry run from logging
  const CommandLineResult r =
      parse_command_line(argc, argv, scratch_settings, scratch_detail, scratch_options);
  if (r.action == CommandLineAction::help) {
    std::fputs(help_text().c_str(), stdout);
    return true;
  }
  if (r.action == CommandLineAction::version) {
    std::printf("Kessra %s\n", version_label());
    return true;
  }
  return false;
}

}  // namespace

// ---- game_main -------------------------------------------------------------------------

int game_main(int argc, char** argv) {
  vant_install_window_message_box();
  set_out_of_memory_hook(close_window_when_out_of_memory);
  compute_build_identifier();
  if (answer_help_or_version(argc, argv)) return 0;

  if (argc == 2 && std::strcmp(argv[1], "--open-home") == 0) {
    open_home_folder();
    return 0;
  }

  clear_messages();
  // Standard output carries raw video frames with --record-video; on this system it is
  // binary already.

  if (!locate_game_data()) {
    vant_message_box("Problem starting Kessra", "Can't find game data\n");
    return 0;
  }

  Settings& s = settings();
  DetailSettings& d = detail_settings();
  StartupOptions& o = startup_options();
  vant_log("Kessra version %s\n", version_label());
  clear_server_history(s);

  set_video_modes(s, list_video_modes());

  if (!cpu_has_mmx()) {
    vant_log("This CPU does not have MMX!\n");
    o.no_mmx = true;
  }

  select_default_bike();
  apply_default_stability();
  apply_first_graphics_preset(s);
  apply_default_lighting();

  read_config(s);
  compute_detail_settings(s, d);

  const CommandLineResult cl = parse_command_line(argc, argv, s, d, o);
  write_err(cl.err);
  switch (cl.action) {
    case CommandLineAction::exit:
      return cl.status;
    case CommandLineAction::open_home:
      open_home_folder();
      return 0;
    case CommandLineAction::help:
    case CommandLineAction::version:
      return 0;  // answered before start-up
    case CommandLineAction::run:
      break;
  }
  if (o.connect) o.track.clear();
  // The file argument is the demo a playback reset opens; the reset takes the other demo
  // options itself.
  demo_options().play_file = o.file;

  GameState& g = game_state();
  g.video_mode_used = s.video_mode.index;
  g.windowed = s.video_mode.text() == std::string("Windowed");
  int width = d.xres;
  int height = d.yres;
  int mode = o.colour_bits & 0xff;
  if (!g.windowed) {
    mode |= kVantFullscreen;
    width = 0;  // 0 x 0: the desktop's current mode
    height = 0;
    if (g.video_mode_used >= 0 &&
        g.video_mode_used < static_cast<int>(s.video_mode_sizes.size())) {
      width = s.video_mode_sizes[static_cast<size_t>(g.video_mode_used)].width;
      height = s.video_mode_sizes[static_cast<size_t>(g.video_mode_used)].height;
    }
  }
  g.window = vant_open_gl_window("Kessra", width, height, mode, 0, o.depth_bits, 0, 0);
  if (!g.window) return 1;
  apply_window_detail_settings(s, d);

  pump_loading_screen();
  vfs_set_pump(pump_loading_screen);
  const std::vector<const char*>& files = build_index();
  check_standard_shapes();
  build_texture_variant_lists(g, files);
  if (build_track_list() == 0) {
    std::fputs("No tracks found\n", stderr);
    vant_close_gl_window(g.window);
    g.window = nullptr;
    return 1;
  }
  g.demos = build_demo_list(files, d.verbose);
  read_points_series();
  std::string start_track = o.track.empty() ? std::string(s.track.data()) : o.track;
  select_start_track(g, start_track);
  open_audio(o);
  wait_for_first_frame();
  load_gl_functions();
  set_initial_gl_state(d);
  load_fonts_and_hud_images();

  if (present_first_frame()) {
    resolve_controls();
    create_content_lists();
    create_physics_world();
    const bool playback = !o.file.empty();
    std::string race_track = o.track;
    if (playback) open_playback_demo(o.file.c_str(), &race_track);
    clear_bike_slots(playback);
    if (!race_track.empty()) load_first_race(race_track.c_str(), playback);
    set_start_display(o.connect);
  }

  run_main_loop(g);
  return shut_down(g);
}

}  // namespace ks
