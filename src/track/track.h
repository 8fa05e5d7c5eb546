// The loaded track: its contents around the terrain (name, lighting, gates, flaggers,
// billboards, objects and their grid, cameras, minimap), its identity hash, loading,
// freeing, the editor's writers and ".trackinfo".
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/hash.h"
#include "track/cameras.h"
#include "track/gates.h"
#include "track/ground_height.h"
#include "track/heightfield.h"
#include "track/lighting.h"
#include "track/objects.h"

namespace ks {

struct Track {
  std::string dir;        // folder name in the file index
  std::string long_name;
  Lighting lighting;
  TimingGates gates;
  Flaggers flaggers;
  // Roost sprites and flagger sprites come first, then the track's own billboards.
  std::vector<Billboard> billboards;
  size_t first_track_billboard = 0;
  // Starting-gate pieces come first, then the "statues" file's objects.
  std::vector<TrackObject> objects;
  size_t first_statue = 0;
  ObjectGrid grid;
  Cameras cameras;
  std::string map_texture;  // minimap image name; the HUD loads it
  Ripemd160Digest hash{};
  float world_width = 0;    // the terrain's extent
  GroundHeight ground;      // the loaded terrain's height query
  std::unique_ptr<HeightField> terrain;  // set by load_track
};

// Seams for the loading screen; empty when headless.
struct TrackLoadSeam {
  std::function<void(const char*)> progress;  // "Scanning", "Loading statues", ...
  std::function<void()> pump;                 // while files are read
  std::function<unsigned long()> texture_memory;  // bytes, for the verbose log
};
void set_track_load_seam(TrackLoadSeam seam);
const TrackLoadSeam& track_load_seam();

// The track state: at most one current track.
struct TrackState {
  Track track;
  bool loaded = false;
};
TrackState& track_state();
// The current track, or nullptr.
Track* current_track();

// Loads "@dir/..." around the terrain. Only a terrain that fails to load fails; then no
// track is current. A previous track is freed first.
bool load_track(const std::string& dir);
void free_track();

// The track contents without the terrain, for tools and tests: everything that
// load_track reads, with heights from `ground` and the object grid over `world_width`.
// The hash covers the files read here plus the terrain files named in the digest order.
void load_track_contents(Track& t, const std::string& dir, const GroundHeight& ground,
                         float world_width);

// The digest of the track files: the terrain files, "timing_gates", "statues" and every
// distinct collision-shape file of the objects, each read through the file layer.
Ripemd160Digest track_hash(const std::string& dir, const std::vector<TrackObject>& objects);

// The editor's writers, to "@dir/billboards", "@dir/statues" and "@dir/timing_gates".
// On failure the console shows "Can't open 'billboards'\n" (and so on).
bool write_billboards(const Track& t);
bool write_statues(const Track& t);
bool write_timing_gates(const Track& t);

// "@dir.trackinfo" in the home folder; shows "Track info saved to dir.trackinfo".
bool write_track_info(const Track& t);

// A "desc" file: the long name on its first line.
bool write_desc_file(const char* path, const std::string& long_name);

}  // namespace ks
