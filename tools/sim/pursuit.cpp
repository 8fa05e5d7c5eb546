// Pure pursuit along a smooth path through the gates: each pair of consecutive gates is
// joined by a cubic Hermite curve whose end tangents are the gates' directions, which
// follows the track's turns far better than straight chords between gate centres.
#include "pursuit.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include <ode/ode.h>

#include "physics/bike_catalog.h"
#include "physics/bike_setup.h"
#include "physics/bike_state.h"
#include "physics/rider.h"
#include "race/timing.h"
#include "track/heightfield.h"
#include "track/track.h"

namespace ks {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kSampleStep = 3.0;      // ft between path samples
constexpr double kWindowLength = 420.0;  // ft of path looked at ahead
constexpr double kGravityFtPerS2 = 32;
constexpr double kTurnRoundSpeed = 14;  // ft/s, when the aim is far to the side or behind
constexpr int kStuckTics = 3 * kTicsPerSecond;
constexpr int kBackUpTics = 2 * kTicsPerSecond;
constexpr int kEscapeTics = 3 * kTicsPerSecond / 2;
constexpr double kEscapeSteer = 0.6;
constexpr double kRearWheelRadius = 1.05;  // ft, near enough for every catalog bike
constexpr double kSpinMargin = 12;         // ft/s of wheel surface speed over ground speed
constexpr double kGiveUpDistance = 80;  // ft past a missed gate before it is given up
constexpr int kGateGiveUpTics = 20 * kTicsPerSecond;  // heading for one gate this long
// The balance controller reads the steer input as a lean: about 45 degrees at full input,
// towards +x (a right turn when facing -z) for a positive input.
constexpr double kLeanPerSteer = kPi / 4;
constexpr double kMaxSteer = 0.85;
constexpr double kYawRateGain = 0.15;  // steer input per rad/s of yaw-rate error

struct P2 {
  double x = 0, z = 0;
};
P2 operator+(P2 a, P2 b) { return {a.x + b.x, a.z + b.z}; }
P2 operator-(P2 a, P2 b) { return {a.x - b.x, a.z - b.z}; }
P2 operator*(P2 a, double s) { return {a.x * s, a.z * s}; }
double dot(P2 a, P2 b) { return a.x * b.x + a.z * b.z; }
double length(P2 a) { return std::sqrt(dot(a, a)); }
double wrap_angle(double a) { return std::remainder(a, 2 * kPi); }

P2 body_xz(dBodyID b) {
  const dReal* p = dBodyGetPosition(b);
  return {p[0], p[2]};
}

struct Aim {
  P2 p;    // where to pass the gate
  P2 dir;  // unit travel direction through it
  double radius = 0;
};

bool gate_aim(const TimingGates& gates, int k, double lateral, Aim& out) {
  const TimingGate* g = sequence_gate(gates, k);
  if (g == nullptr) return false;
  P2 d{g->direction[0], g->direction[2]};
  const double n = length(d);
  d = n > 1e-9 ? d * (1 / n) : P2{0, -1};
  const P2 right{-d.z, d.x};
  const double off = std::clamp(lateral, -0.8, 0.8) * g->radius;
  out.p = P2{g->position[0], g->position[2]} + right * off;
  out.dir = d;
  out.radius = g->radius;
  return true;
}

struct Sample {
  P2 p;
  double s = 0;  // arc length from the window's start
};

// Appends the Hermite curve from a to b (its first point is skipped when samples exist).
void append_curve(std::vector<Sample>& out, P2 a, P2 ta, P2 b, P2 tb) {
  const double chord = length(b - a);
  if (chord < 1e-6) return;
  const P2 ma = ta * chord, mb = tb * chord;
  const int n = std::max(2, static_cast<int>(std::ceil(chord / kSampleStep)));
  for (int i = out.empty() ? 0 : 1; i <= n; ++i) {
    const double t = static_cast<double>(i) / n, t2 = t * t, t3 = t2 * t;
    const P2 p = a * (2 * t3 - 3 * t2 + 1) + ma * (t3 - 2 * t2 + t) + b * (-2 * t3 + 3 * t2) +
                 mb * (t3 - t2);
    const double s = out.empty() ? 0 : out.back().s + length(p - out.back().p);
    out.push_back({p, s});
  }
}

// Curvature (1/ft) at sample i from its neighbours.
double curvature_at(const std::vector<Sample>& path, size_t i) {
  if (i == 0 || i + 1 >= path.size()) return 0;
  const P2 u = path[i].p - path[i - 1].p, v = path[i + 1].p - path[i].p;
  const double lu = length(u), lv = length(v);
  if (lu < 1e-6 || lv < 1e-6) return 0;
  const double turn = std::atan2(u.x * v.z - u.z * v.x, dot(u, v));
  return std::fabs(turn) / (0.5 * (lu + lv));
}

// Which samples lie in a run of bumps (rhythm lanes, whoops): a crest standing at least
// kCrestHeight over the ground either side, with another crest within kRunLength after it.
// A single kicker is jumped at speed; a run of them at the speed it launches off the first
// one flies over the run into the face of a later one.
std::vector<bool> rough_samples(const std::vector<Sample>& path, const HeightField& hf) {
  constexpr double kCrestHeight = 1.0;  // ft
  constexpr double kRunLength = 60;     // ft from one crest to the next
  constexpr double kLeadIn = 40;        // ft before the first crest
  const size_t n = path.size();
  std::vector<double> h(n);
  for (size_t i = 0; i < n; ++i) h[i] = ground_height_at(hf, path[i].p.x, path[i].p.z);
  std::vector<size_t> crests;
  for (size_t i = 3; i + 3 < n; ++i) {
    bool top = true;
    double low_before = h[i], low_after = h[i];
    for (size_t k = 1; k <= 3; ++k) top = top && h[i] >= h[i - k] && h[i] > h[i + k];
    for (size_t k = 1; k <= 6 && k <= i; ++k) low_before = std::min(low_before, h[i - k]);
    for (size_t k = 1; k <= 6 && i + k < n; ++k) low_after = std::min(low_after, h[i + k]);
    if (top && h[i] - std::max(low_before, low_after) >= kCrestHeight) crests.push_back(i);
  }
  std::vector<bool> rough(n, false);
  for (size_t c = 0; c + 1 < crests.size(); ++c) {
    const size_t a = crests[c], b = crests[c + 1];
    if (path[b].s - path[a].s > kRunLength) continue;
    for (size_t i = 0; i <= b; ++i)
      if (path[i].s >= path[a].s - kLeadIn) rough[i] = true;
  }
  return rough;
}

double horizontal_speed(const BikeState& bike) {
  const dReal* v = dBodyGetLinearVel(bike.bodies[kFrameBody]);
  return std::sqrt(v[0] * v[0] + v[2] * v[2]);
}

// Heading of travel: the frame's -z axis in the horizontal plane.
P2 forward_of(const BikeState& bike) {
  dVector3 f;
  dBodyVectorToWorld(bike.bodies[kFrameBody], 0, 0, -1, f);
  P2 d{f[0], f[2]};
  const double n = length(d);
  return n > 1e-9 ? d * (1 / n) : P2{0, -1};
}

// The same hit test as the gate step: inside the circle and on or beyond the line.
bool passes(const Aim& gate_centre, double radius, P2 at) {
  const P2 r = at - gate_centre.p;
  return dot(r, r) <= radius * radius && dot(r, gate_centre.dir) >= 0;
}

}  // namespace

const TimingGate* sequence_gate(const TimingGates& gates, int k) {
  const int f = static_cast<int>(gates.first_lap.size());
  const int n = static_cast<int>(gates.normal_lap.size());
  if (!gates.valid || k < 0 || (k >= f && n == 0)) return nullptr;
  int ref = k < f ? gates.first_lap[static_cast<size_t>(k)]
                  : gates.normal_lap[static_cast<size_t>((k - f) % n)];
  if (ref >= kMarkedGate) ref -= kMarkedGate;
  if (ref < 0 || ref >= static_cast<int>(gates.checkpoints.size())) return nullptr;
  return &gates.checkpoints[static_cast<size_t>(ref)];
}

bool is_lap_line(const TimingGates& gates, int k) {
  const int f = static_cast<int>(gates.first_lap.size());
  const int n = static_cast<int>(gates.normal_lap.size());
  if (n == 0 || k < f - 1) return false;
  return (k - f + 1) % n == 0;
}

void reset_pursuit(PursuitState& state, const RaceState& race, int slot) {
  state = {};
  state.next = race.slots[static_cast<size_t>(slot)].timing.gate_count;
  if (const BikeState* bike = slot_bike(race, slot)) {
    const P2 p = body_xz(bike->bodies[kFrameBody]);
    state.origin_x = p.x;
    state.origin_z = p.z;
  }
}

LocalInputs pursuit_step(PursuitState& state, const PursuitParams& params,
                         const RaceState& race, int slot, const Track& track) {
  LocalInputs in;
  const BikeState* bike = slot_bike(race, slot);
  if (bike == nullptr) return in;
  const TimingGates& gates = track.gates;

  // Progress: what timing has seen, and gates passed by the same test it uses. A gate
  // left beside the path is given up unless it ends a lap, which can't be skipped.
  const P2 front = body_xz(bike->bodies[kFrontWheelBody]);
  const int counted = race.slots[static_cast<size_t>(slot)].timing.gate_count;
  auto advance_to = [&](int k) {
    for (; state.next < k; ++state.next)
      if (is_lap_line(gates, state.next)) ++state.lap_lines;
    state.gate_tics = 0;
  };
  if (counted > state.next) advance_to(counted);
  for (int guard = 0; guard < 4; ++guard) {
    Aim g;
    if (!gate_aim(gates, state.next, 0, g)) break;
    const P2 r = front - g.p;
    const double along = dot(r, g.dir);
    // A missed gate is ridden back for (a skipped gate costs a cutting penalty), unless
    // the bike is far past it and already nearer the gate after it than the missed one is.
    bool missed = false;
    Aim after;
    if (along >= 0 && gate_aim(gates, state.next + 1, 0, after)) {
      const double ahead = length(after.p - g.p);
      missed = along > kGiveUpDistance && length(after.p - front) < ahead;
    }
    // Circling a gate it can't get into (or stuck short of it) ends the same way.
    missed = missed || state.gate_tics > kGateGiveUpTics;
    if (passes(g, g.radius, front) || (missed && !is_lap_line(gates, state.next)))
      advance_to(state.next + 1);
    else
      break;
  }
  ++state.gate_tics;

  // Before the gate drops: hold still.
  if (race.current_tic < race.start_tic) {
    in.front_brake = 1;
    in.rear_brake = 1;
    return in;
  }

  // The path: from the last gate (or the start) through the next few.
  std::vector<Sample> path;
  path.reserve(256);
  Aim prev;
  bool from_origin = false;
  if (!gate_aim(gates, state.next - 1, params.lateral, prev)) {
    // From where the bike stood, straight down the gate's direction: a wide first gate
    // (the back of a start chute) is passed where the bike meets it.
    Aim first;
    if (!gate_aim(gates, state.next, 0, first)) return in;
    prev.p = {state.origin_x, state.origin_z};
    prev.dir = first.dir;
    from_origin = true;
  }
  size_t first_curve_end = 0;
  for (int k = state.next; path.empty() || path.back().s < kWindowLength; ++k) {
    Aim g;
    if (k > state.next + 12 || !gate_aim(gates, k, params.lateral, g)) break;
    if (from_origin && k == state.next) {
      const P2 right{-g.dir.z, g.dir.x};
      const double room = std::max(0.0, g.radius - 8);
      g.p = g.p + right * std::clamp(dot(prev.p - g.p, right), -room, room);
    }
    append_curve(path, prev.p, prev.dir, g.p, g.dir);
    if (k == state.next) first_curve_end = path.size();
    prev = g;
  }
  if (path.size() < 2) return in;

  const P2 rear = body_xz(bike->bodies[kRearWheelBody]);
  const P2 fwd = forward_of(*bike);
  const double speed = horizontal_speed(*bike);

  // Nearest sample on the curves into and out of the next gate.
  const size_t search_end = std::min(path.size(), first_curve_end + 60);
  size_t near = 0;
  double best = 1e300;
  for (size_t i = 0; i < search_end; ++i) {
    const double d = dot(path[i].p - rear, path[i].p - rear);
    if (d < best) {
      best = d;
      near = i;
    }
  }
  const double s0 = path[near].s;
  const double ld = std::max(params.min_lookahead, params.lookahead * speed);
  size_t aim = near;
  // Not far beyond the next gate while it is still ahead: cutting the corner before it
  // could miss its circle, and timing would count the gate as skipped.
  double reach = s0 + ld;
  if (first_curve_end > 0) {
    Aim next_gate;
    const double r = gate_aim(gates, state.next, 0, next_gate) ? next_gate.radius : 0;
    reach = std::min(reach, path[first_curve_end - 1].s + 0.5 * r);
  }
  while (aim + 1 < path.size() && path[aim].s < reach) ++aim;
  const P2 to = path[aim].p - rear;
  const double dist = std::max(length(to), 1.0);
  const double alpha = wrap_angle(std::atan2(to.x, -to.z) - std::atan2(fwd.x, -fwd.z));

  // Curvature asked for, the lean that holds it at this speed, and a little on the
  // yaw-rate error for what the lean alone misses.
  const double kappa = 2 * std::sin(alpha) / dist;
  const double heading = std::atan2(fwd.x, -fwd.z);
  const double yaw_rate =
      state.have_heading ? wrap_angle(heading - state.last_heading) * kTicsPerSecond : 0;
  state.last_heading = heading;
  state.have_heading = true;
  const double v = std::max(speed, 5.0);
  const double lean = std::atan(kappa * v * v / kGravityFtPerS2);
  double steer = lean / kLeanPerSteer + kYawRateGain * (kappa * v - yaw_rate);
  steer = std::clamp(steer, -kMaxSteer, kMaxSteer);

  // Speed: the slowest that the turns and bump runs ahead allow, reached by braking in time.
  double target = params.max_speed;
  const std::vector<bool> rough =
      track.terrain ? rough_samples(path, *track.terrain) : std::vector<bool>(path.size(), false);
  for (size_t i = near; i < path.size(); ++i) {
    const double k = std::max({curvature_at(path, i), i > 0 ? curvature_at(path, i - 1) : 0.0,
                               curvature_at(path, i + 1), 1e-4});
    double corner = std::sqrt(params.lateral_accel / k);
    if (rough[i]) corner = std::min(corner, params.rough_speed);
    const double d = std::max(0.0, path[i].s - s0);
    target = std::min(target, std::sqrt(corner * corner + 2 * params.braking * d));
  }
  // The turn the rider is in now; turning round is done slowly, on the spot.
  target = std::min(target, std::sqrt(params.lateral_accel / std::max(std::fabs(kappa), 1e-4)));
  if (std::fabs(alpha) > kPi / 3) target = std::min(target, kTurnRoundSpeed);
  target *= params.pace;
  target = std::max(target, 8.0);

  const double err = target - speed;
  if (err >= -2) {
    in.throttle = static_cast<float>(std::clamp(0.35 + 0.12 * err, 0.0, 1.0));
    // Traction: a rear wheel spinning far faster than the bike moves gets less throttle
    // (it bogs down in mud and sand otherwise).
    const dReal* w = dBodyGetAngularVel(bike->bodies[kRearWheelBody]);
    const double surface = std::sqrt(w[0] * w[0] + w[1] * w[1] + w[2] * w[2]) * kRearWheelRadius;
    if (surface > speed + kSpinMargin) in.throttle *= 0.4f;
  } else {
    const double b = std::clamp(-err * 0.08, 0.0, 1.0);
    in.front_brake = static_cast<float>(b);
    in.rear_brake = static_cast<float>(b);
  }

  // Stuck against something: back up a little, bars the other way, then ride off to one
  // side (the other side on the next try) before pursuing again.
  if (bike->crash.counter > 0) {
    state.slow_tics = 0;
  } else if (state.backing_tics > 0) {
    --state.backing_tics;
    in.throttle = 0;
    in.front_brake = in.rear_brake = 0;
    in.back_up = 1;
    steer = -steer;
    if (state.backing_tics == 0) state.escape_tics = kEscapeTics;
  } else if (state.escape_tics > 0) {
    --state.escape_tics;
    in.throttle = 0.5f;
    in.front_brake = in.rear_brake = 0;
    steer = state.escape_side * kEscapeSteer;
    if (state.escape_tics == 0) state.escape_side = -state.escape_side;
  } else if (speed < 3) {
    if (++state.slow_tics > kStuckTics) {
      state.slow_tics = 0;
      state.backing_tics = kBackUpTics;
    }
  } else {
    state.slow_tics = 0;
  }
  in.steer = static_cast<float>(steer);

  // Manual gearbox: shift by the catalog's shift points.
  if ((bike->tuning.flags[0] & kFlagAutoShift) == 0) {
    const BikeModelInfo& m = bike_model(bike->model);
    const double rpm = bike->drivetrain.engine_speed * 60 / (2 * kPi);
    float shift = 0;
    if (rpm > m.upshift_rpm) shift = 1;
    else if (rpm < m.downshift_rpm && bike->drivetrain.gear > 0) shift = -1;
    // The gearbox acts on a change of the input, so release between shifts.
    if (state.last_shift != 0) shift = 0;
    state.last_shift = shift;
    in.shift = shift;
  }
  return in;
}

void set_bike_controls(BikeState& bike, const LocalInputs& in) {
  set_control(bike, Control::steer, in.steer);
  set_control(bike, Control::throttle, in.throttle);
  set_control(bike, Control::front_brake, in.front_brake);
  set_control(bike, Control::rear_brake, in.rear_brake);
  set_control(bike, Control::back_up, in.back_up);
  set_control(bike, Control::lean, in.lean);
  set_control(bike, Control::sit_dab, in.sit_dab);
  set_control(bike, Control::clutch, 1.0 - in.clutch);
  set_control(bike, Control::shift, in.shift > 0.5f ? 1.0 : (in.shift < -0.5f ? -1.0 : 0.0));
}

}  // namespace ks
