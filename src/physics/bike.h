// Bike assembly: the seven bodies and six joints of a bike built from a catalog row, and
// the whole-bike operations (reset, move, turn, enable, disable) and start placement.
#pragma once

#include <array>

#include "physics/bike_state.h"

namespace ks {

struct BikeModelInfo;
struct HeightField;
struct TimingGates;

// The drawn side of a bike (models, textures, number plate), installed by the game and
// empty headless. `create` returns the handle kept in BikeState::appearance.
struct BikeTextures {
  const char* bike = "";
  const char* head = "";
  const char* rider = "";
  const char* wheel = "";
};
struct BikeAppearanceSeam {
  void* (*create)(const BikeState& bike, const BikeModelInfo& model,
                  const BikeTextures& textures) = nullptr;
  void (*destroy)(void* appearance) = nullptr;
};
void set_bike_appearance_seam(const BikeAppearanceSeam& seam);

// Builds a bike of the model (an unknown name falls back, with its message) in the
// physics world, sets the creation defaults and puts it at its rest pose. Null when the
// world doesn't exist.
BikeState* create_bike(const char* model_name, int slot, const char* number,
                       const char* bike_texture = "", const char* head_texture = "",
                       const char* rider_texture = "", const char* wheel_texture = "");
// Destroys the bodies and joints, frees the appearance and the record. Null is ignored.
void destroy_bike(BikeState* bike);

// Rest pose at the origin, still, controls, drivetrain and crash state cleared, rider
// joint attached again, bodies enabled.
void reset_bike(BikeState& bike);
void translate_bike(BikeState& bike, const std::array<double, 3>& offset);
// Sets every body's rotation to the turn and turns its position about the origin.
void orient_bike(BikeState& bike, const std::array<double, 3>& axis, double angle);
void enable_bike(BikeState& bike);
void disable_bike(BikeState& bike);

// The mass of one wheel (hub sphere plus sixteen tyre spheres on the torus circle).
dMass wheel_mass(float tyre_mass, float hub_mass, float hub_radius, float torus_radius,
                 float section_radius);

// ---- start placement --------------------------------------------------------------------

struct StartPosition {
  double x = 0, z = 0;
  double angle = 0;  // heading about +y
};

// Where lineup slot `slot` starts: rows of 10 ft behind the gate positions, or a line
// across the middle of the terrain when the track has no gate.
StartPosition bike_start_position(const TimingGates& gates, const HeightField& hf, int slot);

// Contact test used by placement; true when anything of the bike touches.
using BikeTouchTest = bool (*)(BikeState& bike, const HeightField& hf);

// Resets the bike, turns it to the heading and puts it at (x, h, z), raising h by 0.25 ft
// until `touches` reports nothing. h starts at the sample under (x, z). The contact
// joints made by the rejected tries are dropped. False when no free height was found.
bool place_bike(BikeState& bike, const HeightField& hf, const StartPosition& at,
                BikeTouchTest touches);

}  // namespace ks
