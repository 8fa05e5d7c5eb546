// The program-wide generator. The race seeds it with the current tic at every reset, and
// nothing in the simulation draws randomness from anywhere else, so a seed replays a race.
#pragma once

#include <cstdint>
#include <random>

namespace ks {

std::mt19937& game_random();
void seed_game_random(uint32_t seed);
// Uniform in [0, 1).
double random_unit();
// Uniform integer in [0, n); 0 when n <= 0.
int random_below(int n);

}  // namespace ks
