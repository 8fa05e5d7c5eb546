// Nanoseconds per call of the three ground point queries on rolling ground (2^9 tiles a
// side, 1025 x 1025 samples), at points spread over the whole field.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "track/heightfield.h"

namespace {

struct Field {
  Field() {
    ks::init_height_field(hf, 9, 1.0f);
    for (int j = 0; j < hf.size; ++j) {
      for (int i = 0; i < hf.size; ++i) {
        hf.heights[static_cast<size_t>(j * hf.size + i)] =
            static_cast<float>(3.0 * std::sin(i * 0.05) + 2.0 * std::cos(j * 0.07) +
                               std::sin((i + j) * 0.13));
      }
    }
    for (size_t k = 0; k < hf.tile_map.size(); ++k) hf.tile_map[k] = static_cast<uint8_t>(k % 7);
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> u(0.0, static_cast<double>(hf.extent));
    points.resize(4096);
    for (auto& p : points) p = {u(rng), u(rng)};
  }
  ks::HeightField hf;
  std::vector<std::pair<double, double>> points;
};

Field& field() {
  static Field f;
  return f;
}

// One benchmark body for the three point queries, over the same random points.
template <auto Query>
void BM_query(benchmark::State& state) {
  Field& f = field();
  size_t k = 0;
  for (auto _ : state) {
    const auto& p = f.points[k++ & 4095];
    benchmark::DoNotOptimize(Query(f.hf, p.first, p.second));
  }
}
BENCHMARK(BM_query<ks::ground_height_at>)->Name("BM_ground_height_at");
BENCHMARK(BM_query<ks::ground_face_normal_at>)->Name("BM_ground_face_normal_at");
BENCHMARK(BM_query<ks::ground_material_at>)->Name("BM_ground_material_at");

}  // namespace
