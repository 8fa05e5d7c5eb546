#include "race/race_state.h"

namespace ks {

RaceState& race_state() {
  static RaceState state;
  return state;
}

}  // namespace ks
