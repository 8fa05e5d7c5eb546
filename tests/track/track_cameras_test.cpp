// Cameras: the gate table, fov and auto-fov per camera, and the writer.
#include <gtest/gtest.h>

#include <string>

#include "support/test_support.h"
#include "track/cameras.h"
#include "track_test_util.h"

namespace ks {
namespace {

Cameras parse(const std::string& text, const GroundHeight& ground = {}) {
  Cameras c;
  test::parse_text(text, [&](VfsFile* f) { read_cameras(f, c, ground); });
  return c;
}

TEST(Cameras, GateLineSelectsTheNextCamera) {
  Cameras c = parse("gate 4 7\naddcamera 10 5 20\ngate 9\naddcamera 1 1 1\n");
  ASSERT_EQ(c.list.size(), 2u);
  EXPECT_EQ(camera_for_checkpoint(c, 4), 0);
  EXPECT_EQ(camera_for_checkpoint(c, 7), 0);
  EXPECT_EQ(camera_for_checkpoint(c, 9), 1);
  EXPECT_EQ(camera_for_checkpoint(c, 5), -1);
}

TEST(Cameras, GateTableEdges) {
  struct Case {
    const char* text;
    int checkpoint, camera;
  };
  const Case cases[] = {
      {"gate 3 256 5\naddcamera 0 0 0\n", 3, 0},
      {"gate 3 256 5\naddcamera 0 0 0\n", 5, -1},  // reading stopped at 256
      {"gate 3 -1 5\naddcamera 0 0 0\n", 5, -1},
      {"gate 2 x 5\naddcamera 0 0 0\n", 5, -1},
      {"gate 255\naddcamera 0 0 0\n", 255, 0},
      {"addcamera 0 0 0\ngate 6\n", 6, -1},  // no camera came after the gate line
      {"gates 6\naddcamera 0 0 0\n", 6, -1},
      {"gate 1\naddcamera 0 0 0\n", -1, -1},
      {"gate 1\naddcamera 0 0 0\n", 256, -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(camera_for_checkpoint(parse(c.text), c.checkpoint), c.camera)
        << c.text << " checkpoint " << c.checkpoint;
  }
}

TEST(Cameras, FovAppliesToOneCameraAndHeightsFollowTheGround) {
  GroundHeight ground = [](float x, float z) { return x + z; };
  Cameras c = parse("fov -60\nautofovsize -12\naddcamera 1 5 2\naddcamera 3 0 4\nnonsense\n"
                    "addcamera 1 2\n",
                    ground);
  ASSERT_EQ(c.list.size(), 2u);
  EXPECT_FLOAT_EQ(c.list[0].fov, 60);
  EXPECT_FLOAT_EQ(c.list[0].auto_fov_size, 12);
  EXPECT_EQ(c.list[0].position, (std::array<float, 3>{1, 8, 2}));
  EXPECT_FLOAT_EQ(c.list[0].height, 5);
  EXPECT_FLOAT_EQ(c.list[1].fov, 90);
  EXPECT_FLOAT_EQ(c.list[1].auto_fov_size, 0);
  EXPECT_EQ(c.list[1].yaw, 0);
}

TEST(Cameras, WriterRoundTrip) {
  Cameras c = parse("gate 4 7\nfov 45\naddcamera 10 5 20\ngate 9\naddcamera 1 1 1\ngate 11\n");
  test::TempDir dir;
  const std::string path = dir / "cameras";
  ASSERT_TRUE(write_cameras_file(path.c_str(), c));
  Cameras back = parse(test::read_file(path));
  ASSERT_EQ(back.list.size(), 2u);
  EXPECT_FLOAT_EQ(back.list[0].fov, 45);
  EXPECT_EQ(back.list[0].position, c.list[0].position);
  EXPECT_EQ(back.gate_camera, c.gate_camera);
}

}  // namespace
}  // namespace ks
