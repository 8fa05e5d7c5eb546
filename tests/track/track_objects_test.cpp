// Scenery: billboard tints, statues and their placement, the object grid and flaggers.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <string>

#include "support/test_support.h"
#include "track/objects.h"
#include "track_test_util.h"

namespace ks {
namespace {

TEST(BillboardTint, HashColourPrefix) {
  struct Case {
    const char* text;
    const char* name;
    int r, g, b;
  };
  const Case cases[] = {
      {"#ff0000#@tree.png", "@tree.png", 255, 0, 0},
      {"#00Ff80#bush.ppm", "bush.ppm", 0, 255, 128},
      {"@plain.png", "@plain.png", 255, 255, 255},
      {"#ff00#x.png", "#ff00#x.png", 255, 255, 255},      // too few digits
      {"#gg0000#x.png", "#gg0000#x.png", 255, 255, 255},  // not hexadecimal
      {"#ff0000x.png", "#ff0000x.png", 255, 255, 255},    // no closing "#"
      {"#102030#", "", 16, 32, 48},                       // a tint and no texture
  };
  for (const Case& c : cases) {
    Billboard b;
    parse_billboard_texture(c.text, b);
    EXPECT_EQ(b.texture_name, c.name) << c.text;
    EXPECT_EQ(b.r, c.r) << c.text;
    EXPECT_EQ(b.g, c.g) << c.text;
    EXPECT_EQ(b.b, c.b) << c.text;
    EXPECT_EQ(b.a, 255) << c.text;
  }
}

TEST(Billboards, ReadPlacesOnTheGroundAndStopsAtABadRecord) {
  std::vector<Billboard> list(3);  // stand-ins for sprites made before the track's own
  GroundHeight ground = [](float x, float) { return x * 2; };
  test::parse_text("[1 0.5 2] 3 0.5 #ff0000#@tree.png\n[4 0 5] 1 1 @rock.png\n[6 0] 1 1 @x\n"
                   "[7 0 7] 1 1 @never.png\n",
                   [&](VfsFile* f) { read_billboards(f, list, ground); });
  ASSERT_EQ(list.size(), 5u);
  EXPECT_EQ(list[3].position, (std::array<float, 3>{1, 2.5f, 2}));
  EXPECT_FLOAT_EQ(list[3].height, 0.5f);
  EXPECT_FLOAT_EQ(list[3].size, 3);
  EXPECT_FLOAT_EQ(list[3].aspect, 0.5f);
  EXPECT_EQ(list[3].texture_name, "@tree.png");
  EXPECT_EQ(list[3].r, 255);
  EXPECT_EQ(list[3].g, 0);
  EXPECT_EQ(list[4].texture_name, "@rock.png");
}

TEST(Billboards, WriterFromTheFirstTrackBillboardWithTextures) {
  std::vector<Billboard> list(2);
  list[0].texture_name = "@flagger.png";  // before `first`: not the track's own
  list[1].texture_name = "";
  Billboard tinted;
  parse_billboard_texture("#ff0000#@tree.png", tinted);
  tinted.position = {1, 99, 2};
  tinted.height = 0.5f;
  tinted.size = 3;
  tinted.aspect = 0.5f;
  Billboard plain = tinted;
  parse_billboard_texture("@rock.png", plain);
  Billboard none;
  list.push_back(tinted);
  list.push_back(none);
  list.push_back(plain);

  test::TempDir dir;
  const std::string path = dir / "billboards";
  ASSERT_TRUE(write_billboards_file(path.c_str(), list, 1));
  EXPECT_EQ(test::read_file(path),
            "[1.000000 0.500000 2.000000] 3.000000 0.500000 #ff0000#@tree.png\n"
            "[1.000000 0.500000 2.000000] 3.000000 0.500000 @rock.png\n");
}

TEST(Statues, ReadNamesAndPlacement) {
  std::vector<TrackObject> objects;
  clear_messages();
  test::parse_text(
      "[10 1 20] 0.5 @rock.jm @rock.png null\n"
      "[5 0 5] 4 @tree.jm null @no-such-shape.shp\n"
      "[1 2] 0 a b c\n",
      [&](VfsFile* f) { read_statues(f, objects, [](float, float) { return 3.0f; }); });
  ASSERT_EQ(objects.size(), 2u);
  const TrackObject& rock = objects[0];
  EXPECT_EQ(rock.model, "@rock.jm");
  EXPECT_EQ(rock.texture, "@rock.png");
  EXPECT_EQ(rock.shape_name, "");
  EXPECT_FALSE(rock.shape);
  EXPECT_EQ(rock.position, (std::array<float, 3>{10, 4, 20}));
  EXPECT_FLOAT_EQ(rock.y_offset, 1);
  EXPECT_FLOAT_EQ(rock.facing_distance, 0);
  // Upright from 3.25 on: identity orientation and a facing distance of 2^angle.
  const TrackObject& tree = objects[1];
  EXPECT_EQ(tree.texture, "");
  EXPECT_EQ(tree.orientation, (std::array<float, 9>{1, 0, 0, 0, 1, 0, 0, 0, 1}));
  EXPECT_FLOAT_EQ(tree.facing_distance, 16);
  EXPECT_EQ(tree.shape_name, "@no-such-shape.shp");
  EXPECT_FALSE(tree.shape);
  EXPECT_TRUE(test::track_message_posted("Warning: missing shape file @no-such-shape.shp"));
}

TEST(Statues, OrientationTurnsAboutTheTerrainNormal) {
  const float a = 0.7f;
  // Flat ground: a turn about y, taking the forward axis -z to (-sin a, 0, -cos a).
  TrackObject flat = make_track_object(0, 0, 0, a, "m", "null", "null", {});
  const auto& m = flat.orientation;
  const float fwd[3] = {-m[2], -m[5], -m[8]};
  EXPECT_NEAR(fwd[0], -std::sin(a), 1e-6);
  EXPECT_NEAR(fwd[1], 0, 1e-6);
  EXPECT_NEAR(fwd[2], -std::cos(a), 1e-6);

  // A slope rising along x by 1 per foot: the up axis is the normalised (-1, 1, 0).
  GroundHeight slope = [](float x, float) { return x; };
  TrackObject tilted = make_track_object(3, 0.5f, 0, a, "m", "null", "null", slope);
  EXPECT_FLOAT_EQ(tilted.position[1], 3.5f);
  const auto& t = tilted.orientation;
  const float h = 1 / std::sqrt(2.0f);
  EXPECT_NEAR(t[1], -h, 1e-6);
  EXPECT_NEAR(t[4], h, 1e-6);
  EXPECT_NEAR(t[7], 0, 1e-6);
  // Still a rotation: orthonormal columns.
  for (int c = 0; c < 3; ++c) {
    for (int d = 0; d < 3; ++d) {
      float dot = t[c] * t[d] + t[3 + c] * t[3 + d] + t[6 + c] * t[6 + d];
      EXPECT_NEAR(dot, c == d ? 1 : 0, 1e-5) << c << "," << d;
    }
  }

  // At -2 pi or less the up axis is straight up, whatever the slope.
  TrackObject straight =
      make_track_object(3, 0, 0, -2 * std::numbers::pi_v<float> - 1, "m", "null", "null", slope);
  EXPECT_NEAR(straight.orientation[4], 1, 1e-6);
  EXPECT_NEAR(straight.orientation[1], 0, 1e-6);

  // A broken angle leaves the object unturned rather than full of NaNs.
  TrackObject broken = make_track_object(0, 0, 0, NAN, "m", "null", "null", {});
  for (float v : broken.orientation) EXPECT_TRUE(std::isfinite(v));
}

TEST(Statues, WriterFromTheFirstStatue) {
  std::vector<TrackObject> objects;
  objects.push_back(make_track_object(1, 0, 1, 0, "@startgate.jm", "x", "null", {}));
  objects.push_back(make_track_object(10, 1, 20, 0.5f, "@rock.jm", "null", "null",
                                      [](float, float) { return 7.0f; }));
  test::TempDir dir;
  const std::string path = dir / "statues";
  ASSERT_TRUE(write_statues_file(path.c_str(), objects, 1));
  EXPECT_EQ(test::read_file(path), "[10.000000 1.000000 20.000000] 0.500000 @rock.jm null null\n");
}

TEST(ObjectGrid, CellCoordinate) {
  struct Case {
    float p, width;
    int cell;
  };
  const Case cases[] = {
      {0, 512, 0},       {64, 512, 0},    {111, 512, 0},  {112, 512, 1},  // 0.125 + 1/8 * 3/4
      {256, 512, 4},     {399, 512, 6},   {400, 512, 7},  {512, 512, 7},
      {-1000, 512, 0},   {1e30f, 512, 7}, {NAN, 512, 0},  {100, 0, 0},
      {100, -5, 0},      {100, NAN, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(object_grid_cell(c.p, c.width), c.cell) << c.p << " over " << c.width;
  }
}

TEST(ObjectGrid, ShapesCoverTheCellsTheirRadiusReaches) {
  std::vector<TrackObject> objects(3);
  objects[0].position = {256, 0, 256};  // no shape: its own cell only
  objects[1].position = {112, 0, 256};  // on the border of cells 0 and 1
  objects[1].shape = CollisionShape{"s", {}, 2};
  objects[2].position = {300, 0, 300};
  objects[2].shape = CollisionShape{"big", {}, 1000};
  ObjectGrid grid;
  grid.cells[5].push_back(42);  // cleared by the build
  build_object_grid(grid, objects, 512);
  auto cell = [&](int x, int z) { return grid.cells[size_t(z * 8 + x)]; };
  EXPECT_EQ(cell(4, 4), (std::vector<int>{0, 2}));
  EXPECT_EQ(cell(0, 4), (std::vector<int>{1, 2}));
  EXPECT_EQ(cell(1, 4), (std::vector<int>{1, 2}));
  EXPECT_EQ(cell(2, 4), (std::vector<int>{2}));
  EXPECT_EQ(cell(0, 5).size(), 1u);
  for (size_t i = 0; i < grid.cells.size(); ++i) {
    ASSERT_FALSE(grid.cells[i].empty()) << i;  // the big one is everywhere
    EXPECT_EQ(grid.cells[i].back(), 2) << i;
  }
}

TEST(Flaggers, SectionsClampsAndBillboards) {
  Flaggers fl;
  test::parse_text(
      "[1 0 1] [5 0 5] 2 0.5 3 s0 s1 s2 s3 s4\n"
      "[9 1 9] 2 0.5 f0 f1 f2 f3 f4\n"
      "[20 0 20] 2 0.5 0 1 7 -5 calm warn\n"
      "[30 0 30] 2 0.5 1 x\n",
      [&](VfsFile* f) { read_flaggers(f, fl, 3); });
  ASSERT_TRUE(fl.start.present);
  EXPECT_EQ(fl.start.to, (std::array<float, 3>{5, 0, 5}));
  EXPECT_FLOAT_EQ(fl.start.walk_duration, 3);
  EXPECT_EQ(fl.start.textures[4], "s4");
  ASSERT_TRUE(fl.finish.present);
  EXPECT_EQ(fl.finish.textures[0], "f0");
  ASSERT_EQ(fl.track_side.size(), 1u);
  EXPECT_EQ(fl.track_side[0].checkpoints, (std::array<int, 4>{0, 1, 2, -1}));
  EXPECT_EQ(fl.track_side[0].textures[1], "warn");

  std::vector<Billboard> list(kRoostSprites);
  add_flagger_billboards(fl, list, [](float, float) { return 10.0f; });
  ASSERT_EQ(list.size(), size_t(kRoostSprites + 3));
  EXPECT_EQ(fl.start.billboard, kRoostSprites);
  EXPECT_EQ(list[size_t(fl.finish.billboard)].position, (std::array<float, 3>{9, 11, 9}));
  EXPECT_EQ(list[size_t(fl.track_side[0].billboard)].texture_name, "calm");

  test::TempDir dir;
  const std::string path = dir / "flaggers";
  ASSERT_TRUE(write_flaggers_file(path.c_str(), fl));
  Flaggers back;
  const std::string text = test::read_file(path);
  test::parse_text(text, [&](VfsFile* f) { read_flaggers(f, back, 3); });
  EXPECT_EQ(back.track_side.size(), 1u);
  EXPECT_EQ(back.finish.textures, fl.finish.textures);
  EXPECT_EQ(back.start.textures, fl.start.textures);
}

TEST(Flaggers, StartAndFinishStates) {
  StartFlagger s;
  s.from = {0, 0, 0};
  s.to = {10, 2, 0};
  s.walk_duration = 2;
  const std::pair<double, int> textures[] = {{0, 0},   {5.09, 0}, {5.1, 1}, {5.39, 1}, {5.4, 2},
                                             {5.99, 2}, {6, 3},   {7.9, 3}, {8, 4},    {100, 4}};
  for (auto [t, tex] : textures) EXPECT_EQ(start_flagger_texture(s, t), tex) << t;
  EXPECT_EQ(start_flagger_position(s, 3), s.from);
  EXPECT_EQ(start_flagger_position(s, 7), (std::array<float, 3>{5, 1, 0}));
  EXPECT_EQ(start_flagger_position(s, 9), s.to);

  // Three laps, halfway lap 2.
  EXPECT_EQ(finish_flagger_texture(0, 3, 2), 1);
  EXPECT_EQ(finish_flagger_texture(1, 3, 2), 2);
  EXPECT_EQ(finish_flagger_texture(2, 3, 2), 3);
  EXPECT_EQ(finish_flagger_texture(3, 3, 2), 4);
}

}  // namespace
}  // namespace ks
