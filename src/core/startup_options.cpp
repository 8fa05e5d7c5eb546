// The command line.
//
// Sections: version - the matcher - the option table - parsing - help.
#include "core/startup_options.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/config.h"
#include "core/detail_settings.h"
#include "fs/vfs.h"
#include "platform/vant.h"

namespace ks {

const char* version_label() { return KS_VERSION_LABEL; }

StartupOptions& startup_options() {
  static StartupOptions o;
  return o;
}

void reset_startup_options(StartupOptions& o) { o = StartupOptions{}; }

// ---- the matcher -----------------------------------------------------------------------

OptionMatch match_option(ArgCursor& cursor, const char* name, bool takes_value) {
  OptionMatch m;
  if (cursor.count <= 0 || cursor.end_of_options) return m;
  const char* arg = cursor.args[0];
  auto consume = [&cursor](int n) {
    cursor.count -= n;
    cursor.args += n;
  };
  if (!takes_value) {
    if (std::strcmp(arg, name) == 0) {
      m.matched = true;
      consume(1);
    }
    return m;
  }
  if (std::strcmp(arg, "--") == 0) {
    cursor.end_of_options = true;
    consume(1);
    return m;
  }
  if (std::strcmp(arg, name) == 0) {
    m.matched = true;
    if (cursor.count >= 2) {
      m.value = cursor.args[1];
      consume(2);
    } else {
      consume(1);
    }
    return m;
  }
  const size_t n = std::strlen(name);
  if (std::strncmp(arg, name, n) == 0 && arg[n] == '=') {
    m.matched = true;
    m.value = arg + n + 1;
    consume(1);
  }
  return m;
}

// ---- the option table ------------------------------------------------------------------

namespace {

struct Targets {
  Settings& s;
  DetailSettings& d;
  StartupOptions& o;
  CommandLineResult& r;
};

enum class Value { none, int_number, float_number, text };

// Returns false when the value does not scan ("Bad arg for ...").
using Apply = bool (*)(Targets& t, const char* value);

struct OptionSpec {
  const char* name;
  Value value;
  const char* help_value;  // shown by --help after the name
  const char* help;
  Apply apply;
};

bool scan_int(const char* text, int* v) { return scan_text(text, "%d", v) == 1; }
bool scan_double(const char* text, double* v) { return scan_text(text, "%lf", v) == 1; }

template <typename F>
bool with_int(const char* value, F f) {
  int v = 0;
  if (!scan_int(value, &v)) return false;
  f(v);
  return true;
}

template <typename F>
bool with_double(const char* value, F f) {
  double v = 0;
  if (!scan_double(value, &v)) return false;
  f(v);
  return true;
}

// Clamping in double keeps huge values from overflowing on the way to int or float.
const OptionSpec kOptions[] = {
    {"--fugly", Value::none, "", "flat shading",
     [](Targets& t, const char*) { return t.d.flat_shading = true; }},
    {"--nosound", Value::none, "", "no audio output",
     [](Targets& t, const char*) { return t.o.no_sound = true; }},
    {"--novertexarrays", Value::none, "", "draw without vertex arrays",
     [](Targets& t, const char*) { return t.d.no_vertex_arrays = true; }},
    {"--learn", Value::none, "", "racing-line learning on",
     [](Targets& t, const char*) { return t.o.learn = true; }},
    {"--nolearn", Value::none, "", "racing-line learning off",
     [](Targets& t, const char*) {
       t.o.learn = false;
       return true;
     }},
    {"--nommx", Value::none, "", "do without MMX",
     [](Targets& t, const char*) {
       if (!t.o.no_mmx) vant_log("Ignoring MMX\n");
       return t.o.no_mmx = true;
     }},
    {"--debug", Value::none, "", "verbose log",
     [](Targets& t, const char*) {
       t.d.verbose = 1;
       return true;
     }},
    {"--super-debug", Value::none, "", "very verbose log",
     [](Targets& t, const char*) {
       t.d.verbose = 2;
       return true;
     }},
    {"--practice", Value::none, "", "every robot rides as \"tester\"",
     [](Targets& t, const char*) { return t.d.practice = true; }},
    {"--warp", Value::none, "", "offline races at 100 tics per frame, restarting",
     [](Targets& t, const char*) { return t.o.warp = true; }},
    {"--texture-detail", Value::int_number, "N", "texture reduction 0..4",
     [](Targets& t, const char* v) {
       return with_int(v, [&](int n) {
         t.d.model_texture_reduction = t.d.ground_texture_reduction = std::clamp(n, 0, 4);
       });
     }},
    {"--ground-texture-detail", Value::int_number, "N", "ground texture reduction 0..4",
     [](Targets& t, const char* v) {
       return with_int(v, [&](int n) { t.d.ground_texture_reduction = std::clamp(n, 0, 4); });
     }},
    {"--roostfrequency", Value::int_number, "N", "roost frequency 0..1000",
     [](Targets& t, const char* v) {
       return with_int(v, [&](int n) { t.d.roost_frequency = std::clamp(n, 0, 1000); });
     }},
    {"--erode", Value::float_number, "X", "erosion rate 0..100",
     [](Targets& t, const char* v) {
       return with_double(v, [&](double x) {
         t.o.erosion_rate = static_cast<int>(std::floor(std::clamp(x, 0.0, 100.0) * 1024));
       });
     }},
    {"--detail", Value::float_number, "X", "terrain detail factor",
     [](Targets& t, const char* v) {
       return with_double(v, [&](double x) { t.d.terrain_detail_factor = static_cast<float>(x); });
     }},
    {"--max-detail-distance", Value::float_number, "X", "distance of full terrain detail",
     [](Targets& t, const char* v) {
       return with_double(v, [&](double x) {
         t.d.max_detail_distance = static_cast<float>(x);
         t.d.fade_out_distance = static_cast<float>(x + 5);
       });
     }},
    {"--lod-scale", Value::float_number, "X", "model LOD scale 1e-6..1e6",
     [](Targets& t, const char* v) {
       return with_double(
           v, [&](double x) { t.d.lod_scale = static_cast<float>(std::clamp(x, 1e-6, 1e6)); });
     }},
    {"--lod-bias", Value::float_number, "X", "model LOD bias",
     [](Targets& t, const char* v) {
       return with_double(v, [&](double x) { t.d.lod_bias = static_cast<float>(x); });
     }},
    {"--lock-fps", Value::float_number, "RATE", "fixed frame rate",
     [](Targets& t, const char* v) { return with_double(v, [&](double x) { t.o.lock_fps = x; }); }},
    {"--fake-lag", Value::float_number, "MS", "simulated network lag",
     [](Targets& t, const char* v) {
       return with_double(v, [&](double x) { t.o.fake_lag = std::clamp(x * 0.001, 0.0, 1.0); });
     }},
    {"--fake-loss", Value::int_number, "PERCENT", "simulated packet loss 0..100",
     [](Targets& t, const char* v) {
       return with_int(v, [&](int n) { t.o.fake_loss = std::clamp(n, 0, 100); });
     }},
    {"--record-audio", Value::text, "FILE", "render the audio offline into FILE",
     [](Targets& t, const char* v) {
       t.o.record_audio = v;
       return true;
     }},
    {"--record-video", Value::none, "", "write every frame to standard output",
     [](Targets& t, const char*) { return t.o.record_video = true; }},
    {"--rotate-lineup", Value::text, "N", "lineup rotation online",
     [](Targets& t, const char* v) {
       int n = 0;
       if (scan_int(v, &n)) t.o.rotate_lineup = n;  // an unreadable count is ignored
       return true;
     }},
    {"--editor", Value::none, "", "make the track editor available",
     [](Targets& t, const char*) { return t.o.editor = true; }},
    {"--hidden-pause", Value::none, "", "do not draw \"Paused\"",
     [](Targets& t, const char*) {
       t.o.show_pause = false;
       return true;
     }},
    {"--hidden-hud", Value::none, "", "do not draw the HUD",
     [](Targets& t, const char*) {
       t.o.show_hud = false;
       return true;
     }},
    {"--bikes", Value::text, "ANY", "no longer used",
     [](Targets& t, const char*) {
       t.r.err += "--bikes doesn't do anything anymore\n";
       return true;
     }},
    {"--width", Value::int_number, "N", "window width",
     [](Targets& t, const char* v) { return with_int(v, [&](int n) { t.d.xres = n; }); }},
    {"--height", Value::int_number, "N", "window height",
     [](Targets& t, const char* v) { return with_int(v, [&](int n) { t.d.yres = n; }); }},
    {"--depth", Value::int_number, "BITS", "colour depth",
     [](Targets& t, const char* v) { return with_int(v, [&](int n) { t.o.colour_bits = n; }); }},
    {"--zdepth", Value::int_number, "BITS", "depth-buffer bits",
     [](Targets& t, const char* v) { return with_int(v, [&](int n) { t.o.depth_bits = n; }); }},
    {"--draw-fps", Value::int_number, "N", "HUD frame rate",
     [](Targets& t, const char* v) { return with_int(v, [&](int n) { t.s.draw_fps = n; }); }},
    {"--draw-time", Value::int_number, "N", "HUD clock",
     [](Targets& t, const char* v) { return with_int(v, [&](int n) { t.s.draw_time = n; }); }},
    {"--draw-ping", Value::int_number, "N", "HUD ping",
     [](Targets& t, const char* v) { return with_int(v, [&](int n) { t.s.draw_ping = n; }); }},
    {"--draw-speed", Value::int_number, "N", "HUD speed",
     [](Targets& t, const char* v) { return with_int(v, [&](int n) { t.s.draw_speed = n; }); }},
    {"--draw-render-stats", Value::int_number, "N", "HUD render statistics",
     [](Targets& t, const char* v) {
       return with_int(v, [&](int n) { t.o.draw_render_stats = n; });
     }},
    {"--accurate-skip", Value::none, "", "exact demo skipping",
     [](Targets& t, const char*) { return t.o.accurate_skip = true; }},
    {"--track", Value::text, "NAME", "track directory to load at start",
     [](Targets& t, const char* v) {
       t.o.track = v;
       return true;
     }},
    {"--connect", Value::text, "ADDRESS", "connect to a race server at start",
     [](Targets& t, const char* v) {
       constexpr char kPrefix[] = "kessra:";
       if (std::strncmp(v, kPrefix, sizeof kPrefix - 1) == 0) v += sizeof kPrefix - 1;
       set_text(t.s.server_name.data(), kServerNameChars, v);
       push_server_history(t.s, t.s.server_name.data());
       t.o.connect = true;
       t.o.connect_address = t.s.server_name.data();
       return true;
     }},
    {"--password", Value::text, "TEXT", "server password",
     [](Targets& t, const char* v) {
       t.o.password = v;
       return true;
     }},
    {"--chase-center", Value::text, "X,Y,Z", "centre of the orbit camera",
     [](Targets& t, const char* v) {
       float x = 0;
       float y = 0;
       float z = 0;
       if (scan_text(v, "%f,%f,%f", &x, &y, &z) != 3) return false;
       t.o.chase_center = {x, y, z};
       return true;
     }},
    {"--open-home", Value::none, "", "open the home folder and quit",
     [](Targets& t, const char*) {
       t.r.action = CommandLineAction::open_home;
       return true;
     }},
    {"--glfinish", Value::none, "", "finish the GL pipeline before each frame",
     [](Targets& t, const char*) { return t.o.glfinish = true; }},
    {"--print-orientation", Value::none, "", "print the camera orientation",
     [](Targets& t, const char*) { return t.o.print_orientation = true; }},
    {"--help", Value::none, "", "show this list and quit",
     [](Targets& t, const char*) {
       t.r.action = CommandLineAction::help;
       return true;
     }},
    {"--version", Value::none, "", "show the version and quit",
     [](Targets& t, const char*) {
       t.r.action = CommandLineAction::version;
       return true;
     }},
};

void fail(CommandLineResult& r, const std::string& text) {
  r.action = CommandLineAction::exit;
  r.status = 1;
  r.err += text;
}

}  // namespace

// ---- parsing ---------------------------------------------------------------------------

CommandLineResult parse_command_line(int argc, const char* const* argv, Settings& settings,
                                     DetailSettings& detail, StartupOptions& options) {
  CommandLineResult r;
  Targets t{settings, detail, options, r};
  ArgCursor cur{argc > 1 ? argc - 1 : 0, argv + 1, false};
  bool have_file = false;
  while (cur.count > 0) {
    bool matched = false;
    for (const OptionSpec& option : kOptions) {
      const OptionMatch m = match_option(cur, option.name, option.value != Value::none);
      if (!m.matched) continue;
      matched = true;
      // A value-taking option given last has no value: as bad as an unreadable one.
      if ((option.value != Value::none && !m.value) || !option.apply(t, m.value)) {
        fail(r, std::string("Bad arg for ") + option.name + "\n");
        return r;
      }
      if (r.action != CommandLineAction::run) return r;
      break;
    }
    if (matched || cur.count <= 0) continue;
    const char* arg = cur.args[0];
    if (arg[0] == '-' && !cur.end_of_options) {
      fail(r, std::string("bad option '") + arg + "'\n");
      return r;
    }
    if (have_file) {
      fail(r, "Too many files!\n");
      return r;
    }
    options.file = arg;
    have_file = true;
    --cur.count;
    ++cur.args;
  }
  return r;
}

// ---- help ------------------------------------------------------------------------------

std::string help_text() {
  std::string text = "Usage: kessra [options] [--] [demo file]\n";
  for (const OptionSpec& option : kOptions) {
    std::string left = std::string("  ") + option.name;
    if (option.help_value[0]) left += std::string(" ") + option.help_value;
    if (left.size() < 32) left.resize(32, ' ');
    else left += ' ';
    text += left + option.help + "\n";
  }
  return text;
}

}  // namespace ks
