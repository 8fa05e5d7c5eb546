// Platform options from VANT_OPTIONS: "[name:value]" items in one text.
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/vant.h"

namespace {

struct OptionsState {
  bool read = false;
  std::string text;
};

OptionsState& options_state() {
  static OptionsState s;
  return s;
}

// The text after "[name:", or nullptr when the option is absent.
const char* find_option(const char* name) {
  OptionsState& s = options_state();
  if (!s.read) {
    const char* env = std::getenv("VANT_OPTIONS");
    s.text = env ? env : "";
    s.read = true;
  }
  std::string key = "[";
  key.append(name, strnlen(name, 60));
  key += ':';
  const size_t at = s.text.find(key);
  if (at == std::string::npos) return nullptr;
  return s.text.c_str() + at + key.size();
}

}  // namespace

int vant_option_flag(const char* name, int default_value) {
  const char* v = find_option(name);
  if (!v) return default_value;
  if (std::strncmp(v, "yes]", 4) == 0 || std::strncmp(v, "on]", 3) == 0) return 1;
  if (std::strncmp(v, "no]", 3) == 0 || std::strncmp(v, "off]", 4) == 0) return 0;
  vant_log("unrecognized setting for %s\n", name);
  return default_value;
}

int vant_option_int(const char* name, int default_value) {
  const char* v = find_option(name);
  if (!v) return default_value;
  while (*v == ' ' || *v == '\t') ++v;
  const char* digits = v;
  if (*digits == '-' || *digits == '+') ++digits;
  if (!std::isdigit(static_cast<unsigned char>(*digits))) {
    vant_log("unrecognized setting for %s\n", name);
    return default_value;
  }
  const long value = std::strtol(v, nullptr, 10);
  return static_cast<int>(value);
}

void vant_reset_for_tests() {
  options_state() = OptionsState{};
  vant_log(nullptr);
}
