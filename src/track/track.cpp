// The loaded track.
//
//   1. state and seams
//   2. reading whole files and the digest
//   3. loading the contents around the terrain, and load_track
//   4. freeing
//   5. writers and ".trackinfo"
#include "track/track.h"

#include <cmath>
#include <cstring>
#include <set>

#include "core/detail_settings.h"
#include "fs/messages.h"
#include "fs/vfs.h"
#include "platform/vant.h"
#include "track/terrain_io.h"
#include "track/track_list.h"
#include "track/track_text.h"

namespace ks {

// ---- 1. state and seams -----------------------------------------------------------------

namespace {

TrackLoadSeam& seam_storage() {
  static TrackLoadSeam seam;
  return seam;
}

constexpr const char* kDigestTerrainFiles[] = {"/terrain.hf", "/terrain.png", "/texturelist",
                                               "/tilemap", "/tileinfo"};
// Larger files are still digested in full, but only this much of them is parsed.
constexpr size_t kMaxParsedFile = 64u << 20;

bool verbose() { return detail_settings().verbose >= 1; }

void progress(const char* text) {
  vant_log("%s\n", text);
  const TrackLoadSeam& s = seam_storage();
  if (s.progress) s.progress(text);
}

void pump() {
  const TrackLoadSeam& s = seam_storage();
  if (s.pump) s.pump();
}

unsigned long texture_memory() {
  const TrackLoadSeam& s = seam_storage();
  return s.texture_memory ? s.texture_memory() : 0ul;
}

}  // namespace

void set_track_load_seam(TrackLoadSeam seam) { seam_storage() = std::move(seam); }
const TrackLoadSeam& track_load_seam() { return seam_storage(); }

TrackState& track_state() {
  static TrackState state;
  return state;
}

Track* current_track() {
  TrackState& s = track_state();
  return s.loaded ? &s.track : nullptr;
}

// ---- 2. reading whole files and the digest ----------------------------------------------

namespace {

// Feeds the file, as the file layer delivers it, to the digest and keeps its first bytes.
// A missing file contributes nothing. Returns whether it opened.
bool read_and_digest(const std::string& name, Ripemd160* digest, std::string* keep) {
  VfsFile* f = vfs_open(name.c_str(), "rb");
  if (f == nullptr) return false;
  char buf[16384];
  for (;;) {
    const size_t n = vfs_read(f, buf, sizeof buf);
    if (n == 0) break;
    if (digest != nullptr) digest->update(buf, n);
    if (keep != nullptr && keep->size() < kMaxParsedFile) {
      keep->append(buf, std::min(n, kMaxParsedFile - keep->size()));
    }
    pump();
  }
  vfs_close(f);
  return true;
}

void digest_terrain_files(const std::string& dir, Ripemd160& digest) {
  for (const char* file : kDigestTerrainFiles) {
    read_and_digest("@" + dir + file, &digest, nullptr);
  }
}

// Every distinct collision-shape file used by an object, in object order, each once.
void digest_shapes(const std::vector<TrackObject>& objects, Ripemd160& digest) {
  std::set<std::string> done;
  for (const TrackObject& o : objects) {
    if (!o.shape || o.shape_name.empty()) continue;
    if (!done.insert(o.shape_name).second) continue;
    read_and_digest(o.shape_name, &digest, nullptr);
  }
}

// A memory view of `bytes` for the parsers (nullptr for a missing file).
VfsFile* open_bytes(bool opened, const std::string& bytes) {
  return opened ? vfs_open_memory(bytes.data(), bytes.size()) : nullptr;
}

}  // namespace

Ripemd160Digest track_hash(const std::string& dir, const std::vector<TrackObject>& objects) {
  Ripemd160 digest;
  digest_terrain_files(dir, digest);
  read_and_digest("@" + dir + "/timing_gates", &digest, nullptr);
  read_and_digest("@" + dir + "/statues", &digest, nullptr);
  digest_shapes(objects, digest);
  return digest.finish();
}

// ---- 3. loading -------------------------------------------------------------------------

namespace {

void read_lighting_file(Track& t) {
  t.lighting = Lighting{};
  VfsFile* f = vfs_open(("@" + t.dir + "/lighting").c_str(), "rb");
  if (f != nullptr) {
    read_lighting(f, t.lighting);
    vfs_close(f);
  }
  finish_lighting(t.lighting);
}

void add_gate_pieces(Track& t) {
  for (GatePosition& p : t.gates.start) {
    const double a = double(p.angle);
    const float x = static_cast<float>(double(p.slot[0]) - 3 * std::sin(a));
    const float z = static_cast<float>(double(p.slot[2]) - 3 * std::cos(a));
    p.object = static_cast<int>(t.objects.size());
    t.objects.push_back(make_track_object(x, p.slot[1], z, p.angle, p.model.c_str(),
                                          p.texture.c_str(), p.shape.c_str(), t.ground));
  }
}

// Steps after the terrain: gates, roost sprites, flaggers, billboards, statues, map, grid,
// shapes in the digest, cameras.
void load_after_terrain(Track& t, Ripemd160& digest) {
  const std::string base = "@" + t.dir;
  if (verbose()) vant_log("%lu bytes texture memory used after hf creation\n", texture_memory());

  std::string bytes;
  bool opened = read_and_digest(base + "/timing_gates", &digest, &bytes);
  VfsFile* f = open_bytes(opened, bytes);
  read_timing_gates(f, t.gates);
  if (f != nullptr) vfs_close(f);
  if (t.gates.valid && verbose()) {
    vant_log("Found %d timing gates, first lap has %d gates, normal lap has %d\n",
             int(t.gates.checkpoints.size()), int(t.gates.first_lap.size()),
             int(t.gates.normal_lap.size()));
  }
  add_gate_pieces(t);

  t.billboards.resize(kRoostSprites);

  progress("Loading flaggers");
  f = vfs_open((base + "/flaggers").c_str(), "rb");
  read_flaggers(f, t.flaggers, static_cast<int>(t.gates.checkpoints.size()));
  if (f != nullptr) vfs_close(f);
  add_flagger_billboards(t.flaggers, t.billboards, t.ground);
  if (verbose()) {
    vant_log("%lu bytes texture memory used after flagger creation\n", texture_memory());
  }

  progress("Loading billboards");
  t.first_track_billboard = t.billboards.size();
  f = vfs_open((base + "/billboards").c_str(), "rb");
  read_billboards(f, t.billboards, t.ground);
  if (f != nullptr) vfs_close(f);
  if (verbose()) {
    vant_log("%lu bytes texture memory used after billboard creation\n", texture_memory());
  }

  progress("Loading statues");
  t.first_statue = t.objects.size();
  bytes.clear();
  opened = read_and_digest(base + "/statues", &digest, &bytes);
  f = open_bytes(opened, bytes);
  read_statues(f, t.objects, t.ground);
  if (f != nullptr) vfs_close(f);

  progress("Loading map");
  if (verbose()) {
    vant_log("%lu bytes texture memory used after statue creation\n", texture_memory());
  }
  t.map_texture = base + "/map.png";

  build_object_grid(t.grid, t.objects, t.world_width);
  digest_shapes(t.objects, digest);
  t.hash = digest.finish();

  f = vfs_open((base + "/cameras").c_str(), "rb");
  read_cameras(f, t.cameras, t.ground);
  if (f != nullptr) vfs_close(f);
}

void start_track(Track& t, const std::string& dir) {
  t = Track{};
  t.dir = dir;
  t.long_name = track_long_name(dir);
  t.billboards.reserve(16);
  t.objects.reserve(16);
  t.flaggers.track_side.reserve(16);
  for (auto& cell : t.grid.cells) cell.reserve(16);
}

}  // namespace

void load_track_contents(Track& t, const std::string& dir, const GroundHeight& ground,
                         float world_width) {
  start_track(t, dir);
  t.ground = ground;
  t.world_width = world_width;
  Ripemd160 digest;
  digest_terrain_files(dir, digest);
  read_lighting_file(t);
  load_after_terrain(t, digest);
}

bool load_track(const std::string& dir) {
  free_track();
  TrackState& s = track_state();
  Track& t = s.track;
  start_track(t, dir);
  Ripemd160 digest;

  progress("Scanning");
  digest_terrain_files(dir, digest);
  const std::string base = "@" + dir;
  if (verbose()) vant_log("Loading '%s'\n", base.c_str());

  read_lighting_file(t);

  t.terrain = std::make_unique<HeightField>();
  if (!load_terrain(*t.terrain, base.c_str(), 0)) {
    t = Track{};
    return false;
  }
  const HeightField* hf = t.terrain.get();
  t.ground = [hf](float x, float z) { return ground_height_at(*hf, double(x), double(z)); };
  t.world_width = hf->extent;

  load_after_terrain(t, digest);
  s.loaded = true;
  return true;
}

// ---- 4. freeing -------------------------------------------------------------------------

void free_track() {
  TrackState& s = track_state();
  if (!s.loaded && !s.track.terrain) {
    s.track = Track{};
    return;
  }
  vant_log("Deallocating track\n");
  if (s.track.terrain) clear_height_field(*s.track.terrain);
  s.track = Track{};
  s.loaded = false;
  vant_log("Finished deallocating track\n");
}

// ---- 5. writers and ".trackinfo" --------------------------------------------------------

bool write_billboards(const Track& t) {
  return write_billboards_file(("@" + t.dir + "/billboards").c_str(), t.billboards,
                               t.first_track_billboard);
}

bool write_statues(const Track& t) {
  return write_statues_file(("@" + t.dir + "/statues").c_str(), t.objects, t.first_statue);
}

bool write_timing_gates(const Track& t) {
  return write_timing_gates_file(("@" + t.dir + "/timing_gates").c_str(), t.gates);
}

bool write_track_info(const Track& t) {
  const std::string label = t.dir + ".trackinfo";
  VfsFile* f = open_track_output(("@" + label).c_str(), label.c_str());
  if (f == nullptr) return false;
  vfs_printf(f, "dir=%s\n", t.dir.c_str());
  vfs_printf(f, "longname=%s\n", t.long_name.c_str());
  vfs_printf(f, "firstlap=%d\n", int(t.gates.first_lap.size()));
  vfs_printf(f, "normallap=%d\n", int(t.gates.normal_lap.size()));
  vfs_printf(f, "gatecount=%d\n", int(t.gates.start.size()));
  vfs_puts(f, "hash=");
  for (uint8_t b : t.hash) vfs_printf(f, "%02x", b);
  vfs_puts(f, "\n");
  if (vfs_write_failed(f)) {
    vfs_close(f);
    post_messagef("Error writing '%s'\n", label.c_str());
    return false;
  }
  if (!commit_track_output(f, label.c_str())) return false;
  post_messagef("Track info saved to %s", label.c_str());
  return true;
}

bool write_desc_file(const char* path, const std::string& long_name) {
  return write_track_output(path, "desc", [&](VfsFile* f) {
    vfs_printf(f, "%s\n", long_name.c_str());
    return !vfs_write_failed(f);
  });
}

}  // namespace ks
