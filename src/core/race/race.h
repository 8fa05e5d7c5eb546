// Loading and resetting a race, and the simulation tic that advances it: script, replayed
// riders, contacts, the world step, erosion, robots, each bike's own step, timing, the
// starting gate and the demo recorder, in that order.
#pragma once

#include <array>
#include <functional>
#include <string>

#include "race/race_state.h"

namespace ks {

struct RaceResetRequest {
  const Lineup* lineup = nullptr;  // null = time trial
  bool playback = false;
  bool record = false;
  int time_limit = 0;  // tics
  int laps = 0;
  int skill = 0;       // Robot Skill index
  std::string track;   // empty = the Track choice
};

// What the reset and the tic reach outside the simulation; all empty headless.
struct RaceSeam {
  std::function<void(const char*)> progress;        // loading-screen text
  std::function<void(BikeState&)> sound_setup;      // engine sound of a new bike
  std::function<void(BikeState&)> sound_release;
  std::function<void(int tic)> script_tic;          // the track script's tic handler
  std::function<void(const char* path)> run_script; // "@track/frills.js"
  std::function<void(const char* step)> trace;      // each step of the tic (tests)
  // Reset steps owned by other layers, in the order the reset calls them.
  std::function<void()> score_series_event;   // the points-series event being left
  std::function<void()> clear_client_race;    // the network client's per-slot state
  std::function<void()> free_cached_sounds;
  std::function<void()> new_texture_generation;  // before a new track loads
  std::function<void()> reset_roost;
  std::function<void()> purge_unused_resources;  // textures and models of no bike
  std::function<void(double x, double y, double z)> place_free_camera;
  // Tic steps owned by other layers.
  std::function<void(BikeState&, bool simulated)> roost_emit;
  std::function<void()> roost_update;
  std::function<void(const BikeState&)> telemetry;  // the viewed bike, after the tic
};
RaceSeam& race_seam();

bool reset_race(const RaceResetRequest& request);
void step_one_tic();
// Destroys every bike and forgets the track (shutdown, tests).
void free_race();

void time_trial_reset();

// Time trial laps: the completed-lap counts of the rider (slot 0) and the ghost (slot 1)
// taken before the tic's physics, and the lap handling after the tic.
struct TimeTrialLaps {
  int rider = 0;
  int ghost = 0;
};
TimeTrialLaps time_trial_lap_counts(const RaceState& race);
void time_trial_lap_handling(RaceState& race, const TimeTrialLaps& before);

// Skip (+) or rewind (-) a played demo by whole seconds.
void demo_skip(double seconds);

// The nine inputs of the local rider, as the bindings give them.
struct LocalInputs {
  float steer = 0, throttle = 0, front_brake = 0, rear_brake = 0;
  float shift = 0, clutch = 0, sit_dab = 0, back_up = 0, lean = 0;
};
void apply_local_controls(const LocalInputs& in);

bool slot_hidden(int slot);
// Online: the remote-rider rule of slot_hidden alone (also picks the remote bikes that
// take part in the contacts). False offline or without a local bike.
bool remote_rider_hidden(RaceState& race, int slot);

// The robot identity table.
struct RobotIdentity {
  const char* number;
  const char* personality;
  const char* model;
  const char* rider_body;  // texture names, "" = the model's default
  const char* rider_head;
  const char* bike;
  const char* wheel;
};
const std::array<RobotIdentity, kRobotIdentities>& robot_identities();

}  // namespace ks
