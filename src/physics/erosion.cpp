// Placeholder until erosion lands.
#include "physics/erosion.h"

#include "physics/bike_state.h"

namespace ks {

ErosionHooks& erosion_hooks() {
  static ErosionHooks h;
  return h;
}
void erosion_sample_bike(BikeState&, const HeightField&, int) {}
void reset_rut_strokes(BikeState& bike) {
  bike.front_stroke = RutStroke{};
  bike.rear_stroke = RutStroke{};
}
int encode_erosion_record(const RutStroke&, float, uint8_t*) { return 0; }
void submit_erosion_record(const uint8_t*, int) {}
void decode_erosion_record(const uint8_t*, int) {}
void apply_erosion(HeightField&, std::optional<GuardPosition>, double, int) {}
int erosion_queue_length() { return 0; }
void clear_erosion_queue() {}

}  // namespace ks
