// The staging tree and the ".saf" packer. The game only ever reads archives, so the writer
// lives here: header lines "<size> <name>\n", a "-\n" line, then every member's bytes in
// header order.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "mkdata.h"

namespace ks::mkdata {

namespace fs = std::filesystem;

bool make_parent_folders(const std::string& path) {
  const fs::path parent = fs::path(path).parent_path();
  if (parent.empty()) return true;
  std::error_code ec;
  fs::create_directories(parent, ec);
  return !ec && fs::is_directory(parent, ec);
}

bool write_bytes(const std::string& path, const std::string& bytes) {
  if (!make_parent_folders(path)) return false;
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

bool read_bytes(const std::string& path, std::string& bytes) {
  bytes.clear();
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  char buf[65536];
  size_t n = 0;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.append(buf, n);
  const bool ok = !std::ferror(f);
  std::fclose(f);
  return ok;
}

std::string stage_path(const Output& out, const std::string& name) {
  return out.stage + "/" + name;
}

bool stage_file(const Output& out, const std::string& name, const std::string& bytes) {
  if (write_bytes(stage_path(out, name), bytes)) return true;
  std::fprintf(stderr, "kessra-mkdata: can't write '%s'\n", stage_path(out, name).c_str());
  return false;
}

std::vector<std::string> list_staged(const Output& out, const std::string& prefix) {
  std::vector<std::string> names;
  const fs::path root(out.stage);
  const fs::path start = prefix.empty() ? root : root / prefix;
  std::error_code ec;
  if (!fs::is_directory(start, ec)) return names;
  for (fs::recursive_directory_iterator it(start, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->is_regular_file(ec)) names.push_back(fs::relative(it->path(), root, ec).generic_string());
  }
  // The walk order of the folder is the file system's; the archive must not depend on it.
  std::sort(names.begin(), names.end());
  return names;
}

bool pack_archive(const Output& out, const std::vector<std::string>& members,
                  const std::string& archive_path) {
  std::string header;
  std::vector<std::string> data(members.size());
  for (size_t i = 0; i < members.size(); ++i) {
    if (!read_bytes(stage_path(out, members[i]), data[i])) {
      std::fprintf(stderr, "kessra-mkdata: can't read '%s'\n", members[i].c_str());
      return false;
    }
    header += std::to_string(data[i].size()) + " " + members[i] + "\n";
  }
  header += "-\n";
  // Written beside the target and renamed over it, so an interrupted run never leaves a
  // truncated archive behind (zzzz.saf is the build's stamp).
  const std::string tmp = archive_path + ".part";
  if (!make_parent_folders(archive_path)) return false;
  std::FILE* f = std::fopen(tmp.c_str(), "wb");
  if (!f) {
    std::fprintf(stderr, "kessra-mkdata: can't create '%s'\n", tmp.c_str());
    return false;
  }
  bool ok = std::fwrite(header.data(), 1, header.size(), f) == header.size();
  for (const std::string& d : data) ok = ok && std::fwrite(d.data(), 1, d.size(), f) == d.size();
  ok = std::fclose(f) == 0 && ok;
  std::error_code ec;
  if (ok) fs::rename(tmp, archive_path, ec);
  if (!ok || ec) {
    fs::remove(tmp, ec);
    std::fprintf(stderr, "kessra-mkdata: can't write '%s'\n", archive_path.c_str());
    return false;
  }
  return true;
}

void remove_tree(const std::string& path) {
  std::error_code ec;
  fs::remove_all(path, ec);
}

}  // namespace ks::mkdata
