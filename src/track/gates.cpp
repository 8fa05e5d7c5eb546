// The "timing_gates" file: "startinggate:" lines, "checkpoints:", "firstlap:" and
// "normallap:" sections, the validity rule, and the writer.
#include "track/gates.h"

#include <cmath>
#include <cstring>
#include <numbers>

#include "fs/vfs.h"
#include "track/track_text.h"

namespace ks {

const char* const kDefaultGateModel = "@startgate.jm";
const char* const kDefaultGateTexture = "@startgate.ppm";
const char* const kDefaultGateShape = "@startgate.shp";

namespace {

constexpr size_t kWordChars = 80;

bool next_word(VfsFile* f, char (&word)[kWordChars + 1]) {
  word[0] = '\0';
  return vfs_scan(f, " %80s ", word) == 1;
}

// The first word of a line is "checkpoints:".
bool is_checkpoints_line(const std::string& line) {
  const char* s = line.c_str();
  while (*s == ' ' || *s == '\t' || *s == '\r' || *s == '\f' || *s == '\v') ++s;
  constexpr const char kWord[] = "checkpoints:";
  constexpr size_t kLen = sizeof kWord - 1;
  if (std::strncmp(s, kWord, kLen) != 0) return false;
  const char c = s[kLen];
  return c == '\0' || c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

void read_sequence(VfsFile* f, std::vector<int>& seq, int checkpoint_count) {
  int v = 0;
  while (seq.size() < kMaxSequenceGates && vfs_scan(f, "%d", &v) == 1) {
    seq.push_back(clamp_gate_reference(v, checkpoint_count));
  }
}

int unmarked(const std::vector<int>& seq) {
  int n = 0;
  for (int v : seq) n += v < kMarkedGate ? 1 : 0;
  return n;
}

}  // namespace

float normalize_gate_angle(float a) {
  if (!std::isfinite(a)) return 0;
  const double two_pi = 2 * std::numbers::pi;
  double d = std::fmod(double(a), two_pi);  // -2pi .. 2pi
  if (d > std::numbers::pi) d -= two_pi;
  if (d < -std::numbers::pi) d += two_pi;
  return static_cast<float>(d);
}

int clamp_gate_reference(int v, int checkpoint_count) {
  if (v < 0) return 0;
  const int mark = v >= kMarkedGate ? kMarkedGate : 0;
  int n = v % kMarkedGate;
  // With no checkpoints at all there is nothing to refer to; 0 keeps the value in range
  // (such a set is invalid anyway).
  const int last = checkpoint_count > 0 ? checkpoint_count - 1 : 0;
  if (n > last) n = last;
  return mark + n;
}

void read_timing_gates(VfsFile* f, TimingGates& g) {
  g = TimingGates{};
  if (f == nullptr) return;
  char word[kWordChars + 1];
  bool have_word = next_word(f, word);

  if (have_word && std::strcmp(word, "startinggate:") == 0) {
    have_word = false;
    std::string line;
    char names[3][1024];
    while (read_track_line(f, line)) {
      if (is_checkpoints_line(line)) {
        std::strcpy(word, "checkpoints:");
        have_word = true;
        break;
      }
      GatePosition p;
      names[0][0] = names[1][0] = names[2][0] = '\0';
      int n = scan_text(line.c_str(), " [ %f %f %f ] %f %1023s %1023s %1023s", &p.slot[0],
                        &p.slot[1], &p.slot[2], &p.angle, names[0], names[1], names[2]);
      if (n < 4) break;
      p.angle = normalize_gate_angle(p.angle);
      if (n >= 5) p.model = name_or_none(names[0]);
      if (n >= 6) p.texture = name_or_none(names[1]);
      if (n >= 7) p.shape = name_or_none(names[2]);
      // Extra positions are skipped, but the list goes on to its "checkpoints:" line.
      if (g.start.size() < kMaxGatePositions) g.start.push_back(std::move(p));
    }
    if (!have_word) have_word = next_word(f, word);
  }

  if (have_word && std::strcmp(word, "checkpoints:") == 0) {
    TimingGate c;
    while (g.checkpoints.size() < kMaxCheckpoints &&
           vfs_scan(f, "%f [ %f %f %f ] [ %f %f %f ] ", &c.radius, &c.position[0],
                    &c.position[1], &c.position[2], &c.direction[0], &c.direction[1],
                    &c.direction[2]) == 7) {
      g.checkpoints.push_back(c);
    }
    have_word = next_word(f, word);
  }

  const int count = static_cast<int>(g.checkpoints.size());
  if (have_word && std::strcmp(word, "firstlap:") == 0) {
    read_sequence(f, g.first_lap, count);
    have_word = next_word(f, word);
  }
  if (have_word && std::strcmp(word, "normallap:") == 0) {
    read_sequence(f, g.normal_lap, count);
  }

  g.first_lap_unmarked = unmarked(g.first_lap);
  g.normal_lap_unmarked = unmarked(g.normal_lap);
  g.valid = count > 0 && g.first_lap.size() > 2 && g.normal_lap.size() > 2 &&
            g.first_lap_unmarked > 2 && g.normal_lap_unmarked > 2;
  if (!g.valid) {
    g.checkpoints.clear();
    g.first_lap.clear();
    g.normal_lap.clear();
    g.first_lap_unmarked = 0;
    g.normal_lap_unmarked = 0;
  }
}

bool write_timing_gates(VfsFile* f, const TimingGates& g) {
  if (f == nullptr) return false;
  if (!g.start.empty()) {
    vfs_puts(f, "startinggate:\n");
    for (const GatePosition& p : g.start) {
      vfs_printf(f, "[%f %f %f]", double(p.slot[0]), double(p.slot[1]), double(p.slot[2]));
      vfs_printf(f, " %f", double(p.angle));
      if (p.model == kDefaultGateModel && p.texture == kDefaultGateTexture &&
          p.shape == kDefaultGateShape) {
        vfs_puts(f, "\n");
      } else {
        vfs_printf(f, " %s %s %s\n", none_as_null(p.model), none_as_null(p.texture),
                   none_as_null(p.shape));
      }
    }
  }
  if (!g.checkpoints.empty()) {
    vfs_puts(f, "checkpoints:\n");
    for (const TimingGate& c : g.checkpoints) {
      vfs_printf(f, "%f ", double(c.radius));
      vfs_printf(f, "[%f %f %f]", double(c.position[0]), double(c.position[1]),
                 double(c.position[2]));
      vfs_puts(f, " ");
      vfs_printf(f, "[%f %f %f]", double(c.direction[0]), double(c.direction[1]),
                 double(c.direction[2]));
      vfs_puts(f, "\n");
    }
  }
  auto sequence = [f](const char* head, const std::vector<int>& seq) {
    if (seq.empty()) return;
    vfs_puts(f, head);
    for (int v : seq) vfs_printf(f, "%d ", v);
    vfs_puts(f, "\n");
  };
  sequence("firstlap:\n", g.first_lap);
  sequence("normallap:\n", g.normal_lap);
  return !vfs_write_failed(f);
}

bool write_timing_gates_file(const char* path, const TimingGates& g) {
  return write_track_output(path, "timing_gates",
                            [&](VfsFile* f) { return write_timing_gates(f, g); });
}

}  // namespace ks
