// The message box: the window layer's real one when installed, else standard error.
#include <cstdio>
#include <cstring>

#include "platform/vant.h"

namespace {
VantMessageBoxHook g_hook = nullptr;
}

void vant_set_message_box_hook(VantMessageBoxHook hook) { g_hook = hook; }

void vant_message_box(const char* title, const char* fmt, ...) {
  char text[1024];
  va_list ap;
  va_start(ap, fmt);
  std::vsnprintf(text, sizeof text, fmt, ap);
  va_end(ap);
  if (g_hook && g_hook(title, text)) return;
  std::fprintf(stderr, "%s: %s", title, text);
  const size_t n = std::strlen(text);
  if (n == 0 || text[n - 1] != '\n') std::fputc('\n', stderr);
}
