// The per-track, per-skill racing-line files ("ct03"): reading with the statistics
// bounded, and writing by replace-and-commit so that a crash never leaves half a file.
#include <algorithm>
#include <climits>
#include <cmath>

#include "autopilot/racing_lines.h"
#include "core/detail_settings.h"
#include "fs/vfs.h"
#include "platform/vant.h"
#include "track/track.h"

namespace ks {

namespace {

constexpr int64_t kMaxLineSum = 100000000;
constexpr int kMaxLineCount = 65535;
constexpr float kMaxCoordinate = 1e7f;  // beyond any terrain; keeps the geometry finite

const char* const kSkillFiles[] = {"lines_novice", "lines_amateur", "lines_expert"};

bool point_usable(const LinePoint& p) {
  for (float v : {p.x, p.y, p.z, p.speed, p.lean}) {
    if (!std::isfinite(v) || std::fabs(v) > kMaxCoordinate) return false;
  }
  return true;
}

}  // namespace

std::string lines_file_name(const std::string& track, int skill) {
  return "@" + track + "/" + kSkillFiles[std::clamp(skill, 0, 2)];
}

void bound_line_statistics(RacingLine& l) {
  // Hostile or damaged files: nothing negative, no times past "untimed".
  l.time_a = std::clamp(l.time_a, 0, kLineUntimed);
  l.time_b = std::clamp(l.time_b, 0, kLineUntimed);
  l.best_a = std::clamp(l.best_a, 0, kLineUntimed);
  l.best_b = std::clamp(l.best_b, 0, kLineUntimed);
  l.tested = std::max(l.tested, 0);
  l.fails = std::max(l.fails, 0);
  l.sum_a = std::max<int64_t>(l.sum_a, 0);
  l.sum_b = std::max<int64_t>(l.sum_b, 0);
  for (int round = 0; round < 16 && (l.sum_b > kMaxLineSum || l.tested > kMaxLineCount ||
                                     l.fails > kMaxLineCount);
       ++round) {
    const int half = l.tested / 2;
    if (half != 0) {  // keep the averages
      l.sum_a = half * (l.sum_a / l.tested);
      l.sum_b = half * (l.sum_b / l.tested);
    }
    l.tested = half;
    l.fails /= 2;
  }
  l.sum_a = std::min(l.sum_a, kMaxLineSum);
  l.sum_b = std::min(l.sum_b, kMaxLineSum);
  l.tested = std::min(l.tested, kMaxLineCount);
  l.fails = std::min(l.fails, kMaxLineCount);
}

bool read_lines(LineStore& store, VfsFile* f) {
  if (f == nullptr || store.records.empty()) return false;
  int header = -1;
  if (vfs_scan(f, " ct03 %d", &header) != 1 || header != int(store.records.size())) return false;
  const bool log = detail_settings().verbose >= 1;
  bool readable = true;
  for (size_t r = 0; r < store.records.size() && readable; ++r) {
    LineRecord& rec = store.records[r];
    int count = 0;
    if (vfs_scan(f, " %d", &count) != 1) break;
    int read = 0, kept = 0;
    for (int i = 0; i < count && readable; ++i) {
      int n = 0, a = 0, b = 0, tested = 0, best_a = 0, best_b = 0, fails = 0;
      long long sum_a = 0, sum_b = 0;
      if (vfs_scan(f, " %d %d %d %d %d %d %lld %lld %d", &n, &a, &b, &tested, &best_a, &best_b,
                   &sum_a, &sum_b, &fails) != 9) {
        readable = false;
        break;
      }
      RacingLine line;
      bool usable = n >= kMinLinePoints && n <= kMaxLinePoints;
      if (usable) line.points.reserve(size_t(n));
      for (int p = 0; p < n; ++p) {
        LinePoint pt;
        if (vfs_scan(f, " [ %f %f %f ] %f %f", &pt.x, &pt.y, &pt.z, &pt.speed, &pt.lean) != 5) {
          // The rest of the file can't be lined up again.
          readable = false;
          usable = false;
          break;
        }
        if (!usable) continue;
        if (!point_usable(pt)) usable = false;
        line.points.push_back(pt);
      }
      if (!readable) break;
      ++read;
      if (!usable || kept >= kLinesPerRecord) continue;
      line.time_a = a;
      line.time_b = b;
      line.tested = tested;
      line.best_a = best_a;
      line.best_b = best_b;
      line.sum_a = sum_a;
      line.sum_b = sum_b;
      line.fails = fails;
      bound_line_statistics(line);
      line.id = store.next_id;
      store.next_id = store.next_id >= INT_MAX ? 1 : store.next_id + 1;
      rec.lines[size_t(kept++)] = std::move(line);
    }
    if (log) vant_log("%d: %d\n", int(r), read);
  }
  return true;
}

bool write_lines(const LineStore& store, VfsFile* f) {
  if (f == nullptr) return false;
  vfs_printf(f, "ct03 %d\n", int(store.records.size()));
  for (const LineRecord& rec : store.records) {
    vfs_printf(f, "%d\n", line_count(rec));
    for (const RacingLine& l : rec.lines) {
      if (l.points.empty()) continue;
      vfs_printf(f, "%d %d %d %d %d %d %lld %lld %d\n", int(l.points.size()), l.time_a, l.time_b,
                 l.tested, l.best_a, l.best_b, static_cast<long long>(l.sum_a),
                 static_cast<long long>(l.sum_b), l.fails);
      for (const LinePoint& p : l.points) {
        vfs_printf(f, "[%f %f %f] %f %f\n", double(p.x), double(p.y), double(p.z),
                   double(p.speed), double(p.lean));
      }
    }
    if (vfs_write_failed(f)) return false;
  }
  return !vfs_write_failed(f);
}

bool load_lines(const std::string& track, int skill, const TimingGates& gates) {
  LineStore& s = line_store();
  create_line_records(s, gates);
  s.loaded_track.clear();
  s.loaded_skill = -1;
  if (s.records.empty() || track.empty()) return false;
  // Remembered even without a file, so that learning can write the first one.
  s.loaded_track = track;
  s.loaded_skill = std::clamp(skill, 0, 2);
  VfsFile* f = vfs_open(lines_file_name(track, skill).c_str(), "rb");
  if (f == nullptr) return false;
  const bool ok = read_lines(s, f);
  vfs_close(f);
  return ok;
}

bool load_lines(const std::string& track, int skill) {
  const Track* t = current_track();
  if (t == nullptr) {
    clear_line_records();
    return false;
  }
  return load_lines(track, skill, t->gates);
}

void save_lines() {
  const LineStore& s = line_store();
  if (!s.learn || s.records.empty() || s.loaded_track.empty()) return;
  VfsFile* f = vfs_open_replace(lines_file_name(s.loaded_track, s.loaded_skill).c_str());
  if (f == nullptr) return;  // a read-only home: nothing is saved
  if (!write_lines(s, f)) {
    vfs_close(f);  // drops the temporary file; the old one stays
    return;
  }
  vfs_commit(f);
}

}  // namespace ks
