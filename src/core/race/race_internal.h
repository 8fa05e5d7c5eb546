// What the files of the race reset and tic share among themselves: the module record, the
// identity draw, start placement, the starting gate and the false-start rule.
#pragma once

#include <array>
#include <chrono>
#include <string>

#include "core/race/race.h"
#include "physics/bike.h"

namespace ks {

struct Track;
struct HeightField;
struct DemoRider;

// Module state of the race reset and tic (one record; reset_race_module clears it).
struct RaceModule {
  // Online: remote bikes that touched the local bike and are simulated from then on.
  std::array<bool, kMaxBikes> remote_simulated{};
  // Sticky Sit/Dab: the input of the last call and the toggled state.
  float last_sit_input = 0;
  float sticky_sit = 0;
  // Loading delays between progress texts.
  std::chrono::steady_clock::time_point last_progress{};
  double max_delay = 0;
  std::string max_delay_text;
  std::string last_progress_text;
};
RaceModule& race_module();
void reset_race_module();

// Shows a progress text through the seam and logs it, timing the gap since the last one.
void race_progress(const char* text);
// Calls the step trace of the seam when one is installed.
void race_trace(const char* step);

// ---- robot identities -------------------------------------------------------------------

// The identity order of step 2 of the reset: 0..79 shuffled with the generator seeded by
// `seed`. Draws exactly 79 numbers.
void draw_robot_order(std::array<int, kRobotIdentities>& order, uint32_t seed);

// Hands out identities from the order in one reset.
struct IdentityPicker {
  std::array<int, kRobotIdentities> order{};
  std::array<bool, kRobotIdentities> used{};
  int used_count = 0;
};
void start_identity_picker(IdentityPicker& p, const std::array<int, kRobotIdentities>& order);
// The identity for a robot lineup code (2, 3, 4 or 1000 + n); `number` gets the race
// number. Returns the identity's index in the table.
int pick_identity(IdentityPicker& p, int code, std::string& number);

// "crf250" -> "crf250(2008)" and the other three year-less four-strokes; others unchanged.
const char* robot_model_name(const char* model);

// ---- rider look -------------------------------------------------------------------------

// What a slot's rider looks like: what its bike is created with and a demo header names.
struct RiderLook {
  std::string model;  // catalog name; the year-less four-strokes get their year on creation
  std::string number;
  std::string name;
  std::string rider_texture, bike_texture, wheel_texture, helmet_texture;  // "" = default
};
RiderLook demo_rider_look(const DemoRider& d);
// Creates the slot's bike from the look and keeps the look in the slot; null, the slot
// untouched, when the bike can't be created.
BikeState* create_rider_bike(RaceState& race, int slot, const RiderLook& look);

// ---- start positions --------------------------------------------------------------------

// Places the bike at the start: terrain and object test through the current track.
bool place_bike_at(BikeState& bike, Track& track, const StartPosition& at);

// ---- starting gate ----------------------------------------------------------------------

// One state per gate piece of the track, every piece up and posed up.
void raise_gate_pieces(RaceState& race, Track& track);
// Step 10 of the tic.
void starting_gate_step(RaceState& race, Track& track);
// The tic the gate drops for the local view (start tic, +127 for a racer on a server).
int gate_start_tic(const RaceState& race);
// Poses one piece at a drop value (1 = up, 0 = resting).
void pose_gate_piece(const RaceState& race, Track& track, int position, float drop);
// Step 4 for a replayed bike: touch-only test against every gate piece.
void replayed_gate_touch(RaceState& race, Track& track, BikeState& bike);

// ---- false start ------------------------------------------------------------------------

void false_start_rule(RaceState& race, int slot);

}  // namespace ks
