#include "core/startup_lists.h"

#include <cstring>
#include <string_view>

#include "fs/memory.h"
#include "platform/vant.h"

namespace ks {

namespace {

bool ends_with(std::string_view s, std::string_view tail) {
  return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
}

std::string_view after_last_slash(std::string_view s) {
  const size_t slash = s.rfind('/');
  return slash == std::string_view::npos ? s : s.substr(slash + 1);
}

}  // namespace

TextureVariantList build_texture_variants(const std::vector<const char*>& files,
                                          const char* prefix) {
  TextureVariantList list;
  list.paths.push_back(nullptr);
  list.names.push_back(intern("default"));
  const std::string_view pre(prefix);
  for (const char* file : files) {
    std::string_view name(file);
    std::string_view ext;
    if (ends_with(name, ".png.scram")) {
      if (ends_with(name, "_norm.png.scram") || ends_with(name, "_spec.png.scram")) continue;
      name.remove_suffix(6);  // ".scram"
      ext = ".png";
    } else if (ends_with(name, ".png")) {
      if (ends_with(name, "_norm.png") || ends_with(name, "_spec.png")) continue;
      ext = ".png";
    } else {
      continue;
    }
    std::string_view base = after_last_slash(name);
    if (base.substr(0, pre.size()) != pre) continue;
    base.remove_prefix(pre.size());
    base.remove_suffix(ext.size());
    list.paths.push_back(intern("@" + std::string(name)));
    list.names.push_back(intern(base));
  }
  return list;
}

std::vector<DemoEntry> build_demo_list(const std::vector<const char*>& files, int verbose) {
  std::vector<DemoEntry> demos;
  for (const char* file : files) {
    const std::string_view path(file);
    if (path.substr(0, 6) != "demos/" || !ends_with(path, ".ksdemo")) continue;
    std::string_view name = after_last_slash(path);
    if (const size_t dot = name.rfind('.'); dot != std::string_view::npos)
      name = name.substr(0, dot);
    DemoEntry e{file, std::string(name)};
    if (verbose >= 1) vant_log("%s -> %s\n", file, e.name.c_str());
    demos.push_back(std::move(e));
  }
  return demos;
}

}  // namespace ks
