#include "core/config.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "core/detail_settings.h"
#include "fs/vfs.h"
#include "support/test_support.h"

namespace ks {
namespace {

namespace fsys = std::filesystem;

class ConfigTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::use_roots(home_.path(), data_.path());
    reset_settings(s_);
    config_seam() = ConfigSeam{};
  }
  void TearDown() override {
    config_seam() = ConfigSeam{};
    test::use_roots("", "");
  }
  std::string config_path() const { return home_ / "config"; }
  // Reads `text` as the config file into a fresh record.
  Settings read_text(const std::string& text) {
    test::write_file(config_path(), text);
    Settings s;
    reset_settings(s);
    read_config(s);
    return s;
  }
  std::string written(const Settings& s) {
    EXPECT_TRUE(write_config(s));
    return test::read_file(config_path());
  }

  test::TempDir home_;
  test::TempDir data_;
  Settings s_;
};

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

// The whole file a fresh installation writes: every key, in order, with its default.
std::string default_file() {
  std::string t =
      "xres=640\nyres=480\ndraw_fps=0\ndraw_time=0\ndraw_ping=1\ndraw_speed=0\nspy=0\n"
      "track=rabbithill\nrecord=No\nskill=Novice\nminutes=0.000000\nlaps=5.000000\n";
  for (int i = 0; i < 40; ++i) {
    const int gate = i + 1;
    const char* v = "Empty";
    if (gate == 18 || gate == 19 || gate == 21 || gate == 22 || gate == 23) v = "Robot";
    if (gate == 20) v = "Human";
    char line[64];
    std::snprintf(line, sizeof line, "slot%02d=%s\n", i, v);
    t += line;
  }
  t += "ghost_fade_distance=10.000000\ntime_trial_abort=Yes\n";
  t += "video_mode=Default Fullscreen\n";
  t += std::string("server_name=") + kDefaultServerName + "\n";
  for (int i = 0; i < 16; ++i) {
    char line[64];
    std::snprintf(line, sizeof line, "server_name_hist%02d=\n", i);
    t += line;
  }
  t +=
      "ground_detail=70.000000\nground_texture_detail=9.000000\nground_texture_dim=64x64\n"
      "ground_mipmaps=Yes\ntexture_compress=No\nrender_texture=Software\nuse_shader=Yes\n"
      "roost_density=1000.000000\nreshade_delay=8.000000\nlens_flare=Yes\nreflections=Yes\n"
      "hide_rider=No\nrigid_camera=No\nmodel_detail=50.000000\n"
      "model_texture_detail=9.000000\nfov=110.000000\nfirst_person_height=0.000000\n"
      "first_person_angle=0.000000\nthird_person_height=5.000000\n"
      "third_person_distance=10.000000\nvolume=10.000000\ncomp_volume=8.000000\n"
      "playback_mode=Playback Only\nbillboard_optimize_lookahead=8\nmessage_lines=5\n"
      "demo_backups=0\nmap_scale=1.000000\n"
      "throttle_key=(k)x\nfront_brake_key=(k)c\nrear_brake_key=(k)v\nleft_key=(k)left\n"
      "right_key=(k)right\nclutch_key=(k)z\nupshift_key=(k)up\ndownshift_key=(k)down\n"
      "dab_key=(k)right ctrl\nback_up_key=(k)b\nlean_forward_key=(k)n\n"
      "lean_backward_key=(k)m\npause_key=(k)pause\nstep_key=(k).\nrewind_key=(k)\\\n"
      "skip_key=(k)/\nprev_key=(k)[\nnext_key=(k)]\nconsole_key=(k)t\nscreenshot_key=(k)s\n";
  return t;
}

TEST_F(ConfigTest, FreshInstallationWritesEveryKeyInOrderWithItsDefault) {
  EXPECT_EQ(written(s_), default_file());
}

TEST_F(ConfigTest, MissingFileLeavesTheDefaults) {
  Settings s;
  reset_settings(s);
  s.xres = 1;
  read_config(s);
  EXPECT_EQ(s.xres, 1);
  EXPECT_FALSE(test::file_exists(config_path()));
}

TEST_F(ConfigTest, FirstGraphicsPresetRestoresTheFreshValues) {
  Settings s;
  reset_settings(s);
  s.ground_detail.value = 3;
  set_choice_by_text(s.render_texture, "Shaders/Direct");
  s.model_texture_detail.value = 1;
  s.roost_density.value = 10;
  set_choice_by_text(s.ground_texture_dim, "1024x1024");
  apply_first_graphics_preset(s);
  EXPECT_EQ(written(s), default_file());
}

struct LineCase {
  const char* text;
  std::function<bool(const Settings&)> holds;
};

TEST_F(ConfigTest, LineEdgeCases) {
  const LineCase cases[] = {
      {"fov=500\n", [](const Settings& s) { return s.fov.value == 170; }},
      {"fov=5\n", [](const Settings& s) { return s.fov.value == 10; }},
      {"fov=abc\n", [](const Settings& s) { return s.fov.value == 110; }},
      {"fov=33.5\r\n", [](const Settings& s) { return s.fov.value == 33.5; }},
      {" fov=20\n", [](const Settings& s) { return s.fov.value == 110; }},
      {"FOV=20\n", [](const Settings& s) { return s.fov.value == 110; }},
      {"fov 20\n", [](const Settings& s) { return s.fov.value == 110; }},
      {"skill=expert\n", [](const Settings& s) { return s.skill.index == 0; }},
      {"skill=Expert\n", [](const Settings& s) { return s.skill.index == 2; }},
      {"skill=Expert \n", [](const Settings& s) { return s.skill.index == 0; }},
      {"skill=Amateur\r\r\n", [](const Settings& s) { return s.skill.index == 1; }},
      {"throttle_key=x\n",
       [](const Settings& s) {
         return s.controls[0].key_name == "x" && s.controls[0].axis_name.empty();
       }},
      {"throttle_key=(k)x\n", [](const Settings& s) { return s.controls[0].key_name == "x"; }},
      {"throttle_key=  (k)right ctrl\n",
       [](const Settings& s) { return s.controls[0].key_name == "right ctrl"; }},
      {"throttle_key=(-1.0,1.0)joy0 axis 1\n",
       [](const Settings& s) {
         const InputControl& c = s.controls[0];
         return c.key_name.empty() && c.axis_name == "joy0 axis 1" && c.low == -1.0f &&
                c.high == 1.0f;
       }},
      {"throttle_key=(1,2\n", [](const Settings& s) { return s.controls[0].key_name == "(1,2"; }},
      {"throttle_key=(a,b)z\n",
       [](const Settings& s) { return s.controls[0].key_name == "(a,b)z"; }},
      {"map_scale=20\n", [](const Settings& s) { return s.map_scale == 8; }},
      {"map_scale=0\n", [](const Settings& s) { return s.map_scale == 0.125; }},
      {"map_scale=2.5\n", [](const Settings& s) { return s.map_scale == 2.5; }},
      {"map_scale=big\n", [](const Settings& s) { return s.map_scale == 1; }},
      {"use_fbo=Yes\n",
       [](const Settings& s) { return std::string(s.render_texture.text()) == "Hardware/Direct"; }},
      {"use_fbo=No\n",
       [](const Settings& s) { return std::string(s.render_texture.text()) == "Hardware/Copy"; }},
      {"use_fbo=maybe\n",
       [](const Settings& s) { return std::string(s.render_texture.text()) == "Software"; }},
      {"use_fbo=Yes\nrender_texture=Software\n",
       [](const Settings& s) { return std::string(s.render_texture.text()) == "Software"; }},
      {"render_texture=Shaders/Copy\nuse_fbo=No\n",
       [](const Settings& s) { return std::string(s.render_texture.text()) == "Hardware/Copy"; }},
      {"ground_texture_distance=5\n", [](const Settings& s) { return s.xres == 640; }},
      {"xres=1024\nyres=768", [](const Settings& s) { return s.xres == 1024 && s.yres == 768; }},
      {"xres=wide\n", [](const Settings& s) { return s.xres == 640; }},
      {"track=a=b\n", [](const Settings& s) { return std::string(s.track.data()) == "a=b"; }},
      {"track=\n", [](const Settings& s) { return s.track[0] == '\0'; }},
      {"slot19=Empty\nslot00=Robot (4 stroke)\n",
       [](const Settings& s) { return s.slots[19].index == 0 && s.slots[0].index == 4; }},
      {"video_mode=Windowed\n", [](const Settings& s) { return s.video_mode.index == 1; }},
      {"video_mode=800x600\n", [](const Settings& s) { return s.video_mode.index == 0; }},
      {"server_name_hist03=race.example\n",
       [](const Settings& s) { return std::string(s.server_name_hist[3].data()) == "race.example"; }},
      {"=5\n\n\n=\nnonsense\n", [](const Settings& s) { return s.xres == 640; }},
  };
  for (const LineCase& c : cases) {
    EXPECT_TRUE(c.holds(read_text(c.text))) << c.text;
  }
}

TEST_F(ConfigTest, ServerNamesAreBounded) {
  const std::string n126(126, 'a');
  const std::string n127(127, 'b');
  const std::string n200(200, 'c');
  const Settings s = read_text("server_name_hist00=" + n126 + "\nserver_name_hist01=" + n127 +
                               "\nserver_name=" + n200 + "\n");
  EXPECT_EQ(std::string(s.server_name_hist[0].data()), n126);
  EXPECT_EQ(std::string(s.server_name_hist[1].data()), "");  // 127 or more: ignored
  EXPECT_EQ(std::string(s.server_name.data()), std::string(127, 'c'));
}

TEST_F(ConfigTest, OverlongLinesNeverTurnIntoKeys) {
  // The continuation of the first line starts exactly where a 1024-byte buffer ends.
  const std::string head = "track=";
  const std::string first = head + std::string(1023 - head.size(), 'a') + "xres=5\n";
  const std::string second = "server_name=" + std::string(10000, 's') + "\n";
  const std::string third = std::string(10000, 'q') + "yres=7\n";  // no "=" in the buffer
  const Settings s = read_text(first + second + third + "draw_fps=3\n");
  EXPECT_EQ(s.xres, 640);
  EXPECT_EQ(s.yres, 480);
  EXPECT_EQ(s.draw_fps, 3);
  EXPECT_EQ(std::string(s.track.data()), std::string(kTrackNameChars, 'a'));
  EXPECT_EQ(std::string(s.server_name.data()), std::string(kServerNameChars, 's'));
}

TEST_F(ConfigTest, LineOfExactlyTheBufferSizeIsWhole) {
  const std::string line = "track=" + std::string(1022 - 6, 't') + "\n";  // 1023 bytes
  ASSERT_EQ(line.size(), 1023u);
  const Settings s = read_text(line + "xres=800\n");
  EXPECT_EQ(s.xres, 800);
  EXPECT_EQ(std::string(s.track.data()), std::string(kTrackNameChars, 't'));
}

// Changes every written key away from its default.
void change_everything(Settings& s) {
  s.xres = 1280;
  s.yres = 1024;
  s.draw_fps = 1;
  s.draw_time = 2;
  s.draw_ping = 0;
  s.draw_speed = 3;
  s.spy = 1;
  set_text(s.track.data(), kTrackNameChars, "dunes");
  s.record.index = 1;
  s.skill.index = 2;
  s.minutes.value = 12;
  s.laps.value = 7;
  for (size_t i = 0; i < s.slots.size(); ++i)
    s.slots[i].index = (s.slots[i].index + 1 + static_cast<int>(i % 3)) % 5;
  s.ghost_fade_distance.value = 23;
  s.time_trial_abort.index = 0;
  set_video_modes(s, {{800, 600, 32}, {1024, 768, 32}});
  set_choice_by_text(s.video_mode, "1024x768");
  set_text(s.server_name.data(), kServerNameChars, "race.example:4444");
  for (size_t i = 0; i < s.server_name_hist.size(); ++i)
    set_text(s.server_name_hist[i].data(), kServerNameChars,
             ("host" + std::to_string(i)).c_str());
  s.ground_detail.value = 33;
  s.ground_texture_detail.value = 4;
  s.ground_texture_dim.index = 5;
  s.ground_mipmaps.index = 0;
  s.texture_compress.index = 2;
  s.render_texture.index = 4;
  s.use_shader.index = 0;
  s.roost_density.value = 420;
  s.reshade_delay.value = 19;
  s.lens_flare.index = 0;
  s.reflections.index = 0;
  s.hide_rider.index = 1;
  s.rigid_camera.index = 1;
  s.model_detail.value = 99;
  s.model_texture_detail.value = 2;
  s.fov.value = 75;
  s.first_person_height.value = 0.40625;
  s.first_person_angle.value = 13;
  s.third_person_height.value = 11;
  s.third_person_distance.value = 6;
  s.volume.value = 3;
  s.comp_volume.value = 1;
  s.playback_mode.index = 1;
  s.billboard_optimize_lookahead = 2;
  s.message_lines = 9;
  s.demo_backups = 4;
  s.map_scale = 0.25;
  for (size_t i = 0; i < s.controls.size(); ++i) {
    InputControl& c = s.controls[i];
    if (i % 2 == 0) {
      c.key_name = "f" + std::to_string(i + 1);
    } else {
      c.key_name.clear();
      c.axis_name = "joy0 axis " + std::to_string(i);
      c.low = -0.5f;
      c.high = 0.75f;
    }
  }
}

TEST_F(ConfigTest, EveryKeyRoundTrips) {
  change_everything(s_);
  const std::string first = written(s_);
  const std::vector<std::string> changed = lines_of(first);
  const std::vector<std::string> fresh = lines_of(default_file());
  ASSERT_EQ(changed.size(), fresh.size());
  for (size_t i = 0; i < fresh.size(); ++i) {
    EXPECT_NE(changed[i], fresh[i]);
    EXPECT_EQ(changed[i].substr(0, changed[i].find('=')), fresh[i].substr(0, fresh[i].find('=')));
  }

  Settings back;
  reset_settings(back);
  set_video_modes(back, {{800, 600, 32}, {1024, 768, 32}});
  read_config(back);
  EXPECT_EQ(written(back), first);
  EXPECT_EQ(back.video_mode.index, 3);
  EXPECT_EQ(back.first_person_height.value, 0.40625);
  EXPECT_EQ(back.controls[1].axis_name, "joy0 axis 1");
  EXPECT_EQ(back.controls[1].low, -0.5f);
  EXPECT_EQ(back.controls[2].key_name, "f3");
}

TEST_F(ConfigTest, BindingWithNeitherKeyNorAxisWritesNoLine) {
  s_.controls[3].key_name.clear();
  const std::string text = written(s_);
  EXPECT_EQ(text.find("left_key="), std::string::npos);
  EXPECT_NE(text.find("right_key=(k)right\n"), std::string::npos);
  // Read back, the binding keeps its default since the line is missing.
  const Settings back = read_text(text);
  EXPECT_EQ(back.controls[3].key_name, "left");
}

TEST_F(ConfigTest, SetupSeamReadsFirstAndWritesAtItsPlace) {
  std::vector<std::string> seen;
  config_seam().read_setup_line = [&](const char* key, const char* value) {
    seen.push_back(std::string(key) + "|" + value);
    return std::string(key) == "bike" || std::string(key) == "xres";
  };
  config_seam().write_setup_lines = [](VfsFile* f) { vfs_puts(f, "bike=yz250f(2017)\n"); };
  const Settings s = read_text("bike=kx\nxres=800\nyres=600\r\n");
  EXPECT_EQ(s.xres, 640);  // the setup reader took it
  EXPECT_EQ(s.yres, 600);
  EXPECT_EQ(seen, (std::vector<std::string>{"bike|kx", "xres|800", "yres|600"}));

  const std::string text = written(s_);
  EXPECT_NE(text.find("time_trial_abort=Yes\nbike=yz250f(2017)\nvideo_mode="), std::string::npos);
}

TEST_F(ConfigTest, WriteReplacesTheWholeFileAndLeavesNoTemporary) {
  test::write_file(config_path(), std::string(50000, '#') + "\nold=1\n");
  EXPECT_EQ(written(s_), default_file());
  std::vector<std::string> names;
  for (const auto& e : fsys::directory_iterator(home_.path()))
    names.push_back(e.path().filename().string());
  EXPECT_EQ(names, std::vector<std::string>{"config"});
}

TEST_F(ConfigTest, UnwritableHomeWritesNothing) {
  test::write_file(home_ / "blocker", "a file, not a folder");
  test::use_roots(home_ / "blocker/home", home_ / "blocker/data");
  EXPECT_FALSE(write_config(s_));
}

TEST(ConfigSetters, SliderAndTextAndChoice) {
  SliderSetting sl{"s", 5, 1, 0, 10};
  EXPECT_TRUE(set_slider_from_text(sl, "-3"));
  EXPECT_EQ(sl.value, 0);
  EXPECT_TRUE(set_slider_from_text(sl, "7.25"));
  EXPECT_EQ(sl.value, 7.25);  // the step is not applied
  EXPECT_FALSE(set_slider_from_text(sl, ""));
  EXPECT_EQ(sl.value, 7.25);

  char buf[6];
  set_text(buf, 5, "abcdefgh");
  EXPECT_STREQ(buf, "abcde");

  ChoiceSetting c{"c", {"A", "B", "B"}, 0};
  EXPECT_TRUE(set_choice_by_text(c, "B"));
  EXPECT_EQ(c.index, 1);
  EXPECT_FALSE(set_choice_by_text(c, "b"));
  EXPECT_EQ(c.index, 1);
}

TEST(ConfigSetters, VideoModesKeepTheChoiceWhileListed) {
  Settings s;
  reset_settings(s);
  set_video_modes(s, {{800, 600, 32}, {640, 480, 16}, {1024, 768, 32}});
  ASSERT_EQ(s.video_mode.items,
            (std::vector<std::string>{"Default Fullscreen", "Windowed", "800x600", "1024x768"}));
  s.video_mode.index = 2;
  set_video_modes(s, {{640, 480, 16}, {800, 600, 16}});
  EXPECT_STREQ(s.video_mode.text(), "800x600");
  EXPECT_EQ(s.video_mode_sizes[static_cast<size_t>(s.video_mode.index)].width, 800);
  set_video_modes(s, {});
  EXPECT_STREQ(s.video_mode.text(), "Default Fullscreen");
}

TEST(ConfigSetters, ServerHistory) {
  Settings s;
  reset_settings(s);
  for (int i = 0; i < 17; ++i) push_server_history(s, ("h" + std::to_string(i)).c_str());
  EXPECT_STREQ(s.server_name_hist[0].data(), "h16");
  EXPECT_STREQ(s.server_name_hist[15].data(), "h1");  // h0 dropped
  push_server_history(s, "h16");
  EXPECT_STREQ(s.server_name_hist[1].data(), "h15");  // already first: unchanged
  push_server_history(s, "");
  EXPECT_STREQ(s.server_name_hist[0].data(), "h16");
  push_server_history(s, "h3");  // an older entry moves to the front as a new one
  EXPECT_STREQ(s.server_name_hist[0].data(), "h3");
  EXPECT_STREQ(s.server_name_hist[1].data(), "h16");
  clear_server_history(s);
  for (const auto& h : s.server_name_hist) EXPECT_EQ(h[0], '\0');
}

TEST(ConfigBindings, FormatAndParse) {
  InputControl c;
  parse_binding(c, "(k)(k)x");
  EXPECT_EQ(c.key_name, "(k)x");  // one prefix only
  EXPECT_EQ(format_binding(c), "(k)(k)x");
  parse_binding(c, "(-1.0,1.0)cursor-x");
  EXPECT_EQ(format_binding(c), "(-1.000000,1.000000)cursor-x");
  EXPECT_EQ(c.key_code, 0);
  parse_binding(c, "");
  EXPECT_EQ(format_binding(c), "");
  EXPECT_EQ(c.low, 0.0f);
  EXPECT_EQ(c.high, 1.0f);
}

TEST(DetailSettingsTest, FreshDefaultsFollowFromTheSettings) {
  Settings s;
  reset_settings(s);
  DetailSettings d;
  d.xres = 1;
  d.ground_texture_size = 1;
  d.lod_scale = 5;
  compute_detail_settings(s, d);
  const DetailSettings fresh;
  EXPECT_EQ(d.xres, 640);
  EXPECT_EQ(d.yres, 480);
  EXPECT_EQ(d.roost_frequency, fresh.roost_frequency);
  EXPECT_EQ(d.model_texture_reduction, 1);
  EXPECT_EQ(d.ground_texture_reduction, 1);
  EXPECT_EQ(d.ground_texture_size, 64);
  EXPECT_EQ(d.texture_compression, 0);
  EXPECT_EQ(d.reflections, 1);
  EXPECT_FLOAT_EQ(d.terrain_detail_factor, 0.125f / 70);
  EXPECT_FLOAT_EQ(d.lod_bias, 0);
  EXPECT_FLOAT_EQ(d.lod_scale, 1);
  EXPECT_TRUE(d.use_mipmaps);
}

TEST(DetailSettingsTest, DerivedValues) {
  struct Case {
    double model_detail, texture_detail, ground_levels, ground_detail;
    int dim, reduction_model, reduction_ground, size;
    float bias, scale, factor;
  };
  const Case cases[] = {
      {0, 0, 10, 100, 0, 10, 0, 32, 50, 8, 0.00125f},
      {100, 10, 0, 1, 5, 0, 10, 1024, 0, 0, 0.125f},
      {20, 3.7, 6.2, 50, 2, 6, 3, 128, 25, 4.096f, 0.0025f},
      {60, 9, 9, 0, 3, 1, 1, 256, 0, 0.8f, 0.125f},  // a detail of 0 stays finite
  };
  for (const Case& c : cases) {
    Settings s;
    reset_settings(s);
    s.model_detail.value = c.model_detail;
    s.model_texture_detail.value = c.texture_detail;
    s.ground_texture_detail.value = c.ground_levels;
    s.ground_detail.value = c.ground_detail;
    s.ground_texture_dim.index = c.dim;
    DetailSettings d;
    compute_detail_settings(s, d);
    EXPECT_EQ(d.model_texture_reduction, c.reduction_model) << c.model_detail;
    EXPECT_EQ(d.ground_texture_reduction, c.reduction_ground) << c.model_detail;
    EXPECT_EQ(d.ground_texture_size, c.size);
    EXPECT_NEAR(d.lod_bias, c.bias, 1e-4) << c.model_detail;
    EXPECT_NEAR(d.lod_scale, c.scale, 1e-4) << c.model_detail;
    EXPECT_NEAR(d.terrain_detail_factor, c.factor, 1e-7) << c.ground_detail;
  }
  Settings s;
  reset_settings(s);
  set_choice_by_text(s.ground_mipmaps, "No");
  DetailSettings d;
  compute_detail_settings(s, d);
  EXPECT_TRUE(d.use_mipmaps);  // decided once the window exists
  apply_window_detail_settings(s, d);
  EXPECT_FALSE(d.use_mipmaps);
}

}  // namespace
}  // namespace ks
