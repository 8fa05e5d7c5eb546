// Finding the tracks: every folder of the file list that holds a "terrain.hf" (or one of
// its variants), named by the first line of its "desc".
#include "track/track_list.h"

#include <cstring>

#include "core/detail_settings.h"
#include "fs/vfs.h"
#include "platform/vant.h"
#include "track/track.h"

namespace ks {
namespace {

constexpr const char* kTerrainSuffixes[] = {"/terrain.hf", "/terrain.hf.gz",
                                            "/terrain.hf.scram", "/terrain.hf.gz.scram"};
constexpr size_t kMaxLongName = 1023;

int lower(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c; }

// Case-blind comparison, independent of the locale.
int compare_names(const std::string& a, const std::string& b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const int d = lower(static_cast<unsigned char>(a[i])) - lower(static_cast<unsigned char>(b[i]));
    if (d != 0) return d;
  }
  return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

bool same_name(const std::string& a, const std::string& b) {
  return a.size() == b.size() && compare_names(a, b) == 0;
}

// The folder of a terrain file name, or empty when the name is something else.
std::string terrain_folder(const char* name) {
  const size_t len = std::strlen(name);
  for (const char* suffix : kTerrainSuffixes) {
    const size_t n = std::strlen(suffix);
    if (len > n && std::strcmp(name + len - n, suffix) == 0) {
      return std::string(name, len - n);
    }
  }
  return {};
}

}  // namespace

TrackList& track_list() {
  static TrackList list;
  return list;
}

void reset_track_list() { track_list() = TrackList{}; }

std::string track_long_name(const std::string& dir) {
  const std::string name = "@" + dir + "/desc";
  VfsFile* f = vfs_open(name.c_str(), "rb");
  if (f == nullptr) return dir;
  std::string text;
  for (int c = vfs_getc(f); c > 0 && c != '\r' && c != '\n'; c = vfs_getc(f)) {
    if (text.size() < kMaxLongName) text.push_back(static_cast<char>(c));
  }
  vfs_close(f);
  return text;
}

void sort_track_list(TrackList& list) {
  // An insertion sort: the same order as an exchange sort for distinct names, and names
  // that compare equal keep their file-list order (an exchange sort would not keep it
  // with three or more names).
  const size_t n = std::min(list.dirs.size(), list.long_names.size());
  for (size_t i = 1; i < n; ++i) {
    for (size_t j = i; j > 0 && compare_names(list.long_names[j - 1], list.long_names[j]) > 0;
         --j) {
      std::swap(list.long_names[j - 1], list.long_names[j]);
      std::swap(list.dirs[j - 1], list.dirs[j]);
    }
  }
}

void build_track_list_from(const std::vector<const char*>& files, TrackList& out,
                           const std::function<void()>& pump) {
  out = TrackList{};
  for (const char* name : files) {
    if (name == nullptr) continue;
    std::string dir = terrain_folder(name);
    if (dir.empty()) continue;
    // A folder holding both "terrain.hf" and a variant is still one track.
    bool seen = false;
    for (const std::string& d : out.dirs) seen = seen || same_name(d, dir);
    if (seen) continue;
    if (pump) pump();
    out.long_names.push_back(track_long_name(dir));
    out.dirs.push_back(std::move(dir));
  }
  sort_track_list(out);
  if (detail_settings().verbose >= 1) {
    for (size_t i = 0; i < out.dirs.size(); ++i) {
      vant_log("%s -> %s\n", out.dirs[i].c_str(), out.long_names[i].c_str());
    }
  }
}

int build_track_list() {
  build_track_list_from(build_index(), track_list(), track_load_seam().pump);
  return static_cast<int>(track_list().dirs.size());
}

int find_track(const TrackList& list, const std::string& dir) {
  for (size_t i = 0; i < list.dirs.size(); ++i) {
    if (list.dirs[i] == dir) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace ks
