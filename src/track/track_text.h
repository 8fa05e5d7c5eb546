// Helpers shared by the track-file readers and writers (internal to the track module).
#pragma once

#include <functional>
#include <string>

namespace ks {

struct VfsFile;

// Longest line kept by read_track_line; the rest of a longer line is dropped.
constexpr size_t kMaxTrackLine = 64 * 1024;

// One line without its line break; false at the end of the file.
bool read_track_line(VfsFile* f, std::string& line);

// Skips leading blanks and tabs.
const char* skip_blanks(const char* s);

// Removes trailing white space.
void trim_right(std::string& s);

// Opens `path` for safe replacement; posts "Can't open '<label>'\n" when that fails.
VfsFile* open_track_output(const char* path, const char* label);
// Commits the file (closing it in every case); posts "Error writing '<label>'\n" on failure.
bool commit_track_output(VfsFile* f, const char* label);
// Opens, runs `body` and commits; a body that reports a failed write discards the file.
bool write_track_output(const char* path, const char* label,
                        const std::function<bool(VfsFile*)>& body);

// "null" or an empty name means none (empty).
std::string name_or_none(const char* word);
// The name, or "null" for none.
const char* none_as_null(const std::string& name);

}  // namespace ks
