// The per-bike work after every world step: airtime, crash detection by rider motion, the
// crash phase and recovery, backing up, automatic dab, the rider springs, suspension,
// steering and balance, drivetrain, steering damping, joint reaction correction, dabbing,
// and the drawn foot points.
#pragma once

namespace ks {

struct BikeState;
struct HeightField;

// What the bike step needs from the race.
struct BikeStepModule {
  int race_start_tic = 0;  // backing up doesn't rock the bike before the start
};
BikeStepModule& bike_step_module();
void reset_bike_step_module();

// One tic of the bike on `hf` at simulation tic `tic`, after the world step. The
// one-step joints it makes act in the next world step.
void bike_step(BikeState& bike, const HeightField& hf, int tic);

}  // namespace ks
