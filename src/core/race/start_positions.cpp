// Putting a bike on its start: the placement test against the terrain and the track's
// objects, without leaving touch marks on the objects.
#include <vector>

#include "core/race/race_internal.h"
#include "physics/bike_contact.h"
#include "physics/world.h"
#include "track/track.h"

namespace ks {

namespace {

// The track of the placement under way (the test is a plain function pointer).
Track* g_placing = nullptr;

bool touches_track(BikeState& bike, const HeightField& hf) {
  if (g_placing == nullptr) return false;
  return bike_object_contacts(bike, hf, g_placing->objects, g_placing->grid,
                              g_placing->world_width, 0);
}

}  // namespace

bool place_bike_at(BikeState& bike, Track& t, const StartPosition& at) {
  if (t.terrain == nullptr) return false;
  // The tries mark the objects they hit; a placement is no touch in the race.
  std::vector<int> touch(t.objects.size());
  for (size_t i = 0; i < t.objects.size(); ++i) touch[i] = t.objects[i].touch_tic;
  g_placing = &t;
  const bool ok = place_bike(bike, *t.terrain, at, touches_track);
  g_placing = nullptr;
  for (size_t i = 0; i < t.objects.size(); ++i) t.objects[i].touch_tic = touch[i];
  return ok;
}

}  // namespace ks
