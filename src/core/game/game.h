// The game's start-up and shutdown driver.
#pragma once

#include <vector>

#include "core/startup_lists.h"

struct PlatformWindow;

namespace ks {

// What start-up builds that shutdown takes apart again.
struct GameState {
  PlatformWindow* window = nullptr;
  int video_mode_used = 0;  // Video Mode index the window was opened with
  bool windowed = false;    // xres and yres follow the window
  // Riding Gear, Helmet, Bike Graphics and Wheel Graphics.
  TextureVariantList rider_textures;
  TextureVariantList head_textures;
  TextureVariantList bike_textures;
  TextureVariantList wheel_textures;
  std::vector<DemoEntry> demos;
  int selected_track = 0;  // the Track choice: an index into the track list
};

GameState& game_state();

// The whole run: start-up, the main loop, shutdown. Returns the exit status.
int game_main(int argc, char** argv);

// The fixed shutdown order after the main loop; returns the exit status (0).
int shut_down(GameState& g);

// Draws `text` over the menu background on the loading screen, then logs it.
void show_loading_text(const char* text);

}  // namespace ks
