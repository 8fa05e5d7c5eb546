#include "physics/standard_shapes.h"

#include "core/hash.h"
#include "fs/vfs.h"

namespace ks {

std::optional<std::string> standard_shape_digest() {
  Ripemd160 hash;
  for (const char* name : kStandardShapeFiles) {
    VfsFile* f = vfs_open(name, "rb");
    if (f == nullptr) return std::nullopt;
    char buf[4096];
    size_t n = 0;
    while ((n = vfs_read(f, buf, sizeof buf)) > 0) hash.update(buf, n);
    vfs_close(f);
  }
  return to_hex(hash.finish());
}

bool is_accepted_shape_digest(const std::string& digest) {
  for (const char* accepted : kAcceptedShapeDigests) {
    if (digest == accepted) return true;
  }
  return false;
}

}  // namespace ks
