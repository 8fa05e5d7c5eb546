// The message ring, its log lines and its expiry.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "fs/messages.h"
#include "platform/vant.h"
#include "support/test_support.h"

namespace {

double g_now = 0;
double fake_clock() { return g_now; }

class Messages : public ::testing::Test {
 protected:
  void SetUp() override {
    log_path_ = dir_ / "log.txt";
    setenv("VANT_LOGFILE", log_path_.c_str(), 1);
    vant_reset_for_tests();
    g_now = 100;
    ks::set_message_clock(fake_clock);
    ks::message_list().max_shown = 5;
    ks::clear_messages();
  }
  void TearDown() override {
    ks::set_message_clock(nullptr);
    ks::message_list().max_shown = 5;
    ks::clear_messages();
    unsetenv("VANT_LOGFILE");
    vant_reset_for_tests();
  }
  std::string log() const { return ks::test::read_file(log_path_); }

  ks::test::TempDir dir_;
  std::string log_path_;
};

TEST_F(Messages, LogLinesEndOnceAndResetColours) {
  struct Case {
    const char* text;
    const char* logged;  // what follows the record's time stamp
  };
  const Case cases[] = {
      {"plain", "plain\n"},
      {"ends\n", "ends\n"},
      {"\033[31mred", "\033[31mred\033[0m\n"},
      {"\033[1mbold\n", "\033[1mbold\n\033[0m"},
      {"", "\n"},
  };
  vant_log("start\n");  // opens the log, so each post adds exactly one record
  for (const auto& c : cases) {
    const size_t before = log().size();
    ks::post_message(c.text);
    const std::string added = log().substr(before);
    const size_t stamp = added.find("] ");
    ASSERT_NE(stamp, std::string::npos) << added;
    EXPECT_EQ(added.substr(stamp + 2), c.logged) << c.text;
  }
  EXPECT_STREQ(ks::message_line(0), "");
  EXPECT_STREQ(ks::message_line(1), "\033[1mbold\n");
}

TEST_F(Messages, LongTextIsCutInTheRingButLoggedWhole) {
  const std::string text(300, 'a');
  ks::post_message(text.c_str());
  EXPECT_EQ(std::strlen(ks::message_line(0)), static_cast<size_t>(ks::kMessageLineChars));
  EXPECT_NE(log().find(text + "\n"), std::string::npos);

  const std::string longer(2000, 'b');
  ks::post_messagef("%s/%d", longer.c_str(), 7);
  EXPECT_NE(log().find(longer + "/7\n"), std::string::npos);
  EXPECT_EQ(std::string(ks::message_line(0)), std::string(255, 'b'));
  ks::post_messagef("bike info for '%.20s' not found", "nothing");
  EXPECT_STREQ(ks::message_line(0), "bike info for 'nothing' not found");
  ks::post_message(nullptr);
  EXPECT_STREQ(ks::message_line(0), "");
}

TEST_F(Messages, RingWrapsAfterAThousandLines) {
  for (int i = 0; i < 1005; ++i) ks::post_messagef("m%d", i);
  EXPECT_EQ(ks::message_list().next, 5);
  EXPECT_STREQ(ks::message_line(0), "m1004");
  EXPECT_STREQ(ks::message_line(4), "m1000");
  EXPECT_STREQ(ks::message_line(5), "m999");
  EXPECT_STREQ(ks::message_line(999), "m5");
  EXPECT_EQ(ks::message_line(1000), nullptr);
  EXPECT_EQ(ks::message_line(-1), nullptr);
}

TEST_F(Messages, ShownCountIsCappedBySettingAndRing) {
  int shown = 0;
  for (int i = 0; i < 7; ++i) shown = ks::post_message("x");
  EXPECT_EQ(shown, 5);
  ks::clear_messages();
  ks::message_list().max_shown = 5000;
  for (int i = 0; i < 1200; ++i) shown = ks::post_message("x");
  EXPECT_EQ(shown, ks::kMessageRingLines);
  ks::clear_messages();
  EXPECT_EQ(ks::message_list().max_shown, 5000);  // a setting survives the clear
  ks::message_list().max_shown = 0;
  EXPECT_EQ(ks::post_message("x"), 0);
}

TEST_F(Messages, ABurstStaysTwoSecondsThenOneLineGoesEveryFive) {
  ks::post_message("a");
  ks::post_message("b");
  EXPECT_EQ(ks::post_message("c"), 3);
  EXPECT_DOUBLE_EQ(ks::message_list().expire_time, 102);
  struct Step {
    double now;
    int shown;
  };
  const Step steps[] = {
      {101.9, 3}, {102.0, 3},  // not yet later than the expiry time
      {102.5, 2},              // next expiry 107.5
      {107.5, 2}, {107.6, 1},  // next 112.6
      {112.7, 0}, {200, 0},
  };
  for (const auto& s : steps) {
    g_now = s.now;
    ks::expire_messages();
    EXPECT_EQ(ks::message_list().shown, s.shown) << "at " << s.now;
  }
  // A new post restarts the 2 s hold.
  g_now = 300;
  ks::post_message("d");
  ks::post_message("e");
  g_now = 301.5;
  ks::expire_messages();
  EXPECT_EQ(ks::message_list().shown, 2);
  ks::post_message("f");  // expiry now 303.5
  g_now = 303;
  ks::expire_messages();
  EXPECT_EQ(ks::message_list().shown, 3);
  g_now = 303.6;
  ks::expire_messages();
  EXPECT_EQ(ks::message_list().shown, 2);
}

}  // namespace
