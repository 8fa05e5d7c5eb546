// The formatted scanner: conversions, modifiers, return values and push-back.
#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "fs/scan_source.h"
#include "fs/vfs.h"

namespace {

// A text source that checks the push-back contract: only the character just read may be
// given back, and only one at a time.
struct CheckedText {
  const char* text;
  size_t pos = 0;
  bool pushed = false;
  bool violation = false;
};

int checked_get(void* ctx) {
  auto* t = static_cast<CheckedText*>(ctx);
  t->pushed = false;
  const auto c = static_cast<unsigned char>(t->text[t->pos]);
  if (c == 0) return -1;
  ++t->pos;
  return c;
}

void checked_unget(void* ctx, int c) {
  auto* t = static_cast<CheckedText*>(ctx);
  if (t->pushed || t->pos == 0 || static_cast<unsigned char>(t->text[t->pos - 1]) != c) {
    t->violation = true;
    return;
  }
  --t->pos;
  t->pushed = true;
}

struct ScanResult {
  int ret;
  std::string rest;  // the input left unread
  bool violation;
};

ScanResult scan_at(const char* text, const char* fmt, ...) {
  CheckedText t{text};
  ks::ScanSource s;
  s.get = checked_get;
  s.unget = checked_unget;
  s.ctx = &t;
  va_list ap;
  va_start(ap, fmt);
  const int ret = ks::scan_source(s, fmt, ap);
  va_end(ap);
  return {ret, std::string(text + t.pos), t.violation};
}

constexpr int kUntouched = 0x5A5A5A5A;

TEST(Scan, SignedIntegers) {
  struct Case {
    const char* fmt;
    const char* text;
    int ret;
    int value;
    const char* rest;
  };
  const Case cases[] = {
      {"%d", "42", 1, 42, ""},
      {"%d", "  \t\n-17x", 1, -17, "x"},
      {"%d", "+5 ", 1, 5, " "},
      {"%d", "x", 0, kUntouched, "x"},
      {"%d", "", -1, kUntouched, ""},
      {"%d", "   ", -1, kUntouched, ""},
      {"%d", "-x", 0, kUntouched, "x"},  // the sign stays consumed
      {"%d", "- 1", 0, kUntouched, " 1"},
      {"%d", "0x10", 1, 0, "x10"},
      {"%3d", "12345", 1, 123, "45"},
      {"%3d", "-12345", 1, -12, "345"},  // the sign counts towards the width
      {"%1d", "-5", 0, kUntouched, "5"},
      {"%0d", "12345", 1, 12345, ""},  // width 0 means no width
      {"%99999999999999999999d", "12 3", 1, 12, " 3"},
      {"%d", "2147483647", 1, INT_MAX, ""},
      {"%d", "2147483648", 1, INT_MAX, ""},
      {"%d", "-2147483648", 1, INT_MIN, ""},
      {"%d", "-2147483649", 1, INT_MIN, ""},
      {"%d", "99999999999999999999999999999", 1, INT_MAX, ""},
      {"%d", "007", 1, 7, ""},
      {"%i", "0x1F", 1, 31, ""},
      {"%i", "0X1f", 1, 31, ""},
      {"%i", "-0x10", 1, -16, ""},
      {"%i", "017", 1, 15, ""},
      {"%i", "08", 1, 0, "8"},
      {"%i", "0", 1, 0, ""},
      {"%i", "0xg", 1, 0, "g"},  // "0x" without digits reads as 0
      {"%i", "19z", 1, 19, "z"},
      {"%2i", "0x1F", 1, 0, "1F"},
      {"%i", "-", 0, kUntouched, ""},
  };
  for (const auto& c : cases) {
    int v = kUntouched;
    const ScanResult r = scan_at(c.text, c.fmt, &v);
    EXPECT_EQ(r.ret, c.ret) << c.fmt << " over '" << c.text << "'";
    EXPECT_EQ(v, c.value) << c.fmt << " over '" << c.text << "'";
    EXPECT_EQ(r.rest, c.rest) << c.fmt << " over '" << c.text << "'";
    EXPECT_FALSE(r.violation) << c.fmt << " over '" << c.text << "'";
    int v2 = kUntouched;
    EXPECT_EQ(ks::scan_text(c.text, c.fmt, &v2), c.ret) << c.fmt << " over '" << c.text << "'";
    EXPECT_EQ(v2, c.value);
  }
}

TEST(Scan, UnsignedIntegers) {
  struct Case {
    const char* fmt;
    const char* text;
    int ret;
    unsigned value;
    const char* rest;
  };
  const Case cases[] = {
      {"%o", "17", 1, 15u, ""},
      {"%o", "8", 0, 7u, "8"},
      {"%o", "778", 1, 63u, "8"},
      {"%x", "ff", 1, 255u, ""},
      {"%X", "0XFFz", 1, 255u, "z"},
      {"%x", "0x", 1, 0u, ""},
      {"%x", "-1", 1, UINT_MAX, ""},  // modulo the range, like strtoul
      {"%x", "fffffffff", 1, UINT_MAX, ""},
      {"%2x", "fff", 1, 255u, "f"},
      {"%x", "g", 0, 7u, "g"},
  };
  for (const auto& c : cases) {
    unsigned v = 7u;
    const ScanResult r = scan_at(c.text, c.fmt, &v);
    EXPECT_EQ(r.ret, c.ret) << c.fmt << " over '" << c.text << "'";
    EXPECT_EQ(v, c.value) << c.fmt << " over '" << c.text << "'";
    EXPECT_EQ(r.rest, c.rest) << c.fmt << " over '" << c.text << "'";
    EXPECT_FALSE(r.violation);
  }
}

TEST(Scan, SizeModifiersPickTheDestinationType) {
  short h = 0;
  long l = 0;
  long long ll = 0, big_l = 0, q = 0;
  EXPECT_EQ(ks::scan_text("70000 -5 9223372036854775807 -9223372036854775808 99999999999999999999",
                          "%hd %ld %lld %Ld %qd", &h, &l, &ll, &big_l, &q),
            5);
  EXPECT_EQ(h, SHRT_MAX);
  EXPECT_EQ(l, -5L);
  EXPECT_EQ(ll, LLONG_MAX);
  EXPECT_EQ(big_l, LLONG_MIN);
  EXPECT_EQ(q, LLONG_MAX);

  unsigned short uh = 0;
  unsigned long ul = 0;
  unsigned long long ull = 0;
  EXPECT_EQ(ks::scan_text("1ffff ffffffff ffffffffffffffff", "%hx %lx %Lx", &uh, &ul, &ull), 3);
  EXPECT_EQ(uh, USHRT_MAX);
  EXPECT_EQ(ul, 0xffffffffUL);
  EXPECT_EQ(ull, ULLONG_MAX);

  float f = 0;
  double d = 0;
  long double ld = 0, lq = 0, lll = 0;
  EXPECT_EQ(ks::scan_text("0.5 0.25 0.125 2 3", "%f %lf %Lf %qf %llf", &f, &d, &ld, &lq, &lll), 5);
  EXPECT_EQ(f, 0.5f);
  EXPECT_EQ(d, 0.25);
  EXPECT_EQ(ld, 0.125L);
  EXPECT_EQ(lq, 2.0L);
  EXPECT_EQ(lll, 3.0L);

  // "hh" is no modifier here: the second "h" is an unknown conversion.
  signed char hh = 9;
  const ScanResult r = scan_at("5", "%hhd", &hh);
  EXPECT_EQ(r.ret, 0);
  EXPECT_EQ(hh, 9);
  EXPECT_EQ(r.rest, "5");
}

TEST(Scan, Floats) {
  struct Case {
    const char* text;
    int ret;
    const char* rest;
  };
  // A field that scans must give what the C library makes of the same text.
  const Case cases[] = {
      {"1.5", 1, ""},
      {"  -2.25e2,", 1, ","},
      {"+.5", 1, ""},
      {"5.", 1, ""},
      {"1e+5", 1, ""},
      {"1E-2", 1, ""},
      {"1e", 1, ""},  // a bare "e" is eaten, the number stands
      {"1ex", 1, "x"},
      {"1.2.3", 1, ".3"},  // one "." only
      {"007.50", 1, ""},
      {"0.000000000000000000000000000000000000000000000000000000000000000123", 1, ""},
      {"123456789012345678901234567890.123456789012345678901234567890e-10", 1, ""},
      {".", 0, ""},
      {"-", 0, ""},
      {"abc", 0, "abc"},
      {"nan", 0, "nan"},
      {"inf", 0, "inf"},
      {"", -1, ""},
  };
  for (const auto& c : cases) {
    long double v = -1;
    const ScanResult r = scan_at(c.text, "%Lf", &v);
    EXPECT_EQ(r.ret, c.ret) << c.text;
    EXPECT_EQ(r.rest, c.rest) << c.text;
    EXPECT_FALSE(r.violation) << c.text;
    if (c.ret == 1) {
      const long double want = std::strtold(c.text, nullptr);
      EXPECT_LE(std::fabs(v - want), std::fabs(want) * 1e-18L) << c.text;
    } else {
      EXPECT_EQ(v, -1.0L) << c.text;
    }
  }
}

TEST(Scan, FloatsRoundLikeTheLibraryAndSaturate) {
  const char* texts[] = {"0.1", "3.14159265358979323846", "1e-300", "123456789.125", "2.5e-7",
                         "6.02214076e23", "0.3"};
  for (const char* t : texts) {
    double d = 0;
    float f = 0;
    ASSERT_EQ(ks::scan_text(t, "%lf", &d), 1);
    ASSERT_EQ(ks::scan_text(t, "%f", &f), 1);
    EXPECT_EQ(d, std::strtod(t, nullptr)) << t;
    EXPECT_EQ(f, std::strtof(t, nullptr)) << t;
  }
  // Far more digits than are kept: the value still scales right.
  std::string many(300, '7');
  long double ld = 0;
  ASSERT_EQ(ks::scan_text(many.c_str(), "%Lf", &ld), 1);
  EXPECT_NEAR(static_cast<double>(std::log10(ld)), 299.89, 0.01);

  float f = 0;
  double d = 0;
  ASSERT_EQ(ks::scan_text("1e400 -1e400", "%f %lf", &f, &d), 2);
  EXPECT_TRUE(std::isinf(f) && f > 0);
  EXPECT_TRUE(std::isinf(d) && d < 0);
  ASSERT_EQ(ks::scan_text("1e400", "%Lf", &ld), 1);
  EXPECT_TRUE(std::isfinite(ld));
  ASSERT_EQ(ks::scan_text("1e99999999999999999999 1e-99999999999999999999", "%lf %f", &d, &f), 2);
  EXPECT_TRUE(std::isinf(d));
  EXPECT_EQ(f, 0.0f);
  ASSERT_EQ(ks::scan_text("-0", "%lf", &d), 1);
  EXPECT_TRUE(d == 0.0 && std::signbit(d));

  const ScanResult r = scan_at("1.2345", "%3f", &f);
  EXPECT_EQ(r.ret, 1);
  EXPECT_EQ(f, 1.2f);
  EXPECT_EQ(r.rest, "345");
}

TEST(Scan, StringsCharactersAndSets) {
  struct Case {
    const char* fmt;
    const char* text;
    int ret;
    const char* stored;  // the bytes written (nullptr: nothing); then the buffer is checked
    bool terminated;     // a NUL follows the stored bytes
    const char* rest;
  };
  const Case cases[] = {
      {"%s", "  hello world", 1, "hello", true, " world"},
      {"%3s", "abcdef", 1, "abc", true, "def"},
      {"%s", "", -1, nullptr, false, ""},
      {"%s", " \n ", -1, nullptr, false, ""},
      {"%c", "  x", 1, " ", false, " x"},  // %c does not skip white space
      {"%3c", "abcd", 1, "abc", false, "d"},
      {"%3c", "ab", 0, "ab", false, ""},
      {"%c", "", -1, nullptr, false, ""},
      {"%[abc]", "abcabd", 1, "abcab", true, "d"},
      {"%[^,]", "one,two", 1, "one", true, ",two"},
      {"%[^,]", ",two", 0, nullptr, false, ",two"},
      {"%[]x]", "]]x]y", 1, "]]x]", true, "y"},
      {"%[^]x]", "ab]c", 1, "ab", true, "]c"},
      {"%[a-c]", "abcd", 1, "abc", true, "d"},
      {"%[-a]", "a-b", 1, "a-", true, "b"},
      {"%[a-]", "-a-b", 1, "-a-", true, "b"},
      {"%[abc]", "", -1, nullptr, false, ""},
      {"%[abc]", " a", 0, nullptr, false, " a"},  // %[ does not skip white space
      {"%2[abc]", "abc", 1, "ab", true, "c"},
      {"%[abc", "abc", 0, nullptr, false, "abc"},  // no closing bracket: the scan ends
      {"%[", "abc", 0, nullptr, false, "abc"},
      {"%[^\n]", "line one\nline two", 1, "line one", true, "\nline two"},
  };
  for (const auto& c : cases) {
    char buf[32];
    std::memset(buf, 'Z', sizeof buf);
    const ScanResult r = scan_at(c.text, c.fmt, buf);
    EXPECT_EQ(r.ret, c.ret) << c.fmt << " over '" << c.text << "'";
    EXPECT_EQ(r.rest, c.rest) << c.fmt << " over '" << c.text << "'";
    EXPECT_FALSE(r.violation) << c.fmt;
    const size_t n = c.stored ? std::strlen(c.stored) : 0;
    EXPECT_EQ(std::string(buf, n), std::string(c.stored ? c.stored : "")) << c.fmt;
    EXPECT_EQ(buf[n], c.terminated ? '\0' : 'Z') << c.fmt << " over '" << c.text << "'";
    EXPECT_EQ(buf[n + 1], 'Z') << c.fmt << " wrote past the field";
  }
}

TEST(Scan, ReturnsLiteralsAndWhiteSpace) {
  struct Case {
    const char* fmt;
    const char* text;
    int ret;
    const char* rest;
  };
  const Case cases[] = {
      {"%d %d", "12 x", 1, "x"},
      {"ct03 %d ", "ct02 5", -1, "2 5"},
      {"ct03 %d ", "ct03   5  \n6", 1, "6"},
      {"%d,%d", "1,2", 2, ""},
      {"%d,%d", "1;2", -1, ";2"},  // a literal mismatch is -1 even after an assignment
      {"%d,", "1", -1, ""},        // so is the input ending at a literal
      {"%d %d", "1", 1, ""},       // the input ending before a conversion keeps the count
      {"%d %d", "1   ", 1, ""},
      {"%d%%", "5%", 1, ""},
      {"%d %%", "5 %x", 1, "x"},
      {"%d%%", "5 %", 1, ""},  // %% skips white space first
      {"%d%%", "5 x", -1, "x"},
      {"%d %y %d", "1 2 3", 1, "2 3"},  // an unknown conversion ends the scan
      {"%u", "5", 0, "5"},
      {"%", "abc", 0, "abc"},
      {"%5", "abc", 0, "abc"},
      {"%*", "abc", 0, "abc"},
      {"a b", "a   b", 0, ""},
      {"a b", "ab", 0, ""},  // format white space matches none too
      {"abc", "abd", -1, "d"},
      {"", "abc", 0, "abc"},
      {"  %d", "\t\n 7", 1, ""},
      {"x%d", "", -1, ""},
  };
  for (const auto& c : cases) {
    int a = 0, b = 0;
    const ScanResult r = scan_at(c.text, c.fmt, &a, &b);
    EXPECT_EQ(r.ret, c.ret) << c.fmt << " over '" << c.text << "'";
    EXPECT_EQ(r.rest, c.rest) << c.fmt << " over '" << c.text << "'";
    EXPECT_FALSE(r.violation) << c.fmt;
  }
  int a = 0, b = 0;
  EXPECT_EQ(ks::scan_text("1 2", "%*d %d", &a), 1);
  EXPECT_EQ(a, 2);
  char word[8];
  EXPECT_EQ(ks::scan_text("skip keep", "%*s %7s", word), 1);
  EXPECT_STREQ(word, "keep");
  EXPECT_EQ(ks::scan_text("12 x", "%d %d", &a, &b), 1);
}

TEST(Scan, CountsConsumedBytes) {
  int n = -1, m = -1, v = 0;
  EXPECT_EQ(ks::scan_text("123 ", "%d%n", &v, &n), 1);  // %n is no assignment
  EXPECT_EQ(n, 3);
  EXPECT_EQ(ks::scan_text("   x", " %n", &n), 0);
  EXPECT_EQ(n, 3);
  EXPECT_EQ(ks::scan_text("1  2", "%n%d %n%d", &m, &v, &n, &v), 2);
  EXPECT_EQ(m, 0);
  EXPECT_EQ(n, 3);
  EXPECT_EQ(ks::scan_text("# comment\nnext", " #%*[^\n]%n", &n), 0);
  EXPECT_EQ(n, 9);
  short hn = 0;
  long long lln = 0;
  EXPECT_EQ(ks::scan_text("abc", "%*c%hn%*c%lln", &hn, &lln), 0);
  EXPECT_EQ(hn, 1);
  EXPECT_EQ(lln, 2);
  // A pushed-back character is not counted.
  EXPECT_EQ(ks::scan_text("12x", "%d%n", &v, &n), 1);
  EXPECT_EQ(n, 2);
}

TEST(Scan, HostileInput) {
  // Huge fields: nothing overflows and the whole run is taken.
  const std::string nines(1 << 20, '9');
  int v = 0;
  EXPECT_EQ(ks::scan_text(nines.c_str(), "%d", &v), 1);
  EXPECT_EQ(v, INT_MAX);
  const std::string minus = "-" + nines;
  EXPECT_EQ(ks::scan_text(minus.c_str(), "%d", &v), 1);
  EXPECT_EQ(v, INT_MIN);
  double d = 0;
  EXPECT_EQ(ks::scan_text(nines.c_str(), "%lf", &d), 1);
  EXPECT_TRUE(std::isinf(d));
  const std::string tiny = "0." + std::string(1 << 20, '0') + "1";
  EXPECT_EQ(ks::scan_text(tiny.c_str(), "%lf", &d), 1);
  EXPECT_EQ(d, 0.0);
  int n = 0;
  EXPECT_EQ(ks::scan_text(nines.c_str(), "%*s%n", &n), 0);
  EXPECT_EQ(n, 1 << 20);
  EXPECT_EQ(ks::scan_text(nines.c_str(), "%*[0-9]%n", &n), 0);
  EXPECT_EQ(n, 1 << 20);
  EXPECT_EQ(ks::scan_text(nines.c_str(), "%*2147483647c%n", &n), 0);  // partial %c
  EXPECT_EQ(ks::scan_text("abc", "%*99999999999999999999c%n", &n), 0);
  // Bytes above 127 are plain characters.
  char buf[8];
  EXPECT_EQ(ks::scan_text("\xff\x80 x", "%7s", buf), 1);
  EXPECT_STREQ(buf, "\xff\x80");
  EXPECT_EQ(ks::scan_text("\xff\xfe", "%[\xfe-\xff]", buf), 1);
  EXPECT_STREQ(buf, "\xff\xfe");
  EXPECT_EQ(ks::scan_text(nullptr, "%d", &v), -1);
  EXPECT_EQ(ks::scan_text("1", nullptr), -1);
}

// The VfsFile front end, its push-back and the helpers built on it.
TEST(ScanFile, ScanLeavesTheUnreadCharacter) {
  const char text[] = "12 x";
  ks::VfsFile* f = ks::vfs_open_memory(text, sizeof text - 1);
  ASSERT_NE(f, nullptr);
  int a = 0, b = 0;
  EXPECT_EQ(ks::vfs_scan(f, "%d %d", &a, &b), 1);
  EXPECT_EQ(a, 12);
  EXPECT_EQ(ks::vfs_tell(f), 3);
  EXPECT_EQ(ks::vfs_getc(f), 'x');
  EXPECT_EQ(ks::vfs_scan(f, "%d", &a), -1);
  ks::vfs_close(f);
}

TEST(ScanFile, ReadIntAndSkipComments) {
  const char text[] = "  # one\n#\n\n   #two\n 42 # trailing\n#\n#\n-7\nx";
  ks::VfsFile* f = ks::vfs_open_memory(text, sizeof text - 1);
  ASSERT_NE(f, nullptr);
  ks::skip_comments(f);
  EXPECT_EQ(ks::read_int(f), 42);
  ks::skip_comments(f);  // empty comment lines do not stop it
  EXPECT_EQ(ks::read_int(f), -7);
  ks::skip_comments(f);
  EXPECT_EQ(ks::read_int(f), INT_MIN);
  EXPECT_EQ(ks::vfs_getc(f), 'x');
  ks::skip_comments(f);  // at the end: returns
  EXPECT_EQ(ks::read_int(f), INT_MIN);
  ks::vfs_close(f);
  EXPECT_EQ(ks::read_int(nullptr), INT_MIN);
  ks::skip_comments(nullptr);
}

}  // namespace
