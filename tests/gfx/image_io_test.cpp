// PPM / PGM reading, the mip-chain builder, and PNG reading and writing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fs/vfs.h"
#include "gfx/image_io.h"
#include "support/test_support.h"

namespace ks {
namespace {

using namespace std::string_literals;

bool read_from(const std::string& bytes, PixelImage& img, bool pgm) {
  VfsFile* f = vfs_open_memory(bytes.data(), bytes.size());
  const bool ok = pgm ? read_pgm(f, img) : read_ppm(f, img);
  vfs_close(f);
  return ok;
}

TEST(ReadPpm, RawAndTextWithCommentsAndScaling) {
  PixelImage img;
  ASSERT_TRUE(read_from("P6\n# made by hand\n2\n# again\n1 255\n\x01\x02\x03\xfa\xfb\xfc", img,
                        false));
  EXPECT_EQ(img.width, 2);
  EXPECT_EQ(img.height, 1);
  EXPECT_EQ(img.depth, 3);
  ASSERT_EQ(img.pixels.size(), mip_chain_bytes(2, 1, 3));
  EXPECT_EQ(img.pixels[3], 0xfa);
  EXPECT_EQ(img.pixels[6], (1 + 0xfa) / 2);  // the 1 x 1 level averages the pair

  ASSERT_TRUE(read_from("P6 1 1 15 \x0f\x05\x00"s, img, false));
  EXPECT_EQ(img.pixels[0], 255);
  EXPECT_EQ(img.pixels[1], 5 * 255 / 15);

  ASSERT_TRUE(read_from("P3\n2 1\n# c\n100\n100 50 0\n# c\n25 75", img, false));
  EXPECT_EQ(img.pixels[0], 255);
  EXPECT_EQ(img.pixels[1], 127);
  EXPECT_EQ(img.pixels[3], 63);
  EXPECT_EQ(img.pixels[5], 0);  // missing sample counts as -1, held at 0
}

TEST(ReadPpm, BadHeadersAndShortData) {
  const struct {
    std::string bytes;
    bool pgm;
    const char* error;
  } cases[] = {
      {"", false, "Can't parse PPM header"},
      {"P5\n1 1 255\nx", false, "Can't parse PPM header"},
      {"P6\n-1 1 255\n", false, "Can't get PPM dimensions"},
      {"P6\n2\n", false, "Can't get PPM dimensions"},
      {"P6\n0 1 255\n", false, "Can't get PPM dimensions"},
      {"P6\n1 1 0\nxxxx", false, "Can't get PPM dimensions"},
      {"P6\n100000 100000 255\n", false, "Can't get PPM dimensions"},
      {"P6\n4000 4000 255\n ab", false, "Unexpected end of image data"},
      {"P6\n2 2 255\n abc", false, "Unexpected end of image data"},
      {"P6x\n1 1 255\n", false, "Can't parse PPM header"},
      {"P6\n1 1 255\n", true, "Can't parse PGM header"},
      {"P5\nx 1 255\n", true, "Can't get PGM dimensions"},
      {"P5\n3 3 255\nab", true, "Unexpected end of image data"},
  };
  for (const auto& c : cases) {
    PixelImage img;
    EXPECT_FALSE(read_from(c.bytes, img, c.pgm)) << c.bytes;
    EXPECT_STREQ(image_last_error(), c.error) << c.bytes;
    EXPECT_TRUE(img.pixels.empty());
  }
}

TEST(ReadPgm, RawAndText) {
  PixelImage img;
  ASSERT_TRUE(read_from("P5\n2 2\n255\n\x00\x10\x20\xff"s, img, true));
  EXPECT_EQ(img.depth, 1);
  EXPECT_EQ(img.pixels, (std::vector<uint8_t>{0, 0x10, 0x20, 0xff}));
  ASSERT_TRUE(read_from("P2 3 1 10 10 5 0", img, true));
  EXPECT_EQ(img.pixels, (std::vector<uint8_t>{255, 127, 0}));
}

TEST(MipChain, AlphaWeightedBoxesAndPairs) {
  EXPECT_EQ(mip_chain_bytes(4, 2, 1), 8u + 2u + 1u);
  EXPECT_EQ(mip_chain_bytes(1, 1, 4), 4u);
  EXPECT_EQ(mip_chain_bytes(0, 4, 3), 0u);
  // 2 x 2 RGBA: one opaque red, one half-transparent blue, two transparent whites.
  std::vector<uint8_t> px = {255, 0, 0, 255, 0, 0, 255, 128, 255, 255, 255, 0, 255, 255, 255, 0};
  px.resize(mip_chain_bytes(2, 2, 4));
  auto avg = px;
  build_mip_chain(avg.data(), 2, 2, 4, MipAlphaMode::kAverage);
  EXPECT_EQ(avg[16], 255 * 255 / 383);
  EXPECT_EQ(avg[17], 0);
  EXPECT_EQ(avg[18], 255 * 128 / 383);
  EXPECT_EQ(avg[19], 383 / 4);
  auto mx = px;
  build_mip_chain(mx.data(), 2, 2, 4, MipAlphaMode::kMaximum);
  EXPECT_EQ(mx[19], 255);
  // All transparent: the plain average.
  std::vector<uint8_t> clear = {8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  clear.resize(20);
  build_mip_chain(clear.data(), 2, 2, 4, MipAlphaMode::kAverage);
  EXPECT_EQ(clear[16], 2);
  // 4 x 1 grey: pairs.
  std::vector<uint8_t> row = {10, 20, 30, 41, 0, 0, 0};
  build_mip_chain(row.data(), 4, 1, 1, MipAlphaMode::kAverage);
  EXPECT_EQ(row, (std::vector<uint8_t>{10, 20, 30, 41, 15, 35, 25}));
}

TEST(Png, Gray16RoundTripAndRgbIsBottomUp) {
  test::TempDir dir;
  const std::string name = dir / "h.png";
  std::vector<uint16_t> px(7 * 3);
  for (size_t k = 0; k < px.size(); ++k) px[k] = static_cast<uint16_t>(k * 3121 + 7);
  ASSERT_TRUE(write_png_gray16(name.c_str(), px.data(), 7, 3));
  std::vector<uint16_t> back;
  int w = 0, h = 0;
  ASSERT_EQ(read_png_gray16(name.c_str(), back, w, h), 1);
  EXPECT_EQ(w, 7);
  EXPECT_EQ(h, 3);
  EXPECT_EQ(back, px);

  // Grey RGB rows come back as 8-bit grey widened by 257, upside down.
  const uint8_t rgb[] = {10, 10, 10, 200, 200, 200};  // 1 x 2: top 10, bottom 200
  const std::string name8 = dir / "s.png";
  ASSERT_TRUE(write_png_rgb(name8.c_str(), rgb, 1, 2));
  ASSERT_EQ(read_png_gray16(name8.c_str(), back, w, h), 1);
  EXPECT_EQ(back, (std::vector<uint16_t>{200 * 257, 10 * 257}));
}

TEST(Png, BadFilesFailCleanly) {
  test::TempDir dir;
  std::vector<uint16_t> px(64 * 64, 1234);
  const std::string good = dir / "g.png";
  ASSERT_TRUE(write_png_gray16(good.c_str(), px.data(), 64, 64));
  const std::string bytes = test::read_file(good);
  std::vector<uint16_t> back;
  int w = 5, h = 5;
  for (const size_t keep : {size_t{0}, size_t{8}, size_t{40}, bytes.size() / 2, bytes.size() - 13}) {
    test::write_file(dir / "t.png", bytes.substr(0, keep));
    EXPECT_EQ(read_png_gray16((dir / "t.png").c_str(), back, w, h), 0) << keep;
    EXPECT_TRUE(back.empty());
    EXPECT_EQ(w, 0);
  }
  EXPECT_EQ(read_png_gray16((dir / "none.png").c_str(), back, w, h), 0);
  EXPECT_FALSE(write_png_gray16((dir / "x.png").c_str(), px.data(), 0, 4));
  test::write_file(dir / "file", "x");
  EXPECT_FALSE(write_png_gray16((dir / "file/sub.png").c_str(), px.data(), 4, 4));
}

TEST(Pnm, WritersReadBack) {
  test::TempDir dir;
  const uint8_t rgb[] = {1, 2, 3, 4, 5, 6};
  ASSERT_TRUE(write_ppm((dir / "a.ppm").c_str(), rgb, 2, 1));
  EXPECT_EQ(test::read_file(dir / "a.ppm"), std::string("P6\n2 1\n255\n\x01\x02\x03\x04\x05\x06"));
  ASSERT_TRUE(write_pgm((dir / "a.pgm").c_str(), rgb, 3, 2));
  PixelImage img;
  ASSERT_TRUE(read_from(test::read_file(dir / "a.pgm"), img, true));
  EXPECT_EQ(img.pixels, std::vector<uint8_t>(rgb, rgb + 6));
}

}  // namespace
}  // namespace ks
