// Builders shared by the file-layer tests: gzip members and ".saf" archives made in code.
#pragma once

#include <zlib.h>

#include <string>
#include <utility>
#include <vector>

namespace ks::test {

// Raw deflate data (no zlib or gzip wrapper).
inline std::string raw_deflate(const std::string& data) {
  z_stream zs{};
  deflateInit2(&zs, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&zs, data.size()) + 16, '\0');
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  zs.avail_in = static_cast<uInt>(data.size());
  zs.next_out = reinterpret_cast<Bytef*>(out.data());
  zs.avail_out = static_cast<uInt>(out.size());
  deflate(&zs, Z_FINISH);
  out.resize(zs.total_out);
  deflateEnd(&zs);
  return out;
}

// A gzip member as zlib's own gzip writer makes it.
inline std::string gzip_bytes(const std::string& data) {
  z_stream zs{};
  deflateInit2(&zs, 9, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&zs, data.size()) + 64, '\0');
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  zs.avail_in = static_cast<uInt>(data.size());
  zs.next_out = reinterpret_cast<Bytef*>(out.data());
  zs.avail_out = static_cast<uInt>(out.size());
  deflate(&zs, Z_FINISH);
  out.resize(zs.total_out);
  deflateEnd(&zs);
  return out;
}

// A ".saf" archive: "<size> <name>\n" lines, "-\n", then the members' bytes.
inline std::string make_archive(const std::vector<std::pair<std::string, std::string>>& files) {
  std::string header;
  std::string body;
  for (const auto& [name, bytes] : files) {
    header += std::to_string(bytes.size()) + " " + name + "\n";
    body += bytes;
  }
  return header + "-\n" + body;
}

}  // namespace ks::test
