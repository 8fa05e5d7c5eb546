// The built-in personalities of the robots.
#include <cstring>

#include "autopilot/autopilot.h"
#include "platform/vant.h"

namespace ks {

const std::array<RiderStyle, kRiderStyleCount>& rider_styles() {
  static const std::array<RiderStyle, kRiderStyleCount> table{{
      {"empty", 0, 0, 0.0f, 0.0f, 0.0f},
      {"vosk", 0, 0, 1.0f, 0.2f, 0.4f},
      {"rellin", 2, 1, 10.0f, 0.2f, 0.4f},
      {"tamo", 1, 0, 10.0f, 0.0f, 0.1f},
      {"tester", 3, 3, 1.0f, 0.2f, 0.4f},
  }};
  return table;
}

const RiderStyle& rider_style(int index) {
  const auto& t = rider_styles();
  if (index < 0 || index >= kRiderStyleCount) index = 1;
  return t[static_cast<size_t>(index)];
}

int personality_index(const std::string& name) {
  const auto& t = rider_styles();
  // Row 0 marks a rider that isn't a robot; it can't be asked for by name.
  for (int i = 1; i < kRiderStyleCount; ++i)
    if (name == t[static_cast<size_t>(i)].name) return i;
  vant_log("auto pilot personality '%s' not found\n", name.c_str());
  return 1;
}

}  // namespace ks
