// What a race says about its field beyond the results: crashes, riders stuck on the
// course, lap times by personality and how far the field spread out.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "race/race_state.h"

namespace ks {

struct RiderWatch {
  int slow_tics = 0;      // tics in a row below the stuck speed
  int stuck_events = 0;   // times a rider stayed that slow long enough
  bool was_stuck = false; // inside one such spell
  bool placed = false;    // start position taken
  double start_x = 0, start_z = 0;
  int launch_tic = -1;    // first tic after the gate drop at riding speed
  int crashes_seen = 0;   // the bike's crash count when last looked at
};

struct FieldStats {
  std::array<RiderWatch, kMaxBikes> riders{};
  bool print_events = false;  // a line for every crash and every stuck spell, as it happens
};

// A rider's plate number as printed ("" for an empty slot).
std::string bike_number(const RaceState& race, int slot);

// Once per tic after the tic: a rider slower than 2 ft/s for 5 s away from the start,
// before he finishes, is stuck (once per spell). With print_events, each new crash and
// stuck spell prints "Event crash|stuck: #N (slot S) at T s, x X z Z, V ft/s".
void watch_field(FieldStats& stats, const RaceState& race);

// Lines after the results: crashes and stuck events over the field, the robots' laps per
// personality and the spread of the field at the finish.
void print_field_stats(const FieldStats& stats, const RaceState& race);

}  // namespace ks
