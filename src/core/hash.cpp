#include "core/hash.h"

#include <algorithm>
#include <cstring>

namespace ks {

namespace {

constexpr uint32_t rol(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

constexpr uint32_t f(int j, uint32_t x, uint32_t y, uint32_t z) {
  if (j < 16) return x ^ y ^ z;
  if (j < 32) return (x & y) | (~x & z);
  if (j < 48) return (x | ~y) ^ z;
  if (j < 64) return (x & z) | (y & ~z);
  return x ^ (y | ~z);
}

constexpr uint32_t kLeftK[5] = {0x00000000u, 0x5A827999u, 0x6ED9EBA1u, 0x8F1BBCDCu, 0xA953FD4Eu};
constexpr uint32_t kRightK[5] = {0x50A28BE6u, 0x5C4DD124u, 0x6D703EF3u, 0x7A6D76E9u, 0x00000000u};

constexpr int kLeftR[80] = {0, 1, 2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15,
                            7, 4, 13, 1,  10, 6,  15, 3,  12, 0,  9,  5,  2,  14, 11, 8,
                            3, 10, 14, 4, 9,  15, 8,  1,  2,  7,  0,  6,  13, 11, 5,  12,
                            1, 9, 11, 10, 0,  8,  12, 4,  13, 3,  7,  15, 14, 5,  6,  2,
                            4, 0, 5,  9,  7,  12, 2,  10, 14, 1,  3,  8,  11, 6,  15, 13};
constexpr int kRightR[80] = {5,  14, 7,  0, 9, 2,  11, 4,  13, 6,  15, 8,  1,  10, 3,  12,
                             6,  11, 3,  7, 0, 13, 5,  10, 14, 15, 8,  12, 4,  9,  1,  2,
                             15, 5,  1,  3, 7, 14, 6,  9,  11, 8,  12, 2,  10, 0,  4,  13,
                             8,  6,  4,  1, 3, 11, 15, 0,  5,  12, 2,  13, 9,  7,  10, 14,
                             12, 15, 10, 4, 1, 5,  8,  7,  6,  2,  13, 14, 0,  3,  9,  11};
constexpr int kLeftS[80] = {11, 14, 15, 12, 5,  8,  7,  9,  11, 13, 14, 15, 6,  7,  9,  8,
                            7,  6,  8,  13, 11, 9,  7,  15, 7,  12, 15, 9,  11, 7,  13, 12,
                            11, 13, 6,  7,  14, 9,  13, 15, 14, 8,  13, 6,  5,  12, 7,  5,
                            11, 12, 14, 15, 14, 15, 9,  8,  9,  14, 5,  6,  8,  6,  5,  12,
                            9,  15, 5,  11, 6,  8,  13, 12, 5,  12, 13, 14, 11, 8,  5,  6};
constexpr int kRightS[80] = {8,  9,  9,  11, 13, 15, 15, 5,  7,  7,  8,  11, 14, 14, 12, 6,
                             9,  13, 15, 7,  12, 8,  9,  11, 7,  7,  12, 7,  6,  15, 13, 11,
                             9,  7,  15, 11, 8,  6,  6,  14, 12, 13, 5,  14, 13, 13, 7,  5,
                             15, 5,  8,  11, 14, 14, 6,  14, 6,  9,  12, 9,  12, 5,  15, 8,
                             8,  5,  12, 9,  12, 5,  14, 6,  8,  13, 6,  5,  15, 13, 11, 11};

}  // namespace

Ripemd160::Ripemd160() { reset(); }

void Ripemd160::reset() {
  h_ = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u, 0xC3D2E1F0u};
  buf_len_ = 0;
  total_ = 0;
}

void Ripemd160::compress(const uint8_t* block) {
  uint32_t x[16];
  for (int i = 0; i < 16; ++i) {
    x[i] = static_cast<uint32_t>(block[4 * i]) | static_cast<uint32_t>(block[4 * i + 1]) << 8 |
           static_cast<uint32_t>(block[4 * i + 2]) << 16 |
           static_cast<uint32_t>(block[4 * i + 3]) << 24;
  }
  uint32_t al = h_[0], bl = h_[1], cl = h_[2], dl = h_[3], el = h_[4];
  uint32_t ar = al, br = bl, cr = cl, dr = dl, er = el;
  for (int j = 0; j < 80; ++j) {
    uint32_t t = rol(al + f(j, bl, cl, dl) + x[kLeftR[j]] + kLeftK[j / 16], kLeftS[j]) + el;
    al = el;
    el = dl;
    dl = rol(cl, 10);
    cl = bl;
    bl = t;
    t = rol(ar + f(79 - j, br, cr, dr) + x[kRightR[j]] + kRightK[j / 16], kRightS[j]) + er;
    ar = er;
    er = dr;
    dr = rol(cr, 10);
    cr = br;
    br = t;
  }
  const uint32_t t = h_[1] + cl + dr;
  h_[1] = h_[2] + dl + er;
  h_[2] = h_[3] + el + ar;
  h_[3] = h_[4] + al + br;
  h_[4] = h_[0] + bl + cr;
  h_[0] = t;
}

void Ripemd160::update(const void* data, size_t size) {
  const auto* p = static_cast<const uint8_t*>(data);
  total_ += size;
  while (size > 0) {
    const size_t take = std::min(size, buf_.size() - buf_len_);
    std::memcpy(buf_.data() + buf_len_, p, take);
    buf_len_ += take;
    p += take;
    size -= take;
    if (buf_len_ == buf_.size()) {
      compress(buf_.data());
      buf_len_ = 0;
    }
  }
}

Ripemd160Digest Ripemd160::finish() {
  const uint64_t bits = total_ * 8;
  const uint8_t pad = 0x80;
  update(&pad, 1);
  const uint8_t zero = 0;
  while (buf_len_ != 56) update(&zero, 1);
  uint8_t len[8];
  for (int i = 0; i < 8; ++i) len[i] = static_cast<uint8_t>(bits >> (8 * i));
  update(len, 8);
  Ripemd160Digest out{};
  for (int i = 0; i < 5; ++i)
    for (int b = 0; b < 4; ++b) out[4 * i + b] = static_cast<uint8_t>(h_[i] >> (8 * b));
  return out;
}

Ripemd160Digest ripemd160(const void* data, size_t size) {
  Ripemd160 h;
  h.update(data, size);
  return h.finish();
}

std::string to_hex(const Ripemd160Digest& digest) {
  static const char* const kHex = "0123456789abcdef";
  std::string s;
  s.reserve(40);
  for (uint8_t b : digest) {
    s.push_back(kHex[b >> 4]);
    s.push_back(kHex[b & 15]);
  }
  return s;
}

}  // namespace ks
