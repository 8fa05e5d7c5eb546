// Loading and resetting a race, in its fixed order: identity order, lines and demos put
// away, bikes freed, clock and start tic, track, lineup, lines, bikes placed, demo
// recording, gate raised, time trial, first demo frame and running order.
//
// Sections: module and seam - progress - the lineup - the reset - freeing.
#include <chrono>
#include <cstdio>
#include <cstring>

#include "autopilot/autopilot.h"
#include "autopilot/racing_lines.h"
#include "core/config.h"
#include "core/detail_settings.h"
#include "core/race/race_internal.h"
#include "core/random.h"
#include "core/startup_options.h"
#include "demo/demo.h"
#include "fs/messages.h"
#include "physics/bike_setup.h"
#include "physics/bike_step.h"
#include "physics/erosion.h"
#include "physics/world.h"
#include "platform/vant.h"
#include "race/timing.h"
#include "track/track.h"

namespace ks {

void install_race_hooks();
void remove_bike(RaceState& race, int slot);

// ---- module and seam ------------------------------------------------------------------------

RaceSeam& race_seam() {
  static RaceSeam s;
  return s;
}

RaceModule& race_module() {
  static RaceModule m;
  return m;
}

void reset_race_module() { race_module() = RaceModule{}; }

void race_trace(const char* step) {
  if (race_seam().trace) race_seam().trace(step);
}

// ---- progress ---------------------------------------------------------------------------

namespace {

void progress_shown(const char* text) {
  RaceModule& m = race_module();
  const auto now = std::chrono::steady_clock::now();
  if (!m.last_progress_text.empty()) {
    const double gap = std::chrono::duration<double>(now - m.last_progress).count();
    if (gap > m.max_delay) {
      m.max_delay = gap;
      m.max_delay_text = m.last_progress_text;
    }
  }
  m.last_progress = now;
  m.last_progress_text = text;
  if (race_seam().progress) race_seam().progress(text);
}

void start_progress() {
  RaceModule& m = race_module();
  m.max_delay = 0;
  m.max_delay_text.clear();
  m.last_progress_text.clear();
}

}  // namespace

void race_progress(const char* text) {
  progress_shown(text);
  vant_log("%s\n", text);
}

// ---- the lineup -------------------------------------------------------------------------

namespace {

// Who rides a slot, as the lineup code decides.
struct Rider {
  RiderLook look;
  std::string personality;
  int demo_rider = -1;
};

bool playing_riders() { return playing() && !demo_riders().empty(); }

// Step 10: the slot kinds and the viewed slot. Codes the reset doesn't know are empty.
void settle_lineup(RaceState& race, const RaceResetRequest& request, Lineup& codes) {
  codes.fill(kLineupEmpty);
  if (request.lineup == nullptr) {
    codes[0] = kLineupHuman;
  } else {
    codes = *request.lineup;
    for (int& c : codes) {
      const bool known = (c >= kLineupEmpty && c <= kLineupRobot250) ||
                         (c == kLineupRemote && race.server_lineup) || c >= kLineupNumbered;
      if (!known) c = kLineupEmpty;
    }
  }
  int viewed = -1;
  int human = -1;
  for (int s = 0; s < kMaxBikes; ++s) {
    int& c = codes[static_cast<size_t>(s)];
    if (c == kLineupHuman) {
      if (human >= 0) c = kLineupEmpty;
      else human = s;
    }
    if (c != kLineupEmpty && viewed < 0) viewed = s;
  }
  if (viewed < 0 && !playing_riders()) {
    codes[0] = kLineupRobot;
    viewed = 0;
  }
  if (human >= 0) viewed = human;
  race.viewed_slot = viewed < 0 ? 0 : viewed;
  for (int s = 0; s < kMaxBikes; ++s) {
    const int c = codes[static_cast<size_t>(s)];
    SlotKind k = SlotKind::replayed;
    if (c == kLineupHuman) k = SlotKind::local;
    else if (c == kLineupRobot || c == kLineupRobot125 || c == kLineupRobot250 ||
             c >= kLineupNumbered)
      k = SlotKind::robot;
    race.slots[static_cast<size_t>(s)].kind = k;
  }
}

// The rider of a slot; false when the slot gets no bike.
bool slot_rider(int code, IdentityPicker& picker, size_t& next_demo_rider, Rider& r) {
  if (code == kLineupHuman) {
    const BikeSetup& setup = bike_setup();
    r.look.model = setup.bike_name();
    r.look.number = setup.number.data();
    if (r.look.number.empty()) r.look.number = "999";
    r.look.name = setup.name.data();
    r.look.bike_texture = setup.bike_texture.data();
    r.look.helmet_texture = setup.head_texture.data();
    r.look.rider_texture = setup.rider_texture.data();
    r.look.wheel_texture = setup.wheel_texture.data();
    return true;
  }
  if (code == kLineupRobot || code == kLineupRobot125 || code == kLineupRobot250 ||
      code >= kLineupNumbered) {
    const int id = pick_identity(picker, code, r.look.number);
    const RobotIdentity& row = robot_identities()[static_cast<size_t>(id)];
    r.look.model = row.model;
    r.look.name = "Vidaraver";
    r.personality = row.personality;
    r.look.bike_texture = row.bike;
    r.look.helmet_texture = row.rider_head;
    r.look.rider_texture = row.rider_body;
    r.look.wheel_texture = row.wheel;
    return true;
  }
  if (code == kLineupEmpty && playing()) {
    std::vector<DemoRider>& riders = demo_riders();
    while (next_demo_rider < riders.size() && riders[next_demo_rider].slot >= 0)
      ++next_demo_rider;
    if (next_demo_rider >= riders.size()) return false;
    r.look = demo_rider_look(riders[next_demo_rider]);
    r.demo_rider = static_cast<int>(next_demo_rider++);
    return true;
  }
  // Remote riders come from the race server's lineup, which creates their bikes.
  return false;
}

// Step 12 for one slot.
void load_slot(RaceState& race, Track& track, int slot, int code, IdentityPicker& picker,
               size_t& next_demo_rider) {
  RaceSlot& s = race.slots[static_cast<size_t>(slot)];
  Rider r;
  if (!slot_rider(code, picker, next_demo_rider, r)) {
    s.kind = SlotKind::replayed;
    reset_robot(slot, 0);
    return;
  }
  BikeState* bike = create_rider_bike(race, slot, r.look);
  if (bike == nullptr) {
    s.kind = SlotKind::replayed;
    reset_robot(slot, 0);
    return;
  }
  s.demo_rider = r.demo_rider;
  if (r.demo_rider >= 0) demo_riders()[static_cast<size_t>(r.demo_rider)].slot = slot;
  if (race_seam().sound_setup) race_seam().sound_setup(*bike);
  place_bike_at(*bike, track, bike_start_position(track.gates, *track.terrain, slot));
  if (s.kind == SlotKind::local) {
    const dReal* p = dBodyGetPosition(bike->bodies[kFrameBody]);
    race.local_start = {p[0], p[1], p[2]};
    race.false_start_hold = 0;
  }
  set_replay_mode(*bike, s.kind == SlotKind::replayed);
  if (s.kind == SlotKind::robot)
    reset_robot(slot, personality_index(detail_settings().practice ? "tester" : r.personality));
  else
    reset_robot(slot, 0);
}

}  // namespace

// ---- the reset --------------------------------------------------------------------------

bool reset_race(const RaceResetRequest& request) {
  RaceState& race = race_state();
  RaceSeam& seam = race_seam();
  install_race_hooks();
  start_progress();

  // 1.
  if (seam.score_series_event) seam.score_series_event();
  progress_shown("Resetting...");
  vant_log("Resetting\n");

  // 2. The identity order, from the count of the race being left.
  draw_robot_order(race.robot_order, static_cast<uint32_t>(race.current_tic));

  // 3. Lines and demos put away.
  race_progress("Remembering lines");
  if (current_track() != nullptr) {
    save_lines();
    clear_line_records();
  }
  close_playback();
  finish_recording();

  // 4. Bikes freed.
  race_progress("Cleaning up");
  vant_log("Deallocating bikes\n");
  for (int slot = 0; slot < kMaxBikes; ++slot) {
    remove_bike(race, slot);
    RaceSlot& s = race.slots[static_cast<size_t>(slot)];
    s.name.clear();
    s.model_name.clear();
    s.rider_texture.clear();
    s.bike_texture.clear();
    s.wheel_texture.clear();
    s.helmet_texture.clear();
  }
  vant_log("Finished deallocating bikes\n");

  // 5. Clock, length and start tic.
  race.current_tic = 0;
  race.time_limit = request.time_limit;
  race.laps = request.laps;
  race.robot_skill = request.skill;
  if (race.server_lineup) {
    race.erosion_rate = -1;  // the start tic is the server's, already stored
  } else {
    race.erosion_rate = startup_options().erosion_rate;
    const uint32_t r = static_cast<uint32_t>(game_random()());
    const double u = double(r & 0x7FFFFFFFu) / 2147483648.0;
    race.start_tic = static_cast<int>((13.0 + 2.0 * u) / kTicSeconds);
  }
  reset_timing(race);
  race.tt_last_lap = 0;
  race_module().remote_simulated.fill(false);

  // 6.
  race.time_trial = request.lineup == nullptr;
  if (!race.server_lineup && seam.clear_client_race) seam.clear_client_race();

  // 7. The track.
  std::string chosen = request.track.empty() ? std::string(settings().track.data()) : request.track;
  if (request.playback && !race.time_trial && open_playback(race)) chosen = playback_track();

  // 8. Load it when it changed.
  if (seam.free_cached_sounds) seam.free_cached_sounds();
  const Track* loaded = current_track();
  if (loaded == nullptr || loaded->dir != chosen || race.server_lineup || race.force_reload) {
    race.force_reload = false;
    free_track();
    if (seam.new_texture_generation) seam.new_texture_generation();
    clear_erosion_queue();
    race.track_dir.clear();
    race.gate_pieces.clear();
    if (chosen.empty() || !load_track(chosen)) {
      vant_log("Can't load track '%.900s'\n", chosen.c_str());
      close_playback();
      return false;
    }
  }
  Track& track = *current_track();
  if (track.terrain == nullptr) return false;
  race.track_dir = track.dir;
  bike_step_module().race_start_tic = race.start_tic;

  // 9. The track's script.
  if (seam.run_script) seam.run_script(("@" + track.dir + "/frills.js").c_str());

  // 10. Slot kinds.
  Lineup codes{};
  settle_lineup(race, request, codes);
  if (race.time_trial) race.current_tic = 300 * kTicsPerSecond;

  // 11. Racing lines.
  load_lines(track.dir, request.skill);
  race_progress("Analyzing lines");
  analyze_lines();

  // 12. Bikes.
  race_progress("Loading bikes");
  IdentityPicker picker;
  start_identity_picker(picker, race.robot_order);
  size_t next_demo_rider = 0;
  for (int slot = 0; slot < kMaxBikes; ++slot)
    load_slot(race, track, slot, codes[static_cast<size_t>(slot)], picker, next_demo_rider);

  // 13. Histories, recording, line statistics. The demo options follow the start-up's
  // --accurate-skip and the config's demo_backups, which may have changed since.
  clear_histories();
  demo_options().backups = settings().demo_backups;
  demo_options().accurate_skip = startup_options().accurate_skip;
  if (request.record) start_recording(race);
  if (seam.reset_roost) seam.reset_roost();
  reset_line_statistics();
  reset_trails();

  // 14.
  unsigned long bytes = 0;
  if (track_load_seam().texture_memory) bytes = track_load_seam().texture_memory();
  post_messagef("%d MB texture memory used\n", static_cast<int>(bytes / (1024ul * 1024ul)));
  if (seam.purge_unused_resources) seam.purge_unused_resources();

  // 15. Race length and the gate.
  if (race.time_limit > 0) {
    race.race_laps = 1000000;
    race.halfway_lap = 1000000;
  } else {
    race.race_laps = race.laps;
    race.halfway_lap = (race.laps + 1) / 2;
  }
  raise_gate_pieces(race, track);

  // 16.
  if (race.time_trial) time_trial_reset();

  // 17.
  const RaceModule& m = race_module();
  vant_log("Max loading delay was %f (%s)\n", m.max_delay, m.max_delay_text.c_str());

  // 18.
  record_step(race, true);
  compute_running_order(race);

  // 19. The view.
  if (slot_bike(race, race.viewed_slot) == nullptr && !race.running_order.empty())
    race.viewed_slot = race.running_order.front().slot;
  if (g_physics.contact_group != nullptr) dJointGroupEmpty(g_physics.contact_group);
  BikeState* viewed = slot_bike(race, race.viewed_slot);
  const SlotKind viewed_kind = race.slots[static_cast<size_t>(race.viewed_slot)].kind;
  if (viewed != nullptr && viewed_kind == SlotKind::local)
    apply_setup(*viewed, bike_setup());
  if (viewed != nullptr && seam.place_free_camera) {
    const dReal* p = dBodyGetPosition(viewed->bodies[kFrameBody]);
    seam.place_free_camera(p[0], p[1] + 5, p[2]);
  }

  // 20. Keeping the working set resident is a Windows hint; nothing to do here.
  return true;
}

// ---- freeing ----------------------------------------------------------------------------

void free_race() {
  RaceState& race = race_state();
  close_playback();
  finish_recording();
  for (int slot = 0; slot < kMaxBikes; ++slot) remove_bike(race, slot);
  free_track();
  clear_erosion_queue();
  race.track_dir.clear();
  race.gate_pieces.clear();
  race.running_order.clear();
  reset_race_module();
}

}  // namespace ks
