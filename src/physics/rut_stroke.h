// Per-wheel erosion sampling state held in every bike; the erosion step writes it.
#pragma once

#include <array>

namespace ks {

constexpr int kRutStrokePoints = 64;

struct RutPoint {
  float x = 0, z = 0;          // position on the ground (ft)
  float dig_x = 0, dig_z = 0;  // dig vector, length 0.125..1
  int count = 0;               // samples averaged into the point, 1..16
};

struct RutStroke {
  std::array<RutPoint, kRutStrokePoints> points{};
  float min_delta_x = 0, min_delta_z = 0, max_delta_x = 0, max_delta_z = 0;
  int last_point_tic = 0;
  int point_count = 0;
  float previous_x = 0, previous_z = 0;
  float sum_x = 0, sum_z = 0, sum_dig_x = 0, sum_dig_z = 0;
  float travel = 0;
  int sample_count = 0;
};

}  // namespace ks
