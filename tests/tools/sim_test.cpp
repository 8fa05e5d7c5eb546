// kessra-sim run as a real process on the generated data: its command line, a race ridden
// by the test controller to the end, reproducible runs, the bench figures, the plot and
// the erosion check.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
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
std::string without_date(std::string text) {
  const size_t at = text.find("|Date=");
  if (at == std::string::npos) return text;
  size_t end = at + 6;
  while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end]))) ++end;
  return text.erase(at + 6, end - at - 6);
}

// The line of `text` that begins with `prefix`, or "".
std::string line_starting(const std::string& text, const std::string& prefix) {
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind(prefix, 0) == 0) return line;
    at = end + 1;
  }
  return {};
}

// The "|"-separated fields of a table row, blanks trimmed.
std::vector<std::string> fields(const std::string& row) {
  std::vector<std::string> out;
  size_t at = 0;
  while (true) {
    const size_t bar = row.find('|', at);
    std::string f = row.substr(at, bar == std::string::npos ? std::string::npos : bar - at);
    const size_t a = f.find_first_not_of(' '), b = f.find_last_not_of(' ');
    out.push_back(a == std::string::npos ? std::string() : f.substr(a, b - a + 1));
    if (bar == std::string::npos) break;
    at = bar + 1;
  }
  return out;
}

// "m:ss.mmm"
bool is_clock(const std::string& t) {
  const size_t colon = t.find(':');
  if (colon == 0 || colon == std::string::npos || t.size() != colon + 7 || t[colon + 3] != '.')
    return false;
  for (size_t i = 0; i < t.size(); ++i)
    if (i != colon && i != colon + 3 && !std::isdigit(static_cast<unsigned char>(t[i])))
      return false;
  return true;
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
  // The rider's row: number, bike, 3 laps, a total time, best lap 2 or 3 and its time.
  const std::vector<std::string> row = fields(line_starting(text, " 999 |"));
  ASSERT_EQ(row.size(), 6u) << text;
  EXPECT_EQ(row[2], "3") << text;
  EXPECT_TRUE(is_clock(row[3])) << text;
  EXPECT_TRUE(row[4] == "2" || row[4] == "3") << text;
  EXPECT_TRUE(is_clock(row[5])) << text;
}

// The "Field:" summary line of a race's output.
struct FieldLine {
  bool read = false;
  int riders = -1, finished = -1, crashes = -1, stuck = -1;
};
FieldLine field_line(const std::string& out) {
  FieldLine f;
  f.read = std::sscanf(line_starting(out, "Field: ").c_str(),
                       "Field: %d riders, %d finished, %d crashes, %d stuck events", &f.riders,
                       &f.finished, &f.crashes, &f.stuck) == 4;
  return f;
}

TEST_F(SimTest, TheFieldIsSummedUpAfterTheResults) {
  const test::RunResult r =
      run({"--track", "rabbithill", "--lineup", "1,2", "--laps", "1", "--max-seconds", "20", "--quiet"});
  if (race_missing(r)) GTEST_SKIP() << "race code not there yet: " << r.err;
  ASSERT_EQ(r.status, 0) << r.err;
  const FieldLine f = field_line(r.out);
  ASSERT_TRUE(f.read) << r.out;
  EXPECT_EQ(f.riders, 2);
  EXPECT_EQ(f.finished, 0);  // a lap takes longer than 20 s
  // 20 s is too short for anyone to stand still 5 s away from the start.
  EXPECT_EQ(f.stuck, 0) << r.out;
  const std::string robot = line_starting(r.out, "Robots ");
  EXPECT_NE(robot.find(": 1, "), std::string::npos) << r.out;
  EXPECT_NE(robot.find("off the line in"), std::string::npos) << r.out;
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
  // The output ends with the two lines, in this form.
  ASSERT_GE(r.out.size(), 2u);
  ASSERT_EQ(r.out.back(), '\n');
  const size_t last = r.out.rfind('\n', r.out.size() - 2);
  const size_t before = last == std::string::npos ? std::string::npos : r.out.rfind('\n', last - 1);
  ASSERT_NE(before, std::string::npos) << r.out;
  const std::string first_line = r.out.substr(before + 1, last - before - 1);
  const std::string second_line = r.out.substr(last + 1, r.out.size() - last - 2);
  double wall = -1, realtime = -1;
  EXPECT_EQ(std::sscanf(first_line.c_str(), "bench: bikes=3 tics=512 wall=%lf realtime=%lf", &wall,
                        &realtime),
            2)
      << r.out;
  EXPECT_GE(wall, 0);
  EXPECT_GE(realtime, 0);
  double p[7] = {-1, -1, -1, -1, -1, -1, -1};
  EXPECT_EQ(std::sscanf(second_line.c_str(),
                        "bench: contacts=%lf%% world_step=%lf%% bike_step=%lf%% autopilot=%lf%% "
                        "timing=%lf%% erosion=%lf%% other=%lf%%",
                        &p[0], &p[1], &p[2], &p[3], &p[4], &p[5], &p[6]),
            7)
      << r.out;
  EXPECT_EQ(second_line.back(), '%') << r.out;
  double sum = 0;
  for (double v : p) {
    EXPECT_GE(v, 0);
    sum += v;
  }
  EXPECT_NEAR(sum, 100, 1.0) << r.out;
}

TEST_F(SimTest, ErosionDigsOnlyWhereTheWheelsRan) {
  const test::RunResult r = run({"--track", "rabbithill", "--lineup", "1", "--erode", "1",
                                 "--max-seconds", "40", "--quiet"});
  if (race_missing(r)) GTEST_SKIP() << "race code not there yet: " << r.err;
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string line = line_starting(r.out, "Erosion (rate 1024/1024): ");
  int changed = -1, dug = -1, raised = -1, far = -1;
  double deepest = 0, highest = 0;
  ASSERT_EQ(std::sscanf(line.c_str(),
                        "Erosion (rate 1024/1024): %d samples changed, %d dug (deepest %lf ft), "
                        "%d raised (highest %lf ft), %d farther than",
                        &changed, &dug, &deepest, &raised, &highest, &far),
            6)
      << r.out;
  EXPECT_EQ(far, 0) << r.out;  // nothing changed away from the wheel tracks
  if (changed == 0) GTEST_SKIP() << "no ruts: erosion is not in yet";
  EXPECT_GT(dug, 0) << r.out;
  EXPECT_GT(deepest, 0) << r.out;
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
  const std::vector<std::string> row = fields(line_starting(r.out, "   1 |  999 |"));
  ASSERT_GE(row.size(), 5u) << r.out;
  EXPECT_EQ(row[3], "1") << r.out;
  EXPECT_TRUE(is_clock(row[4])) << r.out;
  EXPECT_EQ(results().find("|Laps=1|Track=rabbithill|"), 9u) << results();

  r = run({"--play", home_ / "missing.ksdemo"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("can't play the demo"), std::string::npos) << r.err;
}

// Every line of `text` that begins with `prefix`.
std::vector<std::string> lines_starting(const std::string& text, const std::string& prefix) {
  std::vector<std::string> out;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(at, end - at);
    if (line.rfind(prefix, 0) == 0) out.push_back(line);
    at = end + 1;
  }
  return out;
}

// "Crossings of #36 (slot 1): 2512 -1 7311": the rider part, then the tics.
struct CrossingLine {
  std::string rider;
  std::vector<long> tics;
};
CrossingLine crossing_line(const std::string& line) {
  CrossingLine c;
  const size_t colon = line.find(':');
  c.rider = line.substr(0, colon);
  const std::string rest = colon == std::string::npos ? std::string() : line.substr(colon + 1);
  if (rest == " none") return c;
  const char* at = rest.c_str();
  char* end = nullptr;
  for (long v = std::strtol(at, &end, 10); end != at; v = std::strtol(at, &end, 10)) {
    c.tics.push_back(v);
    at = end;
  }
  return c;
}

// Position, number, bike and laps of every row of the results table, in order.
std::vector<std::string> table_rows(const std::string& out) {
  std::vector<std::string> rows;
  for (const std::string& line : lines_starting(out, "")) {
    const std::vector<std::string> f = fields(line);
    if (f.size() < 8 || f[0].empty() || !std::isdigit(static_cast<unsigned char>(f[0][0]))) continue;
    rows.push_back(f[0] + "|" + f[1] + "|" + f[2] + "|" + f[3]);
  }
  return rows;
}

// --events prints each crash and stuck spell as it happens; they add up to the summary.
TEST_F(SimTest, EventsAddUpToTheFieldSummary) {
  if (!test::file_exists(test::data_dir() + "/rabbithill/lines_novice"))
    GTEST_SKIP() << "this build ships no racing lines: the robots would wait at the gate";
  const test::RunResult r = run({"--track", "rabbithill", "--robots", "8", "--laps", "1",
                                 "--max-seconds", "150", "--events", "--quiet"});
  if (race_missing(r)) GTEST_SKIP() << "race code not there yet: " << r.err;
  ASSERT_EQ(r.status, 0) << r.err;
  const FieldLine f = field_line(r.out);
  ASSERT_TRUE(f.read) << r.out;
  int crash_lines = 0, stuck_lines = 0;
  for (const std::string& line : lines_starting(r.out, "Event ")) {
    char what[16] = {};
    char number[8] = {};
    int slot = -1;
    double t = -1, x = 0, z = 0, v = -1;
    ASSERT_EQ(std::sscanf(line.c_str(), "Event %15[a-z]: #%7s (slot %d) at %lf s, x %lf z %lf, %lf ft/s",
                          what, number, &slot, &t, &x, &z, &v),
              7)
        << line;
    EXPECT_GE(slot, 0);
    EXPECT_LT(slot, 8);
    EXPECT_GT(t, 0);
    EXPECT_LE(t, 150.0);
    EXPECT_GE(v, 0);
    if (std::string(what) == "crash") ++crash_lines;
    else if (std::string(what) == "stuck") ++stuck_lines;
    else ADD_FAILURE() << line;
  }
  std::printf("%d crashes, %d stuck events\n", crash_lines, stuck_lines);
  EXPECT_EQ(crash_lines, f.crashes) << r.out;
  EXPECT_EQ(stuck_lines, f.stuck) << r.out;
}

// Robots racing with erosion on, recorded, then replayed: the same riders in the same
// order, the same gates, and the same ruts dug in the same order. A replayed bike is posed
// at the start of a tic where the live bike was tested at its end, so it crosses a tic
// later; its states, 4 tics apart, may put it one tic either side of that.
TEST_F(SimTest, ARecordedRobotRaceWithRutsReplaysTheSameRace) {
  if (!test::file_exists(test::data_dir() + "/rabbithill/lines_novice"))
    GTEST_SKIP() << "this build ships no racing lines: the robots would wait at the gate";
  const std::string demo = home_ / "robots.ksdemo";
  constexpr long kRecordedTics = 45 * 128;
  const test::RunResult rec = run({"--track", "rabbithill", "--robots", "6", "--erode", "1",
                                   "--max-seconds", "45", "--record", demo, "--details", "--quiet"});
  if (race_missing(rec)) GTEST_SKIP() << "race code not there yet: " << rec.err;
  ASSERT_EQ(rec.status, 0) << rec.err;
  ASSERT_TRUE(test::file_exists(demo));
  test::TempDir other;
  const test::RunResult play = run({"--play", demo, "--details", "--quiet"}, other.path());
  ASSERT_EQ(play.status, 0) << play.err;

  const std::vector<std::string> rows = table_rows(rec.out);
  ASSERT_EQ(rows.size(), 6u) << rec.out;
  EXPECT_EQ(table_rows(play.out), rows) << rec.out << "\n" << play.out;

  const std::vector<std::string> recorded = lines_starting(rec.out, "Crossings of #");
  const std::vector<std::string> replayed = lines_starting(play.out, "Crossings of #");
  ASSERT_EQ(recorded.size(), 6u) << rec.out;
  ASSERT_EQ(replayed.size(), recorded.size()) << play.out;
  size_t crossings = 0;
  for (size_t i = 0; i < recorded.size(); ++i) {
    const CrossingLine a = crossing_line(recorded[i]);
    CrossingLine b = crossing_line(replayed[i]);
    // The replay runs on until its riders' histories are 10 s old, and a bike that was
    // just short of a gate when the recording stopped may still roll across it.
    while (!b.tics.empty() && b.tics.back() > kRecordedTics + 2) b.tics.pop_back();
    EXPECT_EQ(b.rider, a.rider);
    ASSERT_EQ(b.tics.size(), a.tics.size()) << recorded[i] << "\n" << replayed[i];
    for (size_t k = 0; k < a.tics.size(); ++k) {
      if (a.tics[k] < 0) {
        EXPECT_EQ(b.tics[k], -1) << recorded[i] << "\n" << replayed[i];  // the same gate skipped
        continue;
      }
      ++crossings;
      EXPECT_GE(b.tics[k] - a.tics[k], 0) << recorded[i] << "\n" << replayed[i];
      EXPECT_LE(b.tics[k] - a.tics[k], 2) << recorded[i] << "\n" << replayed[i];
    }
  }
  EXPECT_GT(crossings, 0u) << "the robots never reached a gate\n" << rec.out;

  const std::string terrain = line_starting(rec.out, "Terrain: ");
  int changed = 0;
  ASSERT_EQ(std::sscanf(terrain.c_str(), "Terrain: %d samples changed", &changed), 1) << rec.out;
  EXPECT_GT(changed, 0) << "no ruts dug";
  EXPECT_EQ(line_starting(play.out, "Terrain: "), terrain);
}

TEST_F(SimTest, ATimeTrialEndsAfterItsFlyingLaps) {
  const test::RunResult r = run({"--track", "rabbithill", "--time-trial", "--laps", "1",
                                 "--max-seconds", "400"});
  if (race_missing(r)) GTEST_SKIP() << "race code not there yet: " << r.err;
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Track: rabbithill, time trial"), std::string::npos) << r.out;
  const std::string laps = line_starting(r.out, "Time trial laps: ");
  const size_t semicolon = laps.find(';');
  ASSERT_NE(semicolon, std::string::npos) << r.out;
  EXPECT_TRUE(is_clock(laps.substr(17, semicolon - 17))) << r.out;  // one flying lap
  EXPECT_EQ(laps.find("; best ", semicolon), semicolon) << r.out;
  EXPECT_NE(r.err.find("time trial lap 1: "), std::string::npos) << r.err;
  // The attempt is kept as the track's fastest lap for the next ghost.
  EXPECT_TRUE(test::file_exists(home_ / "rabbithill/fastlap.ksdemo"));
}

// Tics from the first to the last rider-state chunk of a version 6 demo; -1 when unreadable.
long state_chunk_span(const std::string& demo) {
  int riders = 0;
  if (std::sscanf(demo.c_str(), "KS06 %d", &riders) != 1 || riders < 0) return -1;
  size_t at = 0;
  for (int line = 0; line < 2 + 4 * riders; ++line) {
    at = demo.find('\n', at);
    if (at == std::string::npos) return -1;
    ++at;
  }
  auto get32 = [&](size_t p) {
    uint32_t v = 0;
    for (size_t k = 0; k < 4; ++k) v |= uint32_t{static_cast<uint8_t>(demo[p + k])} << (8 * k);
    return v;
  };
  uint32_t prev = 0;
  long first = -1, last = -1;
  while (at + 9 <= demo.size()) {
    const uint32_t length = get32(at) ^ prev;
    const long tic = static_cast<long>(get32(at + 4));
    if (demo[at + 8] == 1) {
      if (first < 0) first = tic;
      last = tic;
    }
    prev = length;
    at += 9 + length;
  }
  return first < 0 ? -1 : last - first;
}

// Three flying laps: the best lap is one the rider rode (the ghost, replaying the fastest
// lap, must not beat it), and "fastlap.ksdemo" holds that lap from line to line.
TEST_F(SimTest, ATimeTrialKeepsItsFastestLapAsTheGhost) {
  const test::RunResult r = run({"--track", "rabbithill", "--time-trial", "--laps", "3",
                                 "--max-seconds", "900", "--quiet"});
  if (race_missing(r)) GTEST_SKIP() << "race code not there yet: " << r.err;
  ASSERT_EQ(r.status, 0) << r.err;
  // "Time trial laps: 2:22.281 2:08.351 2:24.179; best 2:08.351"
  const std::string line = line_starting(r.out, "Time trial laps: ");
  const size_t semicolon = line.find("; best ");
  ASSERT_NE(semicolon, std::string::npos) << r.out;
  std::vector<std::string> laps;
  for (size_t at = 17; at < semicolon;) {
    size_t end = line.find(' ', at);
    if (end == std::string::npos || end > semicolon) end = semicolon;
    laps.push_back(line.substr(at, end - at));
    at = end + 1;
  }
  ASSERT_EQ(laps.size(), 3u) << r.out;
  for (const std::string& lap : laps) ASSERT_TRUE(is_clock(lap)) << r.out;
  const std::string best = line.substr(semicolon + 7);
  // Equal-width clocks compare as text.
  EXPECT_EQ(best, *std::min_element(laps.begin(), laps.end())) << r.out;

  const long span = state_chunk_span(test::read_file(home_ / "rabbithill/fastlap.ksdemo"));
  ASSERT_GT(span, 0);
  const long ms = span * 1000 / 128;
  char clock[32];
  std::snprintf(clock, sizeof clock, "%ld:%02ld.%03ld", ms / 60000, ms / 1000 % 60, ms % 1000);
  EXPECT_EQ(clock, best) << r.out;
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
