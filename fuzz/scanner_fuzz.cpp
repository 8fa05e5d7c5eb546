// Fuzzes the formatted scanner.
//
// Byte 0 picks the mode:
// - even: one of the formats the game's text files use, with correctly typed
//   destinations, over the rest of the input as text; the text front end and the VfsFile
//   front end must agree, and "%n" never counts past the text. Then the comment skipper
//   and read_int walk the same bytes.
// - odd: the first line of the rest is a format, the remainder the text. The format is
//   rewritten so that every conversion that would need a destination is suppressed
//   ("*"), except "%n" (plain int*, at most kMaxCounts of them).
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fs/vfs.h"

namespace {

constexpr int kMaxCounts = 16;

[[noreturn]] void fail(const char* what) {
  __builtin_printf("scanner fuzz: %s\n", what);
  std::abort();
}

// Runs fmt over text through both front ends with the destinations `call` supplies and
// checks that they agree. `call` is invoked twice, with a scanner bound to each front end.
struct Dest {
  int i[4];
  short h;
  long l;
  long long ll;
  unsigned u[2];
  float f[3];
  double d[2];
  long double ld;
  char s1[64];
  char s2[256];
  char c4[4];
  int n[2];
};

bool same(const Dest& a, const Dest& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

template <class Scan>
int run_format(int which, Scan scan, Dest* d) {
  switch (which) {
    case 0: return scan("%d %d", &d->i[0], &d->i[1]);
    case 1: return scan("%f %f %f", &d->f[0], &d->f[1], &d->f[2]);
    case 2: return scan("%lf,%lf", &d->d[0], &d->d[1]);
    case 3: return scan("%Lf%n", &d->ld, &d->n[0]);
    case 4: return scan("%63s %255s", d->s1, d->s2);
    case 5: return scan("%255[^\n]%n", d->s2, &d->n[0]);
    case 6: return scan(" %63[^= ] = %255[^\n]", d->s1, d->s2);
    case 7: return scan(" #%*[^\n]%n", &d->n[0]);
    case 8: return scan("ct03 %d ", &d->i[0]);
    case 9: return scan("%hd %ld %lld %x %o %i", &d->h, &d->l, &d->ll, &d->u[0], &d->u[1], &d->i[0]);
    case 10: return scan("%4c%n", d->c4, &d->n[0]);
    case 11: return scan("%i %i %*s %% %n%d", &d->i[0], &d->i[1], &d->n[0], &d->i[2]);
    case 12: return scan("%63[]a-z^]%n %63[^]0-9]%n", d->s1, &d->n[0], d->s2 + 1, &d->n[1]);
    case 13: return scan("%3d%2f%5lf%1s", &d->i[0], &d->f[0], &d->d[0], d->s1);
    default: return scan("%d.%d.%d.%d", &d->i[0], &d->i[1], &d->i[2], &d->i[3]);
  }
}
constexpr int kFormats = 15;

void fixed_formats(const std::string& bytes, int which) {
  const std::string text = bytes.c_str();  // the text front end stops at a NUL
  Dest a;
  Dest b;
  std::memset(&a, 0, sizeof a);
  std::memset(&b, 0, sizeof b);
  const int ra = run_format(
      which, [&](const char* fmt, auto... args) { return ks::scan_text(text.c_str(), fmt, args...); }, &a);
  ks::VfsFile* f = ks::vfs_open_memory(text.data(), text.size());
  if (f == nullptr) return;
  const int rb = run_format(which, [&](const char* fmt, auto... args) { return ks::vfs_scan(f, fmt, args...); }, &b);
  if (ra != rb) fail("front ends return different counts");
  if (!same(a, b)) fail("front ends store different values");
  for (int n : a.n) {
    if (n < 0 || static_cast<size_t>(n) > text.size()) fail("%n counted past the text");
  }
  if (ra < -1 || ra > 6) fail("impossible count");
  ks::vfs_close(f);

  // The comment skipper and read_int always make progress or stop.
  f = ks::vfs_open_memory(text.data(), text.size());
  if (f == nullptr) return;
  for (size_t guard = 0; guard <= text.size(); ++guard) {
    ks::skip_comments(f);
    const long before = ks::vfs_tell(f);
    if (ks::read_int(f) == INT_MIN && ks::vfs_tell(f) == before && ks::vfs_getc(f) < 0) break;
  }
  ks::vfs_close(f);
}

// Copies fmt, suppressing every conversion that would take a destination other than a
// plain "%n". Mirrors the scanner's grammar: %, "*", width, h / l / ll / L / q, conversion.
std::string suppress_destinations(const std::string& fmt, int* counts) {
  std::string out;
  *counts = 0;
  size_t i = 0;
  while (i < fmt.size()) {
    if (fmt[i] != '%') {
      out += fmt[i++];
      continue;
    }
    ++i;
    bool suppressed = false;
    if (i < fmt.size() && fmt[i] == '*') {
      suppressed = true;
      ++i;
    }
    std::string width;
    while (i < fmt.size() && fmt[i] >= '0' && fmt[i] <= '9') width += fmt[i++];
    std::string size;
    if (i < fmt.size() && (fmt[i] == 'h' || fmt[i] == 'L' || fmt[i] == 'q')) {
      size = fmt[i++];
    } else if (i < fmt.size() && fmt[i] == 'l') {
      size = fmt[i++];
      if (i < fmt.size() && fmt[i] == 'l') size += fmt[i++];
    }
    if (i >= fmt.size()) {
      out += "%";  // the scan ends here
      break;
    }
    const char conv = fmt[i++];
    if (conv == 'n') {
      if (suppressed) {
        out += "%*" + width + "n";
      } else if (*counts < kMaxCounts) {
        out += "%" + width + "n";  // no size: the destination is int*
        ++*counts;
      }
      continue;
    }
    if (std::strchr("dioxXfsc[", conv) == nullptr) {
      // "%%" goes on; anything else ends the scan and takes no destination.
      out += "%" + std::string(suppressed ? "*" : "") + width + size + conv;
      if (conv != '%') break;
      continue;
    }
    out += "%*" + width + size + conv;
    if (conv == '[') {
      // The set runs to the first "]" after an optional "^" and an optional leading "]".
      size_t j = i;
      if (j < fmt.size() && fmt[j] == '^') ++j;
      if (j < fmt.size() && fmt[j] == ']') ++j;
      while (j < fmt.size() && fmt[j] != ']') ++j;
      if (j < fmt.size()) ++j;
      out.append(fmt, i, j - i);
      i = j;
    }
  }
  return out;
}

void fuzzed_format(const std::string& rest) {
  const size_t nl = rest.find('\n');
  std::string fmt = rest.substr(0, nl);
  const std::string text = nl == std::string::npos ? std::string() : rest.substr(nl + 1);
  fmt = fmt.c_str();  // the scanner sees the format up to its first NUL
  int counts = 0;
  const std::string safe = suppress_destinations(fmt, &counts);
  int n[kMaxCounts];
  for (int& v : n) v = -1;
  const int r = ks::scan_text(text.c_str(), safe.c_str(), &n[0], &n[1], &n[2], &n[3], &n[4], &n[5], &n[6],
                              &n[7], &n[8], &n[9], &n[10], &n[11], &n[12], &n[13], &n[14], &n[15]);
  if (r > 0) fail("suppressed conversions were counted");
  const size_t len = std::strlen(text.c_str());
  for (int i = 0; i < counts; ++i) {
    if (n[i] > static_cast<int>(len)) fail("%n counted past the text");
    if (i > 0 && n[i] >= 0 && n[i - 1] > n[i]) fail("%n went backwards");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  if ((data[0] & 1) == 0) {
    fixed_formats(rest, (data[0] >> 1) % kFormats);
  } else {
    fuzzed_format(rest);
  }
  return 0;
}
