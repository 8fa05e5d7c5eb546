// Recording a race: the backup rotation, the header, the 4/16-tic record step with its
// type-1 chunks, erosion records as type-5 chunks, and finishing with the pending name.
//
// Every chunk is written whole and flushed, so a recording cut short by a crash reads up
// to its last whole chunk. A recording that can't be written stops quietly; the race goes on.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "demo/demo.h"
#include "demo/demo_module.h"
#include "fs/messages.h"
#include "fs/vfs.h"
#include "physics/bike_catalog.h"
#include "physics/erosion.h"
#include "track/track.h"

namespace ks {

namespace {

DemoRecorder& rec() { return demo_module().recorder; }

void put32(std::vector<uint8_t>& out, uint32_t v) {
  for (int k = 0; k < 4; ++k) out.push_back(static_cast<uint8_t>(v >> (8 * k)));
}

// Header fields are separated by "|" and lines; neither may appear inside one.
std::string field(const std::string& text) {
  std::string s = text;
  for (char& c : s)
    if (c == '|' || c == '\n' || c == '\r') c = '_';
  return s;
}

void stop_after_failure() {
  DemoRecorder& r = rec();
  post_messagef("Demo recording stopped: can't write '%.200s'", r.path.c_str());
  vfs_close(r.file);
  r.file = nullptr;  // the erosion hook stays until finish_recording and writes nothing
}

// One whole chunk, then a flush.
bool write_chunk(int type, int tic, const uint8_t* payload, uint32_t length) {
  DemoRecorder& r = rec();
  if (r.file == nullptr) return false;
  std::vector<uint8_t> chunk;
  chunk.reserve(9 + length);
  put32(chunk, length ^ r.prev_length);
  put32(chunk, static_cast<uint32_t>(tic));
  chunk.push_back(static_cast<uint8_t>(type));
  if (length > 0) chunk.insert(chunk.end(), payload, payload + length);
  const size_t n = vfs_write(r.file, chunk.data(), chunk.size());
  if (n != chunk.size() || !vfs_flush(r.file) || vfs_write_failed(r.file)) {
    stop_after_failure();
    return false;
  }
  r.prev_length = length;
  return true;
}

void on_erosion_record(const uint8_t* bytes, int length) {
  if (bytes != nullptr && length > 0)
    write_chunk(kChunkErosion, race_state().current_tic, bytes, static_cast<uint32_t>(length));
  if (rec().saved_erosion_hook != nullptr) rec().saved_erosion_hook(bytes, length);
}

bool records_slot(const RaceState& race, int slot) {
  const RaceSlot& s = race.slots[static_cast<size_t>(slot)];
  if (s.bike == nullptr) return false;
  if (!race.online) return s.kind == SlotKind::local || s.kind == SlotKind::robot;
  if (!race.warmup) return true;
  return s.kind != SlotKind::local;
}

std::string home_demo(const char* name) { return std::string("@demos/") + name; }

void rotate_backups(int backups) {
  const int n = std::clamp(backups, 0, 100);
  char from[64];
  char to[64];
  for (int i = n - 2; i >= 0; --i) {
    std::snprintf(from, sizeof from, "@demos/default%02d.ksdemo", i);
    std::snprintf(to, sizeof to, "@demos/default%02d.ksdemo", i + 1);
    vfs_rename(from, to);
  }
  if (n > 0) vfs_rename("@demos/default.ksdemo", "@demos/default00.ksdemo");
}

std::string track_dir_of(const RaceState& race) {
  if (!race.track_dir.empty()) return race.track_dir;
  const Track* t = current_track();
  return t != nullptr ? t->dir : std::string();
}

}  // namespace

bool start_recording(RaceState& race) {
  finish_recording();
  DemoRecorder& r = rec();
  const std::string track = track_dir_of(race);
  r.time_trial = race.time_trial;
  if (race.time_trial) {
    r.path = "@" + track + "/lastlap.ksdemo";
  } else if (!demo_options().record_file.empty()) {
    r.path = demo_options().record_file;
  } else {
    rotate_backups(demo_options().backups);
    r.path = home_demo("default.ksdemo");
  }
  r.file = vfs_open(r.path.c_str(), "wb");
  if (r.file == nullptr) {
    post_messagef("Can't record demo '%.200s'", r.path.c_str());
    return false;
  }
  r.slots.clear();
  for (int s = 0; s < kMaxBikes; ++s)
    if (records_slot(race, s)) r.slots.push_back(s);

  std::string head;
  char line[128];
  std::snprintf(line, sizeof line, "KS06 %d %d %d %d\n", static_cast<int>(r.slots.size()),
                race.time_limit, race.laps, race.start_tic);
  head += line;
  head += field(track) + "\n";
  for (int s : r.slots) {
    const RaceSlot& slot = race.slots[static_cast<size_t>(s)];
    std::string model = slot.model_name;
    if (model.empty()) model = bike_model(slot.bike->model).name.data();
    head += field(model) + "|" + field(slot.rider_texture) + "|" + field(slot.bike_texture) + "|" +
            field(slot.wheel_texture) + "|" + field(slot.helmet_texture) + "\n";
    head += field(slot.bike->number.data()) + "\n";
    head += field(slot.name) + "\n\n";
    // Entries from before the recording are not part of it; one taken at this very tic
    // (the last frame of the recording a time-trial lap just finished) is its first.
    const HistoryEntry* e = newest_entry(s);
    state_histories().slots[static_cast<size_t>(s)].pending =
        e != nullptr && e->tic == race.current_tic ? 1 : 0;
  }
  r.prev_length = 0;
  if (vfs_write(r.file, head.data(), head.size()) != head.size() || !vfs_flush(r.file)) {
    stop_after_failure();
    return false;
  }
  // Offline the erosion rate travels with the demo, so playback digs the same ruts.
  if (!race.online && race.erosion_rate > 0) {
    std::snprintf(line, sizeof line, "erode %d", race.erosion_rate);
    write_chunk(kChunkSettings, race.current_tic, reinterpret_cast<const uint8_t*>(line),
                static_cast<uint32_t>(std::strlen(line)));
  }
  if (r.file != nullptr && erosion_hooks().record_written != on_erosion_record) {
    r.saved_erosion_hook = erosion_hooks().record_written;
    erosion_hooks().record_written = on_erosion_record;
  }
  return r.file != nullptr;
}

void record_step(RaceState& race, bool flagged) {
  const int tic = race.current_tic;
  if (!flagged && tic % 4 != 0) return;
  const DemoFrame frame = current_demo_frame();
  for (int s = 0; s < kMaxBikes; ++s) {
    const RaceSlot& slot = race.slots[static_cast<size_t>(s)];
    if (slot.bike == nullptr) continue;
    if (slot.kind != SlotKind::local && slot.kind != SlotKind::robot) continue;
    add_state_to_history(s, encode_demo_state(*slot.bike, frame), tic);
  }
  if (!flagged && tic % 16 != 0) return;
  DemoRecorder& r = rec();
  if (r.file == nullptr) return;
  int count = 0;
  for (int s : r.slots) count += state_histories().slots[static_cast<size_t>(s)].pending;
  if (count == 0) return;
  std::vector<uint8_t> payload;
  payload.reserve(static_cast<size_t>(count) * kStateEntryBytes);
  for (size_t index = 0; index < r.slots.size(); ++index) {
    StateHistory& h = state_histories().slots[static_cast<size_t>(r.slots[index])];
    for (int k = h.pending - 1; k >= 0; --k) {
      const int at = ((h.newest - k) % kHistoryEntries + kHistoryEntries) % kHistoryEntries;
      const HistoryEntry& e = h.entries[static_cast<size_t>(at)];
      payload.push_back(static_cast<uint8_t>(index));
      put32(payload, static_cast<uint32_t>(e.tic));
      payload.insert(payload.end(), e.state.begin(), e.state.end());
    }
    h.pending = 0;
  }
  write_chunk(kChunkStates, tic, payload.data(), static_cast<uint32_t>(payload.size()));
}

bool record_chunk(int type, const void* payload, int length) {
  if (rec().file == nullptr || length < 0 || (length > 0 && payload == nullptr)) return false;
  return write_chunk(type, race_state().current_tic, static_cast<const uint8_t*>(payload),
                     static_cast<uint32_t>(length));
}

void finish_recording() {
  DemoRecorder& r = rec();
  if (erosion_hooks().record_written == on_erosion_record)
    erosion_hooks().record_written = r.saved_erosion_hook;
  r.saved_erosion_hook = nullptr;
  if (r.file == nullptr) return;
  vfs_close(r.file);
  r.file = nullptr;
  if (!r.pending_name.empty() && !r.time_trial) {
    const std::string to = home_demo(r.pending_name.c_str());
    if (vfs_rename(r.path.c_str(), to.c_str()))
      post_messagef("Demo saved as '%.200s'", r.pending_name.c_str());
    r.pending_name.clear();
  }
}

bool recording() { return rec().file != nullptr; }

void set_pending_demo_name(const std::string& name) {
  std::string n = field(name);
  // Only a file name inside the demos folder.
  std::replace(n.begin(), n.end(), '/', '_');
  std::replace(n.begin(), n.end(), '\\', '_');
  if (n.empty()) {
    rec().pending_name.clear();
    return;
  }
  const std::string ext = ".ksdemo";
  if (n.size() < ext.size() || n.compare(n.size() - ext.size(), ext.size(), ext) != 0) n += ext;
  rec().pending_name = n;
}

}  // namespace ks
