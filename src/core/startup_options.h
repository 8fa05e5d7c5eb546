// The command line: the option matcher, the option table and the state it fills.
// Parsing is a plain function over the argument vector; it returns what the program should
// do (run on, exit with a status, open the home folder ...) instead of ending the process.
#pragma once

#include <array>
#include <string>

namespace ks {

struct Settings;
struct DetailSettings;

// The label logged at start-up and printed by --version.
const char* version_label();

// The command-line state that is not a setting. The HUD flags draw_fps, draw_time,
// draw_ping and draw_speed are config keys and live in Settings.
struct StartupOptions {
  std::string file;   // the file argument: a demo to play
  std::string track;  // track directory to load at start
  bool connect = false;
  std::string connect_address;
  std::string password;
  double lock_fps = 0;  // 0 = off
  bool warp = false;
  std::string record_audio;
  bool record_video = false;
  bool show_pause = true;
  bool show_hud = true;
  int colour_bits = 16;
  int depth_bits = 16;
  bool glfinish = false;
  std::array<float, 3> chase_center{0.0f, 2.52f, 0.52f};
  bool print_orientation = false;
  bool accurate_skip = false;
  bool editor = false;
  int draw_render_stats = 0;
  int rotate_lineup = 0;
  bool learn = false;
  int erosion_rate = 0;   // 1/1024ths
  double fake_lag = 0;    // seconds, 0..1
  int fake_loss = 0;      // percent, 0..100
  bool no_sound = false;
  bool no_mmx = false;    // set before parsing when the processor lacks MMX
};

StartupOptions& startup_options();
void reset_startup_options(StartupOptions& o);

// ---- the option matcher ----------------------------------------------------------------

struct ArgCursor {
  int count = 0;                        // arguments left
  const char* const* args = nullptr;    // the next argument
  bool end_of_options = false;          // a "--" has been seen
};

struct OptionMatch {
  bool matched = false;
  const char* value = nullptr;  // nullptr when the option has no value or it is missing
};

// Matches the next argument against one option and consumes what it takes. A "--" met by an
// option with a value sets end_of_options and is consumed without a match.
OptionMatch match_option(ArgCursor& cursor, const char* name, bool takes_value);

// ---- the command line ------------------------------------------------------------------

enum class CommandLineAction {
  run,        // go on starting
  exit,       // end with `status` after writing `err` to standard error
  open_home,  // open the home folder, then end with status 0
  help,       // print help_text(), end with status 0
  version,    // print "Kessra " + version label, end with status 0
};

struct CommandLineResult {
  CommandLineAction action = CommandLineAction::run;
  int status = 0;
  std::string err;  // text for standard error (notices, then the error)
};

// Parses argv[1 .. argc-1] into the three records. Options are tried in table order for
// every argument; anything else is the file argument.
CommandLineResult parse_command_line(int argc, const char* const* argv, Settings& settings,
                                     DetailSettings& detail, StartupOptions& options);

// The option list printed by --help.
std::string help_text();

}  // namespace ks
