// The game program's command line and start-up, run as a real process without a display.
// With game data present, start-up runs up to the window, which cannot open here: status 1.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <vector>

#include "support/test_support.h"

namespace ks {
namespace {

class KessraCli : public ::testing::Test {
 protected:
  void SetUp() override {
    test::write_file(data_ / "zzzz.saf", "-\n");
    test::write_file(stub_ / "xdg-open",
                     "#!/bin/sh\necho \"$1\" > '" + (stub_ / "opened") + "'\n");
    chmod((stub_ / "xdg-open").c_str(), 0755);
  }

  test::RunResult run(const std::vector<std::string>& args, bool with_data = true) {
    return test::run_program(test::bin_dir() + "/kessra", args,
                             {"XDG_DATA_HOME=" + xdg_.path(),
                              "KS_HOME=" + (with_data ? data_.path() : empty_.path()),
                              "DISPLAY=", "WAYLAND_DISPLAY=", "VANT_LOGFILE=",
                              "PATH=" + stub_.path()});
  }
  std::string home() const { return xdg_ / "Kessra"; }
  std::string log() const { return test::read_file(home() + "/lastlog.txt"); }

  test::TempDir xdg_;
  test::TempDir data_;
  test::TempDir empty_;
  test::TempDir stub_;
};

struct CliCase {
  std::vector<std::string> args;
  int status;
  const char* err;
};

TEST_F(KessraCli, CommandLineErrorsAndStartUpUpToTheWindow) {
  const CliCase cases[] = {
      {{"--texture-detail", "x"}, 1, "Bad arg for --texture-detail\n"},
      {{"--erode=much"}, 1, "Bad arg for --erode\n"},
      {{"--chase-center", "1,2"}, 1, "Bad arg for --chase-center\n"},
      {{"--fugly=1"}, 1, "bad option '--fugly=1'\n"},
      {{"one.ksdemo", "two.ksdemo"}, 1, "Too many files!\n"},
      {{"--", "-x", "-y"}, 1, "Too many files!\n"},
      {{"--track"}, 1, "Bad arg for --track\n"},
      {{"--bikes", "4", "-q"}, 1, "--bikes doesn't do anything anymore\nbad option '-q'\n"},
      // Accepted command lines go on to the window, which cannot open without a display.
      {{"--texture-detail=7"}, 1, ""},
      {{"--", "-x"}, 1, ""},
      {{"--connect", "kessra:race.example", "--track", "dunes"}, 1, ""},
  };
  for (const CliCase& c : cases) {
    std::string shown;
    for (const std::string& a : c.args) shown += a + " ";
    const test::RunResult r = run(c.args);
    EXPECT_EQ(r.status, c.status) << shown;
    EXPECT_EQ(r.err, c.err) << shown;
    EXPECT_EQ(r.out, "") << shown;
    EXPECT_NE(log().find("Kessra version "), std::string::npos) << shown;
    // Nothing but the log is written before the window: no config.
    EXPECT_FALSE(test::file_exists(home() + "/config")) << shown;
  }
}

TEST_F(KessraCli, NoGameDataEndsWithStatusZeroAfterOpeningTheLog) {
  const test::RunResult r = run({"--fugly=1"}, false);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "Problem starting Kessra: Can't find game data\n");
  EXPECT_TRUE(test::file_exists(home() + "/lastlog.txt"));
  EXPECT_EQ(log().find("Kessra version"), std::string::npos);
}

TEST_F(KessraCli, ConfigIsNotRewrittenWhenStartUpEndsEarly) {
  test::write_file(home() + "/config", "fov=500\nskill=Expert\n");
  const test::RunResult r = run({"--nommx", "--debug"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(test::read_file(home() + "/config"), "fov=500\nskill=Expert\n");  // not rewritten
}

TEST_F(KessraCli, HelpAndVersionNeedNoData) {
  test::RunResult r = run({"--help"}, false);
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("--texture-detail"), std::string::npos);
  EXPECT_NE(r.out.find("--connect"), std::string::npos);
  EXPECT_EQ(r.err, "");
  r = run({"--version"}, false);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.rfind("Kessra ", 0), 0u);
  EXPECT_NE(r.out.find(" snapshot\n"), std::string::npos);
  EXPECT_FALSE(test::file_exists(home()));  // nothing created
  // After "--" or as an option's value it is no request for help.
  r = run({"--track", "--help"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
}

TEST_F(KessraCli, OpenHomeAloneExitsBeforeTheLog) {
  const test::RunResult r = run({"--open-home"});
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(test::file_exists(home()));
  EXPECT_FALSE(test::file_exists(home() + "/lastlog.txt"));
}

TEST_F(KessraCli, OpenHomeAfterOtherOptionsComesAfterTheConfig) {
  const test::RunResult r = run({"--debug", "--open-home"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_NE(log().find("Kessra version "), std::string::npos);
}

}  // namespace
}  // namespace ks
