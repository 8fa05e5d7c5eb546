// Opening, reading and writing files of the virtual file system.
//
// Sections:
//   1. helpers (modes, paths, folders)
//   2. gzip: header parse and raw inflate
//   3. opening: real paths with backups and variants, "@" names, memory, replace/commit
//   4. readers
//   5. writers
//   6. whole-file helpers
//
// Scrambled variants: there is no descrambler in this build. The open order still tries
// "<name>.scram" and "<name>.gz.scram" after "<name>.gz", but such a file never opens, so
// the search goes on to the next variant (or the next root / index candidate).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstring>

#include "fs/vfs.h"
#include "fs/vfs_file.h"
#include "platform/vant.h"

namespace ks {

namespace {

// ---- 1. helpers ------------------------------------------------------------------------

constexpr size_t kRealPathChars = 1024;   // real paths including a variant suffix
constexpr size_t kAtNameChars = 511;      // root + rest of an "@" name
constexpr size_t kBackupPathChars = 1000;
constexpr size_t kBackupPiece = 64 * 1024;
constexpr size_t kStringLimit = 16u * 1024u * 1024u;

bool mode_is_read_only(const char* mode) {
  return std::strchr(mode, 'r') != nullptr && std::strchr(mode, '+') == nullptr;
}

bool path_exists(const char* path) {
  struct stat st {};
  return ::stat(path, &st) == 0;
}

bool make_parent_folders(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos || slash == 0) return true;
  return vfs_make_folders(path.substr(0, slash));
}

VfsFile* wrap_handle(FILE* fp) {
  auto* f = new VfsFile;
  f->fp = fp;
  return f;
}

// Reads container bytes for the current file: from memory or from the handle.
size_t source_read(VfsFile* f, void* buf, size_t count) {
  if (f->mem != nullptr) {
    size_t n = std::min(count, f->mem_size - f->mem_pos);
    if (n > 0) std::memcpy(buf, f->mem + f->mem_pos, n);
    f->mem_pos += n;
    return n;
  }
  if (f->fp == nullptr) return 0;
  return std::fread(buf, 1, count, f->fp);
}

// ---- 2. gzip ---------------------------------------------------------------------------

// Pulls the next piece of compressed input; false when the container has no more.
bool gz_refill(VfsFile* f) {
  VfsGzip& g = *f->gz;
  if (g.compressed_left <= 0) return false;
  size_t want = static_cast<size_t>(std::min<int64_t>(g.compressed_left, kGzipInputBytes));
  size_t n = source_read(f, g.in.data(), want);
  if (n < want) {
    g.compressed_left = 0;  // the container ended early
  } else {
    g.compressed_left -= static_cast<int64_t>(n);
  }
  g.zs.next_in = g.in.data();
  g.zs.avail_in = static_cast<uInt>(n);
  return n > 0;
}

int gz_header_byte(VfsFile* f) {
  VfsGzip& g = *f->gz;
  if (g.zs.avail_in == 0 && !gz_refill(f)) return -1;
  int c = *g.zs.next_in;
  ++g.zs.next_in;
  --g.zs.avail_in;
  return c;
}

bool gz_skip(VfsFile* f, unsigned count) {
  for (unsigned i = 0; i < count; ++i) {
    if (gz_header_byte(f) < 0) return false;
  }
  return true;
}

bool gz_skip_zero_terminated(VfsFile* f) {
  for (;;) {
    int c = gz_header_byte(f);
    if (c < 0) return false;
    if (c == 0) return true;
  }
}

// Reads the member header (RFC 1952) and starts raw inflate on the bytes after it.
bool gz_start(VfsFile* f, int64_t compressed_size) {
  f->gzip = true;
  f->gz = std::make_unique<VfsGzip>();
  VfsGzip& g = *f->gz;
  g.compressed_left = compressed_size;
  if (gz_header_byte(f) != 0x1F || gz_header_byte(f) != 0x8B) return false;
  if (gz_header_byte(f) != 8) return false;  // deflate
  int flags = gz_header_byte(f);
  if (flags < 0 || flags >= 32) return false;
  if (!gz_skip(f, 6)) return false;  // time, extra flags, system
  if (flags & 4) {
    int lo = gz_header_byte(f);
    int hi = gz_header_byte(f);
    if (lo < 0 || hi < 0) return false;
    if (!gz_skip(f, static_cast<unsigned>(lo | (hi << 8)))) return false;
  }
  if ((flags & 8) && !gz_skip_zero_terminated(f)) return false;
  if ((flags & 16) && !gz_skip_zero_terminated(f)) return false;
  if ((flags & 2) && !gz_skip(f, 2)) return false;
  // The input buffer keeps what is left after the header; inflate continues from there.
  if (inflateInit2(&g.zs, -15) != Z_OK) return false;
  g.inflate_started = true;
  return true;
}

void gz_end(VfsFile* f) {
  if (f->gz && f->gz->inflate_started) inflateEnd(&f->gz->zs);
  f->gz.reset();
}

// Fills the output buffer; false at the end of the stream or at damaged data.
bool gz_fill(VfsFile* f) {
  VfsGzip& g = *f->gz;
  while (!g.stream_end) {
    if (g.zs.avail_in == 0) gz_refill(f);
    g.zs.next_out = g.out.data();
    g.zs.avail_out = static_cast<uInt>(g.out.size());
    int r = inflate(&g.zs, Z_NO_FLUSH);
    size_t produced = g.out.size() - g.zs.avail_out;
    if (r == Z_STREAM_END) {
      g.stream_end = true;
    } else if (r != Z_OK) {
      // Z_BUF_ERROR with no input left is a truncated stream; anything else is damage.
      g.stream_end = true;
    }
    if (produced > 0) {
      g.out_pos = 0;
      g.out_end = produced;
      return true;
    }
  }
  return false;
}

// ---- 3. opening ------------------------------------------------------------------------

// Opens `path` for reading as a plain file; refuses folders.
FILE* open_readable(const char* path, const char* mode) {
  FILE* fp = std::fopen(path, mode);
  if (fp == nullptr) return nullptr;
  struct stat st {};
  if (::fstat(fileno(fp), &st) != 0 || S_ISDIR(st.st_mode)) {
    std::fclose(fp);
    return nullptr;
  }
  return fp;
}

VfsFile* open_gzip_handle(FILE* fp, int64_t start, int64_t size) {
  VfsFile* f = wrap_handle(fp);
  f->start = start;
  if (!gz_start(f, size)) {
    vfs_close(f);
    return nullptr;
  }
  return f;
}

// Copies `path` to the first free "%s.~%d~" name.
bool make_backup(const char* path) {
  FILE* in = std::fopen(path, "rb");
  if (in == nullptr) return true;  // nothing to keep
  char backup[kBackupPathChars];
  bool named = false;
  for (int n = 1; n <= 9999; ++n) {
    int len = std::snprintf(backup, sizeof backup, "%s.~%d~", path, n);
    if (len < 0 || static_cast<size_t>(len) >= sizeof backup) break;
    if (!path_exists(backup)) {
      named = true;
      break;
    }
  }
  if (!named) {
    std::fclose(in);
    return false;
  }
  FILE* out = std::fopen(backup, "wb");
  if (out == nullptr) {
    std::fclose(in);
    return false;
  }
  std::unique_ptr<char[]> piece(new char[kBackupPiece]);
  bool ok = true;
  for (;;) {
    size_t n = std::fread(piece.get(), 1, kBackupPiece, in);
    if (n > 0 && std::fwrite(piece.get(), 1, n, out) != n) ok = false;
    if (n < kBackupPiece) {
      if (std::ferror(in)) ok = false;
      break;
    }
    if (!ok) break;
  }
  std::fclose(in);
  if (std::fclose(out) != 0) ok = false;
  if (!ok) std::remove(backup);  // a partial copy is no backup
  return ok;
}

VfsFile* open_real(const char* path, const char* mode) {
  size_t len = std::strlen(path);
  if (len >= kRealPathChars) return nullptr;
  bool backup = mode[0] == '~';
  if (backup) ++mode;
  bool read_only = mode_is_read_only(mode);
  if (!read_only && !make_parent_folders(path)) return nullptr;
  if (backup && !make_backup(path)) return nullptr;
  FILE* fp = read_only ? open_readable(path, mode) : std::fopen(path, mode);
  if (fp != nullptr) return wrap_handle(fp);
  if (!read_only) return nullptr;

  char variant[kRealPathChars];
  if (len + 3 < sizeof variant) {
    std::snprintf(variant, sizeof variant, "%s.gz", path);
    if (FILE* gfp = open_readable(variant, "rb")) {
      if (VfsFile* f = open_gzip_handle(gfp, 0, INT64_MAX)) return f;
    }
  }
  // "<path>.scram" and "<path>.gz.scram" come next in the order; they have no descrambler
  // here, so they never open.
  return nullptr;
}

VfsFile* open_index_entry(const VfsIndexHit& hit, bool gzip) {
  FILE* fp = open_readable(hit.container, "rb");
  if (fp == nullptr) return nullptr;
  if (hit.offset > 0 && fseeko(fp, static_cast<off_t>(hit.offset), SEEK_SET) != 0) {
    std::fclose(fp);
    return nullptr;
  }
  if (gzip) return open_gzip_handle(fp, hit.offset, hit.size);
  VfsFile* f = wrap_handle(fp);
  f->start = hit.offset;
  f->limit = hit.size;
  return f;
}

VfsFile* open_from_index(const char* rest) {
  size_t len = std::strlen(rest);
  if (len + 9 >= kRealPathChars) return nullptr;
  static constexpr const char* kSuffixes[] = {"", ".gz", ".scram", ".gz.scram"};
  struct Candidate {
    VfsIndexHit hit;
    int variant;
  };
  Candidate found[4];
  int count = 0;
  for (int v = 0; v < 4; ++v) {
    char name[kRealPathChars];
    std::snprintf(name, sizeof name, "%s%s", rest, kSuffixes[v]);
    VfsIndexHit hit;
    if (vfs_index_find(name, &hit)) found[count++] = {hit, v};
  }
  // Lowest rank first; on equal ranks the earlier variant.
  std::stable_sort(found, found + count,
                   [](const Candidate& a, const Candidate& b) { return a.hit.rank < b.hit.rank; });
  for (int i = 0; i < count; ++i) {
    if (found[i].variant >= 2) continue;  // scrambled: no descrambler
    if (VfsFile* f = open_index_entry(found[i].hit, found[i].variant == 1)) return f;
  }
  return nullptr;
}

// The candidate paths of an "@" name, root by root; nullptr when it is over its buffer.
bool at_path(int root, const char* rest, std::string* out) {
  const char* r = vfs_root(root);
  if (r == nullptr) return false;
  size_t len = std::strlen(r) + std::strlen(rest);
  if (len > kAtNameChars) return false;
  *out = std::string(r) + rest;
  return true;
}

// How many roots an "@" name may use. Writes go to the home folder only: the data folder is
// the game's read-only tree, and a home folder that cannot be made must not send a new
// file there.
int writable_roots(bool read_only) {
  if (read_only) return vfs_root_count();
  return vfs_has_home() ? 1 : 0;
}

}  // namespace

VfsFile* vfs_open(const char* name, const char* mode) {
  if (name == nullptr || mode == nullptr) return nullptr;
  if (name[0] != '@') return open_real(name, mode);
  const char* rest = name + 1;
  const char* plain_mode = mode[0] == '~' ? mode + 1 : mode;
  const bool read_only = mode_is_read_only(plain_mode);
  for (int i = 0; i < writable_roots(read_only); ++i) {
    std::string path;
    if (!at_path(i, rest, &path)) continue;
    if (VfsFile* f = open_real(path.c_str(), mode)) return f;
  }
  if (read_only && vfs_index_built()) return open_from_index(rest);
  return nullptr;
}

VfsFile* vfs_open_memory(const void* data, size_t size) {
  auto* f = new VfsFile;
  f->mem = static_cast<const unsigned char*>(data);
  f->mem_size = data != nullptr ? size : 0;
  f->limit = static_cast<int64_t>(std::min<size_t>(f->mem_size, INT64_MAX));
  return f;
}

VfsFile* vfs_open_memory_gzip(const void* data, size_t size) {
  auto* f = new VfsFile;
  f->mem = static_cast<const unsigned char*>(data);
  f->mem_size = data != nullptr ? size : 0;
  if (!gz_start(f, static_cast<int64_t>(std::min<size_t>(f->mem_size, INT64_MAX)))) {
    vfs_close(f);
    return nullptr;
  }
  return f;
}

void vfs_close(VfsFile* f) {
  if (f == nullptr) return;
  gz_end(f);
  if (f->fp != nullptr) std::fclose(f->fp);
  if (!f->replace_temp.empty()) ::unlink(f->replace_temp.c_str());
  delete f;
}

VfsFile* vfs_open_replace(const char* name) {
  if (name == nullptr) return nullptr;
  std::vector<std::string> targets;
  if (name[0] == '@') {
    for (int i = 0; i < writable_roots(false); ++i) {
      std::string path;
      if (at_path(i, name + 1, &path)) targets.push_back(path);
    }
  } else if (std::strlen(name) < kRealPathChars) {
    targets.emplace_back(name);
  }
  for (const std::string& target : targets) {
    if (!make_parent_folders(target)) continue;
    std::string temp = target + ".tmpXXXXXX";
    int fd = ::mkstemp(temp.data());
    if (fd < 0) continue;
    // mkstemp makes the file private; give it the target's mode, or the usual one.
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0) {
      ::fchmod(fd, st.st_mode & 07777);
    } else {
      mode_t mask = ::umask(0);
      ::umask(mask);
      ::fchmod(fd, 0666 & ~mask);
    }
    FILE* fp = ::fdopen(fd, "wb");
    if (fp == nullptr) {
      ::close(fd);
      ::unlink(temp.c_str());
      continue;
    }
    VfsFile* f = wrap_handle(fp);
    f->replace_temp = temp;
    f->replace_target = target;
    return f;
  }
  return nullptr;
}

bool vfs_commit(VfsFile* f) {
  if (f == nullptr) return false;
  if (f->replace_temp.empty() || f->fp == nullptr) {
    vfs_close(f);
    return false;
  }
  bool ok = !f->write_failed;
  if (std::fflush(f->fp) != 0 || std::ferror(f->fp)) ok = false;
  if (ok && ::fsync(fileno(f->fp)) != 0) ok = false;
  if (std::fclose(f->fp) != 0) ok = false;
  f->fp = nullptr;
  if (ok && std::rename(f->replace_temp.c_str(), f->replace_target.c_str()) != 0) ok = false;
  if (ok) f->replace_temp.clear();  // nothing left to remove
  vfs_close(f);
  return ok;
}

// ---- 4. readers --------------------------------------------------------------------------

int vfs_getc(VfsFile* f) {
  if (f == nullptr) return -1;
  if (f->pushback >= 0) {
    int c = f->pushback;
    f->pushback = -1;
    ++f->pos;
    return c;
  }
  if (f->gzip) {
    VfsGzip& g = *f->gz;
    if (g.out_pos >= g.out_end && !gz_fill(f)) return -1;
    ++f->pos;
    return g.out[g.out_pos++];
  }
  if (f->pos >= f->limit) return -1;
  int c;
  if (f->mem != nullptr) {
    if (f->mem_pos >= f->mem_size) return -1;
    c = f->mem[f->mem_pos++];
  } else {
    if (f->fp == nullptr) return -1;
    c = std::getc(f->fp);
    if (c == EOF) return -1;
  }
  ++f->pos;
  return c;
}

int vfs_peekc(VfsFile* f) {
  int c = vfs_getc(f);
  vfs_ungetc(f, c);
  return c;
}

void vfs_ungetc(VfsFile* f, int c) {
  if (f == nullptr || c < 0) return;
  if (f->pushback < 0 && f->pos > 0) --f->pos;
  f->pushback = c & 0xFF;
}

char* vfs_gets(VfsFile* f, char* buf, int size) {
  if (f == nullptr || buf == nullptr || size < 2) return nullptr;
  int n = 0;
  while (n < size - 1) {
    int c = vfs_getc(f);
    if (c < 0) break;
    buf[n++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  buf[n] = '\0';
  return n > 0 ? buf : nullptr;
}

size_t vfs_read(VfsFile* f, void* buf, size_t count) {
  if (f == nullptr || buf == nullptr) return 0;
  auto* out = static_cast<unsigned char*>(buf);
  size_t done = 0;
  if (count > 0 && f->pushback >= 0) {
    out[done++] = static_cast<unsigned char>(vfs_getc(f));
  }
  if (f->gzip) {
    VfsGzip& g = *f->gz;
    while (done < count) {
      if (g.out_pos >= g.out_end && !gz_fill(f)) break;
      size_t n = std::min(count - done, g.out_end - g.out_pos);
      std::memcpy(out + done, g.out.data() + g.out_pos, n);
      g.out_pos += n;
      done += n;
      f->pos += static_cast<int64_t>(n);
    }
    return done;
  }
  int64_t room = std::max<int64_t>(0, f->limit - f->pos);
  size_t want = static_cast<size_t>(std::min<int64_t>(room, static_cast<int64_t>(
                                                                std::min<size_t>(count - done, INT64_MAX))));
  size_t n = want > 0 ? source_read(f, out + done, want) : 0;
  f->pos += static_cast<int64_t>(n);
  return done + n;
}

bool vfs_seek(VfsFile* f, long offset) {
  if (f == nullptr || f->gzip || f->scrambled || offset < 0 || offset >= f->limit) return false;
  if (f->mem != nullptr) {
    if (static_cast<size_t>(offset) > f->mem_size) return false;
    f->mem_pos = static_cast<size_t>(offset);
  } else {
    if (f->fp == nullptr) return false;
    if (fseeko(f->fp, static_cast<off_t>(f->start + offset), SEEK_SET) != 0) return false;
  }
  f->pos = offset;
  f->pushback = -1;
  return true;
}

long vfs_tell(VfsFile* f) { return f != nullptr ? static_cast<long>(f->pos) : -1; }

bool vfs_is_gzip(const VfsFile* f) { return f != nullptr && f->gzip; }

// ---- 5. writers --------------------------------------------------------------------------

namespace {
bool writable(VfsFile* f) {
  if (f == nullptr) return false;
  if (f->fp == nullptr || f->gzip || f->scrambled) {
    f->write_failed = true;
    return false;
  }
  return true;
}
}  // namespace

bool vfs_putc(VfsFile* f, int c) {
  if (!writable(f)) return false;
  if (std::fputc(c, f->fp) == EOF) {
    f->write_failed = true;
    return false;
  }
  return true;
}

bool vfs_puts(VfsFile* f, const char* text) {
  if (!writable(f) || text == nullptr) return false;
  if (std::fputs(text, f->fp) == EOF) {
    f->write_failed = true;
    return false;
  }
  return true;
}

size_t vfs_write(VfsFile* f, const void* data, size_t count) {
  if (!writable(f) || data == nullptr) return 0;
  size_t n = std::fwrite(data, 1, count, f->fp);
  if (n != count) f->write_failed = true;
  return n;
}

int vfs_printf(VfsFile* f, const char* fmt, ...) {
  if (!writable(f) || fmt == nullptr) return -1;
  va_list ap;
  va_start(ap, fmt);
  int n = std::vfprintf(f->fp, fmt, ap);
  va_end(ap);
  if (n < 0) f->write_failed = true;
  return n;
}

bool vfs_flush(VfsFile* f) {
  if (!writable(f)) return false;
  if (std::fflush(f->fp) != 0 || std::ferror(f->fp)) {
    f->write_failed = true;
    return false;
  }
  return true;
}

bool vfs_write_failed(const VfsFile* f) {
  return f == nullptr || f->write_failed;
}

// ---- 6. whole-file helpers ---------------------------------------------------------------

std::optional<std::string> file_to_string(const char* name) {
  VfsFile* f = vfs_open(name, "rb");
  if (f == nullptr) return std::nullopt;
  std::string text;
  char piece[16 * 1024];
  for (;;) {
    size_t n = vfs_read(f, piece, sizeof piece);
    if (n == 0) break;
    text.append(piece, n);
    if (text.size() >= kStringLimit) {
      vant_log("File %s too long for file_to_string\n", name);
      vfs_close(f);
      return std::nullopt;
    }
  }
  vfs_close(f);
  return text;
}

}  // namespace ks
