// Shared helpers of the terrain tests: message capture and small generated fields.
#pragma once

#include <cmath>
#include <string>
#include <vector>

#include "fs/messages.h"
#include "track/heightfield.h"

namespace ks::test {

// Every line in the message list, oldest first (call clear_messages() before the action).
inline std::vector<std::string> posted_messages() {
  std::vector<std::string> out;
  for (int k = 0; k < kMessageRingLines; ++k) {
    const char* line = message_line(k);
    if (line == nullptr || line[0] == '\0') break;
    out.insert(out.begin(), line);
  }
  return out;
}

inline bool was_posted(const std::string& text) {
  for (const std::string& m : posted_messages()) {
    if (m == text) return true;
  }
  return false;
}

// Rolling ground: a few long waves, so every cell slopes differently.
inline float rolling_height(double x, double z) {
  return static_cast<float>(3.0 * std::sin(x * 0.05) + 2.0 * std::cos(z * 0.07) +
                            std::sin((x + z) * 0.13));
}

inline void fill_rolling(HeightField& hf) {
  for (int j = 0; j < hf.size; ++j) {
    for (int i = 0; i < hf.size; ++i) {
      hf.heights[static_cast<size_t>(j * hf.size + i)] =
          rolling_height(i * static_cast<double>(hf.spacing), j * static_cast<double>(hf.spacing));
    }
  }
  update_height_range(hf);
  hf.loaded_heights = hf.heights;
}

}  // namespace ks::test
