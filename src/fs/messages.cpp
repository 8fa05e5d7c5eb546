// The on-screen message list and its expiry.
#include "fs/messages.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/vant.h"

namespace ks {

namespace {

struct MessageState {
  MessageList list;
  double (*clock)() = vant_seconds;
};

MessageState& state() {
  static MessageState s;
  return s;
}

double now() {
  MessageState& s = state();
  return s.clock != nullptr ? s.clock() : vant_seconds();
}

}  // namespace

MessageList& message_list() { return state().list; }

void clear_messages() {
  MessageList& m = state().list;
  const int max_shown = m.max_shown;  // a setting, not part of the ring
  m = MessageList{};
  m.max_shown = max_shown;
}

void set_message_clock(double (*clock)()) { state().clock = clock != nullptr ? clock : vant_seconds; }

int post_message(const char* text) {
  if (text == nullptr) text = "";
  const size_t len = std::strlen(text);
  const bool ends_line = len > 0 && text[len - 1] == '\n';
  // The reset keeps a colour escape from leaking into the log records that follow.
  const char* reset = std::strchr(text, '\033') != nullptr ? "\033[0m" : "";
  vant_log(ends_line ? "%s%s" : "%s%s\n", text, reset);

  MessageList& m = state().list;
  auto& line = m.lines[static_cast<size_t>(m.next)];
  const size_t keep = len < kMessageLineChars ? len : kMessageLineChars;
  std::memcpy(line.data(), text, keep);
  line[keep] = '\0';
  m.next = (m.next + 1) % kMessageRingLines;
  if (m.shown < m.max_shown && m.shown < kMessageRingLines) ++m.shown;
  m.expire_time = now() + 2.0;
  return m.shown;
}

int post_messagef(const char* fmt, ...) {
  if (fmt == nullptr) return post_message("");
  char small[512];
  va_list ap;
  va_start(ap, fmt);
  va_list again;
  va_copy(again, ap);
  const int n = std::vsnprintf(small, sizeof small, fmt, ap);
  va_end(ap);
  int shown;
  if (n < 0) {
    shown = post_message("");
  } else if (static_cast<size_t>(n) < sizeof small) {
    shown = post_message(small);
  } else {
    std::string big(static_cast<size_t>(n) + 1, '\0');
    std::vsnprintf(big.data(), big.size(), fmt, again);
    shown = post_message(big.c_str());
  }
  va_end(again);
  return shown;
}

void expire_messages() {
  MessageList& m = state().list;
  if (m.shown <= 0) return;
  const double t = now();
  if (t > m.expire_time) {
    --m.shown;
    m.expire_time = t + 5.0;
  }
}

const char* message_line(int k) {
  if (k < 0 || k >= kMessageRingLines) return nullptr;
  const MessageList& m = state().list;
  const int i = ((m.next - 1 - k) % kMessageRingLines + kMessageRingLines) % kMessageRingLines;
  return m.lines[static_cast<size_t>(i)].data();
}

}  // namespace ks
