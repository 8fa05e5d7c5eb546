// The open-file record of the virtual file system, and the few internals that the file
// layer's own sources share (roots, index lookup). Readers outside src/fs use vfs.h only.
#pragma once

#include <zlib.h>

#include <array>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace ks {

constexpr size_t kGzipInputBytes = 16 * 1024;
constexpr size_t kGzipOutputBytes = 1024;

// Decompressor state of a gzip file: raw inflate over the container bytes.
struct VfsGzip {
  z_stream zs{};
  bool inflate_started = false;
  bool stream_end = false;      // end of the deflate stream, or damaged / truncated data
  int64_t compressed_left = 0;  // container bytes not yet pulled into `in`
  std::array<unsigned char, kGzipInputBytes> in{};
  std::array<unsigned char, kGzipOutputBytes> out{};
  size_t out_pos = 0;
  size_t out_end = 0;
};

struct VfsFile {
  FILE* fp = nullptr;                   // operating-system handle, or nullptr for memory
  const unsigned char* mem = nullptr;   // memory view (vfs_open_memory)
  size_t mem_size = 0;
  size_t mem_pos = 0;
  int64_t start = 0;                    // offset of the data inside the container
  int64_t limit = INT_MAX;              // length limit: packed size of an archive member
  int64_t pos = 0;                      // bytes delivered so far (after decompression)
  int pushback = -1;                    // one pushed-back character, -1 when none
  bool write_failed = false;
  bool gzip = false;
  std::unique_ptr<VfsGzip> gz;          // set when gzip
  // Scrambled variants have no descrambler in this build (see vfs.cpp); the flag stays
  // false, and the open order still tries ".scram" names so data trees keep their meaning.
  bool scrambled = false;
  std::string replace_temp;             // vfs_open_replace: the temporary file
  std::string replace_target;           // ... and the file it will replace
};

// A gzip stream over bytes in memory (fuzzing and tests); nullptr when the header is bad.
VfsFile* vfs_open_memory_gzip(const void* data, size_t size);

// ---- internals shared by vfs.cpp and vfs_index.cpp ------------------------------------

// True when root 0 is the home folder (it can be left out when no home can be found).
bool vfs_has_home();
// Creates every missing folder of `dir` (a folder path, with or without a trailing "/").
bool vfs_make_folders(const std::string& dir);

struct VfsIndexHit {
  const char* container = nullptr;
  int64_t offset = 0;
  int64_t size = 0;
  int rank = 0;
};
// The first index entry (lowest source rank) named `name`, ignoring letter case.
bool vfs_index_find(const char* name, VfsIndexHit* hit);
bool vfs_index_built();

}  // namespace ks
