// Line reading, trimming and safe output for the track files.
#include "track/track_text.h"

#include <cstring>

#include "fs/messages.h"
#include "fs/vfs.h"

namespace ks {

bool read_track_line(VfsFile* f, std::string& line) {
  line.clear();
  int c = vfs_getc(f);
  if (c < 0) return false;
  while (c >= 0 && c != '\n') {
    if (line.size() < kMaxTrackLine) line.push_back(static_cast<char>(c));
    c = vfs_getc(f);
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

const char* skip_blanks(const char* s) {
  while (*s == ' ' || *s == '\t') ++s;
  return s;
}

void trim_right(std::string& s) {
  while (!s.empty()) {
    char c = s.back();
    if (c != ' ' && c != '\t' && c != '\r' && c != '\n' && c != '\f' && c != '\v') break;
    s.pop_back();
  }
}

VfsFile* open_track_output(const char* path, const char* label) {
  VfsFile* f = vfs_open_replace(path);
  if (f == nullptr) post_messagef("Can't open '%s'\n", label);
  return f;
}

bool commit_track_output(VfsFile* f, const char* label) {
  if (f == nullptr) return false;
  if (!vfs_commit(f)) {
    post_messagef("Error writing '%s'\n", label);
    return false;
  }
  return true;
}

std::string name_or_none(const char* word) {
  if (word == nullptr || word[0] == '\0' || std::strcmp(word, "null") == 0) return {};
  return word;
}

const char* none_as_null(const std::string& name) {
  return name.empty() ? "null" : name.c_str();
}

bool write_track_output(const char* path, const char* label,
                        const std::function<bool(VfsFile*)>& body) {
  VfsFile* f = open_track_output(path, label);
  if (f == nullptr) return false;
  if (!body(f)) {
    vfs_close(f);
    return false;
  }
  return commit_track_output(f, label);
}

}  // namespace ks
