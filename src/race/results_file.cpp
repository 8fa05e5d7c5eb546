// "results.txt": the race settings, one row per finished bike and every bike's crossing
// times, CR LF line ends, written whole or not at all.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "fs/vfs.h"
#include "race/timing.h"
#include "race/timing_internal.h"

namespace ks {

using namespace timing_detail;

namespace {

__attribute__((format(printf, 2, 3))) void appendf(std::string& out, const char* fmt, ...) {
  char small[256];
  va_list ap;
  va_start(ap, fmt);
  const int n = std::vsnprintf(small, sizeof small, fmt, ap);
  va_end(ap);
  if (n < 0) return;
  if (size_t(n) < sizeof small) {
    out.append(small, size_t(n));
    return;
  }
  std::string big(size_t(n) + 1, '\0');
  va_start(ap, fmt);
  std::vsnprintf(big.data(), big.size(), fmt, ap);
  va_end(ap);
  out.append(big.data(), size_t(n));
}

std::string plate_of(const RaceState& race, int slot) {
  const BikeState* bike = slot_bike(race, slot);
  if (bike == nullptr) return {};
  return std::string(bike->number.data(), strnlen(bike->number.data(), bike->number.size()));
}

int64_t results_date() {
  if (timing_options().results_date >= 0) return timing_options().results_date;
  if (const char* env = std::getenv("KS_RESULTS_DATE")) {
    char* end = nullptr;
    const long long v = std::strtoll(env, &end, 10);
    if (end != env && *end == '\0' && v >= 0) return v;
  }
  return int64_t(std::time(nullptr));
}

}  // namespace

namespace timing_detail {

std::string results_text_of(const Sequence& s, const RaceState& race, int64_t date) {
  std::string out;
  appendf(out, "Time=%.2f|Laps=%d|Track=%s|Date=%ld\r\n", tics_to_seconds(race.time_limit),
          race.laps, race.track_dir.c_str(), long(date));
  appendf(out, "%4s | %12s | %4s | %10s | %4s | %10s\r\n", "No.", "Bike", "Laps",
          "Total Time", "BLap", "Best Time");
  for (const RunningEntry& e : race.final_results) {
    if (!finished_test(s, race, e.slot)) continue;
    const RaceSlot& slot = race.slots[size_t(e.slot)];
    const Clock total = clock_of(tics_to_seconds(e.last_tic - race.start_tic));
    const int b = best_lap_of(s, race, e.slot);
    const Clock best = clock_of(tics_to_seconds(b > 0 ? lap_tics_of(s, race, e.slot, b) : 0));
    appendf(out, "%4s | %12s | %4d | %3d:%02d.%03d | ", plate_of(race, e.slot).c_str(),
            slot.model_name.c_str(), laps_of_count(s, e.gate_count), total.minutes,
            total.seconds, total.millis);
    appendf(out, "%4d | %3d:%02d.%03d\r\n", b, best.minutes, best.seconds, best.millis);
  }
  for (const RunningEntry& e : race.final_results) {
    if (!finished_test(s, race, e.slot)) continue;
    const BikeTiming& t = race.slots[size_t(e.slot)].timing;
    appendf(out, "\r\n%d\r\n", t.gate_count);
    for (int k = 0; k < t.gate_count; ++k) {
      const int tic = tic_at(t, k);
      if (tic >= 0)
        appendf(out, "%8.3f", tics_to_seconds(tic - race.start_tic));
      else
        appendf(out, "%8d", -1);
      const bool lap_end = lap_line(s, k) || k + 1 == t.gate_count;
      out += lap_end ? "\r\n" : " ";
    }
  }
  return out;
}

bool write_results(const Sequence& s, const RaceState& race) {
  const std::string text = results_text_of(s, race, results_date());
  // A temporary file renamed over the old one, so a failed write leaves no torn results.
  VfsFile* f = vfs_open_replace("@results.txt");
  if (f == nullptr) return false;
  if (vfs_write(f, text.data(), text.size()) != text.size()) {
    vfs_close(f);
    return false;
  }
  return vfs_commit(f);
}

}  // namespace timing_detail

std::string results_text(const RaceState& race, int64_t date) {
  return results_text_of(current_sequence(), race, date);
}

bool write_results_file(const RaceState& race) {
  return write_results(current_sequence(), race);
}

}  // namespace ks
