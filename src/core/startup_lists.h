// Lists that start-up builds from the file list: the texture variants offered for the
// rider's gear, helmet, bike and wheels, and the recorded demos.
#pragma once

#include <string>
#include <vector>

namespace ks {

// Entry 0 is "default" with no file; the others hold "@" + file name (without ".scram")
// and the display name. Both texts are interned.
struct TextureVariantList {
  std::vector<const char*> paths;  // nullptr for "default"
  std::vector<const char*> names;
};

// Every ".png" (or ".png.scram") that is not a normal or specular map and whose file name,
// after its last "/", begins with `prefix`, in file-list order.
TextureVariantList build_texture_variants(const std::vector<const char*>& files,
                                          const char* prefix);

struct DemoEntry {
  const char* path;  // the file-list name
  std::string name;  // file name without its folder and extension
};

// Every "demos/....ksdemo" of the file list, in order; logs "path -> name" when verbose.
std::vector<DemoEntry> build_demo_list(const std::vector<const char*>& files, int verbose);

}  // namespace ks
