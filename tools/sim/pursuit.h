// The test controller: a rider that steers through the gate centres of the timing-gate
// sequence by pure pursuit, slowing for tight turns. It stands in for a player (and, with
// pace and lateral offset, for a bootstrap rider) until the autopilot can race; it is no
// part of the game.
#pragma once

#include "core/race/race.h"
#include "race/race_state.h"
#include "track/gates.h"

namespace ks {

struct Track;

struct PursuitParams {
  double pace = 1.0;          // scales every target speed
  double lateral = 0.0;       // aim across each gate, in gate radii; + is right of travel
  double max_speed = 70.0;    // ft/s, before pace
  double lateral_accel = 14;  // ft/s^2 a turn may ask for
  double braking = 16;        // ft/s^2 planned for slowing into a turn
  double rough_speed = 32;    // ft/s through a run of bumps
  double lookahead = 0.8;     // seconds of travel to the pursuit point
  double min_lookahead = 25;  // ft
};

struct PursuitState {
  int next = 0;             // crossing index the rider heads for
  int lap_lines = 0;        // lap lines passed since the reset
  int gate_tics = 0;        // tics spent heading for the current gate
  int slow_tics = 0;        // tics spent nearly still after the start
  int backing_tics = 0;     // tics of backing up left
  int escape_tics = 0;      // then tics of riding off to one side
  double escape_side = 1;   // which side: +1 right, -1 left
  double last_heading = 0;  // for the yaw rate
  bool have_heading = false;
  float last_shift = 0;
  double origin_x = 0, origin_z = 0;  // where the bike stood at the reset
};

// The gate of crossing index k in the track's sequences (the mark dropped), or null.
const TimingGate* sequence_gate(const TimingGates& gates, int k);
// True when crossing index k ends a lap.
bool is_lap_line(const TimingGates& gates, int k);

void reset_pursuit(PursuitState& state, const RaceState& race, int slot);

// The rider's inputs for the coming tic. Steer is the bike's own (positive turns towards
// +x when facing -z): a local rider's input is negated first when Reversed Steering is on,
// so negate it before apply_local_controls in that case. Clutch is the input (0 = engaged).
LocalInputs pursuit_step(PursuitState& state, const PursuitParams& params,
                         const RaceState& race, int slot, const Track& track);

// Puts the inputs on a bike directly, for a bike that is not the local rider.
void set_bike_controls(BikeState& bike, const LocalInputs& in);

}  // namespace ks
