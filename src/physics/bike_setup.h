// The rider's bike setup: the BikeSetup record of menu settings with its keys, defaults and
// ranges; the tuning values a bike holds (assists, suspension, gearing, flags) with their
// clamping setters and the conversion from the setup; the stability preset; the setup
// lines of the config file and the named setup files; the number-plate colours.
//
// Sections: bike tuning - the setup record - applying - lines and files - plate colours.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "core/config.h"
#include "physics/bike_catalog.h"

namespace ks {

struct BikeState;
struct VfsFile;

// ---- bike tuning -----------------------------------------------------------------------
// The values a bike holds that a setup sets. BikeState keeps one BikeTuning; the member
// initialisers are the creation defaults of a new bike.

struct BikeAssists {
  float roll_damping = 60;
  float leveling = 20;
  float roll_limit_factor = 10;
  float roll_limit_angle = 0.785398163f;  // rad
  float steering_damping = 45;
  float steering_strength = 75;
  float max_steering_force = 400;
  float direct_steering = 1;
  float slow_damping_speed = 0;
  float slow_damping_factor = 1;
  float land_damping_falloff = 0.25f;
  float land_damping_factor = 2;
  float auto_clutch_rpm = 5000;
  float front_brake_torque = 250;  // lb ft
  float rear_brake_torque = 250;   // lb ft
  float max_dab_speed = 30;        // ft/s
  float full_lock_speed = 10;
  float restricted_lock_speed = 50;
  float restricted_lock_angle = 0.0872665f;  // rad
};

// Fork coefficients after the conversion from the setup (catalog base values scaled, and
// spring, preload and air gap taken from the catalog ranges).
struct ForkParams {
  float compression = 0;
  float slow_compression = 0;
  float rebound = 0;
  float slow_rebound = 0;
  float spring_rate = 0;  // lb/ft
  float preload = 0;      // ft
  float air_gap = 0;      // ft
};

struct ShockParams {
  float compression = 0;
  float slow_compression = 0;
  float rebound = 0;
  float slow_rebound = 0;
  float spring_rate = 0;
  float preload = 0;
};

// Each in [0, 1].
struct RiderSprings {
  float vertical_spring = 0.5f;
  float vertical_damping = 0.75f;
  float forward_spring = 0.5f;
  float forward_damping = 0.75f;
};

// First flag byte.
constexpr uint8_t kFlagDirectSteering = 1 << 0;  // always set
constexpr uint8_t kFlagStopWheelies = 1 << 1;
constexpr uint8_t kFlagStopFrontFlips = 1 << 2;
constexpr uint8_t kFlagFrontAntilock = 1 << 3;
constexpr uint8_t kFlagRearAntilock = 1 << 4;
constexpr uint8_t kFlagAutoShift = 1 << 5;
constexpr uint8_t kFlagAutoDab = 1 << 6;
constexpr uint8_t kFlagRealign = 1 << 7;
// Second flag byte.
constexpr uint8_t kFlag2Arcade = 1 << 0;

struct BikeTuning {
  BikeAssists assists;
  ForkParams fork;    // set from the model at creation (set_default_suspension)
  ShockParams shock;
  RiderSprings rider_springs;
  float front_sprocket_adjustment = 0;  // teeth, [-2, 2]
  float rear_sprocket_adjustment = 0;
  float final_drive_ratio = 0;          // rear teeth / countershaft teeth
  float rider_mass_distribution = 1.0f / 3.0f;  // fraction of the rider mass in the rider body
  std::array<uint8_t, 2> flags{
      static_cast<uint8_t>(kFlagDirectSteering | kFlagStopFrontFlips | kFlagFrontAntilock |
                           kFlagRealign),
      0};
};

// The clamping setters. Each takes the value as the setup hands it (angles in radians,
// speeds in ft/s, suspension values after the key's transform) and clamps it.
enum class Assist : int {
  roll_damping,           // [0, 100]
  leveling,               // [0, 100]
  roll_limit_factor,      // [0, 64]
  roll_limit_angle,       // [0, pi]
  steering_damping,       // [0, 100]
  steering_strength,      // [0, 100]
  max_steering_force,     // [0, 1000]
  direct_steering,        // [0, 1]
  slow_damping_speed,     // [0, 100]
  slow_damping_factor,    // [1, 10]
  land_damping_falloff,   // [0, 0.5]
  land_damping_factor,    // [1, 3]
  auto_clutch_rpm,        // [0, 5000]
  front_brake_torque,     // [0, 500]
  rear_brake_torque,      // [0, 500]
  max_dab_speed,          // [7, 100] ft/s
  full_lock_speed,        // [1, 100]
  restricted_lock_speed,  // [1, 100]
  restricted_lock_angle,  // [0, pi/4]
};
void set_assist(BikeTuning& t, Assist which, double value);
float assist_value(const BikeTuning& t, Assist which);

// Suspension settings, in the order of the fork record; the shock has no oil level.
enum class Suspension : int {
  compression,       // factor, [0.25, 4] times the catalog coefficient
  slow_compression,  // [-1, 1] times the catalog coefficient
  rebound,           // factor, [0.25, 4]
  slow_rebound,      // [-1, 1]
  spring_rate,       // [0, 1] across the catalog range
  preload,           // [0, 1] across the catalog range
  oil_level,         // [0, 1] across the catalog air-gap range (fork only)
};
void set_fork(BikeTuning& t, const BikeModelInfo& m, Suspension which, double value);
void set_shock(BikeTuning& t, const BikeModelInfo& m, Suspension which, double value);
// The creation values: fork (1, 0, 1, 0, 0.5, 0.5, 0), shock (2, 0, 2, 1, 0.5, 0.5).
void set_default_suspension(BikeTuning& t, const BikeModelInfo& m);

enum class RiderSpring : int { vertical_spring, vertical_damping, forward_spring, forward_damping };
void set_rider_spring(BikeTuning& t, RiderSpring which, double value);  // [0, 1]

// Adjustments clamped to [-2, 2]; teeth = max(3, floor(catalog + adjustment)); sets the
// final drive ratio.
void set_sprockets(BikeTuning& t, const BikeModelInfo& m, double front_adjustment,
                   double rear_adjustment);
int countershaft_teeth(const BikeModelInfo& m, double front_adjustment);
int rear_sprocket_teeth(const BikeModelInfo& m, double rear_adjustment);

void set_rider_mass_distribution(BikeTuning& t, double d);  // [0.33, 0.5]
void set_flag(BikeTuning& t, int byte, uint8_t bit, bool on);

// A fresh bike's tuning for model m: the member defaults, the default suspension and the
// catalog sprockets.
BikeTuning default_tuning(const BikeModelInfo& m);

// ---- the setup record ------------------------------------------------------------------

constexpr size_t kSetupNameChars = 63;
constexpr size_t kSetupNumberChars = 31;   // the plate shows at most kPlateChars
constexpr size_t kPlateChars = 7;
constexpr size_t kSetupTextureChars = 1023;

// The rider's setup as the menus hold it; the config file and setup files store it.
struct BikeSetup {
  ChoiceSetting bike;  // items: the catalog names in catalog order
  std::array<char, kSetupNameChars + 1> name{};
  std::array<char, kSetupNumberChars + 1> number{};
  std::array<char, kSetupTextureChars + 1> rider_texture{};  // empty: the catalog default
  std::array<char, kSetupTextureChars + 1> head_texture{};
  std::array<char, kSetupTextureChars + 1> bike_texture{};
  std::array<char, kSetupTextureChars + 1> wheel_texture{};
  SliderSetting stability;
  SliderSetting leveling;
  SliderSetting roll_damping;
  SliderSetting roll_limit_angle;  // degrees
  SliderSetting roll_limit_factor;
  SliderSetting steering_damping;
  SliderSetting steering_strength;
  SliderSetting max_steering_force;
  SliderSetting direct_steering;
  SliderSetting slow_damping_speed;
  SliderSetting slow_damping_factor;
  SliderSetting land_damping_falloff;
  SliderSetting land_damping_factor;
  SliderSetting full_lock_speed;
  SliderSetting restricted_lock_speed;
  SliderSetting restricted_lock;  // degrees
  ChoiceSetting arcade;           // "No", "Yes"
  ChoiceSetting front_brake;      // "Normal", "Antilock"
  ChoiceSetting rear_brake;       // "Normal", "Antilock"
  ChoiceSetting stop_wheelies;    // "No", "Yes", "Front Only"
  ChoiceSetting auto_shift;
  ChoiceSetting auto_dab;
  ChoiceSetting auto_align;
  ChoiceSetting sticky_dab;
  ChoiceSetting reverse_steering;
  ChoiceSetting lean_indicator;
  SliderSetting auto_clutch_rpms;
  SliderSetting brake_torque;
  SliderSetting rear_brake_torque;
  SliderSetting max_dab_speed;  // mph
  SliderSetting front_sprocket_adjustment;
  SliderSetting rear_sprocket_adjustment;
  SliderSetting fork_compression_adjustment;
  SliderSetting fork_slow_compression_adjustment;
  SliderSetting fork_rebound_adjustment;
  SliderSetting fork_slow_rebound_adjustment;
  SliderSetting fork_spring_rate_adjustment;
  SliderSetting fork_preload_adjustment;
  SliderSetting fork_oil_level_adjustment;
  SliderSetting shock_compression_adjustment;
  SliderSetting shock_slow_compression_adjustment;
  SliderSetting shock_rebound_adjustment;
  SliderSetting shock_slow_rebound_adjustment;
  SliderSetting shock_spring_rate_adjustment;
  SliderSetting shock_preload_adjustment;
  SliderSetting rider_yspring;
  SliderSetting rider_ydamping;
  SliderSetting rider_zspring;
  SliderSetting rider_zdamping;
  SliderSetting rider_mass_distribution;

  const char* bike_name() const { return bike.text(); }
};

// Every key to its default, labels, items, ranges and steps included.
void reset_bike_setup(BikeSetup& s);
// The local player's setup, live for the whole run (defaults on first use).
BikeSetup& bike_setup();

// Rewrites the fifteen assist sliders from the stability value (0..100), blending between
// the preset tables at 0, 20, 40, 60, 80 and 100.
void apply_stability_preset(BikeSetup& s, double stability);

// The tuning a bike of model m gets from the setup: every value through its key's
// transform and its setter, in key order.
void setup_to_tuning(const BikeSetup& s, const BikeModelInfo& m, BikeTuning& t);

// The texture a setup names, or the catalog's default of that group (kBikeTexture,
// kWheelTexture, kRiderBodyTexture, kRiderHeadTexture) when it names none.
const char* setup_texture_or_default(const char* chosen, const BikeModelInfo& m,
                                     ModelFile which);

// How the suspension menu shows a value: fork spring rate "%.3f kg/mm" (both legs), shock
// spring rate "%.2f kg/mm", preloads and oil level "%.2f mm", sprockets "%.2f teeth".
// Empty for keys shown as plain numbers.
std::string setup_display_text(const BikeSetup& s, const BikeModelInfo& m, const char* key);

// ---- applying --------------------------------------------------------------------------

// Pushes the setup into the bike, unless its frame moves faster than 0.125 ft/s: then
// nothing is applied, and when the previous refused attempt was less than 10 s before,
// "Settings not applied.  Mechanic can't keep up error." is posted. Returns true when the
// setup was applied. `now` is in seconds of the game clock.
bool apply_setup(BikeState& bike, const BikeSetup& s, double now);
bool apply_setup(BikeState& bike, const BikeSetup& s);  // uses the setup clock

// Module state of the setup code (the mechanic's memory and the hooks). Reset in tests.
struct SetupModule {
  bool refused_before = false;
  double last_refused = 0;
  double (*clock)() = nullptr;  // seconds; steady clock when null
  // Called after a setup file has been read: rebuilds the texture lists of the chosen bike
  // and looks the four texture names up in them (graphics; empty headless).
  std::function<void(BikeSetup&)> texture_lists_changed;
  // The local rider's bike, or null (the race installs it).
  std::function<BikeState*()> local_bike;
};
SetupModule& setup_module();
void reset_setup_module();

// ---- lines and files -------------------------------------------------------------------

// One key=value pair; true when the key is a setup key. Keys match exactly.
bool read_setup_line(BikeSetup& s, const char* key, const char* value);
// The setup lines in key order; true when every write succeeded.
bool write_setup(const BikeSetup& s, VfsFile* f);
// Reads every "key=value" line of an open file (lines without "=" are skipped).
void read_setup_file(BikeSetup& s, VfsFile* f);

// "@setups/" + name with trailing blanks removed; empty for a name that is not one plain
// file name (empty, hidden, or holding a path separator).
std::string setup_path(const char* name);
// readsetup: reads the named setup into s, posts "Setup updated" or "Error reading
// setup", then applies it to the local rider's bike when there is one. True when read.
bool read_named_setup(BikeSetup& s, const char* name);
// writesetup: replaces the file as a whole; posts "Setup written" or "Error writing setup".
bool write_named_setup(const BikeSetup& s, const char* name);

// Makes the config file read and write the setup block of bike_setup(). Called by the
// game's start-up and by tests.
void install_bike_setup_config_hooks();

// ---- plate colours ---------------------------------------------------------------------

struct PlateColours {
  std::array<uint8_t, 3> background{255, 255, 255};
  std::array<uint8_t, 3> foreground{0, 0, 0};
};
// Reads "[numberbackground:%f,%f,%f" and "[numberforeground:%f,%f,%f" from the text of
// the bike texture (red, green, blue 0..1, clamped, times 255); missing tags keep the
// defaults.
PlateColours number_plate_colours(const char* texture_text);

}  // namespace ks
