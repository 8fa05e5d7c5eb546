// The race: one track with up to 160 slots, the clock in tics, the lineup's slot kinds,
// the starting-gate pieces, the running order and the final results. One module-level
// record; the tic and the reset (core/race) drive it, timing, demos and the autopilot
// read and write it.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "physics/bike_state.h"

namespace ks {

constexpr int kTicsPerSecond = 128;
constexpr int kRobotIdentities = 80;
constexpr int kNoSlot = kMaxBikes;  // "no local slot" online, and "none" elsewhere

enum class SlotKind : int { local = 0, replayed = 1, robot = 2 };

// Lineup codes, one per slot.
constexpr int kLineupEmpty = 0;
constexpr int kLineupHuman = 1;
constexpr int kLineupRobot = 2;
constexpr int kLineupRobot125 = 3;
constexpr int kLineupRobot250 = 4;
constexpr int kLineupRemote = 5;
constexpr int kLineupNumbered = 1000;  // 1000 + n: a robot with race number n
using Lineup = std::array<int, kMaxBikes>;

// Timing of one bike: written by the gate step, read by everything that shows positions.
struct BikeTiming {
  int gate_count = 0;          // next crossing index expected
  std::vector<int> crossings;  // tic per crossing index, -1 = skipped
  bool finished = false;       // sticky until the next reset
};

struct RaceSlot {
  SlotKind kind = SlotKind::replayed;
  BikeState* bike = nullptr;  // owned by the race; null = no bike
  BikeTiming timing;
  std::string name;        // display name ("Vidaraver" for robots)
  std::string model_name;  // catalog name the bike was created with
  int demo_rider = -1;     // index of the demo rider this slot replays, or -1
  // Textures the bike was created with ("" = the model's default); demo headers name them.
  std::string rider_texture, bike_texture, wheel_texture, helmet_texture;
};

struct GatePieceState {
  float drop = 1;   // 1 = up, 0 = down
  float speed = 0;
  int replay_touch_tic = -1;  // last tic a replayed bike touched it
  // The piece's orientation lying down (as the track placed it), row-major, columns = axes.
  std::array<float, 9> rest{1, 0, 0, 0, 1, 0, 0, 0, 1};
};

// One row of the running order or of the final results.
struct RunningEntry {
  int slot = 0;
  int gate_count = 0;
  int last_tic = 0;  // tic of the last crossing, or 0
};

// Wall time spent in each phase of the tic, summed while `enabled`.
enum TicPhase : int {
  kPhaseContacts = 0,
  kPhaseWorldStep,
  kPhaseBikeStep,
  kPhaseAutopilot,
  kPhaseTiming,
  kPhaseErosion,
  kPhaseOther,
  kTicPhaseCount
};
struct TicProfile {
  bool enabled = false;
  std::array<int64_t, kTicPhaseCount> ns{};
  int64_t tics = 0;
};

struct RaceState {
  int current_tic = 0;
  int start_tic = 0;   // the tic the gate drops
  int time_limit = 0;  // tics, 0 = none
  int laps = 0;
  int race_laps = 0;
  int halfway_lap = 0;
  int erosion_rate = 0;  // 1/1024ths; -1 = not set yet (server race)
  int robot_skill = 0;   // 0 novice, 1 amateur, 2 expert
  bool time_trial = false;

  // Online (filled by the network client later; offline these stay as they are).
  bool online = false;
  bool server_lineup = false;
  bool warmup = false;
  int local_slot = kNoSlot;  // the local rider's slot in the server's race
  std::array<int, kMaxBikes> last_state_tic{};  // tic of the last remote state received
  double off_course_bias = 10;   // seconds (A)
  double off_course_scale = 1.5; // (F)

  std::array<RaceSlot, kMaxBikes> slots{};
  int viewed_slot = 0;
  std::array<double, 3> local_start{};
  int false_start_hold = 0;

  std::array<int, kRobotIdentities> robot_order{};
  std::vector<GatePieceState> gate_pieces;  // one per gate piece of the track
  std::string track_dir;                    // loaded track, empty = none
  bool force_reload = false;

  // Timing (race/timing.h).
  std::vector<RunningEntry> running_order;
  std::vector<RunningEntry> final_results;
  bool results_final = false;
  std::array<int, kMaxBikes> penalty_tics{};  // final cutting penalty left after lost laps
  std::array<int, kMaxBikes> lost_laps{};
  int tt_last_lap = 0;  // time-trial lap times, tics, 0 = none
  int tt_best_lap = 0;

  TicProfile profile;
};

RaceState& race_state();

// Slot helpers; a slot outside 0..159 has no bike.
inline BikeState* slot_bike(const RaceState& r, int slot) {
  return slot >= 0 && slot < kMaxBikes ? r.slots[slot].bike : nullptr;
}
inline double tics_to_seconds(int tics) { return tics / double(kTicsPerSecond); }

}  // namespace ks
