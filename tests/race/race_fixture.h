// A small scripted race for the timing tests: six checkpoints in a row, a first lap of
// all six (F = 6) and a normal lap of checkpoints 1..5 (N = 5), and bikes that are bare
// records (timing never touches their bodies when given the position).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <tuple>
#include <vector>

#include "physics/bike_state.h"
#include "race/race_state.h"
#include "race/timing.h"
#include "track/track.h"

namespace ks::test {

constexpr int kF = 6;
constexpr int kN = 5;

inline TimingGates line_of_gates() {
  TimingGates g;
  for (int i = 0; i < 6; ++i) {
    TimingGate gate;
    gate.position = {100.0f * float(i), 0, 0};
    gate.direction = {1, 0, 0};
    gate.radius = 10;
    g.checkpoints.push_back(gate);
  }
  g.first_lap = {0, 1, 2, 3, 4, 5};
  g.normal_lap = {1, 2, 3, 4, 5 + kMarkedGate};
  g.first_lap_unmarked = 6;
  g.normal_lap_unmarked = 4;
  g.valid = true;
  return g;
}

// Crossing index of the last gate of lap j.
inline int lap_line(int j) { return kF + kN * (j - 1) - 1; }

class RaceFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    race_ptr = std::make_unique<RaceState>();
    track_state().track.gates = line_of_gates();
    track_state().loaded = true;
    timing_hooks() = {};
    timing_options() = {};
    timing_options().results_date = 1700000000;
  }
  void TearDown() override {
    track_state().track.gates = {};
    track_state().loaded = false;
    timing_hooks() = {};
    timing_options() = {};
  }

  RaceState& race() { return *race_ptr; }

  void lap_race(int laps, int start_tic = 1280) {
    race().laps = laps;
    race().race_laps = laps;
    race().halfway_lap = (laps + 1) / 2;
    race().start_tic = start_tic;
    race().track_dir = "rabbithill";
    reset_timing(race());
    compute_running_order(race());
  }

  void add_bike(int slot, const char* number = "1", const char* model = "cr125",
                SlotKind kind = SlotKind::local) {
    auto bike = std::make_unique<BikeState>();
    std::strncpy(bike->number.data(), number, bike->number.size() - 1);
    bike->slot = slot;
    race().slots[size_t(slot)].bike = bike.get();
    race().slots[size_t(slot)].kind = kind;
    race().slots[size_t(slot)].model_name = model;
    bikes.push_back(std::move(bike));
  }

  // Position of the checkpoint of crossing index k, 1 ft past its line.
  static std::pair<double, double> past_gate(int k) {
    const TimingGates& g = track_state().track.gates;
    int ref = k < kF ? g.first_lap[size_t(k)] : g.normal_lap[size_t((k - kF) % kN)];
    if (ref >= kMarkedGate) ref -= kMarkedGate;
    const TimingGate& gate = g.checkpoints[size_t(ref)];
    return {double(gate.position[0]) + 1.0, double(gate.position[2])};
  }

  // The bike at the gate of crossing index k at the tic; the crossing index taken or -1.
  int pass(int slot, int k, int tic) {
    race().current_tic = tic;
    auto [x, z] = past_gate(k);
    return gate_step_at(race(), track_state().track.gates, slot, x, z);
  }

  // Passes in tic order: (tic, slot, crossing index).
  void script(std::vector<std::tuple<int, int, int>> events) {
    std::stable_sort(events.begin(), events.end(), [](const auto& a, const auto& b) {
      return std::get<0>(a) < std::get<0>(b);
    });
    for (auto [tic, slot, k] : events) pass(slot, k, tic);
  }

  // Every gate of crossing indexes from..to, evenly spaced, the last at end_tic.
  static void ride(std::vector<std::tuple<int, int, int>>& ev, int slot, int from, int to,
                   int first_tic, int end_tic) {
    for (int k = from; k <= to; ++k) {
      const int tic =
          to == from ? end_tic : first_tic + (end_tic - first_tic) * (k - from) / (to - from);
      ev.emplace_back(tic, slot, k);
    }
  }

  std::unique_ptr<RaceState> race_ptr;
  std::vector<std::unique_ptr<BikeState>> bikes;
};

}  // namespace ks::test
