// Demos: the per-slot state history, recording a race into a demo file and playing one
// back. This header is what the race reset and the tic call.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "demo/demo_state.h"
#include "demo/state_history.h"
#include "race/race_state.h"

namespace ks {

struct VfsFile;

// A rider named in a demo's header.
struct DemoRider {
  std::string model;
  std::string rider_texture, bike_texture, wheel_texture, helmet_texture;  // empty = none
  std::string number;  // at most 3 characters
  std::string name;
  int slot = -1;  // slot replaying this rider, -1 = none yet
};

struct DemoOptions {
  std::string play_file;    // command-line demo; empty = the default choice
  std::string record_file;  // overrides "@demos/default.ksdemo" (headless runs)
  int backups = 0;          // demo_backups
  bool accurate_skip = false;
};
DemoOptions& demo_options();

// Closes the recording and the demo being played and forgets every history (tests,
// shutdown). The options stay.
void reset_demo_module();

// ---- history -------------------------------------------------------------------------------

void clear_histories();
// Tics of the oldest and newest entry of the slot's history; false when it is empty.
bool history_bounds(int slot, int& oldest, int& newest);
// A replayed slot whose history has an entry within the last 10 s (race-over test).
bool replay_active(const RaceState& race, int slot);

// ---- recorder ------------------------------------------------------------------------------

// Time trial: the track's "lastlap.ksdemo"; else the default demo with its backups.
bool start_recording(RaceState& race);
void record_step(RaceState& race, bool flagged);
void finish_recording();
bool recording();
// The name the finished recording is renamed to (console "namedemo"); ".ksdemo" is added
// when missing. Empty clears it.
void set_pending_demo_name(const std::string& name);
// One chunk of another kind into the recording (the network client: 2 message, 3 settings,
// 5 erosion), stamped with the race's current tic. False when nothing is recorded.
bool record_chunk(int type, const void* payload, int length);

// Chunk types.
constexpr int kChunkStates = 1;
constexpr int kChunkMessage = 2;
constexpr int kChunkSettings = 3;
constexpr int kChunkErosion = 5;
constexpr int kStateEntryBytes = 44;  // rider index, tic, DemoState

// ---- player --------------------------------------------------------------------------------

// Opens the demo for playback (time trial: the track's "fastlap.ksdemo" as the ghost).
// On success the race's time limit, laps and start tic come from the header.
bool open_playback(RaceState& race);
// The same over an open file, which the player then owns (tests, fuzzing, memory demos).
bool open_playback_file(RaceState& race, VfsFile* f);
int playback_version();  // 0 when nothing is played
void close_playback();
bool playing();
const std::string& playback_track();
std::vector<DemoRider>& demo_riders();
void read_ahead_step(RaceState& race);
// Poses a replayed slot's bike from its history at tic t.
void replay_slot(RaceState& race, int slot, int t);
// Skip and rewind: moves the read position so that the next read-ahead starts from the
// chunks around race tic c, and sets the read-ahead tic to c. False when not playing.
bool seek_playback(RaceState& race, int c);

// The lineup of a demo playback for the "Playback Mode" choice: every slot empty (the
// demo riders fill them in order); "Race Against" adds the local rider after them.
enum class PlaybackMode : int { playback_only = 0, race_against = 1 };
Lineup playback_lineup(PlaybackMode mode, int rider_count);
PlaybackMode playback_mode_setting();  // config "playback_mode"
// Display names of the recorded demos of the file list, for the playback menu.
std::vector<std::string> demo_menu_names();

// A replayed bike is posed, not simulated; switching back re-enables its bodies.
void set_replay_mode(BikeState& bike, bool replayed);

}  // namespace ks
