// Point queries under the chessboard split, edge clamps, and height edits.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "terrain_test_util.h"
#include "track/heightfield.h"
#include "track/terrain_io.h"

namespace ks {
namespace {

using test::fill_rolling;

float& at(HeightField& hf, int i, int j) {
  return hf.heights[static_cast<size_t>(j * hf.size + i)];
}

TEST(HeightFieldInit, DerivesSizesAndRejectsBadParameters) {
  HeightField hf;
  ASSERT_TRUE(init_height_field(hf, 3, 2.5f, 7.0f));
  EXPECT_EQ(hf.size, 17);
  EXPECT_FLOAT_EQ(hf.tile_size, 5.0f);
  EXPECT_FLOAT_EQ(hf.extent, 40.0f);
  EXPECT_EQ(hf.tile_map.size(), 64u);
  EXPECT_EQ(hf.material_count, 1);
  EXPECT_FLOAT_EQ(ground_height_at(hf, 13.3, 2.1), 7.0f);

  const struct {
    int exponent;
    float spacing;
  } bad[] = {{-1, 1.0f},
             {kMaxTerrainExponent + 1, 1.0f},
             {40, 1.0f},
             {2, 0.0f},
             {2, -1.0f},
             {2, std::numeric_limits<float>::quiet_NaN()},
             {2, std::numeric_limits<float>::infinity()}};
  for (const auto& b : bad) {
    EXPECT_FALSE(init_height_field(hf, b.exponent, b.spacing)) << b.exponent << " " << b.spacing;
    EXPECT_EQ(hf.size, 0);
  }
}

TEST(GroundHeight, ReproducesAnyPlaneExactlyAndTheSamples) {
  HeightField hf;
  ASSERT_TRUE(init_height_field(hf, 2, 2.0f));
  auto plane = [](double x, double z) { return 0.25 * x - 0.5 * z + 3.0; };
  for (int j = 0; j < hf.size; ++j) {
    for (int i = 0; i < hf.size; ++i) at(hf, i, j) = static_cast<float>(plane(2.0 * i, 2.0 * j));
  }
  for (double x = 0.05; x < 16; x += 0.37) {
    for (double z = 0.02; z < 16; z += 0.41) {
      EXPECT_NEAR(ground_height_at(hf, x, z), plane(x, z), 1e-5) << x << "," << z;
      const auto n = ground_face_normal_at(hf, x, z);
      EXPECT_NEAR(n[0], -0.25 * 4.0, 1e-5);
      EXPECT_FLOAT_EQ(n[1], 4.0f);
      EXPECT_NEAR(n[2], 0.5 * 4.0, 1e-5);
    }
  }
  fill_rolling(hf);
  for (int j = 0; j < hf.size; ++j) {
    for (int i = 0; i < hf.size; ++i) {
      EXPECT_FLOAT_EQ(ground_height_at(hf, 2.0 * i, 2.0 * j), at(hf, i, j));
    }
  }
}

// On a diagonal the point belongs to the triangle holding corner (i+1, j) in even cells and
// corner (i, j) in odd cells; a bump on the other triangle's lone corner shows which one
// answered.
TEST(GroundHeight, PointsOnTheDiagonalBelongToTheStatedTriangle) {
  HeightField hf;
  ASSERT_TRUE(init_height_field(hf, 2, 1.0f));
  struct Case {
    int ci, cj;       // lower corner of the cell
    int bump_i, bump_j;  // corner only the other triangle holds
    double fx, fz;    // a point on the diagonal
  };
  const Case cases[] = {
      {0, 0, 0, 1, 0.5, 0.5},   // even: diagonal (0,0)-(1,1); other triangle holds (0,1)
      {2, 2, 2, 3, 0.25, 0.25},
      {1, 0, 2, 1, 0.5, 0.5},   // odd: diagonal (1,1)-(2,0); other triangle holds (2,1)
      {0, 1, 1, 2, 0.3, 0.7},
  };
  for (const Case& c : cases) {
    std::fill(hf.heights.begin(), hf.heights.end(), 0.0f);
    at(hf, c.bump_i, c.bump_j) = 5.0f;
    const double x = c.ci + c.fx, z = c.cj + c.fz;
    EXPECT_FLOAT_EQ(ground_height_at(hf, x, z), 0.0f) << c.ci << "," << c.cj;
    const auto n = ground_face_normal_at(hf, x, z);
    EXPECT_FLOAT_EQ(n[0], 0.0f) << c.ci << "," << c.cj;
    EXPECT_FLOAT_EQ(n[1], 1.0f);
    EXPECT_FLOAT_EQ(n[2], 0.0f);
    // Just past the diagonal the bumped triangle answers.
    const double nx = c.ci + c.fx + ((c.ci + c.cj) % 2 == 0 ? -0.01 : 0.01);
    const double nz = c.cj + c.fz + 0.01;
    EXPECT_GT(ground_height_at(hf, nx, nz), 0.0f);
  }
}

// The normal is the height's own slope in every kind of triangle: (-dh/dx, 1, -dh/dz) * s^2.
TEST(GroundNormal, MatchesTheSlopeOfTheHeightInAllFourTriangleKinds) {
  HeightField hf;
  ASSERT_TRUE(init_height_field(hf, 3, 1.5f));
  fill_rolling(hf);
  const double s = 1.5, e = 1e-4;
  for (int j = 0; j < 4; ++j) {
    for (int i = 0; i < 4; ++i) {
      for (const auto& f : {std::pair{0.2, 0.3}, std::pair{0.8, 0.3}, std::pair{0.3, 0.8},
                            std::pair{0.8, 0.7}}) {
        const double x = (i + f.first) * s, z = (j + f.second) * s;
        const double gx =
            static_cast<double>(ground_height_at(hf, x + e, z) - ground_height_at(hf, x - e, z)) / (2 * e);
        const double gz =
            static_cast<double>(ground_height_at(hf, x, z + e) - ground_height_at(hf, x, z - e)) / (2 * e);
        const auto n = ground_face_normal_at(hf, x, z);
        EXPECT_FLOAT_EQ(n[1], static_cast<float>(s * s));
        EXPECT_NEAR(n[0], -gx * s * s, 2e-2) << i << "," << j;
        EXPECT_NEAR(n[2], -gz * s * s, 2e-2) << i << "," << j;
      }
    }
  }
}

TEST(GroundQueries, PointsOutsideReadTheClampedEdge) {
  HeightField hf;
  ASSERT_TRUE(init_height_field(hf, 2, 1.0f));
  fill_rolling(hf);
  const double last = hf.size - 1;
  for (const double z : {0.0, 1.3, 4.5, last}) {
    EXPECT_FLOAT_EQ(ground_height_at(hf, -10.0, z), ground_height_at(hf, 0.0, z));
    EXPECT_FLOAT_EQ(ground_height_at(hf, last + 25.0, z), ground_height_at(hf, last, z));
    EXPECT_FLOAT_EQ(ground_height_at(hf, z, -3.0), ground_height_at(hf, z, 0.0));
    EXPECT_FLOAT_EQ(ground_height_at(hf, z, 1e30), ground_height_at(hf, z, last));
  }
  EXPECT_FLOAT_EQ(ground_height_at(hf, -5, -5), at(hf, 0, 0));
  EXPECT_FLOAT_EQ(ground_height_at(hf, 99, 99), at(hf, hf.size - 1, hf.size - 1));
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_FLOAT_EQ(ground_height_at(hf, nan, nan), at(hf, 0, 0));
  EXPECT_GE(ground_face_normal_at(hf, -1e300, 1e300)[1], 0.0f);

  // Tiles are 2 x 2 cells; outside positions take the edge tiles.
  for (size_t k = 0; k < hf.tile_map.size(); ++k) hf.tile_map[k] = static_cast<uint8_t>(k);
  const struct {
    double x, z;
    int tile;
  } tiles[] = {{0.0, 0.0, 0},     {1.99, 0.0, 0}, {2.0, 0.0, 1},     {7.9, 7.9, 15},
               {-50.0, 3.0, 4},   {3.0, -1.0, 1}, {100.0, 100.0, 15}, {8.0, 0.0, 3},
               {nan, nan, 0},     {5.0, 1e300, 14}};
  for (const auto& t : tiles) {
    EXPECT_EQ(ground_material_at(hf, t.x, t.z), t.tile) << t.x << "," << t.z;
  }

  HeightField empty;
  EXPECT_FLOAT_EQ(ground_height_at(empty, 1, 1), 0.0f);
  EXPECT_EQ(ground_material_at(empty, 1, 1), 0);
}

TEST(SetHeightSample, StoresWidensAndIgnoresWhatItShould) {
  HeightField hf;
  ASSERT_TRUE(init_height_field(hf, 2, 1.0f, 1.0f));
  int notified = 0;
  TerrainRenderSeam seam;
  seam.height_changed = [&](HeightField&, int i, int j) {
    EXPECT_EQ(i, 3);
    EXPECT_EQ(j, 4);
    ++notified;
  };
  set_terrain_render_seam(seam);

  set_height_sample(hf, 3, 4, 9.0f);
  EXPECT_FLOAT_EQ(at(hf, 3, 4), 9.0f);
  EXPECT_FLOAT_EQ(hf.max_height, 9.0f);
  EXPECT_FLOAT_EQ(hf.loaded_heights[static_cast<size_t>(4 * hf.size + 3)], 1.0f);
  set_height_sample(hf, 3, 4, -2.0f);
  EXPECT_FLOAT_EQ(hf.min_height, -2.0f);
  EXPECT_FLOAT_EQ(hf.max_height, 9.0f);
  EXPECT_EQ(notified, 2);

  const std::vector<float> before = hf.heights;
  set_height_sample(hf, -1, 0, 5.0f);
  set_height_sample(hf, 0, hf.size, 5.0f);
  set_height_sample(hf, 1, 1, std::numeric_limits<float>::quiet_NaN());
  set_height_sample(hf, 1, 1, std::numeric_limits<float>::infinity());
  hf.edit_locked = true;
  set_height_sample(hf, 1, 1, 5.0f);
  EXPECT_EQ(hf.heights, before);
  EXPECT_EQ(notified, 2);
  EXPECT_FLOAT_EQ(hf.max_height, 9.0f);
  reset_terrain_render_seam();
}

TEST(DecalBuckets, EveryDecalIsInTheBucketsItOverlaps) {
  HeightField hf;
  ASSERT_TRUE(init_height_field(hf, 4, 1.0f));  // extent 32, buckets of 4
  Decal small;
  small.x = 1;
  small.z = 1;
  small.size = 1;
  Decal wide = small;
  wide.x = 16;
  wide.z = 16;
  wide.size = 2;
  wide.aspect = 4;  // 8 long: reaches x 12..20 at any angle
  hf.decals = {small, wide};
  build_decal_buckets(hf);
  EXPECT_EQ(hf.decal_buckets[0], std::vector<int>{0});
  EXPECT_EQ(hf.decal_buckets[4 * 8 + 3], std::vector<int>{1});
  EXPECT_EQ(hf.decal_buckets[4 * 8 + 4], std::vector<int>{1});
  EXPECT_EQ(hf.decal_buckets[3 * 8 + 4], std::vector<int>{1});
  EXPECT_TRUE(hf.decal_buckets[7 * 8 + 7].empty());
}

}  // namespace
}  // namespace ks
