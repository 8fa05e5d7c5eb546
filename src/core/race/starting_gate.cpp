// The starting gate: one piece per gate position, the first objects of the track. A piece
// lies as the track placed it when the gate is down; held up it is turned 3*pi/16 about
// its hinge. The hinge is the piece's own x axis through its position: the standard piece
// is a plate on the ground reaching 2 ft either side of that line across the slot, and
// its half towards the waiting bike (local +z, where the bike stands) rises.
#include <algorithm>
#include <cmath>

#include "core/race/race_internal.h"
#include "physics/bike_contact.h"
#include "physics/world.h"
#include "track/track.h"

namespace ks {

namespace {

constexpr double kGateAngle = 0.5890486;  // 3*pi/16, the raised piece's tilt
constexpr int kGateHandledTics = 10 * kTicsPerSecond;

TrackObject* piece_object(Track& track, int position) {
  if (position < 0 || static_cast<size_t>(position) >= track.gates.start.size()) return nullptr;
  const int index = track.gates.start[static_cast<size_t>(position)].object;
  if (index < 0 || static_cast<size_t>(index) >= track.objects.size()) return nullptr;
  return &track.objects[static_cast<size_t>(index)];
}

}  // namespace

int gate_start_tic(const RaceState& race) {
  const bool racing_online = race.online && !race.warmup && race.local_slot >= 0 &&
                             race.local_slot < kMaxBikes &&
                             slot_bike(race, race.local_slot) != nullptr;
  return race.start_tic + (racing_online ? 127 : 0);
}

void pose_gate_piece(const RaceState& race, Track& track, int position, float drop) {
  TrackObject* o = piece_object(track, position);
  if (o == nullptr || static_cast<size_t>(position) >= race.gate_pieces.size()) return;
  const std::array<float, 9>& m = race.gate_pieces[static_cast<size_t>(position)].rest;
  // Turning about the piece's own x axis: the rest orientation times a turn about x.
  const double a = -double(drop) * kGateAngle;
  const double c = std::cos(a), s = std::sin(a);
  for (size_t r = 0; r < 3; ++r) {
    const double y = m[r * 3 + 1], z = m[r * 3 + 2];
    o->orientation[r * 3 + 0] = m[r * 3 + 0];
    o->orientation[r * 3 + 1] = static_cast<float>(y * c + z * s);
    o->orientation[r * 3 + 2] = static_cast<float>(-y * s + z * c);
  }
}

void raise_gate_pieces(RaceState& race, Track& track) {
  const size_t n = track.gates.start.size();
  race.gate_pieces.assign(n, GatePieceState{});
  // A clock already past the gate's time (the time trial) finds the gate down: the gate
  // step no longer runs to lower it.
  const bool long_down = race.current_tic > gate_start_tic(race) + kGateHandledTics;
  for (size_t i = 0; i < n; ++i) {
    TrackObject* o = piece_object(track, static_cast<int>(i));
    if (o == nullptr) continue;
    // The resting pose as the track places it, whatever the last race left behind.
    TrackObject rest;
    rest.position = o->position;
    rest.y_offset = o->y_offset;
    rest.angle = o->angle;
    place_track_object(rest, track.ground);
    race.gate_pieces[i].rest = rest.orientation;
    if (long_down) race.gate_pieces[i].drop = 0;
    pose_gate_piece(race, track, static_cast<int>(i), race.gate_pieces[i].drop);
  }
}

void starting_gate_step(RaceState& race, Track& track) {
  const int s = gate_start_tic(race);
  const int now = race.current_tic;
  if (now > s + kGateHandledTics) return;
  const float dt = static_cast<float>(kTicSeconds);
  for (size_t i = 0; i < race.gate_pieces.size(); ++i) {
    GatePieceState& p = race.gate_pieces[i];
    if (now < s) {
      p.drop = 1;
      p.speed = 0;
    } else {
      const TrackObject* o = piece_object(track, static_cast<int>(i));
      const bool touched = p.replay_touch_tic == now || (o != nullptr && o->touch_tic == now);
      if (touched) {
        p.speed = 0;
      } else {
        p.speed += 32 * dt;
        p.drop = std::max(0.0f, p.drop - dt * p.speed);
      }
      p.speed = std::min(p.speed, 8.0f);
    }
    pose_gate_piece(race, track, static_cast<int>(i), p.drop);
  }
}

void replayed_gate_touch(RaceState& race, Track& track, BikeState& bike) {
  // The test only reports; the wheels keep the contacts their replay gave them.
  const WheelContact front = bike.front_contact, rear = bike.rear_contact;
  for (size_t i = 0; i < race.gate_pieces.size(); ++i) {
    TrackObject* o = piece_object(track, static_cast<int>(i));
    if (o == nullptr || !o->shape) continue;
    const ShapePose pose = object_pose(o->position, o->orientation);
    if (shape_bike_contacts(bike, *o->shape, nullptr, pose, kContactTouch, kContactTouch) != 0)
      race.gate_pieces[i].replay_touch_tic = race.current_tic;
  }
  bike.front_contact = front;
  bike.rear_contact = rear;
}

}  // namespace ks
