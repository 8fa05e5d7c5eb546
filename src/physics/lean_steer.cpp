#include "physics/lean_steer.h"

#include <algorithm>

namespace ks {

double lean_steer(double target_lean, double roll, double roll_rate) {
  constexpr double kPi = 3.14159265358979323846;
  double q = (target_lean - roll) * 2.5;
  // Back towards upright the rate may be higher than away from it.
  const bool back = (q > 0 && roll < 0) || (q < 0 && roll > 0);
  const double qmax = back ? 25 * kPi / 8 : 5 * kPi / 4;
  q = std::clamp(q, -qmax, qmax);
  const double e = std::clamp(q - roll_rate, -0.125, 0.125);
  return std::clamp((roll_rate - (q - e)) * 4, -1.0, 1.0);
}

}  // namespace ks
