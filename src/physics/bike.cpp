// Sections: appearance seam - masses - creation - whole-bike operations - placement.
#include "physics/bike.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "physics/bike_catalog.h"
#include "physics/world.h"
#include "track/gates.h"
#include "track/heightfield.h"

namespace ks {

namespace {

BikeAppearanceSeam g_appearance_seam;

constexpr double kPi = 3.14159265358979323846;

// Catalog fields are floats; the physics works in doubles.
double f(float v) { return static_cast<double>(v); }
std::array<double, 3> vec(const BikeVec3& v) { return {f(v.x), f(v.y), f(v.z)}; }
std::array<double, 3> minus(const BikeVec3& a, const BikeVec3& b) {
  return {f(a.x) - f(b.x), f(a.y) - f(b.y), f(a.z) - f(b.z)};
}

// Catalog rest position of each body, in body order.
std::array<BikeVec3, kBikeBodyCount> rest_positions(const BikeModelInfo& m) {
  return {m.frame_pos,      m.front_wheel.pos, m.rear_wheel.pos, m.fork_upper_pos,
          m.fork_lower_pos, m.swingarm_pos,    m.rider_pos};
}

// Bodies must have their centre of mass at their origin; sums of offset parts land
// there only up to rounding.
void recentre(dMass& mass) { dMassTranslate(&mass, -mass.c[0], -mass.c[1], -mass.c[2]); }

dMass fork_mass(const BikeModelInfo& m) {
  const double radius = f(m.fork_leg_spacing) / 8.0;
  const double length = f(m.fork_leg_length_factor) * 2.0 / 3.0;
  dMass total, leg;
  dMassSetZero(&total);
  for (const double side : {0.5, -0.5}) {
    dMassSetCylinderTotal(&leg, f(m.fork_mass) / 2.0, 2, radius, length);
    dMassTranslate(&leg, side * f(m.fork_leg_spacing), 0, 0);
    dMassAdd(&total, &leg);
  }
  // The legs lie along the steering axis.
  const auto down = minus(m.fork_lower_pos, m.fork_upper_pos);
  const double angle = std::atan(down[2] / down[1]);
  dMatrix3 r;
  dRFromAxisAndAngle(r, 1, 0, 0, angle);
  dMassRotate(&total, r);
  recentre(total);
  return total;
}

dMass swingarm_mass(const BikeModelInfo& m) {
  const auto arm_vec = minus(m.rear_wheel.pos, m.swingarm_pivot);
  const double dy = arm_vec[1], dz = arm_vec[2];
  const double length = std::sqrt(arm_vec[0] * arm_vec[0] + dy * dy + dz * dz);
  const double side = f(m.frame_width) / 4.0;
  dMass total, arm;
  dMassSetZero(&total);
  for (const double x : {0.5, -0.5}) {
    dMassSetBoxTotal(&arm, f(m.swingarm_mass), side, side, length);
    dMassTranslate(&arm, x * f(m.frame_width), 0, 0);
    dMassAdd(&total, &arm);
  }
  dMatrix3 r;
  dRFromAxisAndAngle(r, 1, 0, 0, -std::atan(dy / dz));
  dMassRotate(&total, r);
  recentre(total);
  return total;
}

dMass frame_mass(const BikeModelInfo& m, double d) {
  dMass mass;
  dMassSetBoxTotal(&mass, f(m.frame_mass) + (1.0 - d) * f(m.rider_mass), f(m.frame_width),
                   f(m.frame_height), f(m.frame_length));
  return mass;
}

dMass rider_mass(const BikeModelInfo& m, double d) {
  dMass mass;
  dMassSetSphereTotal(&mass, d * f(m.rider_mass), 1.0);
  return mass;
}

void set_hinge(dJointID j, dBodyID b1, dBodyID b2, const std::array<double, 3>& anchor,
               const std::array<double, 3>& axis) {
  dJointAttach(j, b1, b2);
  dJointSetHingeAnchor(j, anchor[0], anchor[1], anchor[2]);
  dJointSetHingeAxis(j, axis[0], axis[1], axis[2]);
}

// The rider joint in the rest pose: anchor 50 ft ahead so that turning about axis 2
// moves the rider nearly straight up and down.
void attach_rider_joint(BikeState& bike, const BikeModelInfo& m) {
  const dJointID j = bike.joints[kRiderJoint];
  dJointAttach(j, bike.bodies[kRiderBody], bike.bodies[kFrameBody]);
  const dBodyID frame = bike.bodies[kFrameBody];
  dVector3 anchor, axis1, axis2;
  dBodyGetRelPointPos(frame, -f(m.frame_pos.x), f(m.rider_pos.y) - f(m.frame_pos.y),
                      -50.0 - f(m.frame_pos.z), anchor);
  dBodyVectorToWorld(frame, 0, 1, 1, axis1);
  dBodyVectorToWorld(frame, 1, 0, 0, axis2);
  dJointSetHinge2Anchor(j, anchor[0], anchor[1], anchor[2]);
  dJointSetHinge2Axes(j, axis1, axis2);
  dJointSetHinge2Param(j, dParamLoStop, 0);
  dJointSetHinge2Param(j, dParamHiStop, 0);
}

}  // namespace

void set_bike_appearance_seam(const BikeAppearanceSeam& seam) { g_appearance_seam = seam; }

// ---- masses -----------------------------------------------------------------------------

dMass wheel_mass(float tyre_mass, float hub_mass, float hub_radius, float torus_radius,
                 float section_radius) {
  dMass total, part;
  dMassSetSphereTotal(&total, f(hub_mass), f(hub_radius));
  for (int k = 0; k < 16; ++k) {
    const double a = k * kPi / 8.0;
    dMassSetSphereTotal(&part, f(tyre_mass) / 16.0, f(section_radius));
    dMassTranslate(&part, 0, f(torus_radius) * std::cos(a), f(torus_radius) * std::sin(a));
    dMassAdd(&total, &part);
  }
  recentre(total);
  return total;
}

// ---- creation ---------------------------------------------------------------------------

namespace {

void load_shapes(BikeState& bike, const BikeModelInfo& m) {
  constexpr std::array<ModelFile, kBikeBodyCount> files = {
      kFrameShape,     kFrontWheelShape, kRearWheelShape, kForkUpperShape,
      kForkLowerShape, kSwingarmShape,   kRiderShape};
  for (size_t b = 0; b < files.size(); ++b) {
    const char* name = m.file(files[b]);
    if (name[0] != '\0') bike.shapes[b] = load_shape(name);
  }
}

}  // namespace

BikeState* create_bike(const char* model_name, int slot, const char* number,
                       const char* bike_texture, const char* head_texture,
                       const char* rider_texture, const char* wheel_texture) {
  if (g_physics.world == nullptr) return nullptr;
  auto* bike = new BikeState;
  bike->model = find_bike_model(model_name != nullptr ? model_name : "");
  const BikeModelInfo& m = bike_model(bike->model);
  if (number != nullptr) {
    const size_t n = std::min(std::strlen(number), bike->number.size() - 1);
    std::memcpy(bike->number.data(), number, n);
  }
  bike->slot = slot;
  load_shapes(*bike, m);

  // Creation defaults: final drive from the catalog sprockets, the default suspension,
  // rider springs, assists and flags. apply_setup overrides them for local riders.
  bike->tuning = default_tuning(m);
  bike->drivetrain.crank_inertia = m.crank_inertia;

  const dWorldID w = g_physics.world;
  const double d = bike->tuning.rider_mass_distribution;
  const auto rest = rest_positions(m);
  std::array<dMass, kBikeBodyCount> masses{};
  masses[kFrameBody] = frame_mass(m, d);
  masses[kFrontWheelBody] =
      wheel_mass(m.front_wheel.tyre_mass, m.front_wheel.hub_mass, m.front_wheel.hub_radius,
                 m.front_wheel.torus_radius, m.front_wheel.section_radius);
  masses[kRearWheelBody] =
      wheel_mass(m.rear_wheel.tyre_mass, m.rear_wheel.hub_mass, m.rear_wheel.hub_radius,
                 m.rear_wheel.torus_radius, m.rear_wheel.section_radius);
  masses[kForkUpperBody] = fork_mass(m);
  masses[kForkLowerBody] = masses[kForkUpperBody];
  masses[kSwingarmBody] = swingarm_mass(m);
  masses[kRiderBody] = rider_mass(m, d);
  for (int b = 0; b < kBikeBodyCount; ++b) {
    const dBodyID body = dBodyCreate(w);
    const auto i = static_cast<size_t>(b);
    dBodySetPosition(body, rest[i].x, rest[i].y, rest[i].z);
    dBodySetMass(body, &masses[i]);
    bike->bodies[i] = body;
    bike->total_mass += static_cast<float>(masses[i].mass);
  }
  dBodySetFiniteRotationMode(bike->bodies[kFrontWheelBody], 1);
  dBodySetFiniteRotationMode(bike->bodies[kRearWheelBody], 1);
  bike->front_contact.body = bike->bodies[kFrontWheelBody];
  bike->front_contact.torus_radius = m.front_wheel.torus_radius;
  bike->front_contact.section_radius = m.front_wheel.section_radius;
  bike->rear_contact.body = bike->bodies[kRearWheelBody];
  bike->rear_contact.torus_radius = m.rear_wheel.torus_radius;
  bike->rear_contact.section_radius = m.rear_wheel.section_radius;

  const auto& body = bike->bodies;
  auto& joint = bike->joints;
  const std::array<double, 3> x_axis = {1, 0, 0};
  const std::array<double, 3> steer_axis = minus(m.fork_upper_pos, m.fork_lower_pos);

  joint[kFrontAxleJoint] = dJointCreateHinge(w, nullptr);
  set_hinge(joint[kFrontAxleJoint], body[kForkLowerBody], body[kFrontWheelBody],
            vec(m.front_wheel.pos), x_axis);

  joint[kRearAxleJoint] = dJointCreateHinge(w, nullptr);
  set_hinge(joint[kRearAxleJoint], body[kSwingarmBody], body[kRearWheelBody],
            vec(m.rear_wheel.pos), x_axis);

  joint[kSteeringJoint] = dJointCreateHinge(w, nullptr);
  set_hinge(joint[kSteeringJoint], body[kForkUpperBody], body[kFrameBody],
            vec(m.fork_upper_pos), steer_axis);
  dJointSetHingeParam(joint[kSteeringJoint], dParamLoStop, -kPi / 4);
  dJointSetHingeParam(joint[kSteeringJoint], dParamHiStop, kPi / 4);

  // Position 0 is full extension; compression is negative.
  joint[kForkJoint] = dJointCreateSlider(w, nullptr);
  dJointAttach(joint[kForkJoint], body[kForkUpperBody], body[kForkLowerBody]);
  dJointSetSliderAxis(joint[kForkJoint], steer_axis[0], steer_axis[1], steer_axis[2]);
  dJointSetSliderParam(joint[kForkJoint], dParamBounce, 0);
  dJointSetSliderParam(joint[kForkJoint], dParamLoStop, -static_cast<double>(m.fork_travel));
  dJointSetSliderParam(joint[kForkJoint], dParamHiStop, 0);

  // Angle 0 is full extension; the wheel rising is negative.
  joint[kSwingarmJoint] = dJointCreateHinge(w, nullptr);
  set_hinge(joint[kSwingarmJoint], body[kSwingarmBody], body[kFrameBody],
            vec(m.swingarm_pivot), x_axis);
  dJointSetHingeParam(joint[kSwingarmJoint], dParamBounce, 0);
  dJointSetHingeParam(joint[kSwingarmJoint], dParamLoStop,
                      -static_cast<double>(m.swingarm_travel_angle));
  dJointSetHingeParam(joint[kSwingarmJoint], dParamHiStop, 0);

  joint[kRiderJoint] = dJointCreateHinge2(w, nullptr);
  attach_rider_joint(*bike, m);

  for (size_t j = 0; j < joint.size(); ++j) dJointSetFeedback(joint[j], &bike->joint_feedback[j]);

  if (g_appearance_seam.create != nullptr) {
    const BikeTextures textures{bike_texture != nullptr ? bike_texture : "",
                                head_texture != nullptr ? head_texture : "",
                                rider_texture != nullptr ? rider_texture : "",
                                wheel_texture != nullptr ? wheel_texture : ""};
    bike->appearance = g_appearance_seam.create(*bike, m, textures);
  }
  reset_bike(*bike);
  return bike;
}

void destroy_bike(BikeState* bike) {
  if (bike == nullptr) return;
  for (dJointID j : bike->joints)
    if (j != nullptr) dJointDestroy(j);
  for (dBodyID b : bike->bodies)
    if (b != nullptr) dBodyDestroy(b);
  if (bike->appearance != nullptr && g_appearance_seam.destroy != nullptr)
    g_appearance_seam.destroy(bike->appearance);
  delete bike;
}

// ---- whole-bike operations --------------------------------------------------------------

void reset_bike(BikeState& bike) {
  const BikeModelInfo& m = bike_model(bike.model);
  const auto rest = rest_positions(m);
  dMatrix3 identity;
  dRSetIdentity(identity);
  for (size_t b = 0; b < bike.bodies.size(); ++b) {
    const dBodyID body = bike.bodies[b];
    dBodySetPosition(body, rest[b].x, rest[b].y, rest[b].z);
    dBodySetRotation(body, identity);
    dBodySetLinearVel(body, 0, 0, 0);
    dBodySetAngularVel(body, 0, 0, 0);
    dBodySetForce(body, 0, 0, 0);
    dBodySetTorque(body, 0, 0, 0);
    // Keep the bodies in step with the flag set below.
    dBodyEnable(body);
  }
  bike.controls = BikeControls{};
  const float crank = bike.drivetrain.crank_inertia;
  bike.drivetrain = Drivetrain{};
  bike.drivetrain.crank_inertia = crank;
  bike.crash = CrashState{};
  bike.assist = AssistState{};
  bike.rider_feet = {};
  bike.rider_velocity_history = {};
  bike.enabled = 1;

  // Rider at its rest offset from the frame, in the frame's coordinates.
  const dBodyID frame = bike.bodies[kFrameBody];
  const dBodyID rider = bike.bodies[kRiderBody];
  dVector3 p;
  const auto offset = minus(m.rider_pos, m.frame_pos);
  dBodyGetRelPointPos(frame, offset[0], offset[1], offset[2], p);
  dBodySetPosition(rider, p[0], p[1], p[2]);
  dBodySetRotation(rider, dBodyGetRotation(frame));
  attach_rider_joint(bike, m);

  bike.joint_feedback = {};
  bike.front_stroke = RutStroke{};
  bike.rear_stroke = RutStroke{};
}

void translate_bike(BikeState& bike, const std::array<double, 3>& offset) {
  for (dBodyID body : bike.bodies) {
    const dReal* p = dBodyGetPosition(body);
    dBodySetPosition(body, p[0] + offset[0], p[1] + offset[1], p[2] + offset[2]);
  }
}

void orient_bike(BikeState& bike, const std::array<double, 3>& axis, double angle) {
  dMatrix3 r;
  dRFromAxisAndAngle(r, axis[0], axis[1], axis[2], angle);
  for (dBodyID body : bike.bodies) {
    const dReal* p = dBodyGetPosition(body);
    dVector3 q;
    dMultiply0_331(q, r, p);
    dBodySetPosition(body, q[0], q[1], q[2]);
    dBodySetRotation(body, r);
  }
}

namespace {
void clear_forces_if_disabled(BikeState& bike) {
  if (bike.enabled > 0.25f) return;
  for (dBodyID body : bike.bodies) {
    dBodySetForce(body, 0, 0, 0);
    dBodySetTorque(body, 0, 0, 0);
  }
}
}  // namespace

void enable_bike(BikeState& bike) {
  clear_forces_if_disabled(bike);
  bike.enabled = 1;
  for (dBodyID body : bike.bodies) dBodyEnable(body);
}

void disable_bike(BikeState& bike) {
  clear_forces_if_disabled(bike);
  bike.enabled = 0;
  for (dBodyID body : bike.bodies) dBodyDisable(body);
}

// ---- placement --------------------------------------------------------------------------

StartPosition bike_start_position(const TimingGates& gates, const HeightField& hf, int slot) {
  StartPosition at;
  const int g = static_cast<int>(gates.start.size());
  if (g == 0) {
    at.x = f(hf.extent) / 2.0 + 5.0 * slot;
    at.z = f(hf.extent) / 2.0;
    return at;
  }
  const GatePosition& gate = gates.start[static_cast<size_t>(slot % g)];
  const double row = slot / g;
  const double a = f(gate.angle);
  at.x = f(gate.slot[0]) + std::sin(a) * (row + 0.0625) * 10.0;
  at.z = f(gate.slot[2]) + std::cos(a) * (row + 0.0625) * 10.0;
  at.angle = a;
  return at;
}

bool place_bike(BikeState& bike, const HeightField& hf, const StartPosition& at,
                BikeTouchTest touches) {
  const double s = hf.spacing > 0 ? f(hf.spacing) : 1.0;
  const double fi = std::isfinite(at.x) ? std::clamp(at.x / s, -1.0, 1e9) : 0.0;
  const double fj = std::isfinite(at.z) ? std::clamp(at.z / s, -1.0, 1e9) : 0.0;
  double h = hf.heights.empty()
                 ? 0.0
                 : f(height_sample(hf, static_cast<int>(fi), static_cast<int>(fj)));
  // Enough tries to clear the highest ground from the lowest, with room to spare.
  const double span = f(hf.max_height) - f(hf.min_height);
  const int max_tries = 64 + static_cast<int>(std::clamp(span, 0.0, 1e5) * 4.0);
  bool clear = false;
  for (int t = 0; t < max_tries && !clear; ++t) {
    reset_bike(bike);
    orient_bike(bike, {0, 1, 0}, at.angle);
    translate_bike(bike, {at.x, h, at.z});
    h += 0.25;
    clear = touches == nullptr || !touches(bike, hf);
  }
  // The tries that touched made contact joints for poses the bike no longer has.
  if (g_physics.contact_group != nullptr) dJointGroupEmpty(g_physics.contact_group);
  return clear;
}

}  // namespace ks
