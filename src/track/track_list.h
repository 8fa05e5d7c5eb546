// The list of tracks found in the file index: directory names and long names, sorted by
// long name. It is the item list of the Track choice.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace ks {

struct TrackList {
  std::vector<std::string> dirs;        // folder of each track's "terrain.hf"
  std::vector<std::string> long_names;  // first line of its "desc", else the folder
};

TrackList& track_list();
void reset_track_list();

// Builds the module's list from the file index; returns the number of tracks.
int build_track_list();
// The same from any file list (tests, tools); pump runs once per directory.
void build_track_list_from(const std::vector<const char*>& files, TrackList& out,
                           const std::function<void()>& pump = {});

// Sorts both arrays together by long name without regard to letter case; names that
// compare equal keep their order.
void sort_track_list(TrackList& list);

// The first line of "@dir/desc" up to CR, LF, NUL or the end; the directory without one.
std::string track_long_name(const std::string& dir);

// Index of a directory in the list, or -1.
int find_track(const TrackList& list, const std::string& dir);

}  // namespace ks
