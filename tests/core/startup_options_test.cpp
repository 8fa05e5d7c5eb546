#include "core/startup_options.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "core/config.h"
#include "core/detail_settings.h"

namespace ks {
namespace {

struct Parsed {
  Settings s;
  DetailSettings d;
  StartupOptions o;
  CommandLineResult r;
};

Parsed parse(const std::vector<std::string>& args) {
  Parsed p;
  reset_settings(p.s);
  p.o.no_mmx = true;  // as on a processor without MMX: --nommx logs nothing
  std::vector<const char*> argv = {"kessra"};
  for (const std::string& a : args) argv.push_back(a.c_str());
  p.r = parse_command_line(static_cast<int>(argv.size()), argv.data(), p.s, p.d, p.o);
  return p;
}

std::string join(const std::vector<std::string>& args) {
  std::string t;
  for (const std::string& a : args) t += "[" + a + "]";
  return t;
}

// ---- the matcher -----------------------------------------------------------------------

TEST(OptionMatcher, Rules) {
  const char* args[] = {"--width", "800", "--width=640", "--width", "--", "--fugly"};
  ArgCursor c{6, args, false};
  EXPECT_FALSE(match_option(c, "--height", true).matched);
  EXPECT_EQ(c.count, 6);
  OptionMatch m = match_option(c, "--width", true);
  EXPECT_TRUE(m.matched);
  EXPECT_STREQ(m.value, "800");
  EXPECT_EQ(c.count, 4);
  m = match_option(c, "--width", true);
  EXPECT_STREQ(m.value, "640");
  EXPECT_EQ(c.count, 3);
  // The value of "--width" here is the next argument even though it is "--".
  m = match_option(c, "--width", true);
  EXPECT_STREQ(m.value, "--");
  EXPECT_EQ(c.count, 1);
  EXPECT_FALSE(match_option(c, "--fugly=", false).matched);
  EXPECT_TRUE(match_option(c, "--fugly", false).matched);
  EXPECT_EQ(c.count, 0);
  EXPECT_FALSE(match_option(c, "--fugly", false).matched);  // nothing left
}

TEST(OptionMatcher, DoubleDashEndsOptions) {
  const char* args[] = {"--", "--fugly"};
  ArgCursor c{2, args, false};
  EXPECT_FALSE(match_option(c, "--fugly", false).matched);  // only value options see "--"
  EXPECT_EQ(c.count, 2);
  EXPECT_FALSE(match_option(c, "--track", true).matched);
  EXPECT_TRUE(c.end_of_options);
  EXPECT_EQ(c.count, 1);
  EXPECT_FALSE(match_option(c, "--fugly", false).matched);
  EXPECT_EQ(c.count, 1);
}

TEST(OptionMatcher, ValueMissingAtTheEnd) {
  const char* args[] = {"--track"};
  ArgCursor c{1, args, false};
  const OptionMatch m = match_option(c, "--track", true);
  EXPECT_TRUE(m.matched);
  EXPECT_EQ(m.value, nullptr);
  EXPECT_EQ(c.count, 0);
}

TEST(OptionMatcher, PrefixIsNotAMatch) {
  const char* args[] = {"--tracks=a", "--trac=a"};
  ArgCursor c{2, args, false};
  EXPECT_FALSE(match_option(c, "--track", true).matched);
  c.args++;
  c.count--;
  EXPECT_FALSE(match_option(c, "--track", true).matched);
}

// ---- accepted values -------------------------------------------------------------------

struct Accepted {
  std::vector<std::string> args;
  std::function<bool(const Parsed&)> holds;
};

TEST(CommandLine, AcceptedValues) {
  const Accepted cases[] = {
      {{}, [](const Parsed& p) { return p.o.file.empty() && p.d.verbose == 0; }},
      {{"--fugly"}, [](const Parsed& p) { return p.d.flat_shading; }},
      {{"--nosound"}, [](const Parsed& p) { return p.o.no_sound; }},
      {{"--novertexarrays"}, [](const Parsed& p) { return p.d.no_vertex_arrays; }},
      {{"--learn"}, [](const Parsed& p) { return p.o.learn; }},
      {{"--learn", "--nolearn"}, [](const Parsed& p) { return !p.o.learn; }},
      {{"--nommx"}, [](const Parsed& p) { return p.o.no_mmx; }},
      {{"--debug"}, [](const Parsed& p) { return p.d.verbose == 1; }},
      {{"--super-debug"}, [](const Parsed& p) { return p.d.verbose == 2; }},
      {{"--super-debug", "--debug"}, [](const Parsed& p) { return p.d.verbose == 1; }},
      {{"--practice"}, [](const Parsed& p) { return p.d.practice; }},
      {{"--warp"}, [](const Parsed& p) { return p.o.warp; }},
      {{"--texture-detail=7"},
       [](const Parsed& p) {
         return p.d.model_texture_reduction == 4 && p.d.ground_texture_reduction == 4;
       }},
      {{"--texture-detail", "-2"},
       [](const Parsed& p) {
         return p.d.model_texture_reduction == 0 && p.d.ground_texture_reduction == 0;
       }},
      {{"--ground-texture-detail", "3"},
       [](const Parsed& p) {
         return p.d.ground_texture_reduction == 3 && p.d.model_texture_reduction == 1;
       }},
      {{"--ground-texture-detail=9"}, [](const Parsed& p) { return p.d.ground_texture_reduction == 4; }},
      {{"--roostfrequency", "5000"}, [](const Parsed& p) { return p.d.roost_frequency == 1000; }},
      {{"--roostfrequency", "-5"}, [](const Parsed& p) { return p.d.roost_frequency == 0; }},
      {{"--roostfrequency", "250"}, [](const Parsed& p) { return p.d.roost_frequency == 250; }},
      {{"--erode", "150"}, [](const Parsed& p) { return p.o.erosion_rate == 102400; }},
      {{"--erode", "-3"}, [](const Parsed& p) { return p.o.erosion_rate == 0; }},
      {{"--erode", "0.5"}, [](const Parsed& p) { return p.o.erosion_rate == 512; }},
      {{"--erode", "0.0009"}, [](const Parsed& p) { return p.o.erosion_rate == 0; }},
      {{"--detail", "0.01"}, [](const Parsed& p) { return p.d.terrain_detail_factor == 0.01f; }},
      {{"--max-detail-distance", "30"},
       [](const Parsed& p) { return p.d.max_detail_distance == 30 && p.d.fade_out_distance == 35; }},
      {{"--lod-scale", "0"}, [](const Parsed& p) { return p.d.lod_scale == 1e-6f; }},
      {{"--lod-scale", "1e9"}, [](const Parsed& p) { return p.d.lod_scale == 1e6f; }},
      {{"--lod-scale", "2.5"}, [](const Parsed& p) { return p.d.lod_scale == 2.5f; }},
      {{"--lod-bias", "-12.5"}, [](const Parsed& p) { return p.d.lod_bias == -12.5f; }},
      {{"--lock-fps", "60"}, [](const Parsed& p) { return p.o.lock_fps == 60; }},
      {{"--fake-lag", "2500"}, [](const Parsed& p) { return p.o.fake_lag == 1; }},
      {{"--fake-lag", "250"}, [](const Parsed& p) { return p.o.fake_lag == 0.25; }},
      {{"--fake-lag", "-1"}, [](const Parsed& p) { return p.o.fake_lag == 0; }},
      {{"--fake-loss", "101"}, [](const Parsed& p) { return p.o.fake_loss == 100; }},
      {{"--fake-loss", "7"}, [](const Parsed& p) { return p.o.fake_loss == 7; }},
      {{"--record-audio", "out.raw"}, [](const Parsed& p) { return p.o.record_audio == "out.raw"; }},
      {{"--record-video"}, [](const Parsed& p) { return p.o.record_video; }},
      {{"--rotate-lineup", "3"}, [](const Parsed& p) { return p.o.rotate_lineup == 3; }},
      {{"--rotate-lineup", "x"}, [](const Parsed& p) { return p.o.rotate_lineup == 0; }},
      {{"--editor"}, [](const Parsed& p) { return p.o.editor; }},
      {{"--hidden-pause"}, [](const Parsed& p) { return !p.o.show_pause && p.o.show_hud; }},
      {{"--hidden-hud"}, [](const Parsed& p) { return p.o.show_pause && !p.o.show_hud; }},
      {{"--bikes", "8"},
       [](const Parsed& p) { return p.r.err == "--bikes doesn't do anything anymore\n"; }},
      {{"--width", "1024", "--height=768"},
       [](const Parsed& p) { return p.d.xres == 1024 && p.d.yres == 768; }},
      {{"--depth", "32", "--zdepth", "24"},
       [](const Parsed& p) { return p.o.colour_bits == 32 && p.o.depth_bits == 24; }},
      {{"--draw-fps", "1", "--draw-time", "2", "--draw-ping", "0", "--draw-speed", "4",
        "--draw-render-stats", "5"},
       [](const Parsed& p) {
         return p.s.draw_fps == 1 && p.s.draw_time == 2 && p.s.draw_ping == 0 &&
                p.s.draw_speed == 4 && p.o.draw_render_stats == 5;
       }},
      {{"--accurate-skip"}, [](const Parsed& p) { return p.o.accurate_skip; }},
      {{"--track", "dunes"}, [](const Parsed& p) { return p.o.track == "dunes"; }},
      {{"--password=s3cret"}, [](const Parsed& p) { return p.o.password == "s3cret"; }},
      {{"--chase-center", "1,2.5,-3"},
       [](const Parsed& p) {
         return p.o.chase_center[0] == 1 && p.o.chase_center[1] == 2.5f &&
                p.o.chase_center[2] == -3;
       }},
      {{"--glfinish"}, [](const Parsed& p) { return p.o.glfinish; }},
      {{"--print-orientation"}, [](const Parsed& p) { return p.o.print_orientation; }},
      {{"demo.ksdemo"}, [](const Parsed& p) { return p.o.file == "demo.ksdemo"; }},
      {{"--", "-x"}, [](const Parsed& p) { return p.o.file == "-x"; }},
      {{"--"}, [](const Parsed& p) { return p.o.file.empty(); }},
      {{"--fugly", "--", "--fugly"},
       [](const Parsed& p) { return p.d.flat_shading && p.o.file == "--fugly"; }},
      {{"--track", "--", "x"}, [](const Parsed& p) { return p.o.track == "--" && p.o.file == "x"; }},
      {{"a.ksdemo", "--debug"}, [](const Parsed& p) { return p.o.file == "a.ksdemo" && p.d.verbose == 1; }},
  };
  for (const Accepted& c : cases) {
    const Parsed p = parse(c.args);
    EXPECT_EQ(p.r.action, CommandLineAction::run) << join(c.args) << " " << p.r.err;
    EXPECT_TRUE(c.holds(p)) << join(c.args);
  }
}

TEST(CommandLine, DefaultsOfStartupOptions) {
  const StartupOptions o;
  EXPECT_EQ(o.colour_bits, 16);
  EXPECT_EQ(o.depth_bits, 16);
  EXPECT_TRUE(o.show_pause);
  EXPECT_TRUE(o.show_hud);
  EXPECT_FALSE(o.learn);
  EXPECT_EQ(o.chase_center[1], 2.52f);
  EXPECT_EQ(o.chase_center[2], 0.52f);
}

// ---- errors ----------------------------------------------------------------------------

struct Failing {
  std::vector<std::string> args;
  const char* err;
};

TEST(CommandLine, ErrorsExitWithStatusOne) {
  const Failing cases[] = {
      {{"--texture-detail", "x"}, "Bad arg for --texture-detail\n"},
      {{"--texture-detail="}, "Bad arg for --texture-detail\n"},
      {{"--ground-texture-detail", "x"}, "Bad arg for --ground-texture-detail\n"},
      {{"--roostfrequency", "x"}, "Bad arg for --roostfrequency\n"},
      {{"--erode", "x"}, "Bad arg for --erode\n"},
      {{"--detail", "x"}, "Bad arg for --detail\n"},
      {{"--max-detail-distance", "x"}, "Bad arg for --max-detail-distance\n"},
      {{"--lod-scale", "x"}, "Bad arg for --lod-scale\n"},
      {{"--lod-bias", "x"}, "Bad arg for --lod-bias\n"},
      {{"--lock-fps", "x"}, "Bad arg for --lock-fps\n"},
      {{"--fake-lag", "x"}, "Bad arg for --fake-lag\n"},
      {{"--fake-loss", "x"}, "Bad arg for --fake-loss\n"},
      {{"--chase-center", "1,2"}, "Bad arg for --chase-center\n"},
      {{"--chase-center", "1;2;3"}, "Bad arg for --chase-center\n"},
      {{"--width", "wide"}, "Bad arg for --width\n"},
      {{"--fugly=1"}, "bad option '--fugly=1'\n"},
      {{"-x"}, "bad option '-x'\n"},
      {{"--unknown"}, "bad option '--unknown'\n"},
      {{"-"}, "bad option '-'\n"},
      {{"a", "b"}, "Too many files!\n"},
      {{"--", "-a", "-b"}, "Too many files!\n"},
      {{"--bikes", "2", "--fugly=1"},
       "--bikes doesn't do anything anymore\nbad option '--fugly=1'\n"},
  };
  for (const Failing& c : cases) {
    const Parsed p = parse(c.args);
    EXPECT_EQ(p.r.action, CommandLineAction::exit) << join(c.args);
    EXPECT_EQ(p.r.status, 1) << join(c.args);
    EXPECT_EQ(p.r.err, c.err) << join(c.args);
  }
}

TEST(CommandLine, EveryValueOptionGivenLastIsABadArg) {
  const char* names[] = {"--texture-detail", "--ground-texture-detail", "--roostfrequency",
                         "--erode", "--detail", "--max-detail-distance", "--lod-scale",
                         "--lod-bias", "--lock-fps", "--fake-lag", "--fake-loss",
                         "--record-audio", "--rotate-lineup", "--bikes", "--width", "--height",
                         "--depth", "--zdepth", "--draw-fps", "--draw-time", "--draw-ping",
                         "--draw-speed", "--draw-render-stats", "--track", "--connect",
                         "--password", "--chase-center"};
  for (const char* name : names) {
    const Parsed p = parse({"--fugly", name});
    EXPECT_EQ(p.r.status, 1) << name;
    EXPECT_EQ(p.r.err, std::string("Bad arg for ") + name + "\n");
  }
}

TEST(CommandLine, OpenHomeHelpAndVersionStopParsing) {
  Parsed p = parse({"--debug", "--open-home", "--fugly=1"});
  EXPECT_EQ(p.r.action, CommandLineAction::open_home);
  EXPECT_EQ(p.d.verbose, 1);
  EXPECT_EQ(parse({"--help"}).r.action, CommandLineAction::help);
  EXPECT_EQ(parse({"--version", "x", "y"}).r.action, CommandLineAction::version);
  EXPECT_EQ(parse({"--track", "--help"}).r.action, CommandLineAction::run);
  EXPECT_EQ(parse({"--", "--help"}).r.action, CommandLineAction::run);
  EXPECT_NE(help_text().find("--texture-detail N"), std::string::npos);
  EXPECT_NE(help_text().find("--print-orientation"), std::string::npos);
}

// ---- --connect and the server history --------------------------------------------------

TEST(CommandLine, ConnectStripsThePrefixAndFillsTheHistory) {
  Parsed p = parse({"--connect", "kessra:race.example:3000"});
  EXPECT_TRUE(p.o.connect);
  EXPECT_STREQ(p.s.server_name.data(), "race.example:3000");
  EXPECT_EQ(p.o.connect_address, "race.example:3000");
  EXPECT_STREQ(p.s.server_name_hist[0].data(), "race.example:3000");
  EXPECT_STREQ(p.s.server_name_hist[1].data(), "");

  p = parse({"--connect=plain.host"});
  EXPECT_STREQ(p.s.server_name.data(), "plain.host");

  // Already first in the history: nothing moves.
  Settings s;
  reset_settings(s);
  push_server_history(s, "old");
  push_server_history(s, "a.host");
  DetailSettings d;
  StartupOptions o;
  const char* argv[] = {"kessra", "--connect", "kessra:a.host"};
  parse_command_line(3, argv, s, d, o);
  EXPECT_STREQ(s.server_name_hist[0].data(), "a.host");
  EXPECT_STREQ(s.server_name_hist[1].data(), "old");
  EXPECT_STREQ(s.server_name_hist[2].data(), "");

  // An empty address leaves the history alone; a long one is cut to 127 characters.
  p = parse({"--connect", "kessra:"});
  EXPECT_TRUE(p.o.connect);
  EXPECT_STREQ(p.s.server_name_hist[0].data(), "");
  p = parse({"--connect", std::string(300, 'h')});
  EXPECT_EQ(std::string(p.s.server_name.data()), std::string(127, 'h'));
  EXPECT_EQ(std::string(p.s.server_name_hist[0].data()), std::string(127, 'h'));
}

}  // namespace
}  // namespace ks
