// Helpers of the track-contents tests: parsing text through the file layer, and posted
// messages.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "fs/messages.h"
#include "fs/vfs.h"

namespace ks::test {

// Runs `read(f)` over the bytes of `text` opened as a memory file.
template <typename Read>
void parse_text(const std::string& text, Read read) {
  VfsFile* f = vfs_open_memory(text.data(), text.size());
  read(f);
  vfs_close(f);
}

// The text a writer produces, captured through a real file.
std::string written_text(const std::string& path);

// Lines posted since the last clear_messages(), oldest first.
inline std::vector<std::string> track_messages() {
  std::vector<std::string> out;
  for (int k = 0; k < kMessageRingLines; ++k) {
    const char* line = message_line(k);
    if (line == nullptr || line[0] == '\0') break;
    out.emplace_back(line);
  }
  std::reverse(out.begin(), out.end());
  return out;
}

inline bool track_message_posted(const std::string& text) {
  for (const std::string& m : track_messages()) {
    if (m == text) return true;
  }
  return false;
}

}  // namespace ks::test
