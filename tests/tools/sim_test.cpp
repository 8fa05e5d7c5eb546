// kessra-sim run as a real process on the generated data: its command line, a race ridden
// by the test controller to the end, reproducible runs, the bench figures, the plot and
// the erosion check.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace ks {
namespace {

class SimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::file_exists(test::data_dir() + "/zzzz.saf"))
      GTEST_SKIP() << "no generated data tree in " << test::data_dir();
  }

  test::RunResult run(std::vector<std::string> args, const std::string& home = "") {
    args.insert(args.begin(), {"--data", test::data_dir(), "--home", home.empty() ? home_.path() : home});
    return test::run_program(test::bin_dir() + "/kessra-sim", args,
                             {"XDG_DATA_HOME=" + xdg_.path(), "KS_HOME=", "VANT_LOGFILE="});
  }
  // A race that could not be reset means the race code is still a stand-in.
  static bool race_missing(const test::RunResult& r) {
    return r.status == 1 && r.err.find("could not be reset") != std::string::npos;
  }
  std::string results() const { return test::read_file(home_ / "results.txt"); }

  test::TempDir home_;
  test::TempDir xdg_;
};

// results.txt without its Date field, which is the wall clock.
std::string without_date(const std::string& text) {
  return std::regex_replace(text, std::regex("\\|Date=[0-9]+"), "|Date=");
}

TEST_F(SimTest, BadCommandLinesEndWithStatusOneAndSayWhy) {
  struct Case {
    std::vector<std::string> args;
    const char* err;
  };
  const Case cases[] = {
      {{"--fugly"}, "unknown option '--fugly'"},
      {{"--laps", "x"}, "bad value for --laps: 'x'"},
      {{"--laps", "0"}, "bad value for --laps: '0'"},
      {{"--laps"}, "--laps needs a value"},
      {{"--robots", "161"}, "bad value for --robots: '161'"},
      {{"--robots=3x"}, "bad value for --robots: '3x'"},
      {{"--skill", "pro"}, "bad value for --skill: 'pro'"},
      {{"--lineup", "1,,2"}, "bad value for --lineup: '1,,2'"},
      {{"--lineup", "1,5"}, "bad value for --lineup: '1,5'"},  // server lineups only
      {{"--erode", "101"}, "bad value for --erode: '101'"},
      {{"--max-seconds", "nan"}, "bad value for --max-seconds: 'nan'"},
      {{"--quiet=1"}, "--quiet takes no value"},
      {{"--time-trial", "--robots", "2"}, "--time-trial rides alone"},
      {{"--track", "nowhere"}, "no track 'nowhere' (tracks: "},
  };
  for (const Case& c : cases) {
    std::string shown;
    for (const std::string& a : c.args) shown += a + " ";
    const test::RunResult r = run(c.args);
    EXPECT_EQ(r.status, 1) << shown;
    EXPECT_NE(r.err.find(c.err), std::string::npos) << shown << "\n" << r.err;
    EXPECT_EQ(r.out, "") << shown;
    EXPECT_FALSE(test::file_exists(home_ / "results.txt")) << shown;
  }
}

TEST_F(SimTest, HelpListsTheOptionsAndMissingDataFails) {
  test::RunResult r = run({"--help"});
  EXPECT_EQ(r.status, 0);
  for (const char* option : {"--track", "--robots", "--lineup", "--seed", "--max-seconds",
                             "--bench", "--plot", "--time-trial", "--record", "--play"})
    EXPECT_NE(r.out.find(option), std::string::npos) << option;

  test::TempDir empty;
  r = test::run_program(test::bin_dir() + "/kessra-sim",
                        {"--data", empty.path(), "--home", home_.path(), "--track", "rabbithill"},
                        {"XDG_DATA_HOME=" + xdg_.path(), "KS_HOME=", "VANT_LOGFILE="});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("can't find game data"), std::string::npos) << r.err;
}

TEST_F(SimTest, TheControllerRidesThreeLapsToTheFinish) {
  const test::RunResult r =
      run({"--track", "rabbithill", "--lineup", "1", "--laps", "3", "--max-seconds", "1200"});
  if (race_missing(r)) GTEST_SKIP() << "race code not there yet: " << r.err;
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Final results"), std::string::npos) << r.out;
  // A progress line per lap of the leader.
  for (const char* lap : {"lap 1: leader #999", "lap 2: leader #999", "lap 3: leader #999"})
    EXPECT_NE(r.err.find(lap), std::string::npos) << r.err;

  const std::string text = results();
  ASSERT_NE(text, "");
  EXPECT_EQ(text.rfind("Time=0.00|Laps=3|Track=rabbithill|Date=", 0), 0u) << text;
  // The rider's row: number, bike, 3 laps, a total time, best lap 2 or 3.
  EXPECT_TRUE(std::regex_search(
      text, std::regex(" 999 \\| +[^|]+ \\|    3 \\| +[0-9]+:[0-9]{2}\\.[0-9]{3} \\|    [23] \\|")))
      << text;
}

TEST_F(SimTest, TheSameSeedGivesTheSameRaceByteForByte) {
  const std::vector<std::string> args = {"--track", "sandridge", "--lineup", "1,2,0,2",
                                         "--laps", "1", "--max-seconds", "60", "--seed", "4242",
                                         "--quiet"};
  test::TempDir other;
  std::vector<std::string> first = args, second = args;
  first.insert(first.end(), {"--plot", home_ / "paths.png"});
  second.insert(second.end(), {"--plot", other / "paths.png"});
  const test::RunResult a = run(first);
  if (race_missing(a)) GTEST_SKIP() << "race code not there yet: " << a.err;
  ASSERT_EQ(a.status, 0) << a.err;
  const test::RunResult b = run(second, other.path());
  ASSERT_EQ(b.status, 0) << b.err;
  EXPECT_EQ(a.out, b.out);
  EXPECT_EQ(a.err, b.err);
  EXPECT_EQ(without_date(results()), without_date(test::read_file(other / "results.txt")));
  // The plot holds every path: the same picture means the same riding.
  const std::string png = test::read_file(home_ / "paths.png");
  EXPECT_EQ(png.substr(0, 4), "\x89PNG");
  EXPECT_TRUE(png == test::read_file(other / "paths.png"));

  // Another seed: another start tic and robot order, so other paths.
  std::vector<std::string> third = args;
  third[9] = "4243";
  third.insert(third.end(), {"--plot", other / "paths.png"});
  ASSERT_EQ(run(third, other.path()).status, 0);
  EXPECT_FALSE(png == test::read_file(other / "paths.png"));
}

TEST_F(SimTest, BenchEndsWithItsTwoLines) {
  const test::RunResult r =
      run({"--track", "rabbithill", "--lineup", "1", "--robots", "3", "--max-seconds", "4",
           "--bench", "--quiet"});
  if (race_missing(r)) GTEST_SKIP() << "race code not there yet: " << r.err;
  ASSERT_EQ(r.status, 0) << r.err;
  const std::regex tail(
      "bench: bikes=3 tics=512 wall=[0-9.]+ realtime=[0-9.]+\n"
      "bench: contacts=[0-9.]+% world_step=[0-9.]+% bike_step=[0-9.]+% autopilot=[0-9.]+% "
      "timing=[0-9.]+% erosion=[0-9.]+% other=[0-9.]+%\n$");
  EXPECT_TRUE(std::regex_search(r.out, tail)) << r.out;
}

TEST_F(SimTest, ErosionDigsOnlyWhereTheWheelsRan) {
  const test::RunResult r = run({"--track", "rabbithill", "--lineup", "1", "--erode", "1",
                                 "--max-seconds", "40", "--quiet"});
  if (race_missing(r)) GTEST_SKIP() << "race code not there yet: " << r.err;
  ASSERT_EQ(r.status, 0) << r.err;
  std::smatch m;
  ASSERT_TRUE(std::regex_search(
      r.out, m,
      std::regex("Erosion \\(rate 1024/1024\\): ([0-9]+) samples changed, ([0-9]+) dug .* "
                 "([0-9]+) farther than")))
      << r.out;
  EXPECT_EQ(m[3].str(), "0") << r.out;  // nothing changed away from the wheel tracks
  if (m[1].str() == "0") GTEST_SKIP() << "no ruts: erosion is not in yet";
  EXPECT_NE(m[2].str(), "0");
}

TEST_F(SimTest, MaxSecondsStopsAnUnfinishedRaceWithUnofficialResults) {
  const test::RunResult r =
      run({"--track", "rabbithill", "--lineup", "1", "--max-seconds", "20", "--quiet"});
  if (race_missing(r)) GTEST_SKIP() << "race code not there yet: " << r.err;
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.find("Erosion"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Unofficial results: stopped after 20.0 simulated seconds"),
            std::string::npos)
      << r.out;
}

TEST_F(SimTest, ARecordedRaceReplaysToItsResults) {
  const std::string demo = home_ / "one-lap.ksdemo";
  test::RunResult r = run({"--track", "rabbithill", "--lineup", "1", "--laps", "1",
                           "--max-seconds", "240", "--record", demo, "--quiet"});
  if (race_missing(r)) GTEST_SKIP() << "race code not there yet: " << r.err;
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_TRUE(test::file_exists(demo));
  ASSERT_NE(r.out.find("Final results"), std::string::npos) << r.out;

  r = run({"--play", demo, "--quiet"});
  ASSERT_EQ(r.status, 0) << r.err;
  // The replayed rider finishes his lap again, on the recorded track.
  EXPECT_NE(r.out.find("Track: rabbithill, 1 laps"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Final results"), std::string::npos) << r.out;
  EXPECT_TRUE(std::regex_search(r.out, std::regex("   1 \\|  999 \\| [^|]+\\|    1 \\| +[0-9]+:[0-9]{2}\\.[0-9]{3} \\|")))
      << r.out;
  EXPECT_EQ(results().find("|Laps=1|Track=rabbithill|"), 9u) << results();

  r = run({"--play", home_ / "missing.ksdemo"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("can't play the demo"), std::string::npos) << r.err;
}

TEST_F(SimTest, ATimeTrialEndsAfterItsFlyingLaps) {
  const test::RunResult r = run({"--track", "rabbithill", "--time-trial", "--laps", "1",
                                 "--max-seconds", "400"});
  if (race_missing(r)) GTEST_SKIP() << "race code not there yet: " << r.err;
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Track: rabbithill, time trial"), std::string::npos) << r.out;
  EXPECT_TRUE(std::regex_search(r.out, std::regex("Time trial laps: [0-9]+:[0-9]{2}\\.[0-9]{3}; best ")))
      << r.out;
  EXPECT_NE(r.err.find("time trial lap 1: "), std::string::npos) << r.err;
  // The attempt is kept as the track's fastest lap for the next ghost.
  EXPECT_TRUE(test::file_exists(home_ / "rabbithill/fastlap.ksdemo"));
}

TEST_F(SimTest, LearningSavesTheLinesOfTheSkill) {
  const test::RunResult r = run({"--track", "rabbithill", "--lineup", "1", "--laps", "1",
                                 "--skill", "amateur", "--learn", "--max-seconds", "240",
                                 "--quiet"});
  if (race_missing(r)) GTEST_SKIP() << "race code not there yet: " << r.err;
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(test::file_exists(home_ / "rabbithill/lines_amateur"));
  EXPECT_FALSE(test::file_exists(home_ / "rabbithill/lines_novice"));
}

}  // namespace
}  // namespace ks
