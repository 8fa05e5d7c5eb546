#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <regex>
#include <string>

#include "platform/vant.h"
#include "support/test_support.h"

namespace {

using ks::test::read_file;
using ks::test::TempDir;

class VantEnv : public ::testing::Test {
 protected:
  void SetUp() override { vant_reset_for_tests(); }
  void TearDown() override {
    unsetenv("VANT_OPTIONS");
    unsetenv("VANT_LOGFILE");
    unsetenv("VANT_LOGFILE_FLAGS");
    vant_reset_for_tests();
  }
  void options(const char* text) {
    setenv("VANT_OPTIONS", text, 1);
    vant_reset_for_tests();
  }
};

TEST_F(VantEnv, OptionFlags) {
  struct Case {
    const char* env;
    const char* name;
    int def;
    int want;
  };
  const Case cases[] = {
      {"[threaded:yes]", "threaded", 0, 1},
      {"[threaded:on]", "threaded", 0, 1},
      {"[threaded:no]", "threaded", 1, 0},
      {"[threaded:off]", "threaded", 1, 0},
      {"[threaded:maybe]", "threaded", 0, 0},
      {"[threaded:yes", "threaded", 0, 0},  // no closing bracket
      {"[dsnd:no][threaded:yes]", "dsnd", 1, 0},
      {"", "threaded", 1, 1},
      {"[Threaded:yes]", "threaded", 0, 0},  // names match exactly
  };
  for (const auto& c : cases) {
    options(c.env);
    EXPECT_EQ(vant_option_flag(c.name, c.def), c.want) << c.env;
  }
}

TEST_F(VantEnv, OptionInts) {
  struct Case {
    const char* env;
    const char* name;
    int want;
  };
  const Case cases[] = {
      {"[sound-rate: 11025]", "sound-rate", 11025},
      {"[threaded:yes][sound-mixahead:250]", "sound-mixahead", 250},
      {"[sound-channels:x]", "sound-channels", 16},
      {"[sound-channels:]", "sound-channels", 16},
      {"", "sound-channels", 16},
  };
  for (const auto& c : cases) {
    options(c.env);
    EXPECT_EQ(vant_option_int(c.name, 16), c.want) << c.env;
  }
}

TEST_F(VantEnv, UnrecognizedSettingIsLogged) {
  TempDir dir;
  setenv("VANT_LOGFILE", (dir / "log.txt").c_str(), 1);
  options("[threaded:maybe]");
  EXPECT_EQ(vant_option_flag("threaded", 0), 0);
  vant_log(nullptr);
  EXPECT_NE(read_file(dir / "log.txt").find("unrecognized setting for threaded\n"),
            std::string::npos);
}

TEST_F(VantEnv, LogNamedByFirstMessageWithPrefixedRecords) {
  TempDir dir;
  const std::string path = dir / "lastlog.txt";
  vant_log("VANT_LOGFILE=%s", path.c_str());
  vant_log("Kessra version %s\n", "test");
  vant_log("two\n");
  vant_log(nullptr);
  const std::string text = read_file(path);
  const std::regex want(
      "\\[0:00:\\d\\d\\.\\d\\d\\] Logfile \"" + path + "\" opened\n"
      "\\[0:00:\\d\\d\\.\\d\\d\\] VANT 0\\.31\n"
      "\\[0:00:\\d\\d\\.\\d\\d\\] Kessra version test\n"
      "\\[0:00:\\d\\d\\.\\d\\d\\] two\n");
  EXPECT_TRUE(std::regex_match(text, want)) << text;
  EXPECT_EQ(text.find("VANT_LOGFILE="), std::string::npos);
}

TEST_F(VantEnv, EnvironmentNameWinsAndAppendPrefix) {
  TempDir dir;
  const std::string env_path = dir / "env.txt";
  ks::test::write_file(env_path, "old\n");
  setenv("VANT_LOGFILE", (">>" + env_path).c_str(), 1);
  vant_log("VANT_LOGFILE=%s", (dir / "other.txt").c_str());
  vant_log("hello\n");
  vant_log(nullptr);
  const std::string text = read_file(env_path);
  EXPECT_EQ(text.rfind("old\n", 0), 0u) << "appended, not truncated";
  EXPECT_NE(text.find("hello\n"), std::string::npos);
  EXPECT_FALSE(ks::test::file_exists(dir / "other.txt"));
}

TEST_F(VantEnv, ErrorKeepsLastMessage) {
  vant_error("Can't create window!");
  EXPECT_STREQ(vant_last_error(), "Can't create window!");
}

TEST(VantClock, NeverRunsBackwardsAndIsMilliseconds) {
  VantTime prev = vant_time();
  for (int i = 0; i < 2000; ++i) {
    const VantTime t = vant_time();
    EXPECT_EQ(t.usec % 1000, 0);
    EXPECT_TRUE(t.sec > prev.sec || (t.sec == prev.sec && t.usec >= prev.usec));
    prev = t;
  }
}

TEST(VantClock, SleepReturnsNoEarlierThanAsked) {
  using clock = std::chrono::steady_clock;
  for (long usec : {0L, 500L, 1500L, 3000L}) {
    const auto start = clock::now();
    vant_sleep(0, usec);
    const auto waited = std::chrono::duration_cast<std::chrono::microseconds>(clock::now() - start);
    EXPECT_GE(waited.count(), usec) << usec;
  }
}

}  // namespace
