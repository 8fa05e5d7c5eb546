// Demos: the per-slot state history, recording a race into a demo file and playing one
// back. This header is what the race reset and the tic call.
#pragma once

#include <string>
#include <vector>

#include "race/race_state.h"

namespace ks {

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

// ---- history -------------------------------------------------------------------------------

void clear_histories();
// Tics of the oldest and newest entry of the slot's history; false when it is empty.
bool history_bounds(int slot, int& oldest, int& newest);

// ---- recorder ------------------------------------------------------------------------------

// Time trial: the track's "lastlap.ksdemo"; else the default demo with its backups.
bool start_recording(RaceState& race);
void record_step(RaceState& race, bool flagged);
void finish_recording();
bool recording();

// ---- player --------------------------------------------------------------------------------

// Opens the demo for playback (time trial: the track's "fastlap.ksdemo" as the ghost).
// On success the race's time limit, laps and start tic come from the header.
bool open_playback(RaceState& race);
void close_playback();
bool playing();
const std::string& playback_track();
std::vector<DemoRider>& demo_riders();
void read_ahead_step(RaceState& race);
// Poses a replayed slot's bike from its history at tic t.
void replay_slot(RaceState& race, int slot, int t);

// A replayed bike is posed, not simulated; switching back re-enables its bodies.
void set_replay_mode(BikeState& bike, bool replayed);

}  // namespace ks
