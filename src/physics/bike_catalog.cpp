// The catalog of 80 bike models.
//
// Sections: common geometry - the four reference rows - deriving the other rows - file
// names - the table - lookup.
//
// How the rows are made
// ---------------------
// Four reference rows are given numbers: cr125 (two-stroke 125), crf250(2017) (four-stroke
// 250), yz450f(2018) (four-stroke 450) and rs50cr (50 cc mini). They are written out below
// exactly. Every other row starts from the base row of its class and then gets small brand
// and year differences, the way real bikes of one class differ:
//
//   class   base row
//   "125"   cr125
//   "250f"  crf250(2017)
//   "450f"  yz450f(2018)
//   "50"    rs50cr (the minis: rs50kx, rs50rm, rs50yz differ by brand only)
//   "250"   a two-stroke 250 made from cr125 (Honda, 2007): frame, fork and swingarm 10 %
//           heavier, the crf250(2017) fork and shock spring ranges, primary 2.85, 13/50
//           sprockets, gears 8 % taller, crank inertia x1.6, full-throttle torque doubled
//           and its rpm axis shrunk to 0.8 (peak about 32 lb ft at 8000 rpm), closed-throttle
//           torque x1.25, shift points x0.8.
//   350sxf  all three rows, whatever their class: the midpoint of the crf250(2017) and
//           yz450f(2018) rows (every mass, spring, damping, gearing, engine, torque, shift
//           and rider-mass field), counted as a Honda 2017 base.
//
// Torque curves the reference rows leave open:
//   crf250(2017) full throttle  = 0.58 x yz450f(2018) full throttle at rpm / 1.3
//                closed throttle = 0.75 x yz450f(2018) closed throttle
//   rs50cr       both curves    = 0.2 x cr125 (same rpm)
//
// Brand and year differences, applied to a derived row relative to its base row's brand
// and year (so the reference rows come out unchanged):
//
//   brand       mass   springs  torque  primary  rear sprocket
//   Honda        0      0        0       0        0
//   Kawasaki    +1.5   +2.0     +2.0    +1.0     -1 tooth
//   Suzuki      +1.0   -1.5     -2.0    -1.0     +1 tooth
//   Yamaha      +0.5   +1.0     +1.0    +0.5      0
//   KTM         -3.0   -1.0     +3.0    -1.5      0
//   Husqvarna   -2.5   -0.5     +2.5    -1.5      0           (all in per cent)
//
//   per model year after the base year: mass -0.4 %, springs +0.2 %, torque +0.5 %
//   (earlier years the other way; a name without a year counts as the base year).
//
// "mass" scales frame, fork and swingarm masses; "springs" both ends of the fork and shock
// spring ranges; "torque" the full-throttle curve; "primary" the primary ratio. Geometry,
// damping, linkage, gear ratios, closed-throttle torque, crank inertia, drivetrain, shift
// points and the rider stay those of the base row. The brand is read from the name: cr/crf
// Honda, kx Kawasaki, rm/rmz Suzuki, yz Yamaha, names starting with a digit (125sx ...
// 450sxf) KTM, fc Husqvarna, and a mini's suffix (rs50kx: Kawasaki).
#include "physics/bike_catalog.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "fs/messages.h"

namespace ks {

namespace {

// ---- common geometry -------------------------------------------------------------------

using Torque = std::array<float, kTorqueEntries>;

// The fields that are the same in every row.
BikeModelInfo common_row() {
  BikeModelInfo m;
  m.front_wheel = {{0, 1.09f, 1.11f}, 0.833333f, 0.333333f, 0.40625f, 0.5f, 0.15625f};
  m.rear_wheel = {{0, 1.04f, 6.0f}, 0.75f, 0.333333f, 0.46875f, 0.5f, 0.3125f};
  m.frame_pos = {0, 1.98f, 3.6f};
  m.frame_width = 0.833333f;
  m.frame_height = 1.666667f;
  m.frame_length = 1.666667f;
  m.fork_upper_pos = {0, 2.9f, 2.16f};
  m.swingarm_pos = {0, 1.34f, 4.99f};
  m.swingarm_pivot = {0, 1.6f, 4.08f};
  m.fork_lower_pos = {0, 1.77f, 1.59f};
  m.fork_leg_spacing = 0.833333f;
  m.fork_leg_length_factor = 3.0f;
  m.fork_preload = {0, 0.083333f};
  m.fork_air_gap = {0.416667f, 0.25f};
  m.fork_travel = 1.0f;
  m.shock_preload = {0, 0.333333f};
  m.link_stroke_knot = 0.283652f;
  m.link_stroke_end = 0.413386f;
  m.swingarm_travel_angle = 0.530304f;
  m.link_knot = 0.75f;
  m.link_slope_start = 0.315039f;
  m.link_slope_knot = 0.460479f;
  m.link_slope_end = 0.607049f;
  m.rider_pos = {0, 4.5f, 4.12f};

  RiderLimbs& l = m.limbs;
  l.shoulder = {{{-0.556f, 0.580375f, -0.65451413f}, {0.556f, 0.580375f, -0.65451413f}}};
  l.hip = {{{-0.269f, -0.5708867f, 0.6706067f}, {0.269f, -0.5708867f, 0.6706067f}}};
  l.grip = {{{-1.097f, 1.145f, 0.753f}, {1.097f, 1.145f, 0.753f}}};
  l.foot_rest = {{{-0.6f, -0.557f, 0.584f}, {0.6f, -0.557f, 0.584f}}};
  l.upper_arm = 0.9f;
  l.forearm = 1.15f;
  l.thigh = 1.328f;
  l.shin = 1.701f;
  l.bone_centre = {{{-1.456f, 0.875f, 0.01f},
                    {1.456f, 0.875f, 0.01f},
                    {-0.556f, 0.875f, 0.01f},
                    {0.556f, 0.875f, 0.01f},
                    {-0.269f, -2.208f, 0.01f},
                    {0.269f, -2.208f, 0.01f},
                    {-0.269f, -0.88f, 0.01f},
                    {0.269f, -0.88f, 0.01f},
                    {0, -0.88f, 0.01f}}};
  return m;
}

void set_name(std::array<char, kBikeNameBytes>& dst, const char* text) {
  std::snprintf(dst.data(), dst.size(), "%s", text);
}

// The table value at rpm, linear between entries, held at the ends.
float torque_at(const Torque& t, float rpm) {
  const float x = std::max(0.0f, rpm / kTorqueRpmStep);
  const int i = static_cast<int>(x);
  if (i >= kTorqueEntries - 1) return t[kTorqueEntries - 1];
  const float f = x - static_cast<float>(i);
  const size_t k = static_cast<size_t>(i);
  return t[k] + f * (t[k + 1] - t[k]);
}

// scale * t(rpm / stretch) at every entry.
Torque reshaped(const Torque& t, float scale, float stretch) {
  Torque out{};
  for (int i = 0; i < kTorqueEntries; ++i)
    out[static_cast<size_t>(i)] =
        scale * torque_at(t, static_cast<float>(i) * kTorqueRpmStep / stretch);
  return out;
}

// ---- the four reference rows -----------------------------------------------------------

constexpr Torque kCr125Closed = {2,     2,     1,  0,   -1,  -1.2f, -1.4f, -1.6f, -1.8f, -2,
                                 -2.25f, -2.5f, -2.75f, -3, -3.33f, -3.67f, -4, -5, -6, -7,
                                 -8,    -9,    -10, -10, -11, -11,   -12,   -12,   -13,   -13,
                                 -14,   -14,   -15, -15, -16, -16,   -17,   -17,   -18,   -18,
                                 -19,   -19,   -20, -20, -21, -21,   -22,   -22,   -23,   -23};
constexpr Torque kCr125Full = {
    5,       5,       5,       5,       5,       5.7f,    6.4f,    7.2f,    7.9f,   8.6f,
    9.454f,  10.218f, 10.329f, 10.666f, 11.405f, 12.465f, 13.262f, 14.15f,  14.764f, 15.812f,
    15.966f, 15.906f, 15.756f, 15.117f, 12.736f, 2.101f,  0,       0,       -1,     -1,
    -2,      -2,      -3,      -3,      -4,      -4,      -5,      -5,      -6,     -6,
    -7,      -7,      -8,      -8,      -9,      -9,      -10,     -10,     -11,    -11};

Torque yz450f_closed() {
  Torque t{};
  t[0] = 2;
  t[1] = 2;
  t[2] = 1;
  t[3] = 0;
  for (int i = 4; i < kTorqueEntries; ++i)
    t[static_cast<size_t>(i)] = -static_cast<float>((i - 4) / 2 + 1);  // -1, -1, -2, -2 ...
  return t;
}

Torque yz450f_full() {
  constexpr float rise[] = {5,       5,       5,       5,       5,       8.683f,  12.367f,
                            16.05f,  19.734f, 23.417f, 27.153f, 30.214f, 32.519f, 33.379f,
                            33.981f, 33.726f, 33.725f, 32.699f, 31.466f, 30.363f, 28.577f,
                            26.736f, 24.164f, 12.082f, 0};
  constexpr int n = static_cast<int>(sizeof rise / sizeof rise[0]);
  static_assert(n == 25);
  Torque t{};
  for (int i = 0; i < n; ++i) t[static_cast<size_t>(i)] = rise[i];
  for (int i = n; i < kTorqueEntries; ++i)
    t[static_cast<size_t>(i)] = -static_cast<float>(10 + (i - n));  // -10 ... -34
  return t;
}

BikeModelInfo cr125_row() {
  BikeModelInfo m = common_row();
  set_name(m.name, "cr125");
  set_name(m.bike_class, "125");
  m.frame_mass = 3.65375f;
  m.fork_mass = 0.739688f;
  m.fork_spring_rate = {322.545f, 860.12f};
  m.fork_compression = 60;
  m.fork_slow_compression = 60;
  m.fork_rebound = 30;
  m.fork_slow_rebound = 30;
  m.swingarm_mass = 0.541875f;
  m.shock_spring_rate = {1814.32f, 4502.19f};
  m.shock_compression = 800;
  m.shock_slow_compression = 200;
  m.shock_rebound = 600;
  m.shock_slow_rebound = 150;
  m.primary_ratio = 3.15f;
  m.countershaft_teeth = 13;
  m.rear_sprocket_teeth = 52;
  m.gear_ratios = {2.357143f, 1.866667f, 1.578947f, 1.294118f, 1.133333f, -1};
  m.crank_inertia = 0.0048828f;
  m.drivetrain_stiffness = 7500;
  m.drivetrain_damping = 0.75f;
  m.closed_throttle_torque = kCr125Closed;
  m.full_throttle_torque = kCr125Full;
  m.downshift_rpm = 9400;
  m.upshift_rpm = 12000;
  m.rider_mass = 4.6875f;
  return m;
}

BikeModelInfo yz450f_2018_row() {
  BikeModelInfo m = cr125_row();
  set_name(m.name, "yz450f(2018)");
  set_name(m.bike_class, "450f");
  m.frame_mass = 4.735f;
  m.fork_mass = 0.703125f;
  m.fork_spring_rate = {376.303f, 913.878f};
  m.fork_rebound = 32;
  m.swingarm_mass = 0.5025f;
  m.shock_spring_rate = {2486.29f, 5174.16f};
  m.shock_rebound = 650;
  m.primary_ratio = 2.608696f;
  m.countershaft_teeth = 13;
  m.rear_sprocket_teeth = 48;
  m.gear_ratios = {1.928571f, 1.533333f, 1.3f, 1.090909f, 0.952381f, -1};
  m.crank_inertia = 0.0088501f;
  m.closed_throttle_torque = yz450f_closed();
  m.full_throttle_torque = yz450f_full();
  m.downshift_rpm = 6000;
  m.upshift_rpm = 10500;
  m.rider_mass = 5.46875f;
  return m;
}

BikeModelInfo crf250_2017_row() {
  BikeModelInfo m = cr125_row();
  set_name(m.name, "crf250(2017)");
  set_name(m.bike_class, "250f");
  m.frame_mass = 4.24f;
  m.fork_mass = 0.703125f;
  m.fork_spring_rate = {335.984f, 873.56f};
  m.swingarm_mass = 0.504375f;
  m.shock_spring_rate = {2217.5f, 4905.37f};
  m.primary_ratio = 3.166667f;
  m.countershaft_teeth = 13;
  m.rear_sprocket_teeth = 49;
  m.gear_ratios = {2.357143f, 1.888889f, 1.555556f, 1.333333f, 1.136364f, -1};
  m.closed_throttle_torque = reshaped(yz450f_closed(), 0.75f, 1.0f);
  m.full_throttle_torque = reshaped(yz450f_full(), 0.58f, 1.3f);
  m.downshift_rpm = 8000;
  m.upshift_rpm = 12500;
  return m;
}

BikeModelInfo rs50cr_row() {
  BikeModelInfo m = cr125_row();
  set_name(m.name, "rs50cr");
  set_name(m.bike_class, "50");
  m.frame_mass = 3.34125f;
  m.fork_spring_rate = {309.106f, 846.681f};
  m.primary_ratio = 3.714286f;
  m.countershaft_teeth = 12;
  m.rear_sprocket_teeth = 55;
  m.gear_ratios = {3.090909f, 2.0f, 1.5f, 1.2f, 1.045455f, 0.956522f};
  m.crank_inertia = 0.0011936f;
  m.drivetrain_stiffness = 1200;
  m.drivetrain_damping = 1.0f;
  m.closed_throttle_torque = reshaped(kCr125Closed, 0.2f, 1.0f);
  m.full_throttle_torque = reshaped(kCr125Full, 0.2f, 1.0f);
  return m;
}

// The two-stroke 250 base, Honda 2007.
BikeModelInfo two_stroke_250_row() {
  const BikeModelInfo f = crf250_2017_row();
  BikeModelInfo m = cr125_row();
  set_name(m.bike_class, "250");
  m.frame_mass *= 1.10f;
  m.fork_mass *= 1.10f;
  m.swingarm_mass *= 1.10f;
  m.fork_spring_rate = f.fork_spring_rate;
  m.shock_spring_rate = f.shock_spring_rate;
  m.primary_ratio = 2.85f;
  m.countershaft_teeth = 13;
  m.rear_sprocket_teeth = 50;
  for (float& g : m.gear_ratios)
    if (g > 0) g /= 1.08f;
  m.crank_inertia *= 1.6f;
  m.full_throttle_torque = reshaped(kCr125Full, 2.0f, 0.8f);
  m.closed_throttle_torque = reshaped(kCr125Closed, 1.25f, 1.0f);
  m.downshift_rpm *= 0.8f;
  m.upshift_rpm *= 0.8f;
  return m;
}

float lerp(float a, float b, float t) { return a + t * (b - a); }

// Every field that differs between rows, blended; geometry stays as in a.
BikeModelInfo blend_rows(const BikeModelInfo& a, const BikeModelInfo& b, float t) {
  BikeModelInfo m = a;
  auto mix = [&](float BikeModelInfo::*f) { m.*f = lerp(a.*f, b.*f, t); };
  auto mix2 = [&](std::array<float, 2> BikeModelInfo::*f) {
    for (size_t i = 0; i < 2; ++i) (m.*f)[i] = lerp((a.*f)[i], (b.*f)[i], t);
  };
  for (auto f : {&BikeModelInfo::frame_mass, &BikeModelInfo::fork_mass,
                 &BikeModelInfo::fork_compression, &BikeModelInfo::fork_slow_compression,
                 &BikeModelInfo::fork_rebound, &BikeModelInfo::fork_slow_rebound,
                 &BikeModelInfo::swingarm_mass, &BikeModelInfo::shock_compression,
                 &BikeModelInfo::shock_slow_compression, &BikeModelInfo::shock_rebound,
                 &BikeModelInfo::shock_slow_rebound, &BikeModelInfo::primary_ratio,
                 &BikeModelInfo::crank_inertia, &BikeModelInfo::drivetrain_stiffness,
                 &BikeModelInfo::drivetrain_damping, &BikeModelInfo::downshift_rpm,
                 &BikeModelInfo::upshift_rpm, &BikeModelInfo::rider_mass})
    mix(f);
  mix2(&BikeModelInfo::fork_spring_rate);
  mix2(&BikeModelInfo::shock_spring_rate);
  m.countershaft_teeth = std::round(lerp(a.countershaft_teeth, b.countershaft_teeth, t));
  m.rear_sprocket_teeth = std::round(lerp(a.rear_sprocket_teeth, b.rear_sprocket_teeth, t));
  for (size_t i = 0; i < kGearCount; ++i) {
    const float ga = a.gear_ratios[i], gb = b.gear_ratios[i];
    m.gear_ratios[i] = (ga > 0 && gb > 0) ? lerp(ga, gb, t) : -1;
  }
  for (size_t i = 0; i < kTorqueEntries; ++i) {
    m.closed_throttle_torque[i] = lerp(a.closed_throttle_torque[i], b.closed_throttle_torque[i], t);
    m.full_throttle_torque[i] = lerp(a.full_throttle_torque[i], b.full_throttle_torque[i], t);
  }
  return m;
}

// ---- deriving the other rows -----------------------------------------------------------

enum Brand { kHonda, kKawasaki, kSuzuki, kYamaha, kKtm, kHusqvarna };

struct BrandOffsets {
  float mass, springs, torque, primary;  // fractions
  int rear_teeth;
};
constexpr BrandOffsets kBrandOffsets[] = {
    {0, 0, 0, 0, 0},                      // Honda
    {0.015f, 0.02f, 0.02f, 0.01f, -1},    // Kawasaki
    {0.01f, -0.015f, -0.02f, -0.01f, 1},  // Suzuki
    {0.005f, 0.01f, 0.01f, 0.005f, 0},    // Yamaha
    {-0.03f, -0.01f, 0.03f, -0.015f, 0},  // KTM
    {-0.025f, -0.005f, 0.025f, -0.015f, 0},  // Husqvarna
};
constexpr float kYearMass = -0.004f;
constexpr float kYearSprings = 0.002f;
constexpr float kYearTorque = 0.005f;

bool starts_with(const char* s, const char* prefix) {
  return std::strncmp(s, prefix, std::strlen(prefix)) == 0;
}

Brand brand_of(const char* name) {
  if (starts_with(name, "rs50")) name += 4;  // minis: the suffix names the brand
  if (starts_with(name, "cr")) return kHonda;
  if (starts_with(name, "kx")) return kKawasaki;
  if (starts_with(name, "rm")) return kSuzuki;
  if (starts_with(name, "yz")) return kYamaha;
  if (starts_with(name, "fc")) return kHusqvarna;
  if (name[0] >= '0' && name[0] <= '9') return kKtm;
  return kHonda;
}

// The model year in "(2017)", or `fallback` when the name has none.
int year_of(const char* name, int fallback) {
  const char* p = std::strchr(name, '(');
  if (!p) return fallback;
  int year = 0;
  for (++p; *p >= '0' && *p <= '9'; ++p) year = year * 10 + (*p - '0');
  return year > 0 ? year : fallback;
}

struct Base {
  BikeModelInfo row;
  Brand brand;
  int year;
};

BikeModelInfo derive(const Base& base, const char* name, const char* bike_class) {
  BikeModelInfo m = base.row;
  set_name(m.name, name);
  set_name(m.bike_class, bike_class);
  const BrandOffsets& b = kBrandOffsets[brand_of(name)];
  const BrandOffsets& o = kBrandOffsets[base.brand];
  const float years = static_cast<float>(year_of(name, base.year) - base.year);
  const float mass = 1 + (b.mass - o.mass) + kYearMass * years;
  const float springs = 1 + (b.springs - o.springs) + kYearSprings * years;
  const float torque = 1 + (b.torque - o.torque) + kYearTorque * years;
  const float primary = 1 + (b.primary - o.primary);
  m.frame_mass *= mass;
  m.fork_mass *= mass;
  m.swingarm_mass *= mass;
  for (float& r : m.fork_spring_rate) r *= springs;
  for (float& r : m.shock_spring_rate) r *= springs;
  for (float& t : m.full_throttle_torque) t *= torque;
  m.primary_ratio *= primary;
  m.rear_sprocket_teeth += static_cast<float>(b.rear_teeth - o.rear_teeth);
  return m;
}

// ---- file names ------------------------------------------------------------------------

// The graphics prefix of a model family: the name without its year ("crf250(2017)" ->
// "crf250"). Frame, forks, swingarm, wheels, side and front plates and the bike texture
// are the family's; the rider and the wheel texture are shared by every bike; the collision
// shapes are the standard generic set.
void set_files(BikeModelInfo& m) {
  std::string family(m.name.data());
  if (const size_t paren = family.find('('); paren != std::string::npos) family.resize(paren);
  auto put = [&](ModelFile which, const std::string& text) {
    std::snprintf(m.files[static_cast<size_t>(which)].data(), kModelFileBytes, "%s",
                  text.c_str());
  };
  const std::string f = "@" + family;
  put(kFrameModel, f + "_frame.jm");
  put(kFrameShape, "@generic_frame.shp");
  put(kBikeTexture, f + ".png");
  put(kForkUpperModel, f + "_fork_upper.jm");
  put(kForkUpperShape, "@generic_fork_upper.shp");
  put(kForkLowerModel, f + "_fork_lower.jm");
  put(kForkLowerShape, "@generic_fork_lower.shp");
  put(kSwingarmModel, f + "_swingarm.jm");
  put(kSwingarmShape, "@generic_swingarm.shp");
  put(kFrontWheelModel, f + "_front_wheel.jm");
  put(kFrontWheelShape, "@front_wheel.shp");
  put(kRearWheelModel, f + "_rear_wheel.jm");
  put(kRearWheelShape, "@rear_wheel.shp");
  put(kWheelTexture, "@wheels.png");
  put(kRiderHeadModel, "@rider_head.jm");
  put(kRiderHeadTexture, "@rider_head.png");
  put(kRiderBodyModel, "@rider_body.jm");
  put(kRiderBodyFirstPersonModel, "@rider_body_1st.jm");
  put(kRiderShape, "@generic_rider.shp");
  put(kRiderBodyTexture, "@rider_body.png");
  put(kSidePlatesModel, f + "_side_plates.jm");
  put(kFrontPlateModel, f + "_front_plate.jm");
  put(kRiderPlateModel, "@rider_plate.jm");
}

// ---- the table -------------------------------------------------------------------------

struct RowName {
  const char* name;
  const char* bike_class;
};
constexpr RowName kRows[kBikeModelCount] = {
    {"cr125", "125"},          {"crf250(2007)", "250f"},  {"crf250(2008)", "250f"},
    {"crf250(2009)", "250f"},  {"crf250(2013)", "250f"},  {"crf250(2016)", "250f"},
    {"crf250(2017)", "250f"},  {"crf250(2018)", "250f"},  {"cr250(2007)", "250"},
    {"crf450(2011)", "450f"},  {"crf450(2013)", "450f"},  {"crf450(2016)", "450f"},
    {"crf450(2017)", "450f"},  {"crf450(2018)", "450f"},  {"kx125", "125"},
    {"kx250f(2007)", "250f"},  {"kx250f(2008)", "250f"},  {"kx250f(2009)", "250f"},
    {"kx250f(2013)", "250f"},  {"kx250f(2016)", "250f"},  {"kx250f(2017)", "250f"},
    {"kx250f(2018)", "250f"},  {"kx250(2006)", "250"},    {"kx450f(2011)", "450f"},
    {"kx450f(2013)", "450f"},  {"kx450f(2016)", "450f"},  {"kx450f(2017)", "450f"},
    {"kx450f(2018)", "450f"},  {"rm125", "125"},          {"rmz250(2007)", "250f"},
    {"rmz250(2008)", "250f"},  {"rmz250(2009)", "250f"},  {"rmz250(2013)", "250f"},
    {"rmz250(2016)", "250f"},  {"rmz250(2017)", "250f"},  {"rmz250(2018)", "250f"},
    {"rm250(2008)", "250"},    {"rmz450(2011)", "450f"},  {"rmz450(2013)", "450f"},
    {"rmz450(2016)", "450f"},  {"rmz450(2017)", "450f"},  {"rmz450(2018)", "450f"},
    {"yz125", "125"},          {"yz250f(2007)", "250f"},  {"yz250f_se(2006)", "250f"},
    {"yz250f(2008)", "250f"},  {"yz250f(2009)", "250f"},  {"yz250f(2013)", "250f"},
    {"yz250f(2016)", "250f"},  {"yz250f(2017)", "250f"},  {"yz250f(2018)", "250f"},
    {"yz250(2012)", "250"},    {"yz450f(2011)", "450f"},  {"yz450f(2013)", "450f"},
    {"yz450f(2016)", "450f"},  {"yz450f(2017)", "450f"},  {"yz450f(2018)", "450f"},
    {"125sx", "125"},          {"250sxf(2009)", "250f"},  {"250sxf(2013)", "250f"},
    {"250sxf(2016)", "250f"},  {"250sxf(2017)", "250f"},  {"250sxf(2018)", "250f"},
    {"250sx(2012)", "250"},    {"350sxf(2011)", "450f"},  {"350sxf(2013)", "250f"},
    {"350sxf(2017)", "250f"},  {"450sxf(2011)", "450f"},  {"450sxf(2013)", "450f"},
    {"450sxf(2016)", "450f"},  {"450sxf(2017)", "450f"},  {"450sxf(2018)", "450f"},
    {"fc250(2017)", "250f"},   {"fc250(2018)", "250f"},   {"fc450(2017)", "450f"},
    {"fc450(2018)", "450f"},   {"rs50cr", "50"},          {"rs50kx", "50"},
    {"rs50rm", "50"},          {"rs50yz", "50"},
};

std::array<BikeModelInfo, kBikeModelCount> build_catalog() {
  const Base b125{cr125_row(), kHonda, 0};
  const Base b250f{crf250_2017_row(), kHonda, 2017};
  const Base b450f{yz450f_2018_row(), kYamaha, 2018};
  const Base b50{rs50cr_row(), kHonda, 0};
  const Base b250{two_stroke_250_row(), kHonda, 2007};
  const Base b350{blend_rows(b250f.row, b450f.row, 0.5f), kHonda, 2017};

  std::array<BikeModelInfo, kBikeModelCount> rows;
  for (size_t i = 0; i < kBikeModelCount; ++i) {
    const RowName& r = kRows[i];
    const Base* base = &b250f;
    if (starts_with(r.name, "350sxf")) base = &b350;
    else if (!std::strcmp(r.bike_class, "125")) base = &b125;
    else if (!std::strcmp(r.bike_class, "450f")) base = &b450f;
    else if (!std::strcmp(r.bike_class, "50")) base = &b50;
    else if (!std::strcmp(r.bike_class, "250")) base = &b250;
    // A reference row is its base unchanged (the offsets cancel).
    rows[i] = derive(*base, r.name, r.bike_class);
    set_files(rows[i]);
  }
  return rows;
}

}  // namespace

const std::array<BikeModelInfo, kBikeModelCount>& bike_catalog() {
  static const std::array<BikeModelInfo, kBikeModelCount> catalog = build_catalog();
  return catalog;
}

const BikeModelInfo& bike_model(int index) {
  return bike_catalog()[static_cast<size_t>(std::clamp(index, 0, kBikeModelCount - 1))];
}

int top_gear(const BikeModelInfo& m) {
  int top = 0;
  for (int i = 0; i < kGearCount; ++i)
    if (m.gear_ratios[static_cast<size_t>(i)] > 0) top = i;
  return top;
}

// ---- lookup ----------------------------------------------------------------------------

int find_bike_model_exact(const char* name) {
  if (!name) return -1;
  const auto& rows = bike_catalog();
  for (int i = 0; i < kBikeModelCount; ++i)
    if (!std::strcmp(rows[static_cast<size_t>(i)].name.data(), name)) return i;
  return -1;
}

int find_bike_model(const char* name) {
  if (!name) name = "";
  if (const int exact = find_bike_model_exact(name); exact >= 0) return exact;
  const char* wanted = std::strstr(name, "125") ? "125" : "250f";
  const auto& rows = bike_catalog();
  int found = 0;
  for (int i = 0; i < kBikeModelCount; ++i) {
    if (std::strstr(rows[static_cast<size_t>(i)].name.data(), wanted)) {
      found = i;
      break;
    }
  }
  post_messagef("bike info for '%.20s' not found using '%.20s' instead", name,
                rows[static_cast<size_t>(found)].name.data());
  return found;
}

const char* bike_model_aliases(const char* name) {
  static constexpr const char* kAliases[][2] = {
      {"crf250", "crf250(2008)"},
      {"kx250f", "kx250f(2008)"},
      {"rmz250", "rmz250(2008)"},
      {"yz250f", "yz250f(2008)"},
  };
  if (!name) return name;
  for (const auto& a : kAliases)
    if (!std::strcmp(name, a[0])) return a[1];
  return name;
}

}  // namespace ks
