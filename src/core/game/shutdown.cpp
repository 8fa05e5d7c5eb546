// Shutdown: releases everything in a fixed order once the main loop has ended, writing the
// configuration on the way.
#include "core/config.h"
#include "core/detail_settings.h"
#include "core/game/game.h"
#include "fs/memory.h"
#include "fs/vfs.h"
#include "platform/vant.h"
#include "platform/vant_window.h"
#include "track/track_list.h"

namespace ks {

namespace {

// ---- later-subsystem steps -------------------------------------------------------------

// Draws a line of text over the menu background and presents the frame.
void draw_loading_text(const char*) {}
// Sends the disconnect message, closes the socket and resets the client state.
void disconnect_from_server() {}
// Scores the series event being raced; saves the current track's learned lines.
void finish_series_and_lines() {}
// Destroys the contact joint group.
void destroy_contact_group() {}
// Frees one slot's engine-sound voice and its bike.
void free_bike_slot(int) {}
// Cached sounds, the played and the recorded demo, the track, the physics world.
void free_race_resources() {}
// The growable lists of the track contents and the HUD.
void free_content_lists() {}
// The cursor axes and every AxisHandle held by a binding.
void close_input_devices() {}
// Audio output, the audio recording file and the sample cache.
void close_audio() {}
// The Track choice is written as its directory.
void store_selected_track(const GameState& g, Settings& s) {
  const TrackList& tracks = track_list();
  if (g.selected_track >= 0 && g.selected_track < static_cast<int>(tracks.dirs.size()))
    set_text(s.track.data(), kTrackNameChars,
             tracks.dirs[static_cast<size_t>(g.selected_track)].c_str());
}
// Shuts the socket library down.
void shut_down_sockets() {}
// The points series.
void free_points_series() {}
void free_startup_lists(GameState& g) {
  g.rider_textures = {};
  g.head_textures = {};
  g.bike_textures = {};
  g.wheel_textures = {};
  g.demos.clear();
  set_video_modes(settings(), {});
}
// The remaining cached lists.
void free_cached_lists() {}
void delete_textures() {}
void delete_models() {}
void delete_font_textures() {}

constexpr int kBikeSlots = 160;

}  // namespace

void show_loading_text(const char* text) {
  draw_loading_text(text);
  vant_log("%s\n", text);
}

int shut_down(GameState& g) {
  disconnect_from_server();
  finish_series_and_lines();

  destroy_contact_group();
  vant_log("Deallocating bikes\n");
  for (int slot = 0; slot < kBikeSlots; ++slot) free_bike_slot(slot);
  vant_log("Finished deallocating bikes\n");

  free_race_resources();

  show_loading_text("Freeing memory (1)");
  free_content_lists();

  show_loading_text("Closing input devices");
  close_input_devices();

  show_loading_text("Closing audio");
  close_audio();

  show_loading_text("Writing config files");
  Settings& s = settings();
  const DetailSettings& d = detail_settings();
  // The window size is kept for the next run (in windowed mode it follows the window).
  s.xres = d.xres;
  s.yres = d.yres;
  store_selected_track(g, s);
  write_config(s);
  shut_down_sockets();

  show_loading_text("Freeing memory (2)");
  free_points_series();
  reset_track_list();
  free_interned_strings();

  show_loading_text("Freeing memory (3)");
  free_startup_lists(g);

  show_loading_text("Freeing file list");
  free_roots_and_index();

  show_loading_text("Freeing memory (4)");
  free_cached_lists();

  show_loading_text("Deleting textures");
  delete_textures();
  show_loading_text("Deleting models");
  delete_models();

  delete_font_textures();
  vant_close_gl_window(g.window);
  g.window = nullptr;
  vant_log(nullptr);
  allocation_report();
  vant_sleep(1, 0);
  return 0;
}

}  // namespace ks
