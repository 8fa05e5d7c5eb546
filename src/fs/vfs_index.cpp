// Search roots and the file index over loose files and ".saf" archives.
//
// Sections:
//   1. state and roots
//   2. folders, rename, the home folder in the file browser
//   3. archive headers
//   4. building and searching the index
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "fs/vfs.h"
#include "fs/vfs_file.h"
#include "platform/vant.h"

namespace ks {

namespace {

// ---- 1. state and roots ----------------------------------------------------------------

struct IndexEntry {
  std::string container;  // real path of the file, or of the archive holding it
  std::string name;       // index name, "/"-separated
  int64_t offset = 0;
  int64_t size = 0;
  int rank = 0;
};

struct VfsState {
  bool roots_built = false;
  bool has_home = false;
  std::vector<std::string> roots;
  std::string home_override;
  std::string data_override;
  bool index_built = false;
  std::vector<IndexEntry> entries;
  std::vector<const char*> file_list;
  std::function<void()> pump;
};

VfsState& vfs_state() {
  static VfsState s;
  return s;
}

constexpr size_t kAtNameChars = 511;
constexpr int kMaxFolderDepth = 64;  // guards against folder links that loop

// "\" becomes "/", runs of "/" collapse, and the path ends in "/".
std::string normalise_root(std::string path) {
  std::string out;
  out.reserve(path.size() + 1);
  for (char c : path) {
    if (c == '\\') c = '/';
    if (c == '/' && !out.empty() && out.back() == '/') continue;
    out.push_back(c);
  }
  if (out.empty() || out.back() != '/') out.push_back('/');
  return out;
}

std::string env_or_empty(const char* name) {
  const char* v = std::getenv(name);
  return v != nullptr ? v : "";
}

std::string default_home() {
  std::string xdg = env_or_empty("XDG_DATA_HOME");
  if (!xdg.empty()) return xdg + "/Kessra/";
  std::string home = env_or_empty("HOME");
  if (!home.empty()) return home + "/.local/share/Kessra/";
  return "";
}

std::string default_data() {
  std::string ks_home = env_or_empty("KS_HOME");
  if (!ks_home.empty()) return ks_home + "/";
  char exe[4096];
  ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n <= 0) return "";
  std::string path(exe, static_cast<size_t>(n));
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return "";
  return path.substr(0, slash + 1);
}

void build_roots() {
  VfsState& s = vfs_state();
  if (s.roots_built) return;
  s.roots_built = true;
  s.roots.clear();
  std::string home = s.home_override.empty() ? default_home() : s.home_override;
  std::string data = s.data_override.empty() ? default_data() : s.data_override;
  s.has_home = !home.empty();
  if (s.has_home) s.roots.push_back(normalise_root(home));
  if (!data.empty()) s.roots.push_back(normalise_root(data));
}

void free_index() {
  VfsState& s = vfs_state();
  s.index_built = false;
  s.entries.clear();
  s.entries.shrink_to_fit();
  s.file_list.clear();
  s.file_list.shrink_to_fit();
}

void pump() {
  if (vfs_state().pump) vfs_state().pump();
}

int compare_nocase(const char* a, size_t alen, const char* b, size_t blen) {
  size_t n = std::min(alen, blen);
  for (size_t i = 0; i < n; ++i) {
    unsigned char ca = static_cast<unsigned char>(a[i]);
    unsigned char cb = static_cast<unsigned char>(b[i]);
    if (ca >= 'A' && ca <= 'Z') ca = static_cast<unsigned char>(ca + 32);
    if (cb >= 'A' && cb <= 'Z') cb = static_cast<unsigned char>(cb + 32);
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  if (alen == blen) return 0;
  return alen < blen ? -1 : 1;
}

int compare_nocase(const std::string& a, const std::string& b) {
  return compare_nocase(a.data(), a.size(), b.data(), b.size());
}

bool ends_with_nocase(const std::string& s, const char* suffix) {
  size_t n = std::strlen(suffix);
  return s.size() >= n && compare_nocase(s.data() + s.size() - n, n, suffix, n) == 0;
}

// The home-folder path of an "@" name, or the name itself.
bool resolve_home_name(const char* name, std::string* out) {
  if (name[0] != '@') {
    *out = name;
    return true;
  }
  if (!vfs_has_home()) return false;
  std::string path = std::string(vfs_root(0)) + (name + 1);
  if (path.size() > kAtNameChars) return false;
  *out = path;
  return true;
}

}  // namespace

const char* vfs_root(int index) {
  build_roots();
  VfsState& s = vfs_state();
  if (index < 0 || static_cast<size_t>(index) >= s.roots.size()) return nullptr;
  return s.roots[static_cast<size_t>(index)].c_str();
}

int vfs_root_count() {
  build_roots();
  return static_cast<int>(vfs_state().roots.size());
}

bool vfs_has_home() {
  build_roots();
  return vfs_state().has_home;
}

void vfs_set_roots(const std::string& home, const std::string& data) {
  VfsState& s = vfs_state();
  free_index();
  s.home_override = home;
  s.data_override = data;
  s.roots_built = false;
  s.roots.clear();
}

void free_roots_and_index() {
  VfsState& s = vfs_state();
  free_index();
  s.roots.clear();
  s.roots.shrink_to_fit();
  s.roots_built = false;
  s.has_home = false;
  s.home_override.clear();
  s.data_override.clear();
  s.pump = nullptr;
}

void vfs_set_pump(std::function<void()> fn) { vfs_state().pump = std::move(fn); }

// ---- 2. folders, rename, the home folder ---------------------------------------------------

bool vfs_make_folders(const std::string& dir) {
  std::string path;
  path.reserve(dir.size());
  for (size_t i = 0; i <= dir.size(); ++i) {
    if (i == dir.size() || dir[i] == '/') {
      if (!path.empty() && path != "/") {
        if (::mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) return false;
      }
    }
    if (i < dir.size()) path.push_back(dir[i]);
  }
  struct stat st {};
  return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool locate_game_data() {
  if (vfs_has_home()) {
    const char* home = vfs_root(0);
    vfs_make_folders(home);
    vant_log("VANT_LOGFILE=%slastlog.txt", home);
  }
  for (int i = 0; i < vfs_root_count(); ++i) {
    std::string path = std::string(vfs_root(i)) + "zzzz.saf";
    if (FILE* fp = std::fopen(path.c_str(), "rb")) {
      std::fclose(fp);
      return true;
    }
  }
  return false;
}

bool open_home_folder() {
  if (!vfs_has_home()) return false;
  std::string home = vfs_root(0);
  vfs_make_folders(home);
  while (home.size() > 1 && home.back() == '/') home.pop_back();

  // The browser runs detached: a middle child starts it and exits at once, so nothing
  // waits on the browser and no zombie stays. A close-on-exec pipe reports a failed exec.
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) return false;
  pid_t middle = ::fork();
  if (middle < 0) {
    ::close(report[0]);
    ::close(report[1]);
    return false;
  }
  if (middle == 0) {
    ::close(report[0]);
    pid_t opener = ::fork();
    if (opener == 0) {
      ::setsid();
      const char* argv[] = {"xdg-open", home.c_str(), nullptr};
      ::execvp(argv[0], const_cast<char* const*>(argv));
      int err = errno;
      ssize_t ignored = ::write(report[1], &err, sizeof err);
      (void)ignored;
      ::_exit(127);
    }
    if (opener < 0) {
      int err = errno;
      ssize_t ignored = ::write(report[1], &err, sizeof err);
      (void)ignored;
    }
    ::_exit(0);
  }
  ::close(report[1]);
  int status = 0;
  while (::waitpid(middle, &status, 0) < 0 && errno == EINTR) {
  }
  int err = 0;
  ssize_t n;
  do {
    n = ::read(report[0], &err, sizeof err);
  } while (n < 0 && errno == EINTR);
  ::close(report[0]);
  return n == 0;
}

bool vfs_rename(const char* from, const char* to) {
  if (from == nullptr || to == nullptr) return false;
  std::string src;
  std::string dst;
  if (!resolve_home_name(from, &src) || !resolve_home_name(to, &dst)) return false;
  // rename replaces the target in one step, so a missing source never costs the target
  // (a gap in the demo backups would otherwise drop the next one).
  return std::rename(src.c_str(), dst.c_str()) == 0;
}

// ---- 3. archive headers ------------------------------------------------------------------

namespace {

constexpr size_t kHeaderLine = 1024;

// One header line into `line` (at most kHeaderLine - 1 bytes, stopping after "\n").
size_t read_header_line(FILE* fp, char* line) {
  size_t n = 0;
  while (n < kHeaderLine - 1) {
    int c = std::getc(fp);
    if (c == EOF) break;
    line[n++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  return n;
}

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// Size, separator, name. False when the size is not a decimal number.
bool parse_header_line(const char* line, size_t n, int64_t* size, std::string* name) {
  size_t p = 0;
  while (p < n && is_space(line[p])) ++p;
  bool negative = false;
  if (p < n && (line[p] == '+' || line[p] == '-')) negative = line[p++] == '-';
  size_t digits = 0;
  int64_t value = 0;
  while (p < n && line[p] >= '0' && line[p] <= '9') {
    if (value > (INT64_MAX - 9) / 10) return false;  // not a size any archive holds
    value = value * 10 + (line[p++] - '0');
    ++digits;
  }
  if (digits == 0 || negative) return false;
  *size = value;
  ++p;  // the separator, whatever it is
  name->clear();
  for (; p + 1 < n; ++p) {  // up to the final "\n"
    if (line[p] == '/' && !name->empty() && name->back() == '/') continue;
    name->push_back(line[p]);
  }
  return true;
}

// Adds the members of one archive; nothing when its header is malformed.
void add_archive(const std::string& path, int rank, std::vector<IndexEntry>* out) {
  FILE* fp = std::fopen(path.c_str(), "rb");
  if (fp == nullptr) {
    vant_log("Cannot open archive %s\n", path.c_str());
    return;
  }
  struct stat st {};
  int64_t real_size = ::fstat(fileno(fp), &st) == 0 ? static_cast<int64_t>(st.st_size) : 0;
  std::vector<IndexEntry> found;
  char line[kHeaderLine];
  int64_t header_bytes = 0;
  bool complete = false;
  for (;;) {
    size_t n = read_header_line(fp, line);
    header_bytes += static_cast<int64_t>(n);
    if (n == 0 || line[n - 1] != '\n') break;
    if (n == 2 && line[0] == '-') {
      complete = true;
      break;
    }
    IndexEntry e;
    if (!parse_header_line(line, n, &e.size, &e.name)) break;
    e.container = path;
    e.rank = rank;
    found.push_back(std::move(e));
  }
  std::fclose(fp);
  if (!complete) {
    vant_log("Archive %s has a malformed header\n", path.c_str());
    return;
  }
  int64_t offset = header_bytes;
  for (IndexEntry& e : found) {
    e.offset = offset;
    // Sizes are checked against the archive's real length, so no member reads past it.
    bool fits = offset <= real_size && e.size <= real_size - offset;
    offset = fits ? offset + e.size : real_size + 1;
    if (!fits) {
      vant_log("Archive %s: %s runs past the end\n", path.c_str(), e.name.c_str());
      continue;
    }
    if (e.name.empty() || e.name.find('\0') != std::string::npos) continue;
    out->push_back(std::move(e));
  }
}

// ---- 4. the index ------------------------------------------------------------------------

void list_folder(const std::string& root, const std::string& rel, int rank, int depth,
                 std::vector<IndexEntry>* out) {
  std::string folder = root + rel;
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return;
  std::vector<std::string> names;
  while (dirent* d = ::readdir(dir)) {
    if (std::strcmp(d->d_name, ".") == 0 || std::strcmp(d->d_name, "..") == 0) continue;
    names.emplace_back(d->d_name);
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end());
  std::vector<std::string> subfolders;
  for (const std::string& name : names) {
    std::string full = folder + name;
    struct stat st {};
    if (::stat(full.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      subfolders.push_back(name);
    } else if (S_ISREG(st.st_mode)) {
      IndexEntry e;
      e.container = full;
      e.name = rel + name;
      e.size = static_cast<int64_t>(st.st_size);
      e.rank = rank;
      out->push_back(std::move(e));
    }
  }
  pump();
  if (depth >= kMaxFolderDepth) return;
  for (const std::string& sub : subfolders) list_folder(root, rel + sub + "/", rank, depth + 1, out);
}

void sort_entries(std::vector<IndexEntry>* entries) {
  std::stable_sort(entries->begin(), entries->end(), [](const IndexEntry& a, const IndexEntry& b) {
    int c = compare_nocase(a.name, b.name);
    return c != 0 ? c < 0 : a.rank < b.rank;
  });
}

}  // namespace

const std::vector<const char*>& build_index() {
  VfsState& s = vfs_state();
  if (s.index_built) return s.file_list;
  build_roots();
  free_index();

  vant_log("Listing directories\n");
  std::vector<IndexEntry> entries;
  for (size_t i = 0; i < s.roots.size(); ++i) {
    list_folder(s.roots[i], "", static_cast<int>(i), 0, &entries);
  }
  sort_entries(&entries);

  vant_log("Listing archives\n");
  int next_rank = static_cast<int>(s.roots.size());
  size_t loose = entries.size();
  for (size_t i = 0; i < loose; ++i) {
    const IndexEntry& e = entries[i];
    if (e.name.size() < 5 || !ends_with_nocase(e.name, ".saf")) continue;
    pump();
    std::string container = e.container;  // entries may grow below
    add_archive(container, next_rank++, &entries);
  }

  vant_log("Creating file list\n");
  sort_entries(&entries);
  s.entries = std::move(entries);
  s.file_list.clear();
  for (size_t i = 0; i < s.entries.size(); ++i) {
    if (i > 0 && compare_nocase(s.entries[i - 1].name, s.entries[i].name) == 0) continue;
    s.file_list.push_back(s.entries[i].name.c_str());
  }
  s.index_built = true;
  vant_log("File index complete\n");
  return s.file_list;
}

size_t vfs_index_entry_count() { return vfs_state().entries.size(); }

std::string describe_index_entry(size_t i) {
  const VfsState& s = vfs_state();
  if (i >= s.entries.size()) return "";
  return s.entries[i].name + " -> " + s.entries[i].container;
}

bool vfs_index_built() { return vfs_state().index_built; }

bool vfs_index_find(const char* name, VfsIndexHit* hit) {
  const VfsState& s = vfs_state();
  if (!s.index_built || name == nullptr) return false;
  size_t len = std::strlen(name);
  auto it = std::lower_bound(s.entries.begin(), s.entries.end(), name,
                             [len](const IndexEntry& e, const char* key) {
                               return compare_nocase(e.name.data(), e.name.size(), key, len) < 0;
                             });
  if (it == s.entries.end() || compare_nocase(it->name.data(), it->name.size(), name, len) != 0) {
    return false;
  }
  hit->container = it->container.c_str();
  hit->offset = it->offset;
  hit->size = it->size;
  hit->rank = it->rank;
  return true;
}

}  // namespace ks
