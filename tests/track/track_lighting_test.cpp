// Lighting: identifiers, the unknown-identifier stop, clip-plane clamps, sun, fog, flares.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "support/test_support.h"
#include "track/lighting.h"
#include "track_test_util.h"

namespace ks {
namespace {

Lighting parse(const std::string& text, bool* complete = nullptr) {
  Lighting l;
  test::parse_text(text, [&](VfsFile* f) {
    bool ok = read_lighting(f, l);
    if (complete != nullptr) *complete = ok;
  });
  finish_lighting(l);
  return l;
}

TEST(Lighting, DefaultsWithoutAFile) {
  Lighting l;
  finish_lighting(l);
  const float d = 1 / std::sqrt(3.0f);
  EXPECT_NEAR(l.sun_vector[0], d, 1e-6);
  EXPECT_NEAR(l.sun_vector[2], d, 1e-6);
  EXPECT_EQ(l.sun_color, (std::array<float, 3>{1, 1, 1}));
  EXPECT_EQ(l.ambient, (std::array<float, 3>{0.5f, 0.5f, 0.5f}));
  EXPECT_EQ(l.global_ambient, (std::array<float, 3>{0.2f, 0.2f, 0.2f}));
  EXPECT_FLOAT_EQ(l.near_plane, 0.25f);
  EXPECT_FLOAT_EQ(l.far_plane, 5000);
  EXPECT_FALSE(l.dynamic_lighting);
  EXPECT_EQ(l.fog_color, (std::array<float, 4>{1, 1, 1, 1}));
  EXPECT_EQ(l.fog_density, 0);
  EXPECT_EQ(l.sky[kSkyNorth], "@sky-n.ppm");
  EXPECT_EQ(l.sky[kSkyUp], "@sky-u.ppm");
  EXPECT_EQ(l.sky_env, "@sky-env.ppm");
}

TEST(Lighting, IdentifiersAndBlankLines) {
  Lighting l = parse(
      "  sun_vector [ 0 2 0 ]\n"
      "\n"
      "\tsun_color [0.9 0.8 0.7]   \r\n"
      "ambient [0.1 0.2 0.3]\n"
      "global_ambient\t[0.4 0.5 0.6]\n"
      "sky_n   @north.png  \n"
      "sky_env @env.png\n"
      "dynamic_lighting 2\n"
      "fog [0.5 0.6 0.7] 0.01\n");
  EXPECT_EQ(l.sun_vector, (std::array<float, 3>{0, 1, 0}));
  EXPECT_EQ(l.sun_color, (std::array<float, 3>{0.9f, 0.8f, 0.7f}));
  EXPECT_EQ(l.ambient, (std::array<float, 3>{0.1f, 0.2f, 0.3f}));
  EXPECT_EQ(l.global_ambient, (std::array<float, 3>{0.4f, 0.5f, 0.6f}));
  EXPECT_EQ(l.sky[kSkyNorth], "@north.png");
  EXPECT_EQ(l.sky[kSkyEast], "@sky-e.ppm");
  EXPECT_EQ(l.sky_env, "@env.png");
  EXPECT_TRUE(l.dynamic_lighting);
  EXPECT_EQ(l.fog_color, (std::array<float, 4>{0.5f, 0.6f, 0.7f, 1}));
  EXPECT_FLOAT_EQ(l.fog_density, 0.01f);
}

TEST(Lighting, UnknownIdentifierStopsWithTheMessage) {
  clear_messages();
  bool complete = true;
  Lighting l = parse("ambient [0.1 0.1 0.1]\nsunshine lots\nambient [0.9 0.9 0.9]\n", &complete);
  EXPECT_FALSE(complete);
  EXPECT_TRUE(test::track_message_posted("Error reading lighting: Unknown identifier 'sunshine'\n"));
  EXPECT_EQ(l.ambient, (std::array<float, 3>{0.1f, 0.1f, 0.1f}));
}

TEST(Lighting, ClipPlaneClamps) {
  struct Case {
    const char* text;
    float near_plane, far_plane;
  };
  const Case cases[] = {
      {"near_plane 0\n", 1.0f / 1024, 5000},
      {"near_plane -3\n", 1.0f / 1024, 5000},
      {"near_plane 2\n", 0.875f, 5000},
      {"near_plane 0.5\nfar_plane 0.1\n", 0.5f, 0.5f},
      {"far_plane 1e9\n", 0.25f, 1048576},
      {"near_plane nan\n", 0.25f, 5000},  // doesn't scan: the default stays
      {"near_plane 1e50\nfar_plane -1e50\n", 0.875f, 0.875f},
  };
  for (const Case& c : cases) {
    Lighting l = parse(c.text);
    EXPECT_FLOAT_EQ(l.near_plane, c.near_plane) << c.text;
    EXPECT_FLOAT_EQ(l.far_plane, c.far_plane) << c.text;
  }
}

TEST(Lighting, ZeroSunKeepsALightDirection) {
  Lighting l = parse("sun_vector [0 0 0]\n");
  for (float c : l.sun_vector) EXPECT_TRUE(std::isfinite(c));
  EXPECT_NEAR(l.sun_vector[1], 1 / std::sqrt(3.0f), 1e-6);
}

TEST(Lighting, FogNeedsAllFourNumbers) {
  Lighting l = parse("fog [0.5 0.5 0.5]\n");
  EXPECT_EQ(l.fog_density, 0);
  EXPECT_EQ(l.fog_color, (std::array<float, 4>{1, 1, 1, 1}));
}

TEST(Lighting, FlaresCollectUpToEightElements) {
  std::string text;
  for (int i = 0; i < 10; ++i) text += "flare_element [0.1 0.2] [1 0.5 0.25] 2 @flare.png\n";
  text += "flare_point [1 2 3]\n";
  text += "flare_element [0.3 0.4] [1 1 1] 1\n";
  text += "flare_vector [0 1 0]\n";
  text += "flare_element [0 0] [1 1 1] 1 @lost.png\n";  // never finished
  Lighting l = parse(text);
  ASSERT_EQ(l.flares.size(), 2u);
  EXPECT_EQ(l.flares[0].kind, FlareKind::point);
  EXPECT_EQ(l.flares[0].where, (std::array<float, 3>{1, 2, 3}));
  ASSERT_EQ(l.flares[0].elements.size(), size_t(kMaxFlareElements));
  EXPECT_EQ(l.flares[0].elements[0].color, (std::array<float, 3>{1, 0.5f, 0.25f}));
  EXPECT_FLOAT_EQ(l.flares[0].elements[0].size, 2);
  EXPECT_EQ(l.flares[0].elements[0].texture, "@flare.png");
  EXPECT_EQ(l.flares[1].kind, FlareKind::direction);
  ASSERT_EQ(l.flares[1].elements.size(), 1u);
  EXPECT_EQ(l.flares[1].elements[0].texture, "");
}

TEST(Lighting, WriterRoundTrip) {
  Lighting l = parse(
      "sun_vector [1 2 2]\nambient [0.1 0.2 0.3]\nnear_plane 0.5\nfar_plane 900\n"
      "dynamic_lighting 1\nfog [0.2 0.3 0.4] 0.002\nsky_w @west.png\n"
      "flare_element [0.1 0.2] [1 0.5 0.25] 2 @flare.png\nflare_point [1 2 3]\n");
  test::TempDir dir;
  const std::string path = dir / "lighting";
  ASSERT_TRUE(write_lighting_file(path.c_str(), l));
  bool complete = false;
  Lighting back = parse(test::read_file(path), &complete);
  EXPECT_TRUE(complete);
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(back.sun_vector[i], l.sun_vector[i], 1e-6);
  EXPECT_EQ(back.ambient, l.ambient);
  EXPECT_FLOAT_EQ(back.near_plane, 0.5f);
  EXPECT_FLOAT_EQ(back.far_plane, 900);
  EXPECT_TRUE(back.dynamic_lighting);
  EXPECT_NEAR(back.fog_density, 0.002, 1e-6);
  EXPECT_EQ(back.sky, l.sky);
  ASSERT_EQ(back.flares.size(), 1u);
  EXPECT_EQ(back.flares[0].elements[0].texture, "@flare.png");
}

}  // namespace
}  // namespace ks
