// Loading and saving a track folder's terrain files, and the failure table.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "fs/vfs.h"
#include "gfx/image_io.h"
#include "support/test_support.h"
#include "terrain_test_util.h"
#include "track/heightfield.h"
#include "track/terrain_io.h"
#include "track/tileinfo.h"

namespace ks {
namespace {

using test::fill_rolling;
using test::posted_messages;
using test::was_posted;
using test::write_file;

std::string pnm(const char* magic, int w, int h, const std::string& body) {
  return std::string(magic) + "\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n" +
         body;
}

// The smallest complete folder: exponent 1 (5 x 5 samples, 2 x 2 tiles), inline heights.
class TerrainFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    clear_messages();
    reset_terrain_render_seam();
    for (const char* f : {"shading.ppm", "shadows.pgm", "texturelist", "decals", "terrain.png"}) {
      drop(f);
    }
    std::string heights = "1 2.0 -1.0 3.0:";
    for (int k = 0; k < 25; ++k) {
      const int v = k * 2000;
      heights += static_cast<char>(v & 0xff);
      heights += static_cast<char>(v >> 8);
    }
    put("terrain.hf", heights);
    std::string shade;
    for (int k = 0; k < 75; ++k) shade += static_cast<char>(k * 3);
    put("shadingx2.ppm", pnm("P6", 5, 5, shade));
    put("tileinfo", "texture @dirt.png\naddtile\ntexture @grass.png\naddtile\n");
    put("tilemap", std::string("\x00\x01\x07\xff", 4));
  }
  void TearDown() override { reset_terrain_render_seam(); }

  void put(const std::string& name, const std::string& bytes) { write_file(dir / name, bytes); }
  void drop(const std::string& name) { std::remove((dir / name).c_str()); }
  bool load() { return load_terrain(hf, dir.path().c_str()); }

  test::TempDir dir;
  HeightField hf;
};

TEST_F(TerrainFolder, LoadsEveryPart) {
  ASSERT_TRUE(load()) << ::testing::PrintToString(posted_messages());
  EXPECT_EQ(hf.exponent, 1);
  EXPECT_EQ(hf.size, 5);
  EXPECT_FLOAT_EQ(hf.extent, 8.0f);
  EXPECT_FLOAT_EQ(hf.tile_size, 4.0f);
  EXPECT_FLOAT_EQ(hf.heights[0], -1.0f);
  EXPECT_NEAR(hf.heights[7], -1.0f + 14000.0f * 4.0f / 65535.0f, 1e-6);
  EXPECT_EQ(hf.loaded_heights, hf.heights);
  EXPECT_EQ(hf.shading[10], 30);  // shadingx2 is taken as stored
  EXPECT_EQ(hf.shadows, std::vector<uint8_t>(25, 0));
  EXPECT_EQ(hf.material_count, 2);
  EXPECT_EQ(hf.materials[1].code, 0x010100);
  EXPECT_EQ(hf.tile_map, (std::vector<uint8_t>{0, 1, 1, 1}));  // clamped to the last material
  EXPECT_EQ(ground_material_at(hf, 5.0, 5.0), 1);
  EXPECT_FALSE(hf.edit_locked);
  EXPECT_TRUE(hf.decals.empty());
}

TEST_F(TerrainFolder, OlderVariantsShadowsAndDecals) {
  drop("shadingx2.ppm");
  drop("tileinfo");
  put("shading.ppm", pnm("P6", 5, 5, std::string(75, '\xc9')));
  put("shadows.pgm", pnm("P5", 5, 5, std::string(25, '\x05')));
  put("texturelist", "0.5 1 2 dirt.png\n");
  write_file(dir / "here.png", "x");
  put("decals", "[ 1 2 ] 0.5 3 2 " + dir.path() + "/here.png\n[4 4] 0 1 1 @nope.png\n"
                "[1 1] 0 1 1 " + dir.path() + "/here.png\n[ broken");
  ASSERT_TRUE(load()) << ::testing::PrintToString(posted_messages());
  EXPECT_EQ(hf.shading, std::vector<uint8_t>(75, 100));  // halved
  EXPECT_EQ(hf.shadows, std::vector<uint8_t>(25, 250));  // inverted
  EXPECT_EQ(hf.material_count, 1);
  EXPECT_EQ(hf.materials[0].texture_name, "@dirt.png");
  EXPECT_EQ(hf.tile_map, (std::vector<uint8_t>{0, 0, 0, 0}));
  ASSERT_EQ(hf.decals.size(), 2u);  // the decal without a texture is skipped
  EXPECT_FLOAT_EQ(hf.decals[0].z, 2.0f);
  EXPECT_FLOAT_EQ(hf.decals[0].sin_angle, std::sin(0.5f));
}

TEST_F(TerrainFolder, DecalsWithOnlyMissingTexturesLoadNone) {
  put("decals", "[1 1] 0 1 1 @a.png\n[2 2] 0 1 1 @b.png\n");
  int asked = 0;
  TerrainRenderSeam seam;
  seam.load_texture = [&](const char*) {
    ++asked;
    return 0u;
  };
  set_terrain_render_seam(seam);
  ASSERT_TRUE(load());
  EXPECT_TRUE(hf.decals.empty());
  EXPECT_GE(asked, 2 + 2);  // two materials, two decals
}

TEST_F(TerrainFolder, SeamSeesTheStagesAndCanRefuse) {
  std::vector<std::string> labels;
  TerrainRenderSeam seam;
  seam.progress = [&](const char* label, bool entering) {
    if (entering) labels.emplace_back(label);
  };
  seam.setup = [&](HeightField& h, int method) {
    EXPECT_EQ(method, 2);
    EXPECT_EQ(h.material_count, 2);
    return true;
  };
  set_terrain_render_seam(seam);
  ASSERT_TRUE(load_terrain(hf, dir.path().c_str(), 2));
  EXPECT_EQ(labels, (std::vector<std::string>{"Loading terrain", "Loading heights",
                                              "Loading shading", "Loading shadows",
                                              "Loading tileinfo", "Loading tilemap",
                                              "Loading decals"}));
  terrain_render_seam().setup = [](HeightField&, int) { return false; };
  EXPECT_FALSE(load());
  EXPECT_EQ(hf.size, 0);
}

TEST_F(TerrainFolder, FailuresSayWhyAndLeaveTheFieldEmpty) {
  const std::string full = dir.path();
  std::string short_heights = "1 2.0 0 1:";
  short_heights += std::string(30, '\x01');
  struct Case {
    const char* file;       // replaced (nullptr content: removed)
    const char* content;
    std::vector<std::string> messages;  // each must have been posted
  };
  const std::string hdr_exp = "12 1 0 1:";
  const std::string huge = "2000000 1 0 1:";
  const std::string nan_spacing = "1 1e999 0 1:";
  const Case cases[] = {
      {"terrain.hf", nullptr, {"Can't open '" + full + "/terrain.hf'"}},
      {"terrain.hf", "1 2.0 junk", {"Bad height field parameters", "Error reading heights"}},
      {"terrain.hf", nan_spacing.c_str(), {"Bad height field parameters", "Error reading heights"}},
      {"terrain.hf", "1 -2 0 1:", {"Bad height field parameters", "Error reading heights"}},
      {"terrain.hf", "3 1e38 0 1:", {"Bad height field parameters", "Error reading heights"}},
      {"terrain.hf", short_heights.c_str(), {"Error reading heights"}},
      {"terrain.hf", hdr_exp.c_str(),
       {"Height field exponent 12 is outside 0..11", "Error reading heights"}},
      {"terrain.hf", huge.c_str(),
       {"Height field exponent 2000000 is outside 0..11", "Error reading heights"}},
      {"terrain.hf", "-1 1 0 1:", {"Height field exponent -1 is outside 0..11"}},
      {"shadingx2.ppm", nullptr, {"Can't open '" + full + "/shading.ppm'"}},
      {"shadingx2.ppm", "P6\n5 5\n255\nshort", {"Error reading shading"}},
      {"shadingx2.ppm", "P4\n5 5\n255\n", {"Error reading shading"}},
      {"shadingx2.ppm", "P6\n4 5\n255\n" "012345678901234567890123456789012345678901234567890123456789",
       {"Bad shading dimensions (4x5)"}},
      {"shadows.pgm", "P5\n5 5\n255\n", {"Error reading shadows"}},
      {"shadows.pgm", "P5\n1 1\n255\nx", {}},  // "Bad shadow dimensions" goes to the log only
      {"tileinfo", nullptr, {"Can't open '" + full + "/texturelist'"}},
      {"tilemap", nullptr, {"Can't open '" + full + "/tilemap'"}},
  };
  for (const Case& c : cases) {
    SetUp();
    if (c.content == nullptr) {
      drop(c.file);
    } else {
      put(c.file, c.content);
    }
    hf.edit_locked = true;
    EXPECT_FALSE(load()) << c.file << ": " << (c.content ? c.content : "(removed)");
    for (const std::string& m : c.messages) {
      EXPECT_TRUE(was_posted(m)) << m << " not in " << ::testing::PrintToString(posted_messages());
    }
    EXPECT_EQ(hf.size, 0);
    EXPECT_TRUE(hf.heights.empty());
    EXPECT_FALSE(hf.edit_locked);
  }
}

TEST_F(TerrainFolder, AShortTileMapWarnsAndKeepsTheFirstMaterial) {
  put("tilemap", std::string("\x01", 1));
  ASSERT_TRUE(load());
  EXPECT_TRUE(was_posted("Short tilemap '" + dir.path() + "/tilemap' (1 of 4 bytes)"));
  EXPECT_EQ(hf.tile_map, (std::vector<uint8_t>{1, 0, 0, 0}));
}

TEST_F(TerrainFolder, EmptyTileinfoFallsBackToTheDefaultMaterial) {
  put("tileinfo", "name never committed\n");
  ASSERT_TRUE(load());
  EXPECT_EQ(hf.material_count, 1);
  EXPECT_FLOAT_EQ(hf.materials[0].friction[0].value, 1.0f);
  EXPECT_EQ(hf.tile_map, (std::vector<uint8_t>{0, 0, 0, 0}));
}

TEST_F(TerrainFolder, HeightsFromThePngClampToItsSize) {
  put("terrain.hf", "1 1 10 20\n");
  const uint16_t px[6] = {0, 65535, 32768, 100, 200, 300};  // 3 x 2
  ASSERT_TRUE(write_png_gray16((dir / "terrain.png").c_str(), px, 3, 2));
  ASSERT_TRUE(load());
  auto h = [&](int i, int j) { return hf.heights[static_cast<size_t>(j * 5 + i)]; };
  EXPECT_FLOAT_EQ(h(0, 0), 10.0f);
  EXPECT_FLOAT_EQ(h(1, 0), 20.0f);
  EXPECT_FLOAT_EQ(h(4, 0), h(2, 0));
  EXPECT_FLOAT_EQ(h(4, 4), h(2, 1));
  EXPECT_FLOAT_EQ(h(0, 3), h(0, 1));

  drop("terrain.png");  // no image: flat at min_height
  ASSERT_TRUE(load());
  EXPECT_EQ(hf.heights, std::vector<float>(25, 10.0f));
}

TEST(SaveTerrain, ReloadReproducesTheField) {
  test::TempDir dir;
  HeightField hf;
  ASSERT_TRUE(init_height_field(hf, 5, 1.25f));
  fill_rolling(hf);
  hf.heights[100] = 57.5f;  // an edit above the old range
  for (size_t k = 0; k < hf.shading.size(); ++k) hf.shading[k] = static_cast<uint8_t>(k * 7);
  for (size_t k = 0; k < hf.tile_map.size(); ++k) hf.tile_map[k] = static_cast<uint8_t>(k % 3);
  hf.materials[1] = default_tile_info();
  hf.materials[2] = default_tile_info();
  hf.material_count = 3;
  Decal d;
  d.x = 3.5f;
  d.z = 4.25f;
  d.angle = 0.75f;
  d.size = 2;
  d.aspect = 1.5f;
  d.texture_name = dir.path() + "/decal.png";
  hf.decals.push_back(d);
  write_file(dir / "decal.png", "x");
  const std::string folder = dir.path();
  ASSERT_TRUE(save_terrain(hf, folder.c_str()));
  EXPECT_FLOAT_EQ(hf.max_height, 57.5f);
  EXPECT_EQ(test::read_file(dir / "terrain.hf").back(), '\n');
  ASSERT_TRUE(write_tileinfo_file((dir / "tileinfo").c_str(), hf.materials.data(), 3));

  HeightField back;
  clear_messages();
  ASSERT_TRUE(load_terrain(back, folder.c_str())) << ::testing::PrintToString(posted_messages());
  const float step = (hf.max_height - hf.min_height) / 65535.0f;
  ASSERT_EQ(back.heights.size(), hf.heights.size());
  for (size_t k = 0; k < hf.heights.size(); ++k) {
    ASSERT_NEAR(back.heights[k], hf.heights[k], step) << k;
  }
  EXPECT_EQ(back.shading, hf.shading);
  EXPECT_EQ(back.tile_map, hf.tile_map);
  ASSERT_EQ(back.decals.size(), 1u);
  EXPECT_FLOAT_EQ(back.decals[0].aspect, 1.5f);
  // shading.ppm holds the doubled, clamped bytes.
  {
    std::remove((dir / "shadingx2.ppm").c_str());
    VfsFile* f = vfs_open((dir / "shading.ppm").c_str(), "rb");
    ASSERT_NE(f, nullptr);
    PixelImage img;
    ASSERT_TRUE(read_ppm(f, img));
    vfs_close(f);
    for (size_t k = 0; k < hf.shading.size(); ++k) {
      ASSERT_EQ(img.pixels[k], std::min(255, hf.shading[k] * 2)) << k;
    }
  }
}

TEST(SaveTerrain, FlatGroundAndUnwritableFolders) {
  test::TempDir dir;
  HeightField hf;
  ASSERT_TRUE(init_height_field(hf, 1, 1.0f, 4.0f));
  ASSERT_TRUE(save_terrain(hf, dir.path().c_str()));
  ASSERT_TRUE(write_tileinfo_file((dir / "tileinfo").c_str(), hf.materials.data(), 1));
  HeightField back;
  ASSERT_TRUE(load_terrain(back, dir.path().c_str()));
  EXPECT_EQ(back.heights, std::vector<float>(25, 4.0f));

  write_file(dir / "plain", "not a folder");
  clear_messages();
  EXPECT_FALSE(save_terrain(hf, (dir / "plain").c_str()));
  EXPECT_TRUE(was_posted("Can't open 'terrain.hf'"));
  HeightField empty;
  EXPECT_FALSE(save_terrain(empty, dir.path().c_str()));
}

}  // namespace
}  // namespace ks
