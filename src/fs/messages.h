// The on-screen message list: a ring of 1000 lines of at most 255 characters. Every posted
// line is also written to the log.
#pragma once

#include <array>

namespace ks {

constexpr int kMessageRingLines = 1000;
constexpr int kMessageLineChars = 255;

struct MessageList {
  std::array<std::array<char, kMessageLineChars + 1>, kMessageRingLines> lines{};
  int next = 0;            // ring index of the next line to write
  int shown = 0;           // number of newest lines on screen
  int max_shown = 5;       // the message_lines setting
  double expire_time = 0;  // game clock time at which the next shown line goes
};

MessageList& message_list();
// Empties the ring and the shown count; max_shown (a setting) stays.
void clear_messages();
// The game clock that message expiry uses; vant_seconds until the game installs its own.
void set_message_clock(double (*clock)());

// Shows the text and logs it; returns the new shown count.
int post_message(const char* text);
int post_messagef(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// A burst stays 2 s after the last post, then one line goes every 5 s.
void expire_messages();
// The k-th newest line (0 = newest), or nullptr past the ring.
const char* message_line(int k);

}  // namespace ks
