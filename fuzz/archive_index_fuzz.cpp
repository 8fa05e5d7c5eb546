// Fuzzes the ".saf" header parser and member reads: the input becomes an archive in a
// scratch data folder, the index is built, and every listed name is opened and read.
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "fs/vfs.h"

namespace {

const std::string& scratch() {
  static const std::string dir = [] {
    char tmpl[] = "/tmp/kessra-fuzz-saf-XXXXXX";
    const char* made = mkdtemp(tmpl);
    return std::string(made != nullptr ? made : "/tmp");
  }();
  return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string data_dir = scratch() + "/data";
  const std::string archive = data_dir + "/f.saf";
  ks::vfs_set_roots(scratch() + "/home", data_dir);
  ::mkdir(data_dir.c_str(), 0777);
  FILE* out = std::fopen(archive.c_str(), "wb");
  if (out == nullptr) return 0;
  std::fwrite(data, 1, size, out);
  std::fclose(out);

  const auto& names = ks::build_index();
  for (size_t i = 0; i < ks::vfs_index_entry_count(); ++i) (void)ks::describe_index_entry(i);
  for (const char* name : names) {
    std::string at = std::string("@") + name;
    ks::VfsFile* f = ks::vfs_open(at.c_str(), "rb");
    if (f == nullptr) continue;
    char buf[300];
    while (ks::vfs_gets(f, buf, sizeof buf) != nullptr) {
    }
    if (ks::vfs_seek(f, 1)) (void)ks::vfs_read(f, buf, sizeof buf);
    ks::vfs_close(f);
  }
  ks::free_roots_and_index();
  return 0;
}
