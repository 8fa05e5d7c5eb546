// The scanner core over an abstract character source, shared by the VfsFile and text
// front ends (private to src/fs).
#pragma once

#include <cstdarg>

namespace ks {

// A stream of bytes 0..255 (-1 at the end) with one character of push-back. `consumed`
// counts the bytes taken and not given back, which is what "%n" reports.
struct ScanSource {
  int (*get)(void* ctx) = nullptr;
  void (*unget)(void* ctx, int c) = nullptr;
  void* ctx = nullptr;
  long long consumed = 0;
};

// Runs the format over the source with scanf conventions; the number of assignments or -1.
// The va_list is consumed (pass a va_copy when the caller still needs it).
int scan_source(ScanSource& src, const char* fmt, va_list ap);

}  // namespace ks
