#include "core/random.h"

namespace ks {

namespace {
std::mt19937 g_random;  // default seed 5489, the reference value
}

std::mt19937& game_random() { return g_random; }
void seed_game_random(uint32_t seed) { g_random.seed(seed); }

double random_unit() {
  // 32 bits of the generator scaled into [0, 1); one draw per call keeps the sequence simple.
  return static_cast<double>(g_random()) * (1.0 / 4294967296.0);
}

int random_below(int n) {
  if (n <= 0) return 0;
  return static_cast<int>(random_unit() * n);
}

}  // namespace ks
