// Racing-line analysis at the reset (pruning and three plans) and the 8-record chain
// costs a robot runs for every line it picks, over full records of 45 lines.
#include <benchmark/benchmark.h>

#include <cmath>
#include <numbers>

#include "autopilot/racing_lines.h"
#include "track/gates.h"

namespace {

// A round lap of `per_lap` stretches per lap; every record full, the lines fanned out
// over a few lanes so that many of them connect.
ks::LineStore full_store(int per_lap, int points) {
  ks::TimingGates g;
  g.checkpoints.resize(size_t(per_lap));
  for (int i = 0; i < per_lap; ++i) {
    g.first_lap.push_back(i);
    g.normal_lap.push_back(i);
  }
  g.first_lap_unmarked = g.normal_lap_unmarked = per_lap;
  g.valid = true;
  ks::LineStore s;
  ks::create_line_records(s, g);
  const double step = 2 * std::numbers::pi / per_lap;
  for (size_t r = 0; r < s.records.size(); ++r) {
    const double a0 = double(r % size_t(per_lap)) * step;
    for (int i = 0; i < ks::kLinesPerRecord; ++i) {
      ks::RacingLine& l = s.records[r].lines[size_t(i)];
      const double radius = 300 + (i % 9) * 1.5;
      for (int p = 0; p < points; ++p) {
        const double a = a0 + step * p / (points - 1);
        l.points.push_back({float(radius * std::cos(a)), 0, float(radius * std::sin(a)),
                            float(40 + i % 5), 0});
      }
      l.time_a = 1000 + i;
      l.time_b = 2000 + i;
      l.tested = i % 7;
      l.sum_a = int64_t(l.tested) * (1000 + i);
      l.sum_b = int64_t(l.tested) * (2000 + i);
      l.fails = i % 3;
      l.id = s.next_id++;
    }
  }
  return s;
}

void BM_AnalyzeLines(benchmark::State& state) {
  const ks::LineStore base = full_store(int(state.range(0)), 40);
  for (auto _ : state) {
    ks::LineStore s = base;
    ks::analyze_lines(s);
    benchmark::DoNotOptimize(s.plan[0].data());
  }
}
BENCHMARK(BM_AnalyzeLines)->Arg(10)->Arg(40)->Unit(benchmark::kMillisecond);

void BM_ChainCosts8(benchmark::State& state) {
  const ks::LineStore s = full_store(10, 40);
  ks::ChainCosts m;
  for (auto _ : state) {
    ks::line_chain_costs(s, 3, 8, 0, m, nullptr);
    benchmark::DoNotOptimize(m[0][0]);
  }
}
BENCHMARK(BM_ChainCosts8)->Unit(benchmark::kMicrosecond);

}  // namespace
