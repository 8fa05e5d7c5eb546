#include "field_stats.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>

#include <ode/ode.h>

#include "autopilot/autopilot.h"
#include "physics/bike_state.h"
#include "race/timing.h"

namespace ks {

namespace {

constexpr double kStuckSpeed = 2;                 // ft/s
constexpr int kStuckTics = 5 * kTicsPerSecond;
constexpr double kStartReach = 60;  // ft from the start position that still counts as the start
constexpr double kLaunchSpeed = 5;  // ft/s: off the line

double frame_speed(const BikeState& b) {
  const dReal* v = dBodyGetLinearVel(b.bodies[kFrameBody]);
  return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
}

bool at_start(const RaceState& race, int slot, const RiderWatch& w, const BikeState& b) {
  if (race.slots[size_t(slot)].timing.gate_count > 0) return false;
  const dReal* p = dBodyGetPosition(b.bodies[kFrameBody]);
  return std::hypot(p[0] - w.start_x, p[2] - w.start_z) < kStartReach;
}

double mean(const std::vector<double>& v) {
  double s = 0;
  for (double x : v) s += x;
  return v.empty() ? 0 : s / double(v.size());
}

std::string clock(double seconds) {
  if (!(seconds > 0)) return "-";
  char buf[32];
  const int m = int(seconds / 60);
  std::snprintf(buf, sizeof buf, "%d:%05.2f", m, seconds - 60 * m);
  return buf;
}

void print_event(const char* what, const RaceState& race, int slot, double speed) {
  const dReal* p = dBodyGetPosition(race.slots[size_t(slot)].bike->bodies[kFrameBody]);
  std::printf("Event %s: #%s (slot %d) at %.2f s, x %.0f z %.0f, %.1f ft/s\n", what,
              bike_number(race, slot).c_str(), slot, tics_to_seconds(race.current_tic), p[0], p[2],
              speed);
}

}  // namespace

std::string bike_number(const RaceState& race, int slot) {
  const BikeState* b = slot_bike(race, slot);
  if (b == nullptr) return {};
  return std::string(b->number.data(), strnlen(b->number.data(), b->number.size()));
}

void watch_field(FieldStats& stats, const RaceState& race) {
  for (int slot = 0; slot < kMaxBikes; ++slot) {
    const RaceSlot& s = race.slots[size_t(slot)];
    RiderWatch& w = stats.riders[size_t(slot)];
    if (s.bike == nullptr || s.bike->bodies[kFrameBody] == nullptr) continue;
    const double speed = frame_speed(*s.bike);
    if (s.bike->crash.count != w.crashes_seen) {
      w.crashes_seen = s.bike->crash.count;
      if (stats.print_events) print_event("crash", race, slot, speed);
    }
    if (race.current_tic < race.start_tic) continue;
    if (!w.placed) {
      const dReal* p = dBodyGetPosition(s.bike->bodies[kFrameBody]);
      w.placed = true;
      w.start_x = p[0];
      w.start_z = p[2];
    }
    if (w.launch_tic < 0 && speed >= kLaunchSpeed) w.launch_tic = race.current_tic;
    if (s.timing.finished || speed >= kStuckSpeed || at_start(race, slot, w, *s.bike)) {
      w.slow_tics = 0;
      w.was_stuck = false;
      continue;
    }
    if (++w.slow_tics >= kStuckTics && !w.was_stuck) {
      w.was_stuck = true;
      ++w.stuck_events;
      if (stats.print_events) print_event("stuck", race, slot, speed);
    }
  }
}

void print_field_stats(const FieldStats& stats, const RaceState& race) {
  int riders = 0, classified = 0, crashes = 0, stuck = 0;
  // Personality name -> lap times and best laps of its robots, in seconds.
  std::map<std::string, std::vector<double>> laps, bests, launches;
  std::map<std::string, int> count;
  std::vector<double> finish;
  for (int slot = 0; slot < kMaxBikes; ++slot) {
    const RaceSlot& s = race.slots[size_t(slot)];
    if (s.bike == nullptr) continue;
    ++riders;
    crashes += s.bike->crash.count;
    stuck += stats.riders[size_t(slot)].stuck_events;
    if (s.timing.finished) {
      ++classified;
      const int last = final_gate_index(race) < int64_t(s.timing.crossings.size())
                           ? s.timing.crossings[size_t(final_gate_index(race))]
                           : -1;
      if (last > 0) finish.push_back(tics_to_seconds(last - race.start_tic));
    }
    if (s.kind != SlotKind::robot) continue;
    const int p = robot_states()[size_t(slot)].personality;
    const std::string name = rider_style(p).name;
    ++count[name];
    if (const int l = stats.riders[size_t(slot)].launch_tic; l >= 0)
      launches[name].push_back(tics_to_seconds(l - race.start_tic));
    const int n = laps_completed(race, slot);
    for (int j = 1; j <= n; ++j) laps[name].push_back(lap_time(race, slot, j));
    if (const int b = best_lap(race, slot); b > 0) bests[name].push_back(lap_time(race, slot, b));
  }
  std::printf("Field: %d riders, %d finished, %d crashes, %d stuck events (%.2f a rider)\n",
              riders, classified, crashes, stuck, riders > 0 ? double(stuck) / riders : 0.0);
  for (const auto& [name, n] : count) {
    const auto& l = laps[name];
    const auto& b = bests[name];
    std::printf("Robots %s: %d, %zu laps, mean lap %s, mean best lap %s, fastest %s, "
                "off the line in %.2f s\n",
                name.c_str(), n, l.size(), clock(mean(l)).c_str(), clock(mean(b)).c_str(),
                clock(b.empty() ? 0 : *std::min_element(b.begin(), b.end())).c_str(),
                mean(launches[name]));
  }
  if (finish.size() >= 2) {
    std::sort(finish.begin(), finish.end());
    double gaps = 0;
    for (size_t i = 1; i < finish.size(); ++i) gaps += finish[i] - finish[i - 1];
    std::printf("Spread: first to last finisher %.1f s, mean gap %.1f s\n",
                finish.back() - finish.front(), gaps / double(finish.size() - 1));
  }
}

}  // namespace ks
