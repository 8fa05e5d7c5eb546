// Playing a demo: opening with the header rules, the read-ahead over the chunks (states,
// messages, settings, erosion), the ghost's time offset, posing replayed slots from their
// history with interpolation and extrapolation, and moving the read position for skips.
//
// Every byte read is checked: a truncated or damaged demo plays up to the damage, then
// stops with a message.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>

#include "demo/demo.h"
#include "demo/demo_module.h"
#include "fs/messages.h"
#include "fs/vfs.h"
#include "physics/erosion.h"
#include "track/track.h"

namespace ks {

namespace {

constexpr int kHeaderLine = 1024;
constexpr int kMaxDemoRiders = 256;           // rider indices are one byte
constexpr uint32_t kMaxChunkBytes = 1u << 21;  // far above 160 riders x 128 entries
constexpr int kMaxRaceTic = 1 << 28;           // about 24 days of tics
constexpr int kReadAheadTics = 64;
constexpr int kOldReadAheadTics = 8;
constexpr int kMaxChunksPerStep = 128;
constexpr size_t kMaxPendingErosion = 8192;
constexpr int kDefaultStartTic = 14 * kTicsPerSecond;
constexpr int kMaxMessageChars = 1023;

DemoPlayer& player() { return demo_module().player; }

uint32_t get32(const uint8_t* b) {
  return uint32_t{b[0]} | uint32_t{b[1]} << 8 | uint32_t{b[2]} << 16 | uint32_t{b[3]} << 24;
}
int as_int(uint32_t v) {
  int out = 0;
  std::memcpy(&out, &v, sizeof out);
  return out;
}

// Demo tic plus the ghost's offset, or nullopt-like false when it leaves the race's range.
bool race_tic(int64_t demo_tic, int offset, int* out) {
  const int64_t t = demo_tic + offset;
  if (t < 0 || t > kMaxRaceTic) return false;
  *out = static_cast<int>(t);
  return true;
}

void report_damage(long position) {
  DemoPlayer& p = player();
  p.ended = true;
  if (p.damage_reported) return;
  p.damage_reported = true;
  post_messagef("Demo damaged at byte %ld: playback stops there", position);
}

// One header line with its "\n" removed; false when it doesn't end in "\n".
bool header_line(VfsFile* f, std::string* out) {
  char buf[kHeaderLine];
  if (vfs_gets(f, buf, kHeaderLine) == nullptr) return false;
  const size_t n = std::strlen(buf);
  if (n == 0 || buf[n - 1] != '\n') return false;
  out->assign(buf, n - 1);
  return true;
}

bool safe_track_name(const std::string& t) {
  return !t.empty() && t[0] != '/' && t.find("..") == std::string::npos;
}

// Closes the file and forgets the riders; always false.
bool fail_open() {
  DemoPlayer& p = player();
  vfs_close(p.file);
  p = DemoPlayer{};
  return false;
}

void add_entry(const uint8_t* e, int offset) {
  DemoPlayer& p = player();
  const size_t rider = e[0];
  if (rider >= p.riders.size()) return;
  const int slot = p.riders[rider].slot;
  if (slot < 0 || slot >= kMaxBikes) return;
  int tic = 0;
  if (!race_tic(as_int(get32(e + 1)), offset, &tic)) return;
  DemoState s;
  std::memcpy(s.data(), e + 5, s.size());
  add_state_to_history(slot, s, tic);
}

void apply_due_erosion(const RaceState& race) {
  DemoPlayer& p = player();
  size_t done = 0;
  while (done < p.erosion.size() && p.erosion[done].tic <= race.current_tic) {
    const PendingErosion& e = p.erosion[done];
    decode_erosion_record(e.bytes.data(), static_cast<int>(e.bytes.size()));
    p.last_erosion = e.position;
    ++done;
  }
  p.erosion.erase(p.erosion.begin(), p.erosion.begin() + static_cast<std::ptrdiff_t>(done));
}

// One chunk at the next chunk position; false at the end of the data or on damage.
bool read_chunk(RaceState& race) {
  DemoPlayer& p = player();
  VfsFile* f = p.file;
  if (vfs_tell(f) != p.next_chunk && !vfs_seek(f, p.next_chunk)) {
    report_damage(p.next_chunk);
    return false;
  }
  uint8_t head[9];
  const size_t got = vfs_read(f, head, sizeof head);
  if (got == 0) {
    p.ended = true;  // the end of a whole demo
    return false;
  }
  if (got < sizeof head) {
    report_damage(p.next_chunk);
    return false;
  }
  const uint32_t length = get32(head) ^ p.prev_length;
  const int tic = as_int(get32(head + 4));
  const int type = head[8];
  if (length > kMaxChunkBytes) {
    report_damage(p.next_chunk);
    return false;
  }
  std::vector<uint8_t> payload(length);
  if (length > 0 && vfs_read(f, payload.data(), length) != length) {
    report_damage(p.next_chunk);
    return false;
  }
  const long position = p.next_chunk;

  if (type == kChunkStates && length % kStateEntryBytes == 0) {
    if (p.first_tic < 0) {
      if (tic < 0 || tic > kMaxRaceTic) {
        report_damage(position);
        return false;
      }
      p.first_tic = tic;
      if (race.time_trial)
        p.time_offset = race.current_tic - tic;
      else
        race.current_tic = tic;
    }
    for (uint32_t at = 0; at < length; at += kStateEntryBytes) add_entry(&payload[at], p.time_offset);
  } else if (race.time_trial) {
    // A ghost brings only its riders: no messages, settings or ruts of its own race.
  } else if (type == kChunkMessage) {
    const size_t n = std::min<size_t>(length, kMaxMessageChars);
    std::string text(reinterpret_cast<const char*>(payload.data()), n);
    text = text.substr(0, text.find('\0'));
    post_message(text.c_str());
  } else if (type == kChunkSettings) {
    const std::string text(reinterpret_cast<const char*>(payload.data()), payload.size());
    int rate = 0;
    if (scan_text(text.c_str(), "erode %d", &rate) == 1) race.erosion_rate = rate;
  } else if (type == kChunkErosion) {
    int at = 0;
    if (position > p.last_erosion && race_tic(tic, p.time_offset, &at)) {
      if (p.erosion.size() >= kMaxPendingErosion) {
        decode_erosion_record(p.erosion.front().bytes.data(),
                              static_cast<int>(p.erosion.front().bytes.size()));
        p.last_erosion = p.erosion.front().position;
        p.erosion.erase(p.erosion.begin());
      }
      p.erosion.push_back({at, position, std::move(payload)});
    }
  }
  p.prev_length = length;
  p.next_chunk = position + 9 + static_cast<long>(length);
  // Until the first states fix the time offset, other chunks don't say how far ahead we are.
  int ahead = 0;
  if (p.first_tic >= 0) p.read_ahead_tic = race_tic(tic, p.time_offset, &ahead) ? ahead : kMaxRaceTic;
  return true;
}

// Version 5: one 39-byte state per rider per tic, from tic 0 on.
void read_old_states(const RaceState& race) {
  DemoPlayer& p = player();
  const size_t riders = p.riders.size();
  for (int n = 0; n < kMaxChunksPerStep && !p.ended &&
                  p.read_ahead_tic <= race.current_tic + kOldReadAheadTics;
       ++n) {
    for (size_t r = 0; r < riders; ++r) {
      DemoState s;
      const size_t got = vfs_read(p.file, s.data(), s.size());
      if (got < s.size()) {
        p.ended = true;
        if (got > 0 || r > 0) report_damage(vfs_tell(p.file));
        return;
      }
      const int slot = p.riders[r].slot;
      if (slot >= 0 && slot < kMaxBikes) add_state_to_history(slot, s, p.read_ahead_tic);
    }
    ++p.read_ahead_tic;
  }
}

}  // namespace

// ---- opening ----------------------------------------------------------------------------

bool open_playback(RaceState& race) {
  close_playback();
  VfsFile* f = nullptr;
  // A time trial's ghost is always the track's fastest lap.
  if (race.time_trial) {
    std::string track = race.track_dir;
    if (track.empty() && current_track() != nullptr) track = current_track()->dir;
    f = vfs_open(("@" + track + "/fastlap.ksdemo").c_str(), "rb");
  } else if (!demo_options().play_file.empty()) {
    f = vfs_open(demo_options().play_file.c_str(), "rb");
  } else {
    f = vfs_open("@demos/default.ksdemo", "rb");
  }
  if (f == nullptr) return false;
  return open_playback_file(race, f);
}

bool open_playback_file(RaceState& race, VfsFile* f) {
  close_playback();
  if (f == nullptr) return false;
  DemoPlayer& p = player();
  p.file = f;
  std::string line;
  int version = 0, riders = 0, limit = 0, laps = race.laps, start = kDefaultStartTic;
  if (!header_line(f, &line)) return fail_open();
  const int n = scan_text(line.c_str(), "KS%d %d %d %d %d", &version, &riders, &limit, &laps, &start);
  if (n < 3 || version < 4 || version > 6 || riders < 0 || riders > kMaxDemoRiders) {
    post_message("Can't play demo: bad header");
    return fail_open();
  }
  if (version == 4) {
    post_message("Can't play demo: version 4 demos are not supported");
    return fail_open();
  }
  if (n < 4) laps = race.laps;
  if (n < 5) start = kDefaultStartTic;
  if (!header_line(f, &p.track) || !safe_track_name(p.track)) return fail_open();
  for (int r = 0; r < riders; ++r) {
    DemoRider rider;
    if (!header_line(f, &line)) return fail_open();
    std::array<std::string*, 5> fields = {&rider.model, &rider.rider_texture, &rider.bike_texture,
                                          &rider.wheel_texture, &rider.helmet_texture};
    size_t from = 0;
    for (size_t k = 0; k < fields.size() && from <= line.size(); ++k) {
      const size_t bar = line.find('|', from);
      const size_t end = bar == std::string::npos ? line.size() : bar;
      *fields[k] = line.substr(from, end - from);
      if (bar == std::string::npos) break;
      from = bar + 1;
    }
    if (!header_line(f, &line)) return fail_open();
    rider.number = line.substr(0, 3);
    if (version == 6) {
      if (!header_line(f, &rider.name)) return fail_open();
      do {
        if (!header_line(f, &line)) return fail_open();
      } while (!line.empty());
    }
    p.riders.push_back(std::move(rider));
  }
  p.version = version;
  p.first_chunk = vfs_tell(f);
  p.next_chunk = p.first_chunk;
  p.prev_length = 0;
  p.first_tic = -1;
  p.time_offset = version == 6 ? 0 : race.current_tic;
  p.read_ahead_tic = race.current_tic;
  // A ghost runs inside the time trial's own race; only a played race takes the header's.
  if (!race.time_trial) {
    race.time_limit = limit;
    race.laps = laps;
    race.start_tic = start;
  }
  return true;
}

void close_playback() {
  DemoPlayer& p = player();
  if (p.file != nullptr) vfs_close(p.file);
  p = DemoPlayer{};
}

bool playing() { return player().file != nullptr; }
int playback_version() { return player().file != nullptr ? player().version : 0; }
const std::string& playback_track() { return player().track; }
std::vector<DemoRider>& demo_riders() { return player().riders; }

// ---- read-ahead -------------------------------------------------------------------------

void read_ahead_step(RaceState& race) {
  DemoPlayer& p = player();
  if (p.file == nullptr) return;
  if (p.version == 6) {
    for (int n = 0; n < kMaxChunksPerStep && !p.ended &&
                    p.read_ahead_tic <= race.current_tic + kReadAheadTics;
         ++n)
      if (!read_chunk(race)) break;
  } else {
    read_old_states(race);
  }
  apply_due_erosion(race);
}

// ---- replay -----------------------------------------------------------------------------

void replay_slot(RaceState& race, int slot, int t) {
  BikeState* bike = slot_bike(race, slot);
  if (bike == nullptr || t < 0) return;
  const HistoryBracket br = history_bracket(slot, t);
  const HistoryEntry* a = br.older;
  const HistoryEntry* b = br.newer;
  DemoState s{};
  const DemoState* from = nullptr;
  const DemoState* to = nullptr;
  int tics = 0;
  if (b != nullptr && (b->tic == t || a == nullptr)) {
    s = b->state;
    if (a != nullptr && b->tic == t) {
      from = &a->state;
      to = &b->state;
      tics = b->tic - a->tic;
    }
  } else if (a != nullptr && b != nullptr) {
    s = interpolate_demo_states(a->state, b->state,
                                double(t - a->tic) / double(b->tic - a->tic));
    from = &a->state;
    to = &b->state;
    tics = b->tic - a->tic;
  } else if (a != nullptr) {
    // Past the newest entry: carry on from the last two for up to half a second, then hold.
    const HistoryEntry* a0 = entry_before(slot, a);
    if (a0 != nullptr) {
      const int until = std::min(a->tic + kReadAheadTics, t);
      s = interpolate_demo_states(a0->state, a->state,
                                  double(until - a0->tic) / double(a->tic - a0->tic));
      if (t <= a->tic + kReadAheadTics) {
        from = &a0->state;
        to = &a->state;
        tics = a->tic - a0->tic;
      }
    } else {
      s = a->state;
    }
  } else {
    return;
  }
  pose_bike(*bike, s, from, to, tics, current_demo_frame());
}

// ---- skipping ---------------------------------------------------------------------------

bool seek_playback(RaceState& race, int c) {
  (void)race;
  DemoPlayer& p = player();
  if (p.file == nullptr) return false;
  p.erosion.clear();
  p.ended = false;
  if (p.version == 6) {
    long pos = p.next_chunk;
    uint32_t len = p.prev_length;
    while (pos > p.first_chunk) {
      const long q = pos - 9 - static_cast<long>(len);
      uint8_t head[9];
      if (q < p.first_chunk || !vfs_seek(p.file, q) || vfs_read(p.file, head, 9) != 9) {
        // A chain that doesn't lead back: start over from the first chunk.
        pos = p.first_chunk;
        len = 0;
        break;
      }
      len = get32(head) ^ len;
      pos = q;
      if (static_cast<int64_t>(as_int(get32(head + 4))) + p.time_offset <= int64_t{c} - kReadAheadTics)
        break;
    }
    if (pos <= p.first_chunk) len = 0;
    p.next_chunk = pos;
    p.prev_length = len;
    if (!vfs_seek(p.file, pos)) return false;
  } else {
    const int64_t tic = std::max<int64_t>(0, int64_t{c} - p.time_offset);
    const int64_t pos =
        p.first_chunk + tic * static_cast<int64_t>(p.riders.size()) * kDemoStateBytes;
    if (pos > std::numeric_limits<long>::max() || !vfs_seek(p.file, static_cast<long>(pos))) {
      p.ended = true;
      return false;
    }
  }
  p.read_ahead_tic = c;
  return true;
}

}  // namespace ks
