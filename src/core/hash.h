// RIPEMD-160: identifies a track's files and the standard collision-shape files.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace ks {

using Ripemd160Digest = std::array<uint8_t, 20>;

class Ripemd160 {
 public:
  Ripemd160();
  void update(const void* data, size_t size);
  void update(std::string_view text) { update(text.data(), text.size()); }
  Ripemd160Digest finish();  // the object must be reset before it is used again
  void reset();

 private:
  void compress(const uint8_t* block);
  std::array<uint32_t, 5> h_{};
  std::array<uint8_t, 64> buf_{};
  size_t buf_len_ = 0;
  uint64_t total_ = 0;
};

Ripemd160Digest ripemd160(const void* data, size_t size);
std::string to_hex(const Ripemd160Digest& digest);

}  // namespace ks
