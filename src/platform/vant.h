// The platform layer: clock, sleep, log file, options and the message box.
// These calls need no window and no SDL, so the simulation core may use them.
// The window, input and audio calls live in vant_window.h (game only).
#pragma once

#include <cstdarg>

struct VantTime {
  long sec;   // seconds of the platform clock
  long usec;  // microseconds, always a multiple of 1000 (millisecond clock)
};

// Monotonic millisecond clock; never runs backwards while the program runs.
VantTime vant_time();
// vant_time as seconds, for callers that only need a double.
double vant_seconds();
// Returns no earlier than the given time after the call; the tail yields instead of sleeping.
void vant_sleep(long sec, long usec);

// One timestamped record in the log file. A null format closes the log file.
void vant_log(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void vant_vlog(const char* fmt, va_list ap) __attribute__((format(printf, 1, 0)));
// Logs "Error: %s\n" and keeps the text as the last error message.
void vant_error(const char* text);
const char* vant_last_error();

// Modal message box with an OK button; standard error when no display can show one.
void vant_message_box(const char* title, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
// The window layer installs a real message box here; returns false when it could not show one.
using VantMessageBoxHook = bool (*)(const char* title, const char* text);
void vant_set_message_box_hook(VantMessageBoxHook hook);

// Options from the environment variable VANT_OPTIONS, e.g. "[threaded:yes][sound-rate:11025]".
int vant_option_flag(const char* name, int default_value);
int vant_option_int(const char* name, int default_value);

// Test support: forget the cached VANT_OPTIONS text and close the log, so that the next call
// reads the environment again.
void vant_reset_for_tests();
