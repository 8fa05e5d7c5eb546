// Whether a slot's bike is drawn, labelled and heard; online its remote-rider test also
// picks the remote bikes that take part in the contacts.
#include "core/race/race_internal.h"
#include "demo/demo.h"
#include "race/timing.h"

namespace ks {

namespace {

// Gate count 0, finished, or off course at one of its last gates.
bool out_of_the_race(RaceState& race, int slot) {
  const int c = race.slots[static_cast<size_t>(slot)].timing.gate_count;
  if (c == 0 || has_finished(race, slot)) return true;
  return off_course_at_last_gates(race, slot, race.off_course_bias, race.off_course_scale);
}

bool history_hides(const RaceState& race, int slot) {
  int oldest = 0, newest = 0;
  if (!history_bounds(slot, oldest, newest)) return true;
  return race.current_tic > newest + kTicsPerSecond || race.current_tic < oldest - kTicsPerSecond;
}

}  // namespace

bool remote_rider_hidden(RaceState& race, int slot) {
  const int local = race.local_slot;
  if (slot < 0 || slot >= kMaxBikes) return true;
  if (!race.online || local < 0 || local >= kMaxBikes || slot_bike(race, local) == nullptr)
    return false;
  if (slot != local &&
      race.last_state_tic[static_cast<size_t>(slot)] <= race.current_tic - kTicsPerSecond)
    return true;
  if (race.running_order.size() < 2 ||
      (race.current_tic - race.start_tic) / double(kTicsPerSecond) < race.off_course_bias)
    return false;
  if (out_of_the_race(race, local)) return false;
  return out_of_the_race(race, slot);
}

bool slot_hidden(int slot) {
  RaceState& race = race_state();
  if (slot_bike(race, slot) == nullptr) return true;
  const SlotKind kind = race.slots[static_cast<size_t>(slot)].kind;
  if (race.online && race.warmup && kind == SlotKind::local && slot != race.viewed_slot)
    return true;
  if (kind == SlotKind::local || kind == SlotKind::robot) return false;
  if (history_hides(race, slot)) return true;
  return remote_rider_hidden(race, slot);
}

}  // namespace ks
