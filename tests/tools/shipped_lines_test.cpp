// The racing lines that the build learns and ships beside the generated tracks: they are
// there for every skill, in the lines format, and robots that load them leave the gate
// and get round the track. A build that ships no lines (the sanitizer build) skips.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace ks {
namespace {

struct ShippedCase {
  const char* track;
  const char* skill;
};

class ShippedLinesTest : public ::testing::TestWithParam<ShippedCase> {
 protected:
  void SetUp() override {
    if (!test::file_exists(test::data_dir() + "/zzzz.saf"))
      GTEST_SKIP() << "no generated data tree in " << test::data_dir();
    if (!test::file_exists(lines_path()))
      GTEST_SKIP() << "this build ships no racing lines (" << lines_path() << ")";
  }
  std::string lines_path() const {
    return test::data_dir() + "/" + GetParam().track + "/lines_" + GetParam().skill;
  }
};

// Laps column of every row of the results table.
std::vector<int> laps_of_rows(const std::string& out) {
  std::vector<int> laps;
  for (size_t at = 0; at < out.size();) {
    size_t end = out.find('\n', at);
    if (end == std::string::npos) end = out.size();
    const std::string line = out.substr(at, end - at);
    at = end + 1;
    // "   1 |   36 | rm125          |    1 | ..."
    std::vector<std::string> cells;
    for (size_t c = 0; c <= line.size();) {
      size_t bar = line.find('|', c);
      if (bar == std::string::npos) bar = line.size();
      cells.push_back(line.substr(c, bar - c));
      c = bar + 1;
    }
    if (cells.size() < 4) continue;
    char* tail = nullptr;
    const long pos = std::strtol(cells[0].c_str(), &tail, 10);
    if (tail == cells[0].c_str() || pos <= 0) continue;
    laps.push_back(std::atoi(cells[3].c_str()));
  }
  return laps;
}

TEST_P(ShippedLinesTest, FileHoldsLinesForEveryStretchRecord) {
  const std::string text = test::read_file(lines_path());
  int records = 0;
  ASSERT_EQ(std::sscanf(text.c_str(), "ct03 %d", &records), 1) << lines_path();
  EXPECT_GT(records, 2);
  // Points are written as "[x y z] speed lean": a learned file has many of them.
  size_t points = 0;
  for (size_t at = text.find('['); at != std::string::npos; at = text.find('[', at + 1)) ++points;
  EXPECT_GT(points, size_t(records) * 4);
}

// The race at the two ends of the skill range; the file test covers every skill.
class ShippedLinesRaceTest : public ShippedLinesTest {};

TEST_P(ShippedLinesRaceTest, RobotsLoadThemAndRideALap) {
  // An empty home: the robots can only have the shipped lines from the data folder.
  test::TempDir home, xdg;
  const test::RunResult r = test::run_program(
      test::bin_dir() + "/kessra-sim",
      {"--data", test::data_dir(), "--home", home.path(), "--track", GetParam().track,
       "--robots", "3", "--laps", "1", "--skill", GetParam().skill, "--seed", "5",
       "--max-seconds", "420", "--quiet"},
      {"XDG_DATA_HOME=" + xdg.path(), "KS_HOME=", "VANT_LOGFILE="});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<int> laps = laps_of_rows(r.out);
  ASSERT_EQ(laps.size(), 3u) << r.out;
  int done = 0;
  for (int n : laps) done += n >= 1 ? 1 : 0;
  // Without lines every robot would still stand at the gate.
  EXPECT_GE(done, 1) << r.out;
  // Learning is off: the shipped file is only read, and nothing is written to the home.
  EXPECT_FALSE(test::file_exists(home.path() + "/" + GetParam().track + "/lines_" +
                                 GetParam().skill));
}

std::string case_name(const ::testing::TestParamInfo<ShippedCase>& p) {
  return std::string(p.param.track) + "_" + p.param.skill;
}

INSTANTIATE_TEST_SUITE_P(
    Tracks, ShippedLinesTest,
    ::testing::Values(ShippedCase{"rabbithill", "novice"}, ShippedCase{"rabbithill", "amateur"},
                      ShippedCase{"rabbithill", "expert"}, ShippedCase{"sandridge", "novice"},
                      ShippedCase{"sandridge", "amateur"}, ShippedCase{"sandridge", "expert"}),
    case_name);

INSTANTIATE_TEST_SUITE_P(
    Tracks, ShippedLinesRaceTest,
    ::testing::Values(ShippedCase{"rabbithill", "novice"}, ShippedCase{"rabbithill", "expert"},
                      ShippedCase{"sandridge", "novice"}, ShippedCase{"sandridge", "expert"}),
    case_name);

}  // namespace
}  // namespace ks
