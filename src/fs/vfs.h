// The virtual file system: search roots, the file index over loose files and ".saf"
// archives, "@" names with their ".gz" / ".scram" variants, readers, the formatted
// scanner, writers, backups and atomic replacement.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace ks {

struct VfsFile;  // an open file; see vfs_file.h for the record

// ---- search roots and the index --------------------------------------------------------

// Path of search root `index` (ends in "/"), or nullptr. Builds the roots on first use:
// 0 = the home folder ($XDG_DATA_HOME/Kessra/, else ~/.local/share/Kessra/),
// then KS_HOME, else the folder holding the executable.
const char* vfs_root(int index);
int vfs_root_count();
// Replaces the roots (kessra-sim --home/--data, tests). Empty strings keep the usual rule
// for that root. Frees the index.
void vfs_set_roots(const std::string& home, const std::string& data);

// Creates the home folder, opens "lastlog.txt" there through vant_log and reports whether
// any root holds a readable "zzzz.saf".
bool locate_game_data();

// Called after each listed folder and before each archive, so a loading screen can draw.
void vfs_set_pump(std::function<void()> pump);

// Builds the index once and returns the file list: distinct index names, sorted without
// regard to letter case. Later calls return the same list.
const std::vector<const char*>& build_index();
size_t vfs_index_entry_count();
// "name -> container path" of index entry i (console use); empty when out of range.
std::string describe_index_entry(size_t i);

// Frees the roots and the index; the next use builds the roots again from the environment.
void free_roots_and_index();

// Creates the home folder and asks the desktop to open it in the file browser.
bool open_home_folder();

// "@" names mean the home folder plus the rest. The target is replaced; when the source
// is missing nothing happens and the target stays.
bool vfs_rename(const char* from, const char* to);

// ---- opening ---------------------------------------------------------------------------

// mode is a C stdio mode; "~" before it ("~wb") keeps a numbered backup "%s.~%d~" first.
VfsFile* vfs_open(const char* name, const char* mode);
// A read-only view of bytes in memory (the caller keeps them alive). For parsers, tests and
// fuzz targets.
VfsFile* vfs_open_memory(const void* data, size_t size);
void vfs_close(VfsFile* f);

// Writes go to a temporary file beside the target; vfs_commit flushes, syncs and renames it
// over the target, so a crash or a full disk never leaves a half-written file. vfs_close
// without a commit discards the temporary file.
VfsFile* vfs_open_replace(const char* name);
bool vfs_commit(VfsFile* f);  // closes f in every case

// The whole file as text (NUL-terminated in the string's buffer); at most 16 MiB - 1 bytes.
std::optional<std::string> file_to_string(const char* name);

// ---- reading ---------------------------------------------------------------------------

int vfs_getc(VfsFile* f);                 // 0..255, or -1 at the end
int vfs_peekc(VfsFile* f);                // like getc, but the character stays pushed back
void vfs_ungetc(VfsFile* f, int c);       // one character of push-back
char* vfs_gets(VfsFile* f, char* buf, int size);  // keeps the "\n"; nullptr at the end
size_t vfs_read(VfsFile* f, void* buf, size_t count);
bool vfs_seek(VfsFile* f, long offset);   // plain files only, below the length limit
long vfs_tell(VfsFile* f);                // bytes delivered so far (after decompression)
bool vfs_is_gzip(const VfsFile* f);

// scanf conventions; returns the number of assignments or -1. See scan.cpp for the rules.
int vfs_scan(VfsFile* f, const char* fmt, ...);
int vfs_vscan(VfsFile* f, const char* fmt, va_list ap);
// The same scanner over a NUL-terminated text.
int scan_text(const char* text, const char* fmt, ...);
int read_int(VfsFile* f);           // the next "%d", or INT_MIN
void skip_comments(VfsFile* f);     // blank space and whole "#" lines

// ---- writing (plain files only) --------------------------------------------------------

bool vfs_putc(VfsFile* f, int c);
bool vfs_puts(VfsFile* f, const char* text);
size_t vfs_write(VfsFile* f, const void* data, size_t count);
int vfs_printf(VfsFile* f, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
bool vfs_flush(VfsFile* f);
// True once any write or flush on f has failed.
bool vfs_write_failed(const VfsFile* f);

}  // namespace ks
