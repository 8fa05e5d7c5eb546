// Window, OpenGL context and message box over SDL2.
#include <SDL2/SDL.h>

#include <cstdlib>

#include "platform/vant.h"
#include "platform/vant_window.h"

namespace {

bool display_available() {
  const char* x = std::getenv("DISPLAY");
  const char* w = std::getenv("WAYLAND_DISPLAY");
  return (x && *x) || (w && *w);
}

bool sdl_message_box(const char* title, const char* text) {
  if (!display_available()) return false;
  return SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, title, text, nullptr) == 0;
}

}  // namespace

void vant_install_window_message_box() { vant_set_message_box_hook(sdl_message_box); }

// The window and its OpenGL context are not built yet: opening one fails, and the game
// ends the way it does when a window cannot be opened.
PlatformWindow* vant_open_gl_window(const char*, int, int, int, int, int, int, int) {
  return nullptr;
}

void vant_close_gl_window(PlatformWindow*) {}
