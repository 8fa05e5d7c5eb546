// A slot's rider look: the bike created from it and the look kept with the slot, the same
// for a lineup rider at the reset and a time-trial ghost.
#include "core/race/race_internal.h"
#include "demo/demo.h"
#include "physics/bike_catalog.h"

namespace ks {

RiderLook demo_rider_look(const DemoRider& d) {
  RiderLook look;
  look.model = d.model;
  look.number = d.number;
  look.name = d.name;
  look.rider_texture = d.rider_texture;
  look.bike_texture = d.bike_texture;
  look.wheel_texture = d.wheel_texture;
  look.helmet_texture = d.helmet_texture;
  return look;
}

BikeState* create_rider_bike(RaceState& race, int slot, const RiderLook& look) {
  const char* model = bike_model_aliases(look.model.c_str());
  BikeState* bike = create_bike(model, slot, look.number.c_str(), look.bike_texture.c_str(),
                                look.helmet_texture.c_str(), look.rider_texture.c_str(),
                                look.wheel_texture.c_str());
  if (bike == nullptr) return nullptr;
  RaceSlot& s = race.slots[static_cast<size_t>(slot)];
  s.bike = bike;
  s.name = look.name;
  s.model_name = model;
  s.rider_texture = look.rider_texture;
  s.bike_texture = look.bike_texture;
  s.wheel_texture = look.wheel_texture;
  s.helmet_texture = look.helmet_texture;
  return bike;
}

}  // namespace ks
