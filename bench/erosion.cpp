// Erosion costs: one wheel's sampling step (a digging wheel that fills strokes and sends
// records, and a wheel in the air), encoding and decoding a full record, and applying
// queued points with the default material (three bell squares of radius 4 and 2 on a
// field of spacing 1).
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "physics/erosion.h"
#include "physics/wheel_contact.h"
#include "physics/world.h"
#include "track/heightfield.h"

namespace {

struct Wheel {
  Wheel() {
    ks::create_physics_world();
    body = dBodyCreate(ks::g_physics.world);
    dBodySetLinearVel(body, 20, 0, -40);
    ks::init_height_field(hf, 8, 1.0f);  // 513 x 513 samples
    contact.body = body;
    contact.depth = 0.05f;
    contact.point = {256, 0, 256};
    contact.point_velocity = {1, 0, 2};
    contact.feedback.f1[0] = 60;
    contact.feedback.f1[1] = 400;
    contact.feedback.f1[2] = 120;
  }
  dBodyID body = nullptr;
  ks::HeightField hf;
  ks::WheelContact contact;
};

Wheel& wheel() {
  static Wheel w;
  return w;
}

// A wheel rolling 0.3 ft a tic along a circle: a point every few tics, strokes of 64.
void BM_sample_wheel_digging(benchmark::State& state) {
  Wheel& w = wheel();
  ks::reset_erosion();
  ks::RutStroke stroke;
  int tic = 0;
  for (auto _ : state) {
    const double a = tic * 0.003;
    w.contact.point[0] = static_cast<float>(256 + 100 * std::cos(a));
    w.contact.point[2] = static_cast<float>(256 + 100 * std::sin(a));
    ks::erosion_sample_wheel(stroke, w.contact, false, w.hf, tic++);
    if (ks::erosion_queue_length() > 100000) ks::clear_erosion_queue();
  }
  ks::reset_erosion();
}
BENCHMARK(BM_sample_wheel_digging);

void BM_sample_wheel_in_air(benchmark::State& state) {
  Wheel& w = wheel();
  ks::RutStroke stroke;
  ks::WheelContact air = w.contact;
  air.depth = 0;
  int tic = 0;
  for (auto _ : state) ks::erosion_sample_wheel(stroke, air, true, w.hf, tic++);
}
BENCHMARK(BM_sample_wheel_in_air);

ks::RutStroke full_stroke() {
  ks::RutStroke s;
  std::mt19937 rng(3);
  std::uniform_real_distribution<float> step(-1.0f, 1.0f);
  float x = 200, z = 200;
  for (int k = 0; k < ks::kRutStrokePoints; ++k) {
    x += step(rng);
    z += step(rng);
    s.points[static_cast<size_t>(k)] = {x, z, 0.5f, -0.5f, 1 + k % 16};
  }
  s.point_count = ks::kRutStrokePoints;
  s.min_delta_x = s.min_delta_z = -1;
  s.max_delta_x = s.max_delta_z = 1;
  return s;
}

void BM_encode_full_record(benchmark::State& state) {
  const ks::RutStroke s = full_stroke();
  uint8_t buf[ks::kErosionRecordMax];
  for (auto _ : state) {
    benchmark::DoNotOptimize(ks::encode_erosion_record(s, 512.0f, buf));
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_encode_full_record);

void BM_decode_full_record(benchmark::State& state) {
  const ks::RutStroke s = full_stroke();
  uint8_t buf[ks::kErosionRecordMax];
  const int n = ks::encode_erosion_record(s, 512.0f, buf);
  ks::reset_erosion();
  for (auto _ : state) {
    ks::decode_erosion_record(buf, n, 512.0f);
    if (ks::erosion_queue_length() > 100000) ks::clear_erosion_queue();
  }
  state.SetItemsProcessed(state.iterations() * ks::kRutStrokePoints);
  ks::reset_erosion();
}
BENCHMARK(BM_decode_full_record);

// Per point: the quota of a backlog of `range(0)` points is taken each tic, at strength 1
// (--erode 1). The strokes start all over the field so that ruts don't reach their limit.
void BM_apply_points(benchmark::State& state) {
  Wheel& w = wheel();
  const int backlog = static_cast<int>(state.range(0));
  std::vector<std::vector<uint8_t>> records;
  std::mt19937 rng(5);
  std::uniform_real_distribution<float> where(20.0f, w.hf.extent - 20.0f);
  for (int r = 0; r < 256; ++r) {
    ks::RutStroke s = full_stroke();
    const float dx = where(rng) - 200, dz = where(rng) - 200;
    for (ks::RutPoint& p : s.points) {
      p.x += dx;
      p.z += dz;
    }
    std::vector<uint8_t> buf(ks::kErosionRecordMax);
    buf.resize(static_cast<size_t>(ks::encode_erosion_record(s, w.hf.extent, buf.data())));
    records.push_back(buf);
  }
  ks::reset_erosion();
  w.hf.heights = w.hf.loaded_heights;
  int tic = 0;
  size_t next = 0;
  int64_t points = 0;
  for (auto _ : state) {
    state.PauseTiming();
    while (ks::erosion_queue_length() < backlog) {
      const std::vector<uint8_t>& r = records[next++ % records.size()];
      ks::decode_erosion_record(r.data(), static_cast<int>(r.size()), w.hf.extent);
    }
    const int before = ks::erosion_queue_length();
    state.ResumeTiming();
    ks::apply_erosion(w.hf, std::nullopt, 1.0, tic++);
    points += before - ks::erosion_queue_length();
  }
  state.SetItemsProcessed(points);
  ks::reset_erosion();
  w.hf.heights = w.hf.loaded_heights;
}
BENCHMARK(BM_apply_points)->Arg(64)->Arg(8192)->Arg(131072);

}  // namespace
