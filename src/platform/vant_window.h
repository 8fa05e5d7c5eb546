// The window side of the platform layer (game only; links SDL2).
#pragma once

struct PlatformWindow;

constexpr int kVantFullscreen = 0x200;  // mode word bit

// Installs SDL's message box behind vant_message_box, used where a display exists.
void vant_install_window_message_box();

// Opens the game window with its OpenGL context, or returns nullptr.
PlatformWindow* vant_open_gl_window(const char* title, int width, int height, int mode,
                                    int alpha_bits, int depth_bits, int stencil_bits,
                                    int accum_bits);
void vant_close_gl_window(PlatformWindow* window);
