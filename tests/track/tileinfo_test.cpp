// The "tileinfo" grammar, its warnings, roost arguments, "texturelist", material codes and
// the writer's round trip.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "fs/vfs.h"
#include "terrain_test_util.h"
#include "support/test_support.h"
#include "track/heightfield.h"
#include "track/tileinfo.h"

namespace ks {
namespace {

using test::posted_messages;
using test::was_posted;

// Reads tileinfo text from memory into a fresh field.
struct Loaded {
  HeightField hf;
  bool ok = false;
};

std::unique_ptr<Loaded> load_text(const std::string& text, bool texturelist = false) {
  auto out = std::make_unique<Loaded>();
  clear_messages();
  VfsFile* f = vfs_open_memory(text.data(), text.size());
  out->ok = texturelist ? load_texturelist(f, out->hf) : load_tileinfo(f, out->hf);
  vfs_close(f);
  return out;
}

TEST(Tileinfo, MaterialWithoutCurvesGetsTheDefaults) {
  auto l = load_text("texture @grass.png\naddtile\n");
  ASSERT_TRUE(l->ok);
  ASSERT_EQ(l->hf.material_count, 1);
  const TileInfo& t = l->hf.materials[0];
  EXPECT_EQ(t.name, "@grass.png");
  EXPECT_EQ(t.friction_count, 1);
  EXPECT_FLOAT_EQ(t.friction[0].value, 1.0f);
  EXPECT_FLOAT_EQ(t.friction[0].speed, 1.0f);
  EXPECT_FLOAT_EQ(t.friction[1].speed, 0.0f);
  EXPECT_EQ(t.roll_resist_count, 1);
  EXPECT_FLOAT_EQ(t.roll_resist[0].low, 5.0f);
  EXPECT_FLOAT_EQ(t.roll_resist[0].high, 15.0f);
  EXPECT_EQ(t.roost_count, 0);
  EXPECT_EQ(t.erode.limit_count, 2);
  EXPECT_FLOAT_EQ(t.erode.limit_depth[1], 1.0f);
  EXPECT_FLOAT_EQ(t.erode.limit_a[0], 1.0f);
  EXPECT_FLOAT_EQ(t.erode.depth, 1.0f);
  EXPECT_FLOAT_EQ(t.erode.slip_scale, 1.5f);
  EXPECT_TRUE(posted_messages().empty());
}

TEST(Tileinfo, CurvesReplaceTheDefaultsAreClampedAndSortedStably) {
  auto l = load_text(
      "name Mud\r\n"
      "\n   \t\n"
      "friction 0.8 20\n"
      "friction -1 0\n"
      "friction 0.5 5\n"
      "friction 0.6 5\n"
      "roll_resist 4 -3 10\n"
      "roll_resist 1 2 2\n"
      "erode_limit 0 1 1\n"
      "erode_limit 0.5 0.5 0.25\n"
      "erode_limit 2 0 0\n"
      "addtile\n"
      "texture trailing\n");  // never committed
  ASSERT_EQ(l->hf.material_count, 1);
  const TileInfo& t = l->hf.materials[0];
  EXPECT_EQ(t.name, "Mud");
  ASSERT_EQ(t.friction_count, 4);
  EXPECT_FLOAT_EQ(t.friction[0].value, 0.0f);
  EXPECT_FLOAT_EQ(t.friction[0].speed, kMinCurveSpeed);
  EXPECT_FLOAT_EQ(t.friction[1].value, 0.5f);  // ties keep file order
  EXPECT_FLOAT_EQ(t.friction[2].value, 0.6f);
  EXPECT_FLOAT_EQ(t.friction[3].speed, 20.0f);
  EXPECT_FLOAT_EQ(t.friction[4].speed, 0.0f);
  ASSERT_EQ(t.roll_resist_count, 2);
  EXPECT_FLOAT_EQ(t.roll_resist[0].speed, 2.0f);
  EXPECT_FLOAT_EQ(t.roll_resist[1].high, 0.0f);
  EXPECT_EQ(t.erode.limit_count, 3);
  EXPECT_FLOAT_EQ(t.erode.limit_b[1], 0.25f);
  EXPECT_FLOAT_EQ(t.erode.limit_depth[2], 2.0f);
  EXPECT_TRUE(posted_messages().empty());
}

TEST(Tileinfo, EveryErosionKeySetsItsFieldAndWarnsOnBadValues) {
  const char* keys[] = {"erode_depth",       "erode_lower",           "erode_upper",
                        "erode_displacement", "erode_radius",          "erode_inner_depth",
                        "erode_inner_radius", "erode_min_slope",       "erode_max_slope",
                        "erode_off_speed",    "erode_on_speed",        "erode_slip_lower",
                        "erode_slip_upper",   "erode_slip_base_scale", "erode_slip_scale",
                        "erode_downhill_scale", "erode_project_to_ground",
                        "erode_lateral_scale", "erode_front_scale"};
  std::string text;
  for (int k = 0; k < 19; ++k) text += std::string(keys[k]) + " " + std::to_string(100 + k) + "\n";
  text += "addtile\n";
  auto l = load_text(text);
  ASSERT_EQ(l->hf.material_count, 1);
  // The 19 single-value fields lie at words 0..15 and 40..42 of the record.
  const auto* words = reinterpret_cast<const float*>(&l->hf.materials[0].erode);
  for (int k = 0; k < 19; ++k) {
    const int word = k < 16 ? k : 40 + (k - 16);
    EXPECT_FLOAT_EQ(words[word], static_cast<float>(100 + k)) << keys[k];
  }
  for (const char* key : keys) {
    auto bad = load_text(std::string(key) + " soft\n" + key + "\naddtile\n");
    const std::string msg = std::string("tileinfo warning: bad ") + key + "\n";
    EXPECT_EQ(posted_messages(), (std::vector<std::string>{msg, msg})) << key;
  }
}

TEST(Tileinfo, WarningsIgnoreTheirLine) {
  std::string nine_friction, nine_roll, nine_limits;
  for (int k = 1; k <= 9; ++k) {
    nine_friction += "friction 1 " + std::to_string(k) + "\n";
    nine_roll += "roll_resist 1 2 " + std::to_string(k) + "\n";
    nine_limits += "erode_limit " + std::to_string(k) + " 1 1\n";
  }
  const struct {
    std::string text;
    std::string message;
  } cases[] = {
      {nine_friction, "tileinfo warning: too many friction points\n"},
      {"friction 1\n", "tileinfo warning: bad friction parameters\n"},
      {"friction x y\n", "tileinfo warning: bad friction parameters\n"},
      {"friction 1e999 1\n", "tileinfo warning: bad friction parameters\n"},
      {nine_roll, "tileinfo warning: too many roll_resist points\n"},
      {"roll_resist 1 2\n", "tileinfo warning: bad roll_resist parameters\n"},
      {"roost\nroost\nroost\nroost\nroost\n", "tileinfo warning: too many roost types\n"},
      {nine_limits, "tileinfo warning: too many erode limits\n"},
      {"erode_limit 1 2\n", "tileinfo warning: bad erode_limit\n"},
      {"erode_limit 1 1 1\nerode_limit 1 0 0\n",
       "tileinfo warning: erode_limit depth <= prev depth\n"},
      {"frictions 1 1\n", "tileinfo warning: Unknown identifier 'frictions'\n"},
      {"Friction 1 1\n", "tileinfo warning: Unknown identifier 'Friction'\n"},
      {" name x\n", "tileinfo warning: Unknown identifier ''\n"},
  };
  for (const auto& c : cases) {
    auto l = load_text(c.text + "addtile\n");
    EXPECT_EQ(posted_messages(), std::vector<std::string>{c.message}) << c.text;
    ASSERT_EQ(l->hf.material_count, 1);
    const TileInfo& t = l->hf.materials[0];
    EXPECT_LE(t.friction_count, kMaxFrictionPoints);
    EXPECT_LE(t.roost_count, kMaxRoostTypes);
    EXPECT_LE(t.erode.limit_count, kMaxErodeLimits);
  }
  // A limit that breaks the order leaves the earlier ones in force.
  auto l = load_text("erode_limit 1 1 1\nerode_limit 0.5 0 0\naddtile\n");
  EXPECT_EQ(l->hf.materials[0].erode.limit_count, 1);
}

TEST(Tileinfo, NamesAreCutAndTheTableStopsAt256) {
  const std::string long_name(80, 'n');
  auto l = load_text("name " + long_name + "\naddtile\ntexture @" + long_name + ".png\naddtile\n");
  ASSERT_EQ(l->hf.material_count, 2);
  EXPECT_EQ(l->hf.materials[0].name, long_name.substr(0, 47));
  EXPECT_EQ(l->hf.materials[1].name, "@" + long_name.substr(0, 46));
  EXPECT_EQ(l->hf.materials[1].texture_name, "@" + long_name + ".png");

  std::string many;
  for (int k = 0; k < 300; ++k) many += "name m" + std::to_string(k) + "\naddtile\n";
  auto full = load_text(many);
  EXPECT_EQ(full->hf.material_count, 256);
  EXPECT_EQ(full->hf.materials[255].name, "m255");
  EXPECT_TRUE(posted_messages().empty());
}

TEST(Tileinfo, AVeryLongLineIsOneLine) {
  auto l = load_text("name " + std::string(10000, 'x') + " addtile\nname ok\naddtile\n");
  ASSERT_EQ(l->hf.material_count, 1);
  EXPECT_EQ(l->hf.materials[0].name, "ok");
}

TEST(ParseRoost, KeysValuesQuotesAndWarnings) {
  TileInfo t = default_tile_info();
  clear_messages();
  parse_roost(t, "count=3.5 texture=\"@my roost.png\" splash=1 r=200.9 fade_a=-512\tfade_r=300"
                 " slow_angle=0.5 randomize=2 vscale=.25");
  ASSERT_EQ(t.roost_count, 1);
  const RoostType& r = t.roost[0];
  EXPECT_FLOAT_EQ(r.count, 3.5f);
  EXPECT_EQ(r.texture_name, "@my roost.png");
  EXPECT_EQ(r.kind, kRoostSplash);
  EXPECT_EQ(r.r, 200);
  EXPECT_EQ(r.fade_a, -4);
  EXPECT_EQ(r.fade_r, 2);
  EXPECT_FLOAT_EQ(r.slow_angle, 0.5f);
  EXPECT_FLOAT_EQ(r.randomize, 2.0f);
  EXPECT_FLOAT_EQ(r.vscale, 0.25f);
  EXPECT_FLOAT_EQ(r.fast_angle, 3.14159265f / 16);  // untouched default
  EXPECT_EQ(r.g, 255);
  EXPECT_TRUE(posted_messages().empty());

  const char* value_keys[] = {"count", "dig", "slip_threshold", "slow_angle", "fast_angle",
                              "slow_speed", "fast_speed", "size", "grow", "drag", "vscale",
                              "randomize", "r", "g", "b", "a", "fade_r", "fade_g", "fade_b",
                              "fade_a"};
  for (const char* key : value_keys) {
    TileInfo u = default_tile_info();
    clear_messages();
    parse_roost(u, (std::string(key) + "=none").c_str());
    EXPECT_EQ(posted_messages(),
              std::vector<std::string>{std::string("tileinfo warning: bad ") + key + "\n"});
  }
  // A value without digits still stores 0.
  TileInfo z = default_tile_info();
  parse_roost(z, "count=x a=- fade_a=.");
  EXPECT_FLOAT_EQ(z.roost[0].count, 0.0f);
  EXPECT_EQ(z.roost[0].a, 0);
  EXPECT_EQ(z.roost[0].fade_a, 0);

  TileInfo w = default_tile_info();
  clear_messages();
  parse_roost(w, "splash=x texture= bogus=1 count");
  EXPECT_EQ(posted_messages(),
            (std::vector<std::string>{"tileinfo warning: unknown roost parameter 'bogus=1'\n",
                                      "tileinfo warning: unknown roost parameter 'count'\n"}));
  EXPECT_EQ(w.roost[0].kind, kRoostNormal);
  EXPECT_EQ(w.roost[0].texture_name, "");

  TileInfo d = default_tile_info();
  parse_roost(d, "");
  EXPECT_EQ(d.roost[0].texture_name, "@roost.png");
  EXPECT_FLOAT_EQ(d.roost[0].fast_speed, 64.0f);
  EXPECT_EQ(d.roost[0].fade_a, -2);
}

TEST(Texturelist, NumbersOrJustANamePerLine) {
  auto l = load_text("  0.7 4 12 dirt.png\ngrass.png\n3 4 rock.png\nlast", true);
  ASSERT_TRUE(l->ok);
  ASSERT_EQ(l->hf.material_count, 4);
  const TileInfo& a = l->hf.materials[0];
  EXPECT_EQ(a.texture_name, "@dirt.png");
  EXPECT_FLOAT_EQ(a.friction[0].value, 0.7f);
  EXPECT_FLOAT_EQ(a.friction[0].speed, 1.0f);
  EXPECT_FLOAT_EQ(a.roll_resist[0].low, 4.0f);
  EXPECT_FLOAT_EQ(a.roll_resist[0].high, 12.0f);
  EXPECT_EQ(a.roost_count, 1);
  EXPECT_EQ(a.roost[0].kind, kRoostNormal);
  const TileInfo& b = l->hf.materials[1];
  EXPECT_EQ(b.texture_name, "@grass.png");
  EXPECT_FLOAT_EQ(b.friction[0].value, 1.0f);
  EXPECT_FLOAT_EQ(b.roll_resist[0].high, 15.0f);
  EXPECT_EQ(l->hf.materials[2].texture_name, "@3 4 rock.png");
  EXPECT_EQ(l->hf.materials[3].texture_name, "@last");
}

TEST(MaterialCode, PlainTransitionAltAndUnknownNames) {
  HeightField hf;
  const char* names[] = {"@tiles/dirt.png", "grass.png",  "dirt-grass-0101.png",
                         "grass-dirt-1000.png", "dirt-alt2.png", "dirt-grass-01x1.png",
                         "mud-grass-1111.png", "dirt-sand-1111.png", "dirt-grass.png"};
  hf.material_count = 9;
  for (int k = 0; k < 9; ++k) hf.materials[static_cast<size_t>(k)].texture_name = names[k];
  compute_material_codes(hf);
  EXPECT_EQ(hf.materials[0].short_name, "dirt.png");
  const int expected[] = {
      0x000000,                 // plain dirt
      0x010100,                 // plain grass
      (0 << 16) | (1 << 8) | 5,  // dirt to grass, corners 0101
      (1 << 16) | (0 << 8) | 8,
      0x000000,                 // another look of dirt
      (0 << 16) | (1 << 8) | 0,  // bad mask
      (6 << 16) | (6 << 8),     // unknown first material: its own index
      0x000000,                 // unknown second material: plain dirt
      (0 << 16) | (1 << 8) | 0,  // no mask
  };
  for (int k = 0; k < 9; ++k) EXPECT_EQ(hf.materials[static_cast<size_t>(k)].code, expected[k]) << names[k];
}

TEST(WriteTileinfo, ReadsBackToTheSameMaterials) {
  HeightField src;
  src.material_count = 2;
  TileInfo a = default_tile_info();
  a.name = "Hard pack";
  a.texture_name = "@tiles/hard pack.png";
  a.friction = {};
  a.friction[0] = {0.9f, 0.1f};
  a.friction[1] = {1.1f, 30.0f};
  a.friction_count = 2;
  a.roll_resist[0] = {3.25f, 9.5f, kMinCurveSpeed};
  parse_roost(a, "texture=\"@dust puff.png\" count=2.5 g=100 fade_b=-256 splash=1 drag=0.1");
  parse_roost(a, "");
  a.erode.depth = 0.3333333f;
  a.erode.front_scale = 2.0f;
  a.erode.limit_depth = {0, 0.25f, 0.5f};
  a.erode.limit_a = {1, 0.5f, 0.125f};
  a.erode.limit_b = {1, 0.75f, 0};
  a.erode.limit_count = 3;
  src.materials[0] = a;
  src.materials[1] = default_tile_info();
  src.materials[1].texture_name = "@grass.png";

  test::TempDir dir;
  const std::string path = dir / "tileinfo";
  ASSERT_TRUE(write_tileinfo_file(path.c_str(), src.materials.data(), 2));
  HeightField back;
  VfsFile* f = vfs_open(path.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  clear_messages();
  ASSERT_TRUE(load_tileinfo(f, back));
  vfs_close(f);
  EXPECT_TRUE(posted_messages().empty());
  ASSERT_EQ(back.material_count, 2);
  for (int k = 0; k < 2; ++k) {
    const TileInfo& x = src.materials[static_cast<size_t>(k)];
    const TileInfo& y = back.materials[static_cast<size_t>(k)];
    EXPECT_EQ(y.texture_name, x.texture_name);
    EXPECT_EQ(y.friction_count, x.friction_count);
    for (int i = 0; i < kMaxFrictionPoints; ++i) {
      EXPECT_EQ(y.friction[static_cast<size_t>(i)].value, x.friction[static_cast<size_t>(i)].value);
      EXPECT_EQ(y.friction[static_cast<size_t>(i)].speed, x.friction[static_cast<size_t>(i)].speed);
    }
    EXPECT_EQ(y.roll_resist[0].low, x.roll_resist[0].low);
    EXPECT_EQ(y.roll_resist[0].speed, x.roll_resist[0].speed);
    EXPECT_EQ(y.roost_count, x.roost_count);
    for (int i = 0; i < x.roost_count; ++i) {
      const RoostType& p = x.roost[static_cast<size_t>(i)];
      const RoostType& q = y.roost[static_cast<size_t>(i)];
      EXPECT_EQ(q.texture_name, p.texture_name);
      EXPECT_EQ(q.kind, p.kind);
      EXPECT_EQ(q.count, p.count);
      EXPECT_EQ(q.drag, p.drag);
      EXPECT_EQ(q.g, p.g);
      EXPECT_EQ(q.fade_b, p.fade_b);
      EXPECT_EQ(q.fade_a, p.fade_a);
    }
    EXPECT_EQ(std::memcmp(&y.erode, &x.erode, sizeof(ErodeParams)), 0) << k;
  }
  EXPECT_EQ(back.materials[0].name, "Hard pack");
  EXPECT_EQ(back.materials[1].name, "@grass.png");
}

}  // namespace
}  // namespace ks
