#include "physics/bike_catalog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>

#include "fs/messages.h"

namespace ks {
namespace {

const BikeModelInfo& row(const char* name) {
  const int i = find_bike_model_exact(name);
  EXPECT_GE(i, 0) << name;
  return bike_model(i);
}

float peak(const std::array<float, kTorqueEntries>& t) {
  return *std::max_element(t.begin(), t.end());
}

TEST(Catalog, RowsInOrderWithKnownClasses) {
  const auto& rows = bike_catalog();
  EXPECT_STREQ(rows[0].name.data(), "cr125");
  EXPECT_STREQ(rows[8].name.data(), "cr250(2007)");
  EXPECT_STREQ(rows[44].name.data(), "yz250f_se(2006)");
  EXPECT_STREQ(rows[64].name.data(), "350sxf(2011)");
  EXPECT_STREQ(rows[64].bike_class.data(), "450f");
  EXPECT_STREQ(rows[65].bike_class.data(), "250f");
  EXPECT_STREQ(rows[79].name.data(), "rs50yz");
  std::set<std::string> names;
  const std::set<std::string> classes = {"125", "250", "250f", "450f", "50"};
  for (const BikeModelInfo& m : rows) {
    names.insert(m.name.data());
    EXPECT_TRUE(classes.count(m.bike_class.data())) << m.name.data();
  }
  EXPECT_EQ(names.size(), static_cast<size_t>(kBikeModelCount));
}

TEST(Catalog, ReferenceRowsAreExact) {
  const BikeModelInfo& cr = row("cr125");
  EXPECT_FLOAT_EQ(cr.frame_mass, 3.65375f);
  EXPECT_FLOAT_EQ(cr.fork_mass, 0.739688f);
  EXPECT_FLOAT_EQ(cr.fork_spring_rate[0], 322.545f);
  EXPECT_FLOAT_EQ(cr.fork_spring_rate[1], 860.12f);
  EXPECT_FLOAT_EQ(cr.shock_spring_rate[1], 4502.19f);
  EXPECT_FLOAT_EQ(cr.primary_ratio, 3.15f);
  EXPECT_FLOAT_EQ(cr.rear_sprocket_teeth, 52);
  EXPECT_FLOAT_EQ(cr.gear_ratios[5], -1);
  EXPECT_FLOAT_EQ(cr.full_throttle_torque[20], 15.966f);
  EXPECT_FLOAT_EQ(cr.full_throttle_torque[49], -11);
  EXPECT_FLOAT_EQ(cr.closed_throttle_torque[14], -3.33f);
  EXPECT_FLOAT_EQ(cr.closed_throttle_torque[49], -23);
  EXPECT_FLOAT_EQ(cr.rear_wheel.hub_mass, 0.3125f);
  EXPECT_FLOAT_EQ(cr.link_slope_end, 0.607049f);
  EXPECT_FLOAT_EQ(cr.limbs.shin, 1.701f);

  const BikeModelInfo& crf = row("crf250(2017)");
  EXPECT_FLOAT_EQ(crf.frame_mass, 4.24f);
  EXPECT_FLOAT_EQ(crf.swingarm_mass, 0.504375f);
  EXPECT_FLOAT_EQ(crf.shock_spring_rate[0], 2217.5f);
  EXPECT_FLOAT_EQ(crf.primary_ratio, 3.166667f);
  EXPECT_FLOAT_EQ(crf.rear_sprocket_teeth, 49);
  EXPECT_FLOAT_EQ(crf.gear_ratios[1], 1.888889f);
  EXPECT_FLOAT_EQ(crf.upshift_rpm, 12500);

  const BikeModelInfo& yz = row("yz450f(2018)");
  EXPECT_FLOAT_EQ(yz.frame_mass, 4.735f);
  EXPECT_FLOAT_EQ(yz.fork_rebound, 32);
  EXPECT_FLOAT_EQ(yz.shock_rebound, 650);
  EXPECT_FLOAT_EQ(yz.crank_inertia, 0.0088501f);
  EXPECT_FLOAT_EQ(yz.rider_mass, 5.46875f);
  EXPECT_FLOAT_EQ(yz.full_throttle_torque[14], 33.981f);
  EXPECT_FLOAT_EQ(yz.full_throttle_torque[24], 0);
  EXPECT_FLOAT_EQ(yz.full_throttle_torque[25], -10);
  EXPECT_FLOAT_EQ(yz.full_throttle_torque[49], -34);
  EXPECT_FLOAT_EQ(yz.closed_throttle_torque[4], -1);
  EXPECT_FLOAT_EQ(yz.closed_throttle_torque[5], -1);
  EXPECT_FLOAT_EQ(yz.closed_throttle_torque[6], -2);
  EXPECT_FLOAT_EQ(yz.closed_throttle_torque[49], -23);

  const BikeModelInfo& rs = row("rs50cr");
  EXPECT_FLOAT_EQ(rs.frame_mass, 3.34125f);
  EXPECT_FLOAT_EQ(rs.countershaft_teeth, 12);
  EXPECT_FLOAT_EQ(rs.gear_ratios[5], 0.956522f);
  EXPECT_FLOAT_EQ(rs.drivetrain_stiffness, 1200);
}

TEST(Catalog, GeometryIsSharedByEveryRow) {
  const BikeModelInfo& ref = row("cr125");
  for (const BikeModelInfo& m : bike_catalog()) {
    SCOPED_TRACE(m.name.data());
    EXPECT_EQ(std::memcmp(&m.front_wheel, &ref.front_wheel, sizeof ref.front_wheel), 0);
    EXPECT_EQ(std::memcmp(&m.rear_wheel, &ref.rear_wheel, sizeof ref.rear_wheel), 0);
    EXPECT_FLOAT_EQ(m.swingarm_pivot.z, 4.08f);
    EXPECT_FLOAT_EQ(m.link_stroke_end, ref.link_stroke_end);
    EXPECT_FLOAT_EQ(m.rider_pos.y, 4.5f);
  }
}

// Derived rows stay close to their base row of the class, and 350sxf lies between the
// four-stroke 250 and 450.
TEST(Catalog, DerivedRowsArePlausible) {
  const BikeModelInfo& f250 = row("crf250(2017)");
  const BikeModelInfo& f450 = row("yz450f(2018)");
  struct Case {
    const char* cls;
    const BikeModelInfo* base;
  };
  const Case cases[] = {{"125", &row("cr125")}, {"250f", &f250}, {"450f", &f450},
                        {"50", &row("rs50cr")}};
  for (const BikeModelInfo& m : bike_catalog()) {
    SCOPED_TRACE(m.name.data());
    EXPECT_GT(m.frame_mass, 0);
    EXPECT_GT(peak(m.full_throttle_torque), 0);
    EXPECT_GE(top_gear(m), 4);
    if (std::strncmp(m.name.data(), "350sxf", 6) == 0) {
      EXPECT_GT(m.frame_mass, f250.frame_mass * 0.95f);
      EXPECT_LT(m.frame_mass, f450.frame_mass);
      EXPECT_GT(peak(m.full_throttle_torque), peak(f250.full_throttle_torque));
      EXPECT_LT(peak(m.full_throttle_torque), peak(f450.full_throttle_torque));
      continue;
    }
    for (const Case& c : cases) {
      if (std::strcmp(m.bike_class.data(), c.cls) != 0) continue;
      EXPECT_NEAR(m.frame_mass / c.base->frame_mass, 1, 0.06);
      EXPECT_NEAR(m.fork_spring_rate[1] / c.base->fork_spring_rate[1], 1, 0.05);
      EXPECT_NEAR(m.shock_spring_rate[0] / c.base->shock_spring_rate[0], 1, 0.05);
      EXPECT_NEAR(peak(m.full_throttle_torque) / peak(c.base->full_throttle_torque), 1, 0.07);
      EXPECT_NEAR(m.primary_ratio / c.base->primary_ratio, 1, 0.04);
    }
  }
  // The minis are the small ones, the two-stroke 250s sit above the 125s.
  EXPECT_LT(peak(row("rs50kx").full_throttle_torque), peak(row("kx125").full_throttle_torque));
  EXPECT_GT(peak(row("kx250(2006)").full_throttle_torque),
            peak(row("kx125").full_throttle_torque));
  // Brands differ.
  EXPECT_NE(row("kx250f(2017)").frame_mass, f250.frame_mass);
}

TEST(Catalog, FileNames) {
  for (const BikeModelInfo& m : bike_catalog()) {
    SCOPED_TRACE(m.name.data());
    EXPECT_STREQ(m.file(kFrameShape), "@generic_frame.shp");
    EXPECT_STREQ(m.file(kForkUpperShape), "@generic_fork_upper.shp");
    EXPECT_STREQ(m.file(kForkLowerShape), "@generic_fork_lower.shp");
    EXPECT_STREQ(m.file(kSwingarmShape), "@generic_swingarm.shp");
    EXPECT_STREQ(m.file(kFrontWheelShape), "@front_wheel.shp");
    EXPECT_STREQ(m.file(kRearWheelShape), "@rear_wheel.shp");
    EXPECT_STREQ(m.file(kRiderShape), "@generic_rider.shp");
    for (int i = 0; i < kModelFileCount; ++i)
      EXPECT_EQ(m.files[static_cast<size_t>(i)][0], '@') << i;
  }
  const BikeModelInfo& crf = row("crf250(2017)");
  EXPECT_STREQ(crf.file(kFrameModel), "@crf250_frame.jm");
  EXPECT_STREQ(crf.file(kBikeTexture), "@crf250.png");
  EXPECT_STREQ(row("kx125").file(kBikeTexture), "@kx125.png");
  EXPECT_STREQ(row("yz250f_se(2006)").file(kSwingarmModel), "@yz250f_se_swingarm.jm");
  EXPECT_STREQ(crf.file(kWheelTexture), "@wheels.png");
  EXPECT_STREQ(crf.file(kRiderBodyTexture), "@rider_body.png");
  EXPECT_STREQ(crf.file(kRiderHeadTexture), "@rider_head.png");
}

TEST(Catalog, TopGear) {
  EXPECT_EQ(top_gear(row("cr125")), 4);
  EXPECT_EQ(top_gear(row("rs50cr")), 5);
}

TEST(Catalog, FindBikeModelFallback) {
  struct Case {
    const char* request;
    const char* found;
    const char* message;  // null: none posted
  };
  const Case cases[] = {
      {"cr125", "cr125", nullptr},
      {"yz450f(2018)", "yz450f(2018)", nullptr},
      {"crf250", "kx250f(2007)", "bike info for 'crf250' not found using 'kx250f(2007)' instead"},
      {"xr125", "cr125", "bike info for 'xr125' not found using 'cr125' instead"},
      {"CR125", "cr125", "bike info for 'CR125' not found using 'cr125' instead"},
      {"", "kx250f(2007)", "bike info for '' not found using 'kx250f(2007)' instead"},
      {"a_very_long_bike_name_indeed", "kx250f(2007)",
       "bike info for 'a_very_long_bike_nam' not found using 'kx250f(2007)' instead"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.request);
    clear_messages();
    EXPECT_STREQ(bike_model(find_bike_model(c.request)).name.data(), c.found);
    if (c.message) {
      ASSERT_NE(message_line(0), nullptr);
      EXPECT_STREQ(message_line(0), c.message);
    } else {
      const char* line = message_line(0);
      EXPECT_TRUE(line == nullptr || line[0] == '\0');
    }
  }
  EXPECT_EQ(find_bike_model(nullptr), find_bike_model_exact("kx250f(2007)"));
  EXPECT_EQ(find_bike_model_exact("crf250"), -1);
  clear_messages();
}

TEST(Catalog, Aliases) {
  const char* cases[][2] = {{"crf250", "crf250(2008)"},   {"kx250f", "kx250f(2008)"},
                            {"rmz250", "rmz250(2008)"},   {"yz250f", "yz250f(2008)"},
                            {"yz250f(2017)", "yz250f(2017)"}, {"crf450", "crf450"}};
  for (const auto& c : cases) EXPECT_STREQ(bike_model_aliases(c[0]), c[1]);
}

}  // namespace
}  // namespace ks
