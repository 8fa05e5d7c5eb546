// The formatted scanner: scanf conventions over a VfsFile or a text.
//
//   1. character source helpers
//   2. conversions: integers, floating point, strings, character sets
//   3. the format loop (scan_source)
//   4. front ends: vfs_scan, vfs_vscan, scan_text, read_int, skip_comments
//
// Rules the text formats of the game rely on:
// - Conversions: %d, %i (prefix "0x"/"0X" = hex, "0" = octal, else decimal), %o, %x, %X
//   (an optional "0x" prefix is accepted), %f (sign, digits, one ".", digits, exponent;
//   computed as long double), %s, %c, %[ ("^" negates, "]" may come first, "a-z" is a
//   range), %n (bytes consumed since the call began; not an assignment) and %%.
//   Modifiers: "*" (no assignment), a width, "h", "l", "ll" (= "L"), "L", "q".
//   Any other conversion, or a format that ends inside a conversion, ends the scan with
//   the count so far.
// - Destinations: %d %i -> int* (h short*, l long*, L/q/ll long long*); %o %x %X -> the
//   unsigned types of the same sizes; %f -> float* (l double*, L/q/ll long double*);
//   %n -> the signed integer types like %d; %s, %[ -> char* with room for the width plus
//   the terminating NUL, and without a width there is no limit, exactly as in C, so
//   callers pass widths; %c -> char* of width characters (default 1), not terminated.
// - A width of 0 means no width.
// - Integers that do not fit saturate at the destination's limits (an unsigned
//   destination takes a negative value modulo its range, like strtoul). Floating values
//   beyond a float's or double's range become infinities.
// - Numeric conversions, %s and %% skip white space first; %c, %[ and %n do not. White
//   space in the format skips any white space in the input, including none.
// - Any other format character must equal the next input character; when it does not,
//   or the input has ended there, the scan returns -1 even after assignments.
// - When the input ends before a conversion read anything, the scan returns the count so
//   far, or -1 when it is 0. A conversion that reads characters but no valid field ends
//   the scan with the count so far.
// - One character of push-back: a character read and not used is given back, but a sign
//   or "0x" prefix that is not followed by digits stays consumed.
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "fs/scan_source.h"
#include "fs/vfs.h"

namespace ks {

// ---- 1. character source helpers ---------------------------------------------------------

namespace {

int src_get(ScanSource& s) {
  const int c = s.get(s.ctx);
  if (c < 0) return -1;
  ++s.consumed;
  return c & 0xFF;
}

void src_unget(ScanSource& s, int c) {
  if (c < 0) return;
  s.unget(s.ctx, c);
  --s.consumed;
}

bool is_space(int c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Skips white space; true when a character follows (it stays unread).
bool skip_space(ScanSource& s) {
  for (;;) {
    const int c = src_get(s);
    if (c < 0) return false;
    if (!is_space(c)) {
      src_unget(s, c);
      return true;
    }
  }
}

// Reads at most `left` characters of one field; -1 at the end of the input or the width.
struct FieldReader {
  ScanSource& s;
  long long left;
  int next() {
    if (left <= 0) return -1;
    const int c = src_get(s);
    if (c >= 0) --left;
    return c;
  }
  void give_back(int c) {
    if (c < 0) return;
    src_unget(s, c);
    ++left;
  }
};

constexpr long long kNoWidth = std::numeric_limits<long long>::max();

enum class Size { kDefault, kShort, kLong, kLongLong };

// What a conversion produced.
enum class Outcome {
  kOk,          // a field was read
  kInputEnded,  // the input ended before anything was read
  kMismatch,    // characters were read but they make no field
};

// ---- 2. conversions ------------------------------------------------------------------------

struct IntField {
  bool negative = false;
  unsigned long long magnitude = 0;  // saturates at ULLONG_MAX
};

int digit_value(int c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'z') return c - 'a' + 10;
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  return 99;
}

// base 0 = %i: the prefix decides.
Outcome scan_integer(ScanSource& s, long long width, int base, IntField* out) {
  if (!skip_space(s)) return Outcome::kInputEnded;
  FieldReader r{s, width};
  int c = r.next();
  if (c == '+' || c == '-') {
    out->negative = c == '-';
    c = r.next();
  }
  bool any = false;
  if ((base == 0 || base == 16) && c == '0') {
    any = true;
    c = r.next();
    if (c == 'x' || c == 'X') {
      base = 16;
      c = r.next();
    } else if (base == 0) {
      base = 8;
    }
  }
  if (base == 0) base = 10;
  constexpr unsigned long long kMax = std::numeric_limits<unsigned long long>::max();
  const auto ubase = static_cast<unsigned long long>(base);
  for (int d = digit_value(c); d < base; d = digit_value(c)) {
    any = true;
    const auto ud = static_cast<unsigned long long>(d);
    if (out->magnitude > (kMax - ud) / ubase) {
      out->magnitude = kMax;
    } else {
      out->magnitude = out->magnitude * ubase + ud;
    }
    c = r.next();
  }
  r.give_back(c);
  return any ? Outcome::kOk : Outcome::kMismatch;
}

template <class T>
T to_signed(const IntField& v) {
  const auto max = static_cast<unsigned long long>(std::numeric_limits<T>::max());
  if (!v.negative) return v.magnitude > max ? std::numeric_limits<T>::max() : static_cast<T>(v.magnitude);
  if (v.magnitude > max) return std::numeric_limits<T>::min();
  return static_cast<T>(-static_cast<long long>(v.magnitude));
}

template <class T>
T to_unsigned(const IntField& v) {
  const auto max = static_cast<unsigned long long>(std::numeric_limits<T>::max());
  if (v.magnitude > max) return std::numeric_limits<T>::max();
  const T m = static_cast<T>(v.magnitude);
  return v.negative ? static_cast<T>(T{0} - m) : m;
}

constexpr int kMaxFloatDigits = 48;  // significant digits kept; later ones only scale
constexpr long long kMaxExponent = 100000;

Outcome scan_float(ScanSource& s, long long width, long double* out) {
  if (!skip_space(s)) return Outcome::kInputEnded;
  FieldReader r{s, width};
  bool negative = false;
  char digits[kMaxFloatDigits];
  int nd = 0;
  long long scale = 0;  // decimal exponent of the last kept digit
  bool any = false;
  int c = r.next();
  if (c == '+' || c == '-') {
    negative = c == '-';
    c = r.next();
  }
  for (; c >= '0' && c <= '9'; c = r.next()) {
    any = true;
    if (nd == 0 && c == '0') continue;
    if (nd < kMaxFloatDigits) {
      digits[nd++] = static_cast<char>(c);
    } else if (scale < kMaxExponent) {
      ++scale;
    }
  }
  if (c == '.') {
    for (c = r.next(); c >= '0' && c <= '9'; c = r.next()) {
      any = true;
      if (nd < kMaxFloatDigits) {
        if (nd > 0 || c != '0') digits[nd++] = static_cast<char>(c);
        if (scale > -kMaxExponent) --scale;
      }
    }
  }
  if (!any) {
    r.give_back(c);
    return Outcome::kMismatch;
  }
  long long exponent = 0;
  if (c == 'e' || c == 'E') {
    bool eneg = false;
    c = r.next();
    if (c == '+' || c == '-') {
      eneg = c == '-';
      c = r.next();
    }
    for (; c >= '0' && c <= '9'; c = r.next()) {
      if (exponent < kMaxExponent) exponent = exponent * 10 + (c - '0');
    }
    if (eneg) exponent = -exponent;
  }
  r.give_back(c);
  long double value = 0;
  if (nd > 0) {
    // Digits and an exponent only: no decimal point, so the locale plays no part.
    char text[kMaxFloatDigits + 32];
    std::memcpy(text, digits, static_cast<size_t>(nd));
    long long e = scale + exponent;
    if (e > 2 * kMaxExponent) e = 2 * kMaxExponent;
    if (e < -2 * kMaxExponent) e = -2 * kMaxExponent;
    std::snprintf(text + nd, sizeof text - static_cast<size_t>(nd), "e%lld", e);
    value = std::strtold(text, nullptr);
  }
  *out = negative ? -value : value;
  return Outcome::kOk;
}

template <class T>
T narrow_float(long double v) {
  if (std::isfinite(v) && std::fabs(v) > static_cast<long double>(std::numeric_limits<T>::max())) {
    return std::signbit(v) ? -std::numeric_limits<T>::infinity() : std::numeric_limits<T>::infinity();
  }
  return static_cast<T>(v);
}

// %s: a run of non-blank characters.
Outcome scan_word(ScanSource& s, long long width, char* dest) {
  if (!skip_space(s)) return Outcome::kInputEnded;
  FieldReader r{s, width};
  int c = r.next();
  for (; c >= 0 && !is_space(c); c = r.next()) {
    if (dest) *dest++ = static_cast<char>(c);
  }
  r.give_back(c);
  if (dest) *dest = '\0';
  return Outcome::kOk;
}

// %c: exactly width characters.
Outcome scan_chars(ScanSource& s, long long width, char* dest) {
  FieldReader r{s, width};
  for (long long i = 0; i < width; ++i) {
    const int c = r.next();
    if (c < 0) return i == 0 ? Outcome::kInputEnded : Outcome::kMismatch;
    if (dest) *dest++ = static_cast<char>(c);
  }
  return Outcome::kOk;
}

// Parses the set after "%[" (fmt points past the "["); returns the format position after
// the closing "]", or nullptr when there is none.
const char* parse_set(const char* fmt, bool set[256]) {
  bool negate = false;
  if (*fmt == '^') {
    negate = true;
    ++fmt;
  }
  bool member[256] = {};
  if (*fmt == ']') {
    member[static_cast<unsigned char>(']')] = true;
    ++fmt;
  }
  while (*fmt != '\0' && *fmt != ']') {
    const auto lo = static_cast<unsigned char>(fmt[0]);
    if (fmt[1] == '-' && fmt[2] != '\0' && fmt[2] != ']' && static_cast<unsigned char>(fmt[2]) >= lo) {
      const auto hi = static_cast<unsigned char>(fmt[2]);
      for (int ch = lo; ch <= hi; ++ch) member[ch] = true;
      fmt += 3;
    } else {
      member[lo] = true;
      ++fmt;
    }
  }
  if (*fmt != ']') return nullptr;
  for (int ch = 0; ch < 256; ++ch) set[ch] = member[ch] != negate;
  return fmt + 1;
}

Outcome scan_set(ScanSource& s, long long width, const bool set[256], char* dest) {
  FieldReader r{s, width};
  int c = r.next();
  if (c < 0) return Outcome::kInputEnded;
  bool any = false;
  for (; c >= 0 && set[c]; c = r.next()) {
    any = true;
    if (dest) *dest++ = static_cast<char>(c);
  }
  r.give_back(c);
  if (!any) return Outcome::kMismatch;
  if (dest) *dest = '\0';
  return Outcome::kOk;
}

template <class T>
void store_count(va_list& ap, long long n) {
  T* p = va_arg(ap, T*);
  const auto lo = static_cast<long long>(std::numeric_limits<T>::min());
  const auto hi = static_cast<long long>(std::numeric_limits<T>::max());
  *p = static_cast<T>(n < lo ? lo : (n > hi ? hi : n));
}

// ---- 3. the format loop --------------------------------------------------------------------

int scan_impl(ScanSource& s, const char* fmt, va_list& ap) {
  int count = 0;
  // The count when the input ended before a conversion read anything.
  auto ended = [&count] { return count == 0 ? -1 : count; };
  while (*fmt != '\0') {
    const auto fc = static_cast<unsigned char>(*fmt);
    if (is_space(fc)) {
      while (is_space(static_cast<unsigned char>(*fmt))) ++fmt;
      skip_space(s);
      continue;
    }
    if (fc != '%') {
      const int c = src_get(s);
      if (c != fc) {
        src_unget(s, c);
        return -1;
      }
      ++fmt;
      continue;
    }
    ++fmt;
    bool suppress = false;
    if (*fmt == '*') {
      suppress = true;
      ++fmt;
    }
    long long width = 0;
    while (*fmt >= '0' && *fmt <= '9') {
      if (width < INT_MAX) width = width * 10 + (*fmt - '0');
      ++fmt;
    }
    Size size = Size::kDefault;
    if (*fmt == 'h') {
      size = Size::kShort;
      ++fmt;
    } else if (*fmt == 'l') {
      ++fmt;
      size = Size::kLong;
      if (*fmt == 'l') {
        size = Size::kLongLong;
        ++fmt;
      }
    } else if (*fmt == 'L' || *fmt == 'q') {
      size = Size::kLongLong;
      ++fmt;
    }
    const char conv = *fmt;
    if (conv == '\0') return count;
    ++fmt;
    const long long field_width = width > 0 ? width : kNoWidth;
    switch (conv) {
      case 'd':
      case 'i':
      case 'o':
      case 'x':
      case 'X': {
        const int base = conv == 'd' ? 10 : conv == 'i' ? 0 : conv == 'o' ? 8 : 16;
        IntField v;
        const Outcome o = scan_integer(s, field_width, base, &v);
        if (o == Outcome::kInputEnded) return ended();
        if (o == Outcome::kMismatch) return count;
        if (suppress) break;
        const bool is_signed = conv == 'd' || conv == 'i';
        switch (size) {
          case Size::kShort:
            if (is_signed) {
              *va_arg(ap, short*) = to_signed<short>(v);
            } else {
              *va_arg(ap, unsigned short*) = to_unsigned<unsigned short>(v);
            }
            break;
          case Size::kDefault:
            if (is_signed) {
              *va_arg(ap, int*) = to_signed<int>(v);
            } else {
              *va_arg(ap, unsigned*) = to_unsigned<unsigned>(v);
            }
            break;
          case Size::kLong:
            if (is_signed) {
              *va_arg(ap, long*) = to_signed<long>(v);
            } else {
              *va_arg(ap, unsigned long*) = to_unsigned<unsigned long>(v);
            }
            break;
          case Size::kLongLong:
            if (is_signed) {
              *va_arg(ap, long long*) = to_signed<long long>(v);
            } else {
              *va_arg(ap, unsigned long long*) = to_unsigned<unsigned long long>(v);
            }
            break;
        }
        ++count;
        break;
      }
      case 'f': {
        long double v = 0;
        const Outcome o = scan_float(s, field_width, &v);
        if (o == Outcome::kInputEnded) return ended();
        if (o == Outcome::kMismatch) return count;
        if (suppress) break;
        if (size == Size::kLongLong) {
          *va_arg(ap, long double*) = v;
        } else if (size == Size::kLong) {
          *va_arg(ap, double*) = narrow_float<double>(v);
        } else {
          *va_arg(ap, float*) = narrow_float<float>(v);
        }
        ++count;
        break;
      }
      case 's': {
        char* dest = suppress ? nullptr : va_arg(ap, char*);
        const Outcome o = scan_word(s, field_width, dest);
        if (o == Outcome::kInputEnded) return ended();
        if (!suppress) ++count;
        break;
      }
      case 'c': {
        char* dest = suppress ? nullptr : va_arg(ap, char*);
        const Outcome o = scan_chars(s, width > 0 ? width : 1, dest);
        if (o == Outcome::kInputEnded) return ended();
        if (o == Outcome::kMismatch) return count;
        if (!suppress) ++count;
        break;
      }
      case '[': {
        bool set[256];
        const char* after = parse_set(fmt, set);
        if (after == nullptr) return count;
        fmt = after;
        char* dest = suppress ? nullptr : va_arg(ap, char*);
        const Outcome o = scan_set(s, field_width, set, dest);
        if (o == Outcome::kInputEnded) return ended();
        if (o == Outcome::kMismatch) return count;
        if (!suppress) ++count;
        break;
      }
      case 'n':
        if (suppress) break;
        switch (size) {
          case Size::kShort: store_count<short>(ap, s.consumed); break;
          case Size::kDefault: store_count<int>(ap, s.consumed); break;
          case Size::kLong: store_count<long>(ap, s.consumed); break;
          case Size::kLongLong: store_count<long long>(ap, s.consumed); break;
        }
        break;
      case '%': {
        skip_space(s);
        const int c = src_get(s);
        if (c != '%') {
          src_unget(s, c);
          return -1;
        }
        break;
      }
      default:
        return count;
    }
  }
  return count;
}

// ---- 4. front ends -------------------------------------------------------------------------

int file_get(void* ctx) { return vfs_getc(static_cast<VfsFile*>(ctx)); }
void file_unget(void* ctx, int c) { vfs_ungetc(static_cast<VfsFile*>(ctx), c); }

struct TextCursor {
  const unsigned char* text;
  size_t pos;
};

int text_get(void* ctx) {
  auto* t = static_cast<TextCursor*>(ctx);
  const unsigned char c = t->text[t->pos];
  if (c == 0) return -1;
  ++t->pos;
  return c;
}

void text_unget(void* ctx, int) {
  auto* t = static_cast<TextCursor*>(ctx);
  if (t->pos > 0) --t->pos;
}

ScanSource file_source(VfsFile* f) {
  ScanSource s;
  s.get = file_get;
  s.unget = file_unget;
  s.ctx = f;
  return s;
}

int scan_source_args(ScanSource& src, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  const int n = scan_source(src, fmt, ap);
  va_end(ap);
  return n;
}

}  // namespace

int scan_source(ScanSource& src, const char* fmt, va_list ap) {
  if (src.get == nullptr || src.unget == nullptr || fmt == nullptr) return -1;
  va_list copy;
  va_copy(copy, ap);
  const int n = scan_impl(src, fmt, copy);
  va_end(copy);
  return n;
}

int vfs_vscan(VfsFile* f, const char* fmt, va_list ap) {
  if (f == nullptr) return -1;
  ScanSource s = file_source(f);
  return scan_source(s, fmt, ap);
}

int vfs_scan(VfsFile* f, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  const int n = vfs_vscan(f, fmt, ap);
  va_end(ap);
  return n;
}

int scan_text(const char* text, const char* fmt, ...) {
  if (text == nullptr) return -1;
  TextCursor cursor{reinterpret_cast<const unsigned char*>(text), 0};
  ScanSource s;
  s.get = text_get;
  s.unget = text_unget;
  s.ctx = &cursor;
  va_list ap;
  va_start(ap, fmt);
  const int n = scan_source(s, fmt, ap);
  va_end(ap);
  return n;
}

int read_int(VfsFile* f) {
  int v = 0;
  return vfs_scan(f, "%d", &v) == 1 ? v : INT_MIN;
}

void skip_comments(VfsFile* f) {
  if (f == nullptr) return;
  // The progress test is what the scan consumed, not a trailing %n: an empty comment line
  // ("#" right before the newline) makes %[ fail, and the loop must still go on past it.
  for (;;) {
    ScanSource s = file_source(f);
    scan_source_args(s, " #%*[^\n]");
    if (s.consumed <= 0) break;
  }
}

}  // namespace ks
