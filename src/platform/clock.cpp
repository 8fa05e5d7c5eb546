// The platform clock and sleeping.
#include <sched.h>
#include <time.h>

#include <cstdint>

#include "platform/vant.h"

namespace {

int64_t monotonic_ns() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// The clock starts near zero at the first call, so the log's h:mm:ss reads as run time.
int64_t origin_ns() {
  static const int64_t origin = monotonic_ns();
  return origin;
}

}  // namespace

VantTime vant_time() {
  const int64_t ms = (monotonic_ns() - origin_ns()) / 1000000;
  return VantTime{static_cast<long>(ms / 1000), static_cast<long>((ms % 1000) * 1000)};
}

double vant_seconds() {
  const VantTime t = vant_time();
  return static_cast<double>(t.sec) + static_cast<double>(t.usec) * 1e-6;
}

void vant_sleep(long sec, long usec) {
  // The deadline is kept on the fine clock, so short sleeps are not rounded to a millisecond.
  const int64_t deadline = monotonic_ns() + static_cast<int64_t>(sec) * 1000000000 +
                           static_cast<int64_t>(usec) * 1000;
  const int64_t whole_ms = (deadline - monotonic_ns()) / 1000000;
  if (whole_ms >= 2) {
    const int64_t ns = (whole_ms - 1) * 1000000;
    timespec ts{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
    while (nanosleep(&ts, &ts) != 0) {
    }
  }
  while (monotonic_ns() < deadline) sched_yield();
}
