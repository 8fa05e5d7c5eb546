// The log file: opened on the first record, every record timestamped and flushed.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/vant.h"

namespace {

struct LogState {
  FILE* file = nullptr;
  bool tried = false;  // the open was attempted (and the first message consumed)
  std::string last_error;
};

LogState& log_state() {
  static LogState s;
  return s;
}

constexpr const char kNamePrefix[] = "VANT_LOGFILE=";

void write_record(FILE* f, const char* text) {
  const VantTime t = vant_time();
  std::fprintf(f, "[%ld:%02ld:%02ld.%02ld] %s", t.sec / 3600, (t.sec / 60) % 60, t.sec % 60,
               t.usec / 10000, text);
  std::fflush(f);
}

// Opens the file named by VANT_LOGFILE, else by a first "VANT_LOGFILE=" message.
void open_log(const char* first_message) {
  LogState& s = log_state();
  s.tried = true;
  std::string name;
  if (const char* env = std::getenv("VANT_LOGFILE"); env && *env) {
    name = env;
  } else if (std::strncmp(first_message, kNamePrefix, sizeof kNamePrefix - 1) == 0) {
    name = first_message + sizeof kNamePrefix - 1;
    while (!name.empty() && (name.back() == '\n' || name.back() == '\r')) name.pop_back();
  }
  if (name.empty()) return;
  const char* mode = "w";
  if (name.compare(0, 2, ">>") == 0) {
    mode = "a";
    name.erase(0, 2);
  } else if (name.compare(0, 1, ">") == 0) {
    name.erase(0, 1);
  }
  if (const char* flags = std::getenv("VANT_LOGFILE_FLAGS"); flags && *flags) mode = flags;
  s.file = std::fopen(name.c_str(), mode);
  if (!s.file) return;
  char line[1200];
  std::snprintf(line, sizeof line, "Logfile \"%s\" opened\n", name.c_str());
  write_record(s.file, line);
  write_record(s.file, "VANT 0.31\n");
}

}  // namespace

void vant_vlog(const char* fmt, va_list ap) {
  LogState& s = log_state();
  if (fmt == nullptr) {
    if (s.file) std::fclose(s.file);
    s.file = nullptr;
    s.tried = false;
    return;
  }
  char text[4096];
  std::vsnprintf(text, sizeof text, fmt, ap);
  if (!s.tried) {
    open_log(text);
    if (std::strncmp(text, kNamePrefix, sizeof kNamePrefix - 1) == 0) return;
  }
  if (s.file) write_record(s.file, text);
}

void vant_log(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  vant_vlog(fmt, ap);
  va_end(ap);
}

void vant_error(const char* text) {
  vant_log("Error: %s\n", text);
  log_state().last_error = text;
}

const char* vant_last_error() { return log_state().last_error.c_str(); }
