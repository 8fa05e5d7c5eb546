// The local rider's nine inputs onto the viewed bike, and the false-start hold of a
// server race.
#include <algorithm>
#include <cstring>

#include "core/config.h"
#include "core/race/race_internal.h"
#include "fs/messages.h"
#include "physics/bike_setup.h"
#include "physics/rider.h"
#include "physics/world.h"

namespace ks {

namespace {

bool choice_on(const ChoiceSetting& c) { return std::strcmp(c.text(), "Yes") == 0; }

}  // namespace

void apply_local_controls(const LocalInputs& in) {
  RaceState& race = race_state();
  BikeState* bike = slot_bike(race, race.viewed_slot);
  if (bike == nullptr || race.slots[static_cast<size_t>(race.viewed_slot)].kind != SlotKind::local)
    return;
  const BikeSetup& setup = bike_setup();
  RaceModule& m = race_module();

  set_control(*bike, Control::steer, choice_on(setup.reverse_steering) ? -in.steer : in.steer);
  set_control(*bike, Control::front_brake, in.front_brake);
  set_control(*bike, Control::rear_brake, in.rear_brake);
  set_control(*bike, Control::throttle, in.throttle);
  set_control(*bike, Control::back_up, in.back_up);
  set_control(*bike, Control::lean, in.lean);

  float sit = in.sit_dab;
  if (choice_on(setup.sticky_dab)) {
    if (in.sit_dab >= 0.5f && m.last_sit_input < 0.5f)
      m.sticky_sit = m.sticky_sit > 0 ? 0.0f : 1.0f;
    sit = m.sticky_sit;
  }
  m.last_sit_input = in.sit_dab;
  set_control(*bike, Control::sit_dab, sit);

  const double e = std::clamp(1.0 - double(in.clutch) * 8.0 / 7.0, 0.0, 1.0);
  const double now = bike->controls.clutch;
  set_control(*bike, Control::clutch, e > now ? std::min(e, now + 4.0 * kTicSeconds) : e);

  set_control(*bike, Control::shift, in.shift > 0.5f ? 1.0 : in.shift < -0.5f ? -1.0 : 0.0);

  if (race.time_trial && in.back_up > 0.5f && choice_on(settings().time_trial_abort))
    time_trial_reset();
}

void false_start_rule(RaceState& race, int slot) {
  BikeState* bike = slot_bike(race, slot);
  if (bike == nullptr || bike->bodies[kFrameBody] == nullptr) return;
  const int s = gate_start_tic(race);
  const int now = race.current_tic;
  if (now < s) {
    set_control(*bike, Control::sit_dab, 1);
    const dReal* p = dBodyGetPosition(bike->bodies[kFrameBody]);
    double d2 = 0;
    for (size_t i = 0; i < 3; ++i) {
      const double d = p[i] - race.local_start[i];
      d2 += d * d;
    }
    if (d2 >= 9 && race.false_start_hold <= 0) {
      race.false_start_hold = 15 * kTicsPerSecond + (s - now);
      post_message("15 second false start penalty");
    }
  }
  if (race.false_start_hold > 0) {
    --race.false_start_hold;
    set_control(*bike, Control::front_brake, 1);
    set_control(*bike, Control::rear_brake, 1);
    set_control(*bike, Control::back_up, 0);
    set_control(*bike, Control::clutch, 0);
    set_control(*bike, Control::throttle, 0);
    set_control(*bike, Control::sit_dab, 1);
  }
}

}  // namespace ks
