// The rider's bike setup.
//
// Sections: tuning setters - the key table - defaults and the stability preset - setup to
// tuning - applying - lines and files - config hooks - plate colours.
#include "physics/bike_setup.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <numbers>

#include <ode/ode.h>

#include "fs/messages.h"
#include "fs/vfs.h"
#include "physics/bike_state.h"

namespace ks {

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kDegrees = kPi / 180.0;
constexpr double kMphToFtPerSecond = 1.4666667;

float clampf(double v, double lo, double hi) {
  if (std::isnan(v)) v = lo;
  return static_cast<float>(std::clamp(v, lo, hi));
}

}  // namespace

// ---- tuning setters --------------------------------------------------------------------

namespace {

struct AssistSpec {
  float BikeAssists::*field;
  double min, max;
};
// Indexed by Assist.
constexpr AssistSpec kAssistSpecs[] = {
    {&BikeAssists::roll_damping, 0, 100},
    {&BikeAssists::leveling, 0, 100},
    {&BikeAssists::roll_limit_factor, 0, 64},
    {&BikeAssists::roll_limit_angle, 0, kPi},
    {&BikeAssists::steering_damping, 0, 100},
    {&BikeAssists::steering_strength, 0, 100},
    {&BikeAssists::max_steering_force, 0, 1000},
    {&BikeAssists::direct_steering, 0, 1},
    {&BikeAssists::slow_damping_speed, 0, 100},
    {&BikeAssists::slow_damping_factor, 1, 10},
    {&BikeAssists::land_damping_falloff, 0, 0.5},
    {&BikeAssists::land_damping_factor, 1, 3},
    {&BikeAssists::auto_clutch_rpm, 0, 5000},
    {&BikeAssists::front_brake_torque, 0, 500},
    {&BikeAssists::rear_brake_torque, 0, 500},
    {&BikeAssists::max_dab_speed, 7, 100},
    {&BikeAssists::full_lock_speed, 1, 100},
    {&BikeAssists::restricted_lock_speed, 1, 100},
    {&BikeAssists::restricted_lock_angle, 0, kPi / 4},
};
static_assert(std::size(kAssistSpecs) == static_cast<size_t>(Assist::restricted_lock_angle) + 1);

const AssistSpec& assist_spec(Assist which) {
  const auto i = std::clamp(static_cast<int>(which), 0,
                            static_cast<int>(std::size(kAssistSpecs)) - 1);
  return kAssistSpecs[i];
}

float lerp_range(const std::array<float, 2>& range, double x) {
  const double t = std::clamp(std::isnan(x) ? 0.0 : x, 0.0, 1.0);
  return static_cast<float>(range[0] + t * (range[1] - range[0]));
}

}  // namespace

void set_assist(BikeTuning& t, Assist which, double value) {
  const AssistSpec& s = assist_spec(which);
  t.assists.*s.field = clampf(value, s.min, s.max);
}

float assist_value(const BikeTuning& t, Assist which) {
  return t.assists.*assist_spec(which).field;
}

void set_fork(BikeTuning& t, const BikeModelInfo& m, Suspension which, double v) {
  ForkParams& f = t.fork;
  switch (which) {
    case Suspension::compression: f.compression = clampf(v, 0.25, 4) * m.fork_compression; break;
    case Suspension::slow_compression:
      f.slow_compression = clampf(v, -1, 1) * m.fork_slow_compression;
      break;
    case Suspension::rebound: f.rebound = clampf(v, 0.25, 4) * m.fork_rebound; break;
    case Suspension::slow_rebound: f.slow_rebound = clampf(v, -1, 1) * m.fork_slow_rebound; break;
    case Suspension::spring_rate: f.spring_rate = lerp_range(m.fork_spring_rate, v); break;
    case Suspension::preload: f.preload = lerp_range(m.fork_preload, v); break;
    case Suspension::oil_level: f.air_gap = lerp_range(m.fork_air_gap, v); break;
  }
}

void set_shock(BikeTuning& t, const BikeModelInfo& m, Suspension which, double v) {
  ShockParams& s = t.shock;
  switch (which) {
    case Suspension::compression: s.compression = clampf(v, 0.25, 4) * m.shock_compression; break;
    case Suspension::slow_compression:
      s.slow_compression = clampf(v, -1, 1) * m.shock_slow_compression;
      break;
    case Suspension::rebound: s.rebound = clampf(v, 0.25, 4) * m.shock_rebound; break;
    case Suspension::slow_rebound:
      s.slow_rebound = clampf(v, -1, 1) * m.shock_slow_rebound;
      break;
    case Suspension::spring_rate: s.spring_rate = lerp_range(m.shock_spring_rate, v); break;
    case Suspension::preload: s.preload = lerp_range(m.shock_preload, v); break;
    case Suspension::oil_level: break;  // the shock has none
  }
}

void set_default_suspension(BikeTuning& t, const BikeModelInfo& m) {
  constexpr double fork[] = {1, 0, 1, 0, 0.5, 0.5, 0};
  constexpr double shock[] = {2, 0, 2, 1, 0.5, 0.5};
  for (int i = 0; i < 7; ++i) set_fork(t, m, static_cast<Suspension>(i), fork[i]);
  for (int i = 0; i < 6; ++i) set_shock(t, m, static_cast<Suspension>(i), shock[i]);
}

void set_rider_spring(BikeTuning& t, RiderSpring which, double v) {
  const float x = clampf(v, 0, 1);
  switch (which) {
    case RiderSpring::vertical_spring: t.rider_springs.vertical_spring = x; break;
    case RiderSpring::vertical_damping: t.rider_springs.vertical_damping = x; break;
    case RiderSpring::forward_spring: t.rider_springs.forward_spring = x; break;
    case RiderSpring::forward_damping: t.rider_springs.forward_damping = x; break;
  }
}

namespace {
int sprocket_teeth(float catalog, double adjustment) {
  const double teeth = std::floor(static_cast<double>(catalog) + clampf(adjustment, -2, 2));
  return std::max(3, static_cast<int>(teeth));
}
}  // namespace

int countershaft_teeth(const BikeModelInfo& m, double front_adjustment) {
  return sprocket_teeth(m.countershaft_teeth, front_adjustment);
}

int rear_sprocket_teeth(const BikeModelInfo& m, double rear_adjustment) {
  return sprocket_teeth(m.rear_sprocket_teeth, rear_adjustment);
}

void set_sprockets(BikeTuning& t, const BikeModelInfo& m, double front_adjustment,
                   double rear_adjustment) {
  t.front_sprocket_adjustment = clampf(front_adjustment, -2, 2);
  t.rear_sprocket_adjustment = clampf(rear_adjustment, -2, 2);
  t.final_drive_ratio = static_cast<float>(rear_sprocket_teeth(m, rear_adjustment)) /
                        static_cast<float>(countershaft_teeth(m, front_adjustment));
}

void set_rider_mass_distribution(BikeTuning& t, double d) {
  t.rider_mass_distribution = clampf(d, 0.33, 0.5);
}

void set_flag(BikeTuning& t, int byte, uint8_t bit, bool on) {
  uint8_t& b = t.flags[byte == 0 ? 0 : 1];
  b = static_cast<uint8_t>(on ? (b | bit) : (b & ~bit));
}

BikeTuning default_tuning(const BikeModelInfo& m) {
  BikeTuning t;
  set_default_suspension(t, m);
  set_sprockets(t, m, 0, 0);
  return t;
}

// ---- the key table ---------------------------------------------------------------------

namespace {

// A numeric or choice key; `slider` or `choice` is set.
struct ValueKey {
  const char* key;
  const char* label;
  SliderSetting BikeSetup::*slider;
  ChoiceSetting BikeSetup::*choice;
  double def, min, max, step;             // sliders
  std::array<const char*, 3> items;       // choices; unused entries null
  int def_item;
};

constexpr std::array<const char*, 3> kNoYes = {"No", "Yes", nullptr};
constexpr std::array<const char*, 3> kBrake = {"Normal", "Antilock", nullptr};
constexpr std::array<const char*, 3> kWheelies = {"No", "Yes", "Front Only"};

constexpr ValueKey slider(const char* key, const char* label, SliderSetting BikeSetup::*m,
                          double def, double min, double max, double step) {
  return {key, label, m, nullptr, def, min, max, step, {}, 0};
}
constexpr ValueKey choice(const char* key, const char* label, ChoiceSetting BikeSetup::*m,
                          std::array<const char*, 3> items, int def) {
  return {key, label, nullptr, m, 0, 0, 0, 0, items, def};
}

using S = BikeSetup;
// Every numeric and choice key, in file order (after bike, name, number and the textures).
const ValueKey kValueKeys[] = {
    slider("stability", "Stability", &S::stability, 100, 0, 100, 1),
    slider("leveling", "Leveling", &S::leveling, 20, 0, 100, 1),
    slider("roll_damping", "Roll Damping", &S::roll_damping, 60, 0, 100, 1),
    slider("roll_limit_angle", "Roll Limit Angle", &S::roll_limit_angle, 45, 0, 180, 1),
    slider("roll_limit_factor", "Roll Limit Factor", &S::roll_limit_factor, 10, 0, 64, 1),
    slider("steering_damping", "Steering Damping", &S::steering_damping, 45, 0, 100, 1),
    slider("steering_strength", "Steering Strength", &S::steering_strength, 75, 0, 100, 1),
    slider("max_steering_force", "Max Steering Force", &S::max_steering_force, 400, 0, 1000, 5),
    slider("direct_steering", "Direct Steering", &S::direct_steering, 1, 0, 1, 0.125),
    slider("slow_damping_speed", "Slow Damping Speed", &S::slow_damping_speed, 40, 0, 100, 1),
    slider("slow_damping_factor", "Slow Damping Factor", &S::slow_damping_factor, 2, 1, 10, 0.25),
    slider("land_damping_falloff", "Landing Damping Falloff", &S::land_damping_falloff, 0.25, 0,
           0.5, 0.0625),
    slider("land_damping_factor", "Landing Damping Factor", &S::land_damping_factor, 2, 1, 3,
           0.25),
    slider("full_lock_speed", "Full Lock Speed", &S::full_lock_speed, 10, 1, 100, 1),
    slider("restricted_lock_speed", "Restricted Lock Speed", &S::restricted_lock_speed, 50, 1,
           100, 1),
    slider("restricted_lock", "Restricted Lock Angle", &S::restricted_lock, 7.5, 0, 45, 0.125),
    choice("arcade", "Arcade Physics", &S::arcade, kNoYes, 1),
    choice("front_brake", "Front Brake", &S::front_brake, kBrake, 1),
    choice("rear_brake", "Rear Brake", &S::rear_brake, kBrake, 0),
    choice("stop_wheelies", "Stop Wheelies", &S::stop_wheelies, kWheelies, 1),
    choice("auto_shift", "Automatic Shifting", &S::auto_shift, kNoYes, 1),
    choice("auto_dab", "Dab When Stopped", &S::auto_dab, kNoYes, 1),
    choice("auto_align", "Realign After Fall", &S::auto_align, kNoYes, 1),
    choice("sticky_dab", "Sticky Sit/Dab", &S::sticky_dab, kNoYes, 0),
    choice("reverse_steering", "Reversed Steering", &S::reverse_steering, kNoYes, 1),
    choice("lean_indicator", "Lean Indicator", &S::lean_indicator, kNoYes, 1),
    slider("auto_clutch_rpms", "Auto Clutch RPMs", &S::auto_clutch_rpms, 5000, 0, 5000, 100),
    slider("brake_torque", "Braking Torque (Front)", &S::brake_torque, 500, 0, 500, 10),
    slider("rear_brake_torque", "Braking Torque (Rear)", &S::rear_brake_torque, 250, 0, 500, 10),
    slider("max_dab_speed", "Max Dab Speed (MPH)", &S::max_dab_speed, 60, 5, 60, 1),
    slider("front_sprocket_adjustment", "Countershaft Sprocket", &S::front_sprocket_adjustment, 0,
           -2, 2, 1),
    slider("rear_sprocket_adjustment", "Rear Sprocket", &S::rear_sprocket_adjustment, 0, -2, 2, 1),
    slider("fork_compression_adjustment", "Fork High Speed Compression Damping",
           &S::fork_compression_adjustment, 50, 0, 100, 1),
    slider("fork_slow_compression_adjustment", "Fork Low Speed Compression Damping",
           &S::fork_slow_compression_adjustment, 50, 0, 100, 1),
    slider("fork_rebound_adjustment", "Fork High Speed Rebound Damping",
           &S::fork_rebound_adjustment, 50, 0, 100, 1),
    slider("fork_slow_rebound_adjustment", "Fork Low Speed Rebound Damping",
           &S::fork_slow_rebound_adjustment, 50, 0, 100, 1),
    slider("fork_spring_rate_adjustment", "Fork Spring Rate", &S::fork_spring_rate_adjustment, 50,
           0, 100, 1),
    slider("fork_preload_adjustment", "Fork Preload", &S::fork_preload_adjustment, 50, 0, 100, 1),
    slider("fork_oil_level_adjustment", "Fork Oil Level", &S::fork_oil_level_adjustment, 50, 0,
           100, 1),
    slider("shock_compression_adjustment", "Shock High Speed Compression Damping",
           &S::shock_compression_adjustment, 75, 0, 100, 1),
    slider("shock_slow_compression_adjustment", "Shock Low Speed Compression Damping",
           &S::shock_slow_compression_adjustment, 50, 0, 100, 1),
    slider("shock_rebound_adjustment", "Shock High Speed Rebound Damping",
           &S::shock_rebound_adjustment, 75, 0, 100, 1),
    slider("shock_slow_rebound_adjustment", "Shock Low Speed Rebound Damping",
           &S::shock_slow_rebound_adjustment, 50, 0, 100, 1),
    slider("shock_spring_rate_adjustment", "Shock Spring Rate", &S::shock_spring_rate_adjustment,
           50, 0, 100, 1),
    slider("shock_preload_adjustment", "Shock Preload", &S::shock_preload_adjustment, 50, 0, 100,
           1),
    slider("rider_yspring", "Rider Vertical Spring", &S::rider_yspring, 50, 0, 100, 1),
    slider("rider_ydamping", "Rider Vertical Damping", &S::rider_ydamping, 50, 0, 100, 1),
    slider("rider_zspring", "Rider Forward Spring", &S::rider_zspring, 50, 0, 100, 1),
    slider("rider_zdamping", "Rider Forward Damping", &S::rider_zdamping, 50, 0, 100, 1),
    slider("rider_mass_distribution", "Rider Mass Distribution", &S::rider_mass_distribution,
           0.33, 0.33, 0.5, 0.01),
};

// The text keys and their buffers.
struct TextKey {
  const char* key;
  char* buf;
  size_t max_chars;
};
std::array<TextKey, 6> text_keys(BikeSetup& s) {
  return {{{"name", s.name.data(), kSetupNameChars},
           {"number", s.number.data(), kSetupNumberChars},
           {"rider_texture", s.rider_texture.data(), kSetupTextureChars},
           {"head_texture", s.head_texture.data(), kSetupTextureChars},
           {"bike_texture", s.bike_texture.data(), kSetupTextureChars},
           {"wheel_texture", s.wheel_texture.data(), kSetupTextureChars}}};
}

}  // namespace

// ---- defaults and the stability preset -------------------------------------------------

void reset_bike_setup(BikeSetup& s) {
  s.bike.label = "Bike";
  s.bike.items.clear();
  for (const BikeModelInfo& m : bike_catalog()) s.bike.items.emplace_back(m.name.data());
  s.bike.index = std::max(0, find_bike_model_exact("yz250f(2017)"));
  set_text(s.name.data(), kSetupNameChars, "Joe Motocross");
  set_text(s.number.data(), kSetupNumberChars, "999");
  // Empty texture names mean the catalog's default of each group.
  s.rider_texture[0] = s.head_texture[0] = s.bike_texture[0] = s.wheel_texture[0] = '\0';
  for (const ValueKey& k : kValueKeys) {
    if (k.slider) {
      SliderSetting& sl = s.*k.slider;
      sl.label = k.label;
      sl.value = k.def;
      sl.step = k.step;
      sl.min = k.min;
      sl.max = k.max;
    } else {
      ChoiceSetting& c = s.*k.choice;
      c.label = k.label;
      c.items.clear();
      for (const char* item : k.items)
        if (item) c.items.emplace_back(item);
      c.index = k.def_item;
    }
  }
}

BikeSetup& bike_setup() {
  static BikeSetup* setup = [] {
    static BikeSetup s;
    reset_bike_setup(s);
    return &s;
  }();
  return *setup;
}

void apply_stability_preset(BikeSetup& s, double stability) {
  struct Row {
    SliderSetting BikeSetup::*slider;
    std::array<double, 6> table;  // at stability 0, 20, 40, 60, 80, 100
  };
  static const Row kPreset[] = {
      {&S::restricted_lock, {45, 15, 10, 5, 2.5, 1}},
      {&S::restricted_lock_speed, {50, 50, 50, 50, 50, 50}},
      {&S::full_lock_speed, {10, 10, 10, 10, 10, 10}},
      {&S::max_steering_force, {400, 400, 400, 400, 400, 400}},
      {&S::land_damping_factor, {1, 1.5, 2, 2, 2, 2}},
      {&S::land_damping_falloff, {0, 0.125, 0.25, 0.25, 0.25, 0.25}},
      {&S::slow_damping_factor, {1, 1, 1.5, 2, 2, 2}},
      {&S::slow_damping_speed, {40, 40, 40, 40, 40, 40}},
      {&S::direct_steering, {1, 1, 1, 1, 1, 0.125}},
      {&S::steering_strength, {75, 75, 75, 75, 75, 75}},
      {&S::steering_damping, {45, 45, 45, 45, 50, 60}},
      {&S::roll_limit_factor, {0, 5, 10, 32, 32, 32}},
      {&S::roll_limit_angle, {90, 45, 45, 45, 45, 45}},
      {&S::roll_damping, {40, 50, 60, 70, 75, 80}},
      {&S::leveling, {20, 20, 20, 20, 20, 20}},
  };
  if (std::isnan(stability)) stability = 0;
  const double x = std::clamp(stability / 20.0, 0.0, 5.0);
  const int i = std::clamp(static_cast<int>(std::floor(x)), 0, 4);
  const double t = x - i;
  for (const Row& r : kPreset) {
    const double a = r.table[static_cast<size_t>(i)], b = r.table[static_cast<size_t>(i) + 1];
    (s.*r.slider).value = a + t * (b - a);
  }
}

// ---- setup to tuning -------------------------------------------------------------------

namespace {
bool is(const ChoiceSetting& c, const char* text) { return !std::strcmp(c.text(), text); }
double transform_factor(double v) { return std::exp2(0.04 * v - 2); }  // 0..100 -> 0.25..4
double transform_signed(double v) { return 0.02 * v - 1; }            // 0..100 -> -1..1
double transform_unit(double v) { return 0.01 * v; }                  // 0..100 -> 0..1
}  // namespace

void setup_to_tuning(const BikeSetup& s, const BikeModelInfo& m, BikeTuning& t) {
  set_assist(t, Assist::leveling, s.leveling.value);
  set_assist(t, Assist::roll_damping, s.roll_damping.value);
  set_assist(t, Assist::roll_limit_angle, s.roll_limit_angle.value * kDegrees);
  set_assist(t, Assist::roll_limit_factor, s.roll_limit_factor.value);
  set_assist(t, Assist::steering_damping, s.steering_damping.value);
  set_assist(t, Assist::steering_strength, s.steering_strength.value);
  set_assist(t, Assist::max_steering_force, s.max_steering_force.value);
  set_assist(t, Assist::direct_steering, s.direct_steering.value);
  set_assist(t, Assist::slow_damping_speed, s.slow_damping_speed.value);
  set_assist(t, Assist::slow_damping_factor, s.slow_damping_factor.value);
  set_assist(t, Assist::land_damping_falloff, s.land_damping_falloff.value);
  set_assist(t, Assist::land_damping_factor, s.land_damping_factor.value);
  set_assist(t, Assist::full_lock_speed, s.full_lock_speed.value);
  set_assist(t, Assist::restricted_lock_speed, s.restricted_lock_speed.value);
  set_assist(t, Assist::restricted_lock_angle, s.restricted_lock.value * kDegrees);

  set_flag(t, 1, kFlag2Arcade, is(s.arcade, "Yes"));
  set_flag(t, 0, kFlagFrontAntilock, is(s.front_brake, "Antilock"));
  set_flag(t, 0, kFlagRearAntilock, is(s.rear_brake, "Antilock"));
  const bool wheelies = is(s.stop_wheelies, "Yes");
  set_flag(t, 0, kFlagStopWheelies, wheelies);
  set_flag(t, 0, kFlagStopFrontFlips, wheelies || is(s.stop_wheelies, "Front Only"));
  set_flag(t, 0, kFlagAutoShift, is(s.auto_shift, "Yes"));
  set_flag(t, 0, kFlagAutoDab, is(s.auto_dab, "Yes"));
  set_flag(t, 0, kFlagRealign, is(s.auto_align, "Yes"));
  set_flag(t, 0, kFlagDirectSteering, true);

  set_assist(t, Assist::auto_clutch_rpm, s.auto_clutch_rpms.value);
  set_assist(t, Assist::front_brake_torque, s.brake_torque.value);
  set_assist(t, Assist::rear_brake_torque, s.rear_brake_torque.value);
  set_assist(t, Assist::max_dab_speed, s.max_dab_speed.value * kMphToFtPerSecond);
  set_sprockets(t, m, s.front_sprocket_adjustment.value, s.rear_sprocket_adjustment.value);

  set_fork(t, m, Suspension::compression, transform_factor(s.fork_compression_adjustment.value));
  set_fork(t, m, Suspension::slow_compression,
           transform_signed(s.fork_slow_compression_adjustment.value));
  set_fork(t, m, Suspension::rebound, transform_factor(s.fork_rebound_adjustment.value));
  set_fork(t, m, Suspension::slow_rebound, transform_signed(s.fork_slow_rebound_adjustment.value));
  set_fork(t, m, Suspension::spring_rate, transform_unit(s.fork_spring_rate_adjustment.value));
  set_fork(t, m, Suspension::preload, transform_unit(s.fork_preload_adjustment.value));
  set_fork(t, m, Suspension::oil_level, transform_unit(s.fork_oil_level_adjustment.value));
  set_shock(t, m, Suspension::compression, transform_factor(s.shock_compression_adjustment.value));
  set_shock(t, m, Suspension::slow_compression,
            transform_signed(s.shock_slow_compression_adjustment.value));
  set_shock(t, m, Suspension::rebound, transform_factor(s.shock_rebound_adjustment.value));
  set_shock(t, m, Suspension::slow_rebound,
            transform_signed(s.shock_slow_rebound_adjustment.value));
  set_shock(t, m, Suspension::spring_rate, transform_unit(s.shock_spring_rate_adjustment.value));
  set_shock(t, m, Suspension::preload, transform_unit(s.shock_preload_adjustment.value));

  set_rider_spring(t, RiderSpring::vertical_spring, transform_unit(s.rider_yspring.value));
  set_rider_spring(t, RiderSpring::vertical_damping, transform_unit(s.rider_ydamping.value));
  set_rider_spring(t, RiderSpring::forward_spring, transform_unit(s.rider_zspring.value));
  set_rider_spring(t, RiderSpring::forward_damping, transform_unit(s.rider_zdamping.value));
  set_rider_mass_distribution(t, s.rider_mass_distribution.value);
}

const char* setup_texture_or_default(const char* chosen, const BikeModelInfo& m,
                                     ModelFile which) {
  return (chosen && chosen[0]) ? chosen : m.file(which);
}

std::string setup_display_text(const BikeSetup& s, const BikeModelInfo& m, const char* key) {
  if (!key) return {};
  BikeTuning t;
  setup_to_tuning(s, m, t);
  char text[64];
  text[0] = '\0';
  const auto mm = [&](float ft) { std::snprintf(text, sizeof text, "%.2f mm", ft * 304.8); };
  if (!std::strcmp(key, "fork_spring_rate_adjustment"))
    std::snprintf(text, sizeof text, "%.3f kg/mm", t.fork.spring_rate * 0.000744082);
  else if (!std::strcmp(key, "shock_spring_rate_adjustment"))
    std::snprintf(text, sizeof text, "%.2f kg/mm", t.shock.spring_rate * 0.001488164);
  else if (!std::strcmp(key, "fork_preload_adjustment"))
    mm(t.fork.preload);
  else if (!std::strcmp(key, "shock_preload_adjustment"))
    mm(t.shock.preload);
  else if (!std::strcmp(key, "fork_oil_level_adjustment"))
    mm(t.fork.air_gap);
  else if (!std::strcmp(key, "front_sprocket_adjustment"))
    std::snprintf(text, sizeof text, "%.2f teeth",
                  static_cast<double>(countershaft_teeth(m, s.front_sprocket_adjustment.value)));
  else if (!std::strcmp(key, "rear_sprocket_adjustment"))
    std::snprintf(text, sizeof text, "%.2f teeth",
                  static_cast<double>(rear_sprocket_teeth(m, s.rear_sprocket_adjustment.value)));
  return text;
}

// ---- applying --------------------------------------------------------------------------

SetupModule& setup_module() {
  static SetupModule module;
  return module;
}

void reset_setup_module() { setup_module() = SetupModule{}; }

namespace {

constexpr double kMechanicSpeed = 0.125;     // ft/s
constexpr double kMechanicInterval = 10.0;   // s

double setup_clock_now() {
  if (double (*clock)() = setup_module().clock) return clock();
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// The frame and rider bodies carry the rider's mass in the chosen split.
void apply_mass_distribution(BikeState& bike, const BikeModelInfo& m, double d) {
  dBodyID frame = bike.bodies[kFrameBody];
  dBodyID rider = bike.bodies[kRiderBody];
  if (frame) {
    dMass mass;
    dMassSetBoxTotal(&mass, m.frame_mass + (1 - d) * m.rider_mass, m.frame_width,
                     m.frame_height, m.frame_length);
    dBodySetMass(frame, &mass);
  }
  if (rider) {
    dMass mass;
    dMassSetSphereTotal(&mass, d * m.rider_mass, 1.0);
    dBodySetMass(rider, &mass);
  }
}

}  // namespace

bool apply_setup(BikeState& bike, const BikeSetup& s, double now) {
  if (dBodyID frame = bike.bodies[kFrameBody]) {
    const dReal* v = dBodyGetLinearVel(frame);
    const double speed = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    if (!(speed <= kMechanicSpeed)) {
      SetupModule& mod = setup_module();
      if (mod.refused_before && now - mod.last_refused < kMechanicInterval)
        post_message("Settings not applied.  Mechanic can't keep up error.");
      mod.refused_before = true;
      mod.last_refused = now;
      return false;
    }
  }
  const BikeModelInfo& m = bike_model(bike.model);
  setup_to_tuning(s, m, bike.tuning);
  apply_mass_distribution(bike, m, bike.tuning.rider_mass_distribution);
  return true;
}

bool apply_setup(BikeState& bike, const BikeSetup& s) {
  return apply_setup(bike, s, setup_clock_now());
}

// ---- lines and files -------------------------------------------------------------------

bool read_setup_line(BikeSetup& s, const char* key, const char* value) {
  if (!key || !value) return false;
  if (!std::strcmp(key, "bike")) {
    set_choice_by_text(s.bike, bike_model_aliases(value));
    return true;
  }
  for (const TextKey& t : text_keys(s)) {
    if (!std::strcmp(key, t.key)) {
      set_text(t.buf, t.max_chars, value);
      return true;
    }
  }
  for (const ValueKey& k : kValueKeys) {
    if (std::strcmp(key, k.key) != 0) continue;
    if (k.choice) {
      set_choice_by_text(s.*k.choice, value);
    } else if (set_slider_from_text(s.*k.slider, value) && k.slider == &S::stability) {
      apply_stability_preset(s, s.stability.value);
    }
    return true;
  }
  return false;
}

bool write_setup(const BikeSetup& s, VfsFile* f) {
  if (!f) return false;
  vfs_printf(f, "bike=%s\n", s.bike.text());
  for (const TextKey& t : text_keys(const_cast<BikeSetup&>(s)))  // read only
    vfs_printf(f, "%s=%s\n", t.key, t.buf);
  for (const ValueKey& k : kValueKeys) {
    if (k.choice)
      vfs_printf(f, "%s=%s\n", k.key, (s.*k.choice).text());
    else
      vfs_printf(f, "%s=%f\n", k.key, (s.*k.slider).value);
  }
  return !vfs_write_failed(f);
}

void read_setup_file(BikeSetup& s, VfsFile* f) {
  if (!f) return;
  char line[kConfigLineBytes];
  while (next_config_line(f, line)) {
    char* eq = std::strchr(line, '=');
    if (!eq) continue;
    *eq = '\0';
    char* value = eq + 1;
    size_t n = std::strlen(value);
    while (n > 0 && (value[n - 1] == '\r' || value[n - 1] == '\n')) value[--n] = '\0';
    read_setup_line(s, line, value);
  }
}

std::string setup_path(const char* name) {
  std::string n = name ? name : "";
  while (!n.empty() && (n.back() == ' ' || n.back() == '\t' || n.back() == '\r' ||
                        n.back() == '\n'))
    n.pop_back();
  // A setup name is one file in the setups folder; a path could overwrite the config.
  if (n.empty() || n[0] == '.' || n.find_first_of("/\\") != std::string::npos) return {};
  return "@setups/" + n;
}

bool read_named_setup(BikeSetup& s, const char* name) {
  const std::string path = setup_path(name);
  VfsFile* f = path.empty() ? nullptr : vfs_open(path.c_str(), "rb");
  if (!f) {
    post_message("Error reading setup");
    return false;
  }
  read_setup_file(s, f);
  vfs_close(f);
  SetupModule& mod = setup_module();
  if (mod.texture_lists_changed) mod.texture_lists_changed(s);
  post_message("Setup updated");
  if (mod.local_bike)
    if (BikeState* bike = mod.local_bike()) apply_setup(*bike, s);
  return true;
}

bool write_named_setup(const BikeSetup& s, const char* name) {
  const std::string path = setup_path(name);
  VfsFile* f = path.empty() ? nullptr : vfs_open_replace(path.c_str());
  bool ok = f != nullptr;
  if (ok && !write_setup(s, f)) {
    vfs_close(f);  // discards the temporary file; an old setup stays whole
    ok = false;
  } else if (ok) {
    ok = vfs_commit(f);
  }
  post_message(ok ? "Setup written" : "Error writing setup");
  return ok;
}

// ---- config hooks ----------------------------------------------------------------------

void install_bike_setup_config_hooks() {
  ConfigSeam& seam = config_seam();
  seam.read_setup_line = [](const char* key, const char* value) {
    return read_setup_line(bike_setup(), key, value);
  };
  seam.write_setup_lines = [](VfsFile* f) { write_setup(bike_setup(), f); };
}

// ---- plate colours ---------------------------------------------------------------------

namespace {
void read_colour(const char* text, const char* tag, std::array<uint8_t, 3>& out) {
  const char* p = std::strstr(text, tag);
  if (!p) return;
  float c[3] = {0, 0, 0};
  if (scan_text(p + std::strlen(tag), "%f,%f,%f", &c[0], &c[1], &c[2]) != 3) return;
  for (int i = 0; i < 3; ++i) {
    if (std::isnan(c[i])) return;
  }
  for (size_t i = 0; i < 3; ++i)
    out[i] = static_cast<uint8_t>(std::clamp(c[i], 0.0f, 1.0f) * 255.0f);
}
}  // namespace

PlateColours number_plate_colours(const char* texture_text) {
  PlateColours colours;
  if (!texture_text) return colours;
  read_colour(texture_text, "[numberbackground:", colours.background);
  read_colour(texture_text, "[numberforeground:", colours.foreground);
  return colours;
}

}  // namespace ks
