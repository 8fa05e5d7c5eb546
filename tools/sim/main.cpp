// kessra-sim: runs a race without a window through the same reset and tic as the game,
// with the test controller riding the local rider, and prints the results.
//
// Sections: options - start-up - the run - results - bench - main.
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include <ode/ode.h>

#include "autopilot/racing_lines.h"
#include "core/config.h"
#include "core/hash.h"
#include "core/race/race.h"
#include "core/startup_options.h"
#include "demo/demo.h"
#include "fs/vfs.h"
#include "physics/bike_catalog.h"
#include "physics/bike_setup.h"
#include "physics/bike_state.h"
#include "physics/erosion.h"
#include "physics/world.h"
#include "field_stats.h"
#include "plot.h"
#include "pursuit.h"
#include "race/race_state.h"
#include "race/timing.h"
#include "track/heightfield.h"
#include "track/track.h"
#include "track/track_list.h"

namespace ks {
namespace {

// ---- options ---------------------------------------------------------------------------

constexpr double kDefaultMaxSeconds = 3600;  // simulated; a race that can't end still stops

struct SimOptions {
  std::string data, home, track;
  bool have_lineup = false;
  Lineup lineup{};
  int robots = -1;
  int laps = 3;
  bool laps_given = false;
  double minutes = 0;
  int skill = 0;
  double erode = 0;
  long seed = 0;
  double max_seconds = 0;  // 0 = not given
  double pace = 1.0;
  double offset = 0.0;
  bool bench = false, quiet = false, time_trial = false, learn = false, details = false;
  bool events = false;
  std::string plot, record, play;
};

const char* const kHelp =
    "usage: kessra-sim [options]\n"
    "Runs a race without a window, through the game's own race code, and prints the\n"
    "results. The test controller rides the local rider (lineup code 1).\n"
    "\n"
    "  --data DIR         data folder (default: $KS_HOME, else beside the program)\n"
    "  --home DIR         home folder for config, results.txt and demos\n"
    "  --track NAME       track folder (default: the first track found)\n"
    "  --robots N         robots in gates 1..N (1..160); the later of --robots and\n"
    "                     --lineup counts\n"
    "  --lineup CODES     comma list of lineup codes per slot: 0 empty, 1 the controller,\n"
    "                     2 robot, 3 robot on a 125, 4 robot on a 250, 1000+n robot number n\n"
    "                     (default: 1, the controller alone)\n"
    "  --laps N           laps (default 3); with --minutes, laps after the time is up\n"
    "  --minutes M        a timed race of M minutes\n"
    "  --skill S          robot skill: novice, amateur or expert (default novice)\n"
    "  --erode V          erosion rate 0..100, as the game's --erode\n"
    "  --seed S           the tic that seeds the race (default 0); same seed, same race\n"
    "  --max-seconds T    stop after T simulated seconds (default 3600)\n"
    "  --time-trial       a time trial: the controller rides alone against the ghost;\n"
    "                     ends after --laps flying laps or --max-seconds\n"
    "  --record FILE      record the race into the demo FILE\n"
    "  --play FILE        replay the demo FILE and print its race's results\n"
    "  --details          print every rider's gate crossing tics and a checksum of the\n"
    "                     terrain's heights at the end (to compare a race with its replay)\n"
    "  --events           print a line for every crash and every rider stuck, as they\n"
    "                     happen, with the time and place (to find a track's trouble spots)\n"
    "  --learn            learn racing lines from the laps and save them at the end\n"
    "  --pace P           the controller's speed factor (default 1)\n"
    "  --offset O         the controller's line across the gates, in gate radii (-0.8..0.8)\n"
    "  --plot FILE.png    draw the track from above with every rider's path\n"
    "  --bench            time the run and print the phase shares of the tic\n"
    "  --quiet            no progress output\n"
    "  --help             this text\n";

int fail(const std::string& message) {
  std::fprintf(stderr, "kessra-sim: %s\n", message.c_str());
  return 1;
}

bool parse_long(const std::string& s, long lo, long hi, long& out) {
  if (s.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(s.c_str(), &end, 10);
  if (errno != 0 || end == s.c_str() || *end != '\0' || v < lo || v > hi) return false;
  out = v;
  return true;
}

bool parse_double(const std::string& s, double lo, double hi, double& out) {
  if (s.empty()) return false;
  char* end = nullptr;
  const double v = std::strtod(s.c_str(), &end);
  if (end == s.c_str() || *end != '\0' || !std::isfinite(v) || v < lo || v > hi) return false;
  out = v;
  return true;
}

bool parse_lineup(const std::string& text, Lineup& out) {
  out.fill(kLineupEmpty);
  size_t slot = 0, at = 0;
  while (true) {
    const size_t comma = text.find(',', at);
    const std::string item = text.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
    long code = 0;
    if (slot >= out.size() || !parse_long(item, 0, kLineupNumbered + 999, code)) return false;
    // Remote riders belong to server lineups; codes 6..999 mean nothing.
    if (code == kLineupRemote || (code > kLineupRemote && code < kLineupNumbered)) return false;
    out[slot++] = static_cast<int>(code);
    if (comma == std::string::npos) break;
    at = comma + 1;
  }
  return true;
}

// Returns -1 to go on, else the exit status.
int parse_options(int argc, char** argv, SimOptions& o) {
  static const char* const kValued[] = {"--data", "--home", "--track", "--robots", "--lineup",
                                        "--laps", "--minutes", "--skill", "--erode", "--seed",
                                        "--max-seconds", "--plot", "--record", "--play",
                                        "--pace", "--offset"};
  for (int i = 1; i < argc; ++i) {
    std::string name = argv[i], value;
    bool has_value = false;
    if (const size_t eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = name.substr(eq + 1);
      name = name.substr(0, eq);
      has_value = true;
    }
    const bool valued = std::any_of(std::begin(kValued), std::end(kValued),
                                    [&](const char* v) { return name == v; });
    if (valued && !has_value) {
      if (i + 1 >= argc) return fail(name + " needs a value");
      value = argv[++i];
    } else if (!valued && has_value) {
      return fail(name + " takes no value");
    }
    auto bad = [&]() { return fail("bad value for " + name + ": '" + value + "'"); };
    long n = 0;
    if (name == "--help" || name == "-h") {
      std::fputs(kHelp, stdout);
      return 0;
    } else if (name == "--data") {
      if (value.empty()) return bad();
      o.data = value;
    } else if (name == "--home") {
      if (value.empty()) return bad();
      o.home = value;
    } else if (name == "--track") {
      if (value.empty()) return bad();
      o.track = value;
    } else if (name == "--robots") {
      if (!parse_long(value, 1, kMaxBikes, n)) return bad();
      o.robots = static_cast<int>(n);
      o.have_lineup = false;  // the later of --robots and --lineup counts
    } else if (name == "--lineup") {
      if (!parse_lineup(value, o.lineup)) return bad();
      o.have_lineup = true;
      o.robots = -1;
    } else if (name == "--laps") {
      if (!parse_long(value, 1, 1000, n)) return bad();
      o.laps = static_cast<int>(n);
      o.laps_given = true;
    } else if (name == "--minutes") {
      if (!parse_double(value, 0, 600, o.minutes)) return bad();
    } else if (name == "--skill") {
      if (value == "novice") o.skill = 0;
      else if (value == "amateur") o.skill = 1;
      else if (value == "expert") o.skill = 2;
      else return bad();
    } else if (name == "--erode") {
      if (!parse_double(value, 0, 100, o.erode)) return bad();
    } else if (name == "--seed") {
      if (!parse_long(value, 0, 0x7fffffffL, o.seed)) return bad();
    } else if (name == "--max-seconds") {
      if (!parse_double(value, 1.0 / kTicsPerSecond, 1e6, o.max_seconds)) return bad();
    } else if (name == "--pace") {
      if (!parse_double(value, 0.1, 3, o.pace)) return bad();
    } else if (name == "--offset") {
      if (!parse_double(value, -0.8, 0.8, o.offset)) return bad();
    } else if (name == "--plot") {
      if (value.empty()) return bad();
      o.plot = value;
    } else if (name == "--record") {
      if (value.empty()) return bad();
      o.record = value;
    } else if (name == "--play") {
      if (value.empty()) return bad();
      o.play = value;
    } else if (name == "--bench") {
      o.bench = true;
    } else if (name == "--quiet") {
      o.quiet = true;
    } else if (name == "--details") {
      o.details = true;
    } else if (name == "--events") {
      o.events = true;
    } else if (name == "--time-trial") {
      o.time_trial = true;
    } else if (name == "--learn") {
      o.learn = true;
    } else {
      std::fprintf(stderr, "kessra-sim: unknown option '%s' (see --help)\n", argv[i]);
      return 1;
    }
  }
  const bool has_field = o.robots > 0 || o.have_lineup;
  if (o.time_trial && (has_field || !o.play.empty()))
    return fail("--time-trial rides alone: no --robots, --lineup or --play");
  if (!o.play.empty() && has_field)
    return fail("--play takes its riders from the demo: no --robots or --lineup");
  if (!o.play.empty() && !o.record.empty())
    return fail("--play and --record don't go together");
  if (o.robots > 0) {
    o.lineup.fill(kLineupEmpty);
    for (int i = 0; i < o.robots; ++i) o.lineup[static_cast<size_t>(i)] = kLineupRobot;
    o.have_lineup = true;
  } else if (!o.have_lineup) {
    o.lineup.fill(kLineupEmpty);
    if (o.play.empty()) o.lineup[0] = kLineupHuman;  // the demo's riders fill empty slots
    o.have_lineup = true;
  }
  return -1;
}

// ---- start-up --------------------------------------------------------------------------

// The game's start-up, less the window, sound and drawing.
int start_up(SimOptions& o) {
  vfs_set_roots(o.home, o.data);
  if (!locate_game_data()) {
    std::fprintf(stderr, "kessra-sim: can't find game data (no zzzz.saf in %s)\n",
                 o.data.empty() ? "$KS_HOME or beside the program" : o.data.c_str());
    return 1;
  }
  BikeSetup& setup = bike_setup();
  reset_bike_setup(setup);
  install_bike_setup_config_hooks();
  apply_stability_preset(setup, setup.stability.value);
  read_config(settings());
  build_index();
  if (build_track_list() == 0) {
    std::fputs("kessra-sim: no tracks found\n", stderr);
    return 1;
  }
  const TrackList& list = track_list();
  if (o.play.empty()) {
    if (o.track.empty()) o.track = list.dirs.front();
    if (find_track(list, o.track) < 0) {
      std::string names;
      for (const std::string& d : list.dirs) names += (names.empty() ? "" : ", ") + d;
      std::fprintf(stderr, "kessra-sim: no track '%s' (tracks: %s)\n", o.track.c_str(),
                   names.c_str());
      return 1;
    }
  }
  if (!create_physics_world()) {
    std::fputs("kessra-sim: can't create the physics world\n", stderr);
    return 1;
  }
  StartupOptions& so = startup_options();
  so.erosion_rate = static_cast<int>(std::floor(std::clamp(o.erode, 0.0, 100.0) * 1024));
  so.learn = o.learn;
  line_store().learn = o.learn;
  DemoOptions& demo = demo_options();
  demo.play_file = o.play;
  demo.record_file = o.record;
  return -1;
}

// ---- the run ---------------------------------------------------------------------------

std::string clock_text(double seconds) {
  if (!(seconds >= 0)) return "-";
  const long ms = static_cast<long>(seconds * 1000);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%ld:%02ld.%03ld", ms / 60000, ms / 1000 % 60, ms % 1000);
  return buf;
}

struct RunStats {
  long tics = 0;
  double wall = 0;
  double cpu = 0;  // this process's processor seconds over the run
  int bikes = 0;
  bool race_over = false;
  bool stopped_by_limit = false;
  int controller_slot = -1;
  int flying_laps = 0;  // time trial
  bool demo_over = false;
  std::vector<int> time_trial_laps;  // tics
};

// Progress on standard error: a line per lap of the leader, or a bar on a terminal.
struct Progress {
  bool quiet = false;
  bool bar = false;
  bool drawn = false;
  int leader_laps = 0;
  std::chrono::steady_clock::time_point last_draw{};
};

Progress make_progress(const SimOptions& o) {
  Progress p;
  p.quiet = o.quiet;
  p.bar = !o.quiet && isatty(2) != 0;
  return p;
}

void progress_time_trial_lap(const Progress& p, int n, const RaceState& race) {
  if (p.quiet || p.bar) return;
  std::fprintf(stderr, "time trial lap %d: %s, best %s\n", n,
               clock_text(tics_to_seconds(race.tt_last_lap)).c_str(),
               clock_text(tics_to_seconds(race.tt_best_lap)).c_str());
}

void progress_tic(Progress& p, const RaceState& race, long done, long limit, int laps) {
  if (p.quiet) return;
  if (!race.time_trial && !race.running_order.empty()) {
    const RunningEntry& first = race.running_order.front();
    const int leader = first.slot;
    const int n = laps_completed(race, leader);
    if (n > p.leader_laps) {
      p.leader_laps = n;
      if (!p.bar) {
        std::fprintf(stderr, "lap %d: leader #%s (slot %d) at %s, lap time %s\n", n,
                     bike_number(race, leader).c_str(), leader,
                     clock_text(tics_to_seconds(first.last_tic - race.start_tic)).c_str(),
                     clock_text(lap_time(race, leader, n)).c_str());
      }
    }
  }
  if (!p.bar) return;
  const auto now = std::chrono::steady_clock::now();
  if (now - p.last_draw < std::chrono::milliseconds(200)) return;
  p.last_draw = now;
  double f = limit > 0 ? static_cast<double>(done) / static_cast<double>(limit) : 0;
  if (laps > 0) f = std::max(f, static_cast<double>(p.leader_laps) / laps);
  f = std::clamp(f, 0.0, 1.0);
  const int filled = static_cast<int>(f * 30);
  std::fprintf(stderr, "\r[%.*s%.*s] %3d%%  %8.1f s  leader lap %d", filled,
               "==============================", 30 - filled,
               "                              ", static_cast<int>(f * 100),
               tics_to_seconds(static_cast<int>(done)), p.leader_laps);
  p.drawn = true;
}

void progress_done(const Progress& p) {
  if (p.drawn) std::fputc('\n', stderr);
}

// The local rider that the controller drives: the viewed slot when it is the local rider.
int controller_slot(const RaceState& race) {
  const int v = race.viewed_slot;
  if (slot_bike(race, v) != nullptr && race.slots[static_cast<size_t>(v)].kind == SlotKind::local)
    return v;
  return -1;
}

double process_cpu_seconds() {
  timespec t{};
  if (clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t) != 0) return 0;
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// A demo rider whose history still reaches the last 10 s.
bool any_replay_active(const RaceState& race) {
  for (int slot = 0; slot < kMaxBikes; ++slot) {
    if (slot_bike(race, slot) == nullptr || race.slots[static_cast<size_t>(slot)].kind != SlotKind::replayed)
      continue;
    int oldest = 0, newest = 0;
    if (history_bounds(slot, oldest, newest) && newest >= race.current_tic - 10 * kTicsPerSecond)
      return true;
  }
  return false;
}

RunStats run_race(const SimOptions& o, std::vector<RiderPath>* paths, WheelMarks* marks,
                  FieldStats& field) {
  RaceState& race = race_state();
  const Track* track = current_track();
  RunStats st;
  for (const RaceSlot& s : race.slots)
    if (s.bike != nullptr) ++st.bikes;

  double max_seconds = o.max_seconds;
  if (max_seconds <= 0) max_seconds = kDefaultMaxSeconds + o.minutes * 60;
  const long limit = static_cast<long>(std::ceil(max_seconds * kTicsPerSecond));

  PursuitParams params;
  params.pace = o.pace;
  params.lateral = o.offset;
  PursuitState pursuit;
  int driven = controller_slot(race);
  if (driven >= 0) reset_pursuit(pursuit, race, driven);
  st.controller_slot = driven;

  if (paths != nullptr) {
    paths->clear();
    for (int i = 0; i < kMaxBikes; ++i)
      if (race.slots[static_cast<size_t>(i)].bike != nullptr) paths->push_back({i, {}});
  }
  auto record_paths = [&]() {
    for (RiderPath& p : *paths) {
      const BikeState* b = slot_bike(race, p.slot);
      if (b == nullptr) continue;
      const dReal* at = dBodyGetPosition(b->bodies[kFrameBody]);
      p.xz.push_back(static_cast<float>(at[0]));
      p.xz.push_back(static_cast<float>(at[2]));
    }
  };

  const char* steering = bike_setup().reverse_steering.text();
  const bool reversed_steering = steering != nullptr && std::strcmp(steering, "Yes") == 0;
  Progress progress = make_progress(o);
  race.profile.ns.fill(0);
  race.profile.tics = 0;
  race.profile.enabled = o.bench;
  const auto t0 = std::chrono::steady_clock::now();
  const double cpu0 = process_cpu_seconds();
  for (st.tics = 0; st.tics < limit; ++st.tics) {
    if (race.results_final) {
      st.race_over = true;
      break;
    }
    if (o.time_trial && o.laps_given && st.flying_laps >= o.laps) break;
    if (!o.play.empty() && st.tics % kTicsPerSecond == 0 && st.tics > 10 * kTicsPerSecond &&
        !any_replay_active(race)) {
      st.demo_over = true;
      break;
    }
    if (paths != nullptr && st.tics % 16 == 0) record_paths();

    // As the main loop does: the local controls go in before the tic.
    const int slot = controller_slot(race);
    if (slot != driven) {
      driven = slot;
      if (driven >= 0) reset_pursuit(pursuit, race, driven);
    }
    if (driven >= 0) {
      const int laps_before = pursuit.lap_lines;
      LocalInputs li = pursuit_step(pursuit, params, race, driven, *track);
      // The controller asks for the bike's steer; a player's input is negated first when
      // Reversed Steering is on, so give the input that yields it.
      if (reversed_steering) li.steer = -li.steer;
      apply_local_controls(li);
      // The out-lap of a time trial ends at the first lap line.
      if (o.time_trial && pursuit.lap_lines > laps_before && pursuit.lap_lines > 1) {
        ++st.flying_laps;
        st.time_trial_laps.push_back(race.tt_last_lap);
        progress_time_trial_lap(progress, st.flying_laps, race);
      }
    }
    step_one_tic();
    watch_field(field, race);

    if (marks != nullptr) {
      for (const RaceSlot& s : race.slots) {
        if (s.bike == nullptr) continue;
        for (int body : {kFrontWheelBody, kRearWheelBody}) {
          const dReal* at = dBodyGetPosition(s.bike->bodies[static_cast<size_t>(body)]);
          mark_wheel(*marks, at[0], at[2]);
        }
      }
    }
    progress_tic(progress, race, st.tics + 1, limit, o.time_trial ? 0 : o.laps);
  }
  st.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  st.cpu = process_cpu_seconds() - cpu0;
  race.profile.enabled = false;
  // The demo's riders are ignored once their history has ended: the race may be over now.
  if (st.demo_over) compute_running_order(race);
  if (race.results_final) st.race_over = true;
  st.stopped_by_limit = !st.race_over && st.tics >= limit;
  if (paths != nullptr) record_paths();
  progress_done(progress);
  return st;
}

// ---- results ---------------------------------------------------------------------------

void print_results(const SimOptions& o, const RunStats& st) {
  RaceState& race = race_state();
  const bool final_table = race.results_final && !race.final_results.empty();
  const std::vector<RunningEntry>& order = final_table ? race.final_results : race.running_order;

  std::printf("Track: %s", race.track_dir.c_str());
  if (race.time_trial) std::printf(", time trial");
  else if (race.time_limit > 0) std::printf(", %g minutes + %d laps", o.minutes, race.laps);
  else std::printf(", %d laps", race.laps);
  std::printf(", seed %ld\n", o.seed);
  if (final_table) std::printf("Final results\n");
  else if (st.stopped_by_limit)
    std::printf("Unofficial results: stopped after %.1f simulated seconds\n",
                tics_to_seconds(static_cast<int>(st.tics)));
  else std::printf("Unofficial results\n");

  std::printf("%4s | %4s | %-14s | %4s | %11s | %4s | %11s | %s\n", "Pos.", "No.", "Bike",
              "Laps", "Total Time", "BLap", "Best Time", "Penalty");
  int pos = 0;
  for (const RunningEntry& e : order) {
    const int slot = e.slot;
    if (slot < 0 || slot >= kMaxBikes) continue;
    ++pos;
    const RaceSlot& s = race.slots[static_cast<size_t>(slot)];
    const bool finished = s.timing.finished;
    const int laps = laps_completed(race, slot);
    const int blap = best_lap(race, slot);
    std::string total = "-";
    if (finished && e.last_tic > 0) total = clock_text(tics_to_seconds(e.last_tic - race.start_tic));
    std::string penalty;
    if (race.lost_laps[static_cast<size_t>(slot)] > 0) {
      penalty += std::to_string(race.lost_laps[static_cast<size_t>(slot)]);
      penalty += race.lost_laps[static_cast<size_t>(slot)] == 1 ? " lap " : " laps ";
    }
    if (race.penalty_tics[static_cast<size_t>(slot)] > 0) {
      char buf[32];
      std::snprintf(buf, sizeof buf, "%.2f s",
                    tics_to_seconds(race.penalty_tics[static_cast<size_t>(slot)]));
      penalty += buf;
    }
    std::printf("%4d | %4s | %-14s | %4d | %11s | %4d | %11s | %s\n", pos,
                bike_number(race, slot).c_str(), s.model_name.c_str(), laps, total.c_str(), blap,
                blap > 0 ? clock_text(lap_time(race, slot, blap)).c_str() : "-",
                penalty.c_str());
  }

  if (race.time_trial) {
    std::printf("Time trial laps:");
    for (int t : st.time_trial_laps) std::printf(" %s", clock_text(tics_to_seconds(t)).c_str());
    if (st.time_trial_laps.empty()) std::printf(" none");
    std::printf("; best %s\n",
                race.tt_best_lap > 0 ? clock_text(tics_to_seconds(race.tt_best_lap)).c_str() : "-");
  } else if (st.controller_slot >= 0) {
    const int slot = st.controller_slot;
    const int laps = laps_completed(race, slot);
    std::printf("Laps of #%s (slot %d):", bike_number(race, slot).c_str(), slot);
    for (int j = 1; j <= laps; ++j) std::printf(" %s", clock_text(lap_time(race, slot, j)).c_str());
    if (laps == 0) std::printf(" none");
    std::printf("\n");
  }
  if (st.demo_over) std::printf("The demo ended after %.1f simulated seconds\n", tics_to_seconds(static_cast<int>(st.tics)));
}

void print_erosion(const ErosionSummary& e, int rate) {
  std::printf(
      "Erosion (rate %d/1024): %d samples changed, %d dug (deepest %.3f ft), %d raised "
      "(highest %.3f ft), %d farther than %.0f ft from any wheel track\n",
      rate, e.changed, e.dug, e.deepest, e.raised, e.highest, e.far_samples, kRutReach);
}

// Every rider's gate crossings in slot order, then the terrain's heights as a digest: a
// race and its replay print the same lines. The rut points still queued when the run
// stops are dug first, as the next tics would: a race stopped by --max-seconds leaves
// some that its demo holds and a replay, running on past the demo's end, digs.
void print_details() {
  const RaceState& race = race_state();
  if (Track* t = current_track(); t != nullptr && t->terrain && race.erosion_rate > 0) {
    HeightField& hf = *t->terrain;
    const bool locked = hf.edit_locked;
    hf.edit_locked = false;
    // At least four points a call: the queue runs dry.
    for (int n = 0; erosion_queue_length() > 0 && n < 1 << 20; ++n)
      apply_erosion(hf, std::nullopt, race.erosion_rate / 1024.0, race.current_tic + n);
    hf.edit_locked = locked;
  }
  for (int slot = 0; slot < kMaxBikes; ++slot) {
    if (slot_bike(race, slot) == nullptr) continue;
    std::printf("Crossings of #%s (slot %d):", bike_number(race, slot).c_str(), slot);
    const std::vector<int>& tics = race.slots[static_cast<size_t>(slot)].timing.crossings;
    for (int t : tics) std::printf(" %d", t);
    if (tics.empty()) std::printf(" none");
    std::printf("\n");
  }
  const Track* track = current_track();
  if (track == nullptr || !track->terrain) return;
  const HeightField& hf = *track->terrain;
  int changed = 0;
  if (hf.loaded_heights.size() == hf.heights.size())
    for (size_t k = 0; k < hf.heights.size(); ++k) changed += hf.heights[k] != hf.loaded_heights[k];
  const std::string digest = to_hex(ripemd160(hf.heights.data(), hf.heights.size() * sizeof(float)));
  std::printf("Terrain: %d samples changed, heights %s\n", changed, digest.substr(0, 16).c_str());
}

// ---- bench -----------------------------------------------------------------------------

void print_bench(const RunStats& st) {
  const RaceState& race = race_state();
  const double sim = tics_to_seconds(static_cast<int>(st.tics));
  // Processor time as well: on a busy machine the wall clock says more about the others.
  std::printf("bench: cpu=%.3f cpu_realtime=%.2f\n", st.cpu,
              st.cpu > 0 ? sim / st.cpu : 0.0);
  std::printf("bench: bikes=%d tics=%ld wall=%.3f realtime=%.2f\n", st.bikes, st.tics, st.wall,
              st.wall > 0 ? sim / st.wall : 0.0);
  const double wall_ns = st.wall * 1e9;
  auto share = [&](int phase) {
    return wall_ns > 0 ? 100.0 * static_cast<double>(race.profile.ns[static_cast<size_t>(phase)]) / wall_ns
                       : 0.0;
  };
  double named = 0;
  for (int p = 0; p < kPhaseOther; ++p) named += share(p);
  // Other: whatever of the wall time no named phase took (the rest of the tic, the
  // controller and this program's own bookkeeping).
  const double other = std::max(0.0, 100.0 - named);
  std::printf(
      "bench: contacts=%.1f%% world_step=%.1f%% bike_step=%.1f%% autopilot=%.1f%% "
      "timing=%.1f%% erosion=%.1f%% other=%.1f%%\n",
      share(kPhaseContacts), share(kPhaseWorldStep), share(kPhaseBikeStep),
      share(kPhaseAutopilot), share(kPhaseTiming), share(kPhaseErosion), other);
}

// ---- main ------------------------------------------------------------------------------

int sim_main(int argc, char** argv) {
  SimOptions o;
  if (const int status = parse_options(argc, argv, o); status >= 0) return status;
  if (const int status = start_up(o); status >= 0) return status;

  RaceState& race = race_state();
  race.current_tic = static_cast<int>(o.seed);  // the reset seeds the generator with it
  RaceResetRequest request;
  request.lineup = o.time_trial ? nullptr : &o.lineup;
  request.playback = !o.play.empty();
  request.record = !o.record.empty();
  request.time_limit = static_cast<int>(std::lround(o.minutes * 60 * kTicsPerSecond));
  request.laps = o.laps;
  request.skill = o.skill;
  request.track = o.play.empty() ? o.track : std::string();
  if (!reset_race(request)) {
    if (!o.play.empty())
      std::fprintf(stderr, "kessra-sim: can't play the demo '%s'\n", o.play.c_str());
    else
      std::fprintf(stderr, "kessra-sim: the race on '%s' could not be reset\n", o.track.c_str());
    free_race();
    destroy_physics_world();
    return 1;
  }
  if (!o.play.empty() && !playing()) {
    // Without the demo the reset falls back to the Track choice: not what was asked for.
    std::fprintf(stderr, "kessra-sim: can't play the demo '%s'\n", o.play.c_str());
    free_race();
    destroy_physics_world();
    return 1;
  }
  const Track* track = current_track();
  if (track == nullptr || !track->terrain) {
    std::fputs("kessra-sim: the reset left no track loaded\n", stderr);
    free_race();
    destroy_physics_world();
    return 1;
  }

  std::vector<RiderPath> paths;
  WheelMarks marks;
  const bool check_erosion = race.erosion_rate > 0;
  if (check_erosion) init_wheel_marks(marks, *track->terrain);
  FieldStats field;
  field.print_events = o.events;
  const RunStats st = run_race(o, o.plot.empty() ? nullptr : &paths,
                               check_erosion ? &marks : nullptr, field);

  int status = 0;
  print_results(o, st);
  if (!race.time_trial) print_field_stats(field, race);
  if (check_erosion) print_erosion(summarize_erosion(*current_track()->terrain, marks), race.erosion_rate);
  if (o.details) print_details();
  if (!write_results_file(race)) {
    std::fputs("kessra-sim: could not write results.txt\n", stderr);
    status = 1;
  }
  if (!o.plot.empty() && !write_track_plot(o.plot, *current_track(), paths)) {
    std::fprintf(stderr, "kessra-sim: could not write the plot '%s'\n", o.plot.c_str());
    status = 1;
  }
  if (o.learn) save_lines();
  if (o.bench) print_bench(st);
  std::fflush(stdout);

  free_race();
  destroy_physics_world();
  return status;
}

}  // namespace
}  // namespace ks

int main(int argc, char** argv) { return ks::sim_main(argc, argv); }
