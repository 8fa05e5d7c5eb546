#include "physics/bike_setup.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <numbers>
#include <string>

#include <ode/ode.h>

#include "core/config.h"
#include "fs/messages.h"
#include "fs/vfs.h"
#include "physics/bike_state.h"
#include "support/test_support.h"

namespace ks {
namespace {

constexpr double kPi = std::numbers::pi;

std::string last_message() {
  const char* line = message_line(0);
  return line ? line : "";
}

BikeSetup fresh_setup() {
  BikeSetup s;
  reset_bike_setup(s);
  return s;
}

// Every numeric key: member, default, range and step; reading far outside the range clamps.
TEST(BikeSetup, SliderKeysDefaultsRangesSteps) {
  using S = BikeSetup;
  struct Case {
    const char* key;
    SliderSetting S::*member;
    double def, min, max, step;
  };
  const Case cases[] = {
      {"stability", &S::stability, 100, 0, 100, 1},
      {"leveling", &S::leveling, 20, 0, 100, 1},
      {"roll_damping", &S::roll_damping, 60, 0, 100, 1},
      {"roll_limit_angle", &S::roll_limit_angle, 45, 0, 180, 1},
      {"roll_limit_factor", &S::roll_limit_factor, 10, 0, 64, 1},
      {"steering_damping", &S::steering_damping, 45, 0, 100, 1},
      {"steering_strength", &S::steering_strength, 75, 0, 100, 1},
      {"max_steering_force", &S::max_steering_force, 400, 0, 1000, 5},
      {"direct_steering", &S::direct_steering, 1, 0, 1, 0.125},
      {"slow_damping_speed", &S::slow_damping_speed, 40, 0, 100, 1},
      {"slow_damping_factor", &S::slow_damping_factor, 2, 1, 10, 0.25},
      {"land_damping_falloff", &S::land_damping_falloff, 0.25, 0, 0.5, 0.0625},
      {"land_damping_factor", &S::land_damping_factor, 2, 1, 3, 0.25},
      {"full_lock_speed", &S::full_lock_speed, 10, 1, 100, 1},
      {"restricted_lock_speed", &S::restricted_lock_speed, 50, 1, 100, 1},
      {"restricted_lock", &S::restricted_lock, 7.5, 0, 45, 0.125},
      {"auto_clutch_rpms", &S::auto_clutch_rpms, 5000, 0, 5000, 100},
      {"brake_torque", &S::brake_torque, 500, 0, 500, 10},
      {"rear_brake_torque", &S::rear_brake_torque, 250, 0, 500, 10},
      {"max_dab_speed", &S::max_dab_speed, 60, 5, 60, 1},
      {"front_sprocket_adjustment", &S::front_sprocket_adjustment, 0, -2, 2, 1},
      {"rear_sprocket_adjustment", &S::rear_sprocket_adjustment, 0, -2, 2, 1},
      {"fork_compression_adjustment", &S::fork_compression_adjustment, 50, 0, 100, 1},
      {"fork_slow_compression_adjustment", &S::fork_slow_compression_adjustment, 50, 0, 100, 1},
      {"fork_rebound_adjustment", &S::fork_rebound_adjustment, 50, 0, 100, 1},
      {"fork_slow_rebound_adjustment", &S::fork_slow_rebound_adjustment, 50, 0, 100, 1},
      {"fork_spring_rate_adjustment", &S::fork_spring_rate_adjustment, 50, 0, 100, 1},
      {"fork_preload_adjustment", &S::fork_preload_adjustment, 50, 0, 100, 1},
      {"fork_oil_level_adjustment", &S::fork_oil_level_adjustment, 50, 0, 100, 1},
      {"shock_compression_adjustment", &S::shock_compression_adjustment, 75, 0, 100, 1},
      {"shock_slow_compression_adjustment", &S::shock_slow_compression_adjustment, 50, 0, 100, 1},
      {"shock_rebound_adjustment", &S::shock_rebound_adjustment, 75, 0, 100, 1},
      {"shock_slow_rebound_adjustment", &S::shock_slow_rebound_adjustment, 50, 0, 100, 1},
      {"shock_spring_rate_adjustment", &S::shock_spring_rate_adjustment, 50, 0, 100, 1},
      {"shock_preload_adjustment", &S::shock_preload_adjustment, 50, 0, 100, 1},
      {"rider_yspring", &S::rider_yspring, 50, 0, 100, 1},
      {"rider_ydamping", &S::rider_ydamping, 50, 0, 100, 1},
      {"rider_zspring", &S::rider_zspring, 50, 0, 100, 1},
      {"rider_zdamping", &S::rider_zdamping, 50, 0, 100, 1},
      {"rider_mass_distribution", &S::rider_mass_distribution, 0.33, 0.33, 0.5, 0.01},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    BikeSetup s = fresh_setup();
    const SliderSetting& sl = s.*c.member;
    EXPECT_DOUBLE_EQ(sl.value, c.def);
    EXPECT_DOUBLE_EQ(sl.min, c.min);
    EXPECT_DOUBLE_EQ(sl.max, c.max);
    EXPECT_DOUBLE_EQ(sl.step, c.step);
    EXPECT_FALSE(sl.label.empty());
    EXPECT_TRUE(read_setup_line(s, c.key, "1e9"));
    EXPECT_DOUBLE_EQ(sl.value, c.max);
    EXPECT_TRUE(read_setup_line(s, c.key, "-1e9"));
    EXPECT_DOUBLE_EQ(sl.value, c.min);
    EXPECT_TRUE(read_setup_line(s, c.key, "junk"));  // unreadable: unchanged
    EXPECT_DOUBLE_EQ(sl.value, c.min);
  }
}

TEST(BikeSetup, ChoiceAndTextKeys) {
  using S = BikeSetup;
  struct Case {
    const char* key;
    ChoiceSetting S::*member;
    const char* def;
    const char* other;
  };
  const Case cases[] = {
      {"arcade", &S::arcade, "Yes", "No"},
      {"front_brake", &S::front_brake, "Antilock", "Normal"},
      {"rear_brake", &S::rear_brake, "Normal", "Antilock"},
      {"stop_wheelies", &S::stop_wheelies, "Yes", "Front Only"},
      {"auto_shift", &S::auto_shift, "Yes", "No"},
      {"auto_dab", &S::auto_dab, "Yes", "No"},
      {"auto_align", &S::auto_align, "Yes", "No"},
      {"sticky_dab", &S::sticky_dab, "No", "Yes"},
      {"reverse_steering", &S::reverse_steering, "Yes", "No"},
      {"lean_indicator", &S::lean_indicator, "Yes", "No"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    BikeSetup s = fresh_setup();
    EXPECT_STREQ((s.*c.member).text(), c.def);
    EXPECT_TRUE(read_setup_line(s, c.key, c.other));
    EXPECT_STREQ((s.*c.member).text(), c.other);
    EXPECT_TRUE(read_setup_line(s, c.key, "maybe"));  // not an item: unchanged
    EXPECT_STREQ((s.*c.member).text(), c.other);
  }

  BikeSetup s = fresh_setup();
  EXPECT_STREQ(s.bike_name(), "yz250f(2017)");
  EXPECT_STREQ(s.name.data(), "Joe Motocross");
  EXPECT_STREQ(s.number.data(), "999");
  EXPECT_TRUE(read_setup_line(s, "bike", "crf250"));
  EXPECT_STREQ(s.bike_name(), "crf250(2008)");
  EXPECT_TRUE(read_setup_line(s, "bike", "nosuchbike"));
  EXPECT_STREQ(s.bike_name(), "crf250(2008)");
  EXPECT_TRUE(read_setup_line(s, "name", "Ann Rider"));
  EXPECT_STREQ(s.name.data(), "Ann Rider");
  const std::string long_texture(3000, 't');
  EXPECT_TRUE(read_setup_line(s, "bike_texture", long_texture.c_str()));
  EXPECT_EQ(std::strlen(s.bike_texture.data()), kSetupTextureChars);
  // Keys match exactly.
  EXPECT_FALSE(read_setup_line(s, " leveling", "5"));
  EXPECT_FALSE(read_setup_line(s, "Leveling", "5"));
  EXPECT_FALSE(read_setup_line(s, "fov", "5"));
}

// What every key hands to a cr125.
TEST(BikeSetup, Conversions) {
  const BikeModelInfo& m = bike_model(find_bike_model_exact("cr125"));
  struct Case {
    const char* key;
    const char* value;
    std::function<float(const BikeTuning&)> get;
    double expected;
  };
  auto assist = [](Assist a) {
    return [a](const BikeTuning& t) { return assist_value(t, a); };
  };
  const Case cases[] = {
      {"leveling", "33", assist(Assist::leveling), 33},
      {"roll_damping", "70", assist(Assist::roll_damping), 70},
      {"roll_limit_angle", "90", assist(Assist::roll_limit_angle), kPi / 2},
      {"roll_limit_factor", "64", assist(Assist::roll_limit_factor), 64},
      {"steering_damping", "12", assist(Assist::steering_damping), 12},
      {"steering_strength", "13", assist(Assist::steering_strength), 13},
      {"max_steering_force", "995", assist(Assist::max_steering_force), 995},
      {"direct_steering", "0.375", assist(Assist::direct_steering), 0.375},
      {"slow_damping_speed", "14", assist(Assist::slow_damping_speed), 14},
      {"slow_damping_factor", "9.5", assist(Assist::slow_damping_factor), 9.5},
      {"land_damping_falloff", "0.5", assist(Assist::land_damping_falloff), 0.5},
      {"land_damping_factor", "1.25", assist(Assist::land_damping_factor), 1.25},
      {"full_lock_speed", "1", assist(Assist::full_lock_speed), 1},
      {"restricted_lock_speed", "99", assist(Assist::restricted_lock_speed), 99},
      {"restricted_lock", "45", assist(Assist::restricted_lock_angle), kPi / 4},
      {"auto_clutch_rpms", "1200", assist(Assist::auto_clutch_rpm), 1200},
      {"brake_torque", "310", assist(Assist::front_brake_torque), 310},
      {"rear_brake_torque", "120", assist(Assist::rear_brake_torque), 120},
      {"max_dab_speed", "30", assist(Assist::max_dab_speed), 44.000001},
      {"max_dab_speed", "5", assist(Assist::max_dab_speed), 7.3333335},
      {"front_sprocket_adjustment", "1", [](const BikeTuning& t) { return t.final_drive_ratio; },
       52.0 / 14.0},
      {"rear_sprocket_adjustment", "-2", [](const BikeTuning& t) { return t.final_drive_ratio; },
       50.0 / 13.0},
      {"fork_compression_adjustment", "0", [](const BikeTuning& t) { return t.fork.compression; },
       0.25 * 60},
      {"fork_compression_adjustment", "100",
       [](const BikeTuning& t) { return t.fork.compression; }, 4 * 60},
      {"fork_slow_compression_adjustment", "0",
       [](const BikeTuning& t) { return t.fork.slow_compression; }, -60},
      {"fork_rebound_adjustment", "75", [](const BikeTuning& t) { return t.fork.rebound; },
       2 * 30},
      {"fork_slow_rebound_adjustment", "100",
       [](const BikeTuning& t) { return t.fork.slow_rebound; }, 30},
      {"fork_spring_rate_adjustment", "0", [](const BikeTuning& t) { return t.fork.spring_rate; },
       322.545},
      {"fork_spring_rate_adjustment", "100",
       [](const BikeTuning& t) { return t.fork.spring_rate; }, 860.12},
      {"fork_preload_adjustment", "100", [](const BikeTuning& t) { return t.fork.preload; },
       0.083333},
      {"fork_oil_level_adjustment", "100", [](const BikeTuning& t) { return t.fork.air_gap; },
       0.25},
      {"fork_oil_level_adjustment", "0", [](const BikeTuning& t) { return t.fork.air_gap; },
       0.416667},
      {"shock_compression_adjustment", "75",
       [](const BikeTuning& t) { return t.shock.compression; }, 2 * 800},
      {"shock_slow_compression_adjustment", "75",
       [](const BikeTuning& t) { return t.shock.slow_compression; }, 0.5 * 200},
      {"shock_rebound_adjustment", "25", [](const BikeTuning& t) { return t.shock.rebound; },
       0.5 * 600},
      {"shock_slow_rebound_adjustment", "50",
       [](const BikeTuning& t) { return t.shock.slow_rebound; }, 0},
      {"shock_spring_rate_adjustment", "50",
       [](const BikeTuning& t) { return t.shock.spring_rate; }, (1814.32 + 4502.19) / 2},
      {"shock_preload_adjustment", "100", [](const BikeTuning& t) { return t.shock.preload; },
       0.333333},
      {"rider_yspring", "30", [](const BikeTuning& t) { return t.rider_springs.vertical_spring; },
       0.3},
      {"rider_ydamping", "40",
       [](const BikeTuning& t) { return t.rider_springs.vertical_damping; }, 0.4},
      {"rider_zspring", "60", [](const BikeTuning& t) { return t.rider_springs.forward_spring; },
       0.6},
      {"rider_zdamping", "100",
       [](const BikeTuning& t) { return t.rider_springs.forward_damping; }, 1},
      {"rider_mass_distribution", "0.45",
       [](const BikeTuning& t) { return t.rider_mass_distribution; }, 0.45},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.key) + "=" + c.value);
    BikeSetup s = fresh_setup();
    ASSERT_TRUE(read_setup_line(s, c.key, c.value));
    BikeTuning t;
    setup_to_tuning(s, m, t);
    EXPECT_NEAR(c.get(t), c.expected, 1e-4 * std::max(1.0, std::fabs(c.expected)));
  }
}

TEST(BikeSetup, ChoiceFlags) {
  const BikeModelInfo& m = bike_model(0);
  struct Case {
    const char* key;
    const char* value;
    int byte;
    uint8_t set;    // bits that must be set
    uint8_t clear;  // bits that must be clear
  };
  const Case cases[] = {
      {"stop_wheelies", "No", 0, 0, kFlagStopWheelies | kFlagStopFrontFlips},
      {"stop_wheelies", "Yes", 0, kFlagStopWheelies | kFlagStopFrontFlips, 0},
      {"stop_wheelies", "Front Only", 0, kFlagStopFrontFlips, kFlagStopWheelies},
      {"front_brake", "Normal", 0, 0, kFlagFrontAntilock},
      {"front_brake", "Antilock", 0, kFlagFrontAntilock, 0},
      {"rear_brake", "Antilock", 0, kFlagRearAntilock, 0},
      {"auto_shift", "No", 0, kFlagDirectSteering, kFlagAutoShift},
      {"auto_dab", "Yes", 0, kFlagAutoDab, 0},
      {"auto_align", "No", 0, 0, kFlagRealign},
      {"arcade", "Yes", 1, kFlag2Arcade, 0},
      {"arcade", "No", 1, 0, kFlag2Arcade},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.key) + "=" + c.value);
    BikeSetup s = fresh_setup();
    read_setup_line(s, c.key, c.value);
    BikeTuning t;
    setup_to_tuning(s, m, t);
    const uint8_t bits = t.flags[static_cast<size_t>(c.byte)];
    EXPECT_EQ(bits & c.set, c.set);
    EXPECT_EQ(bits & c.clear, 0);
  }
}

TEST(BikeSetup, SettersClamp) {
  BikeTuning t;
  set_assist(t, Assist::max_dab_speed, 1);
  EXPECT_FLOAT_EQ(t.assists.max_dab_speed, 7);
  set_assist(t, Assist::restricted_lock_angle, 3);
  EXPECT_FLOAT_EQ(t.assists.restricted_lock_angle, static_cast<float>(kPi / 4));
  set_assist(t, Assist::roll_limit_angle, 10);
  EXPECT_FLOAT_EQ(t.assists.roll_limit_angle, static_cast<float>(kPi));
  set_assist(t, Assist::slow_damping_factor, 0);
  EXPECT_FLOAT_EQ(t.assists.slow_damping_factor, 1);
  set_assist(t, Assist::leveling, std::nan(""));
  EXPECT_FLOAT_EQ(t.assists.leveling, 0);
  const BikeModelInfo& m = bike_model(0);
  set_fork(t, m, Suspension::compression, 100);
  EXPECT_FLOAT_EQ(t.fork.compression, 4 * m.fork_compression);
  set_shock(t, m, Suspension::slow_rebound, -5);
  EXPECT_FLOAT_EQ(t.shock.slow_rebound, -m.shock_slow_rebound);
  set_rider_mass_distribution(t, 0.9);
  EXPECT_FLOAT_EQ(t.rider_mass_distribution, 0.5f);
  set_rider_spring(t, RiderSpring::forward_damping, -1);
  EXPECT_FLOAT_EQ(t.rider_springs.forward_damping, 0);
}

TEST(BikeSetup, SprocketsNeverBelowThreeTeeth) {
  BikeModelInfo m = bike_model(0);  // 13 / 52
  EXPECT_EQ(countershaft_teeth(m, -9), 11);  // adjustment clamped to -2
  EXPECT_EQ(rear_sprocket_teeth(m, 9), 54);
  EXPECT_EQ(countershaft_teeth(m, 0.75), 13);  // floor
  m.countershaft_teeth = 4;
  m.rear_sprocket_teeth = 3;
  EXPECT_EQ(countershaft_teeth(m, -2), 3);
  EXPECT_EQ(rear_sprocket_teeth(m, -1), 3);
  BikeTuning t;
  set_sprockets(t, m, -2, -2);
  EXPECT_FLOAT_EQ(t.final_drive_ratio, 1);
  EXPECT_FLOAT_EQ(t.front_sprocket_adjustment, -2);
}

TEST(BikeSetup, StabilityPreset) {
  struct Case {
    double stability;
    double roll_damping, steering_damping, roll_limit_factor, restricted_lock, direct_steering,
        roll_limit_angle;
  };
  const Case cases[] = {
      {50, 65, 45, 21, 7.5, 1, 45},   {0, 40, 45, 0, 45, 1, 90},
      {100, 80, 60, 32, 1, 0.125, 45}, {90, 77.5, 55, 32, 1.75, 0.5625, 45},
      {-20, 40, 45, 0, 45, 1, 90},    {500, 80, 60, 32, 1, 0.125, 45},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stability);
    BikeSetup s = fresh_setup();
    apply_stability_preset(s, c.stability);
    EXPECT_DOUBLE_EQ(s.roll_damping.value, c.roll_damping);
    EXPECT_DOUBLE_EQ(s.steering_damping.value, c.steering_damping);
    EXPECT_DOUBLE_EQ(s.roll_limit_factor.value, c.roll_limit_factor);
    EXPECT_DOUBLE_EQ(s.restricted_lock.value, c.restricted_lock);
    EXPECT_DOUBLE_EQ(s.direct_steering.value, c.direct_steering);
    EXPECT_DOUBLE_EQ(s.roll_limit_angle.value, c.roll_limit_angle);
    EXPECT_DOUBLE_EQ(s.leveling.value, 20);
    EXPECT_DOUBLE_EQ(s.max_steering_force.value, 400);
  }
  // The stability key runs the preset; later lines override single values.
  BikeSetup s = fresh_setup();
  read_setup_line(s, "stability", "50");
  EXPECT_DOUBLE_EQ(s.stability.value, 50);
  EXPECT_DOUBLE_EQ(s.roll_damping.value, 65);
  read_setup_line(s, "roll_damping", "12");
  EXPECT_DOUBLE_EQ(s.roll_damping.value, 12);
  read_setup_line(s, "stability", "junk");  // unreadable: no preset
  EXPECT_DOUBLE_EQ(s.roll_damping.value, 12);
}

class SetupFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    test::use_roots(home_.path(), data_.path());
    clear_messages();
    reset_setup_module();
    config_seam() = ConfigSeam{};
  }
  void TearDown() override {
    config_seam() = ConfigSeam{};
    reset_setup_module();
    reset_bike_setup(bike_setup());
    test::use_roots("", "");
    clear_messages();
  }
  test::TempDir home_, data_;
};

std::string setup_text(const BikeSetup& s) {
  test::TempDir dir;
  const std::string path = dir / "s";
  VfsFile* f = vfs_open(path.c_str(), "wb");
  EXPECT_NE(f, nullptr);
  EXPECT_TRUE(write_setup(s, f));
  vfs_close(f);
  return test::read_file(path);
}

TEST_F(SetupFiles, WriteOrderAndFormat) {
  const std::string text = setup_text(fresh_setup());
  EXPECT_EQ(text.rfind("bike=yz250f(2017)\nname=Joe Motocross\nnumber=999\nrider_texture=\n"
                       "head_texture=\nbike_texture=\nwheel_texture=\nstability=100.000000\n"
                       "leveling=20.000000\n",
                       0),
            0u)
      << text;
  EXPECT_NE(text.find("\nrestricted_lock=7.500000\narcade=Yes\nfront_brake=Antilock\n"),
            std::string::npos);
  EXPECT_NE(text.find("\nlean_indicator=Yes\nauto_clutch_rpms=5000.000000\n"),
            std::string::npos);
  const std::string tail = "rider_mass_distribution=0.330000\n";
  EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
  int lines = 0;
  for (char c : text) lines += c == '\n';
  EXPECT_EQ(lines, 57);
}

TEST_F(SetupFiles, NamedRoundTrip) {
  BikeSetup s = fresh_setup();
  read_setup_line(s, "bike", "kx125");
  read_setup_line(s, "name", "Ann Rider");
  read_setup_line(s, "number", "42");
  read_setup_line(s, "bike_texture", "@kx125-alt1.png");
  read_setup_line(s, "stability", "30");
  read_setup_line(s, "roll_limit_angle", "33");
  read_setup_line(s, "stop_wheelies", "Front Only");
  read_setup_line(s, "rear_sprocket_adjustment", "-1");
  read_setup_line(s, "shock_preload_adjustment", "12");
  read_setup_line(s, "rider_mass_distribution", "0.41");

  ASSERT_TRUE(write_named_setup(s, "mine  "));  // trailing blanks removed
  EXPECT_EQ(last_message(), "Setup written");
  EXPECT_TRUE(test::file_exists(home_ / "setups/mine"));

  BikeSetup back = fresh_setup();
  bool lists_rebuilt = false;
  setup_module().texture_lists_changed = [&](BikeSetup&) { lists_rebuilt = true; };
  ASSERT_TRUE(read_named_setup(back, "mine"));
  EXPECT_EQ(last_message(), "Setup updated");
  EXPECT_TRUE(lists_rebuilt);
  EXPECT_EQ(setup_text(back), setup_text(s));
  EXPECT_STREQ(back.bike_name(), "kx125");
  EXPECT_DOUBLE_EQ(back.roll_limit_angle.value, 33);

  EXPECT_FALSE(read_named_setup(back, "missing"));
  EXPECT_EQ(last_message(), "Error reading setup");
}

TEST_F(SetupFiles, NamesThatLeaveTheSetupsFolderAreRefused) {
  test::write_file(home_ / "config", "xres=800\n");
  const BikeSetup s = fresh_setup();
  for (const char* name : {"../config", "a/b", "..", ".hidden", "", "  ", "x\\y"}) {
    EXPECT_FALSE(write_named_setup(s, name)) << name;
    EXPECT_EQ(last_message(), "Error writing setup") << name;
  }
  EXPECT_EQ(test::read_file(home_ / "config"), "xres=800\n");
}

TEST_F(SetupFiles, ReaderSkipsBadLines) {
  const std::string text = std::string("no equals sign\n=5\nleveling=33\r\n") +
                           "name=" + std::string(5000, 'x') + "=leveling\n" +
                           "roll_damping=7\rjunk\n" + "steering_damping=12";
  test::write_file(home_ / "setups/odd", text);
  BikeSetup s = fresh_setup();
  ASSERT_TRUE(read_named_setup(s, "odd"));
  EXPECT_DOUBLE_EQ(s.leveling.value, 33);
  EXPECT_EQ(std::strlen(s.name.data()), kSetupNameChars);
  EXPECT_DOUBLE_EQ(s.roll_damping.value, 7);  // "%f" stops at the carriage return
  EXPECT_DOUBLE_EQ(s.steering_damping.value, 12);  // last line without a line feed
}

TEST_F(SetupFiles, ConfigFileCarriesTheSetupBlock) {
  install_bike_setup_config_hooks();
  test::write_file(home_ / "config",
                   "laps=7\nbike=rmz250\nleveling=33\nstop_wheelies=No\nfov=100\n");
  Settings st;
  reset_settings(st);
  read_config(st);
  EXPECT_DOUBLE_EQ(st.laps.value, 7);
  EXPECT_DOUBLE_EQ(st.fov.value, 100);
  EXPECT_STREQ(bike_setup().bike_name(), "rmz250(2008)");
  EXPECT_DOUBLE_EQ(bike_setup().leveling.value, 33);
  EXPECT_STREQ(bike_setup().stop_wheelies.text(), "No");

  ASSERT_TRUE(write_config(st));
  const std::string text = test::read_file(home_ / "config");
  const size_t before = text.find("\ntime_trial_abort=");
  const size_t bike = text.find("\nbike=rmz250(2008)\n");
  const size_t last = text.find("\nrider_mass_distribution=");
  const size_t after = text.find("\nvideo_mode=");
  ASSERT_NE(before, std::string::npos);
  ASSERT_NE(bike, std::string::npos);
  ASSERT_NE(last, std::string::npos);
  ASSERT_NE(after, std::string::npos);
  EXPECT_LT(before, bike);
  EXPECT_LT(bike, last);
  EXPECT_LT(last, after);
  EXPECT_NE(text.find("\nleveling=33.000000\n"), std::string::npos);
}

class Mechanic : public SetupFiles {
 protected:
  void SetUp() override {
    SetupFiles::SetUp();
    dInitODE();
    world_ = dWorldCreate();
    bike_.model = find_bike_model_exact("cr125");
    bike_.bodies[kFrameBody] = dBodyCreate(world_);
    bike_.bodies[kRiderBody] = dBodyCreate(world_);
  }
  void TearDown() override {
    dWorldDestroy(world_);  // ODE itself stays initialised for the other tests
    SetupFiles::TearDown();
  }
  dWorldID world_ = nullptr;
  BikeState bike_;
};

TEST_F(Mechanic, MovingBikeRefusesTheSetup) {
  BikeSetup s = fresh_setup();
  read_setup_line(s, "leveling", "77");
  read_setup_line(s, "rider_mass_distribution", "0.5");
  const std::string refused = "Settings not applied.  Mechanic can't keep up error.";

  dBodySetLinearVel(bike_.bodies[kFrameBody], 0, 0, -0.2);
  EXPECT_FALSE(apply_setup(bike_, s, 100.0));
  EXPECT_EQ(last_message(), "");  // a first refusal is silent
  EXPECT_FALSE(apply_setup(bike_, s, 105.0));
  EXPECT_EQ(last_message(), refused);
  clear_messages();
  EXPECT_FALSE(apply_setup(bike_, s, 115.5));  // 10.5 s after the last refusal
  EXPECT_EQ(last_message(), "");
  EXPECT_FALSE(apply_setup(bike_, s, 125.0));
  EXPECT_EQ(last_message(), refused);
  EXPECT_FLOAT_EQ(bike_.tuning.assists.leveling, 20);  // nothing applied

  dBodySetLinearVel(bike_.bodies[kFrameBody], 0.1, 0, 0);
  EXPECT_TRUE(apply_setup(bike_, s, 126.0));
  EXPECT_FLOAT_EQ(bike_.tuning.assists.leveling, 77);
  const BikeModelInfo& m = bike_model(bike_.model);
  dMass frame, rider;
  dBodyGetMass(bike_.bodies[kFrameBody], &frame);
  dBodyGetMass(bike_.bodies[kRiderBody], &rider);
  EXPECT_NEAR(frame.mass, m.frame_mass + 0.5 * m.rider_mass, 1e-6);
  EXPECT_NEAR(rider.mass, 0.5 * m.rider_mass, 1e-6);
}

TEST_F(Mechanic, ReadingASetupAppliesItToTheLocalBike) {
  test::write_file(home_ / "setups/fast", "brake_torque=120\n");
  setup_module().local_bike = [this] { return &bike_; };
  BikeSetup s = fresh_setup();
  ASSERT_TRUE(read_named_setup(s, "fast"));
  EXPECT_FLOAT_EQ(bike_.tuning.assists.front_brake_torque, 120);
}

TEST(BikeSetup, DisplayTextsAndDefaultTextures) {
  const BikeModelInfo& m = bike_model(find_bike_model_exact("cr125"));
  BikeSetup s = fresh_setup();
  read_setup_line(s, "fork_spring_rate_adjustment", "100");
  read_setup_line(s, "rear_sprocket_adjustment", "-2");
  const char* cases[][2] = {
      {"fork_spring_rate_adjustment", "0.640 kg/mm"},
      {"shock_spring_rate_adjustment", "4.70 kg/mm"},
      {"fork_preload_adjustment", "12.70 mm"},
      {"shock_preload_adjustment", "50.80 mm"},
      {"fork_oil_level_adjustment", "101.60 mm"},
      {"front_sprocket_adjustment", "13.00 teeth"},
      {"rear_sprocket_adjustment", "50.00 teeth"},
      {"leveling", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(setup_display_text(s, m, c[0]), c[1]) << c[0];

  EXPECT_STREQ(setup_texture_or_default("", m, kBikeTexture), "@cr125.png");
  EXPECT_STREQ(setup_texture_or_default("@cr125-alt1.png", m, kBikeTexture), "@cr125-alt1.png");
  EXPECT_STREQ(setup_texture_or_default(nullptr, m, kRiderHeadTexture), "@rider_head.png");
}

TEST(PlateColours, Tags) {
  struct Case {
    const char* text;
    std::array<uint8_t, 3> background, foreground;
  };
  const Case cases[] = {
      {"", {255, 255, 255}, {0, 0, 0}},
      {"[numberbackground:1,0,0]", {255, 0, 0}, {0, 0, 0}},
      {"x [numberforeground:0,0.5,1] [numberbackground:0,0,0]", {0, 0, 0}, {0, 127, 255}},
      {"[numberbackground:2,-1,0.5]", {255, 0, 127}, {0, 0, 0}},
      {"[numberbackground:1,0]", {255, 255, 255}, {0, 0, 0}},
      {"[numberforeground:abc", {255, 255, 255}, {0, 0, 0}},
      {"[numberforeground:nan,nan,nan]", {255, 255, 255}, {0, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const PlateColours p = number_plate_colours(c.text);
    EXPECT_EQ(p.background, c.background);
    EXPECT_EQ(p.foreground, c.foreground);
  }
  EXPECT_EQ(number_plate_colours(nullptr).background, (std::array<uint8_t, 3>{255, 255, 255}));
}

}  // namespace
}  // namespace ks
