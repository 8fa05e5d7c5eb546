// Erosion: wheels that dig turn their contact force into rut points, gathered into strokes
// and packed into erosion records; records feed a queue whose points dig the terrain and
// throw the dirt aside.
//
// Records never go straight from sampling to the queue: a finished stroke is submitted,
// which offline decodes it at once and online hands it to the server, whose echo is then
// decoded by the network client. Every machine so digs the same ruts in the same order.
#pragma once

#include <array>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "physics/rut_stroke.h"

namespace ks {

struct BikeState;
struct HeightField;
struct WheelContact;

constexpr int kErosionRecordMax = 17 + 63 * 4;  // 269 bytes
constexpr int kErosionRecordHeader = 17;        // type, deltas and the first point
constexpr int kErosionQueueSize = 131072;
constexpr int kErosionIdleTics = 64;      // a stroke with no digging sample this long is sent
constexpr float kStrokeDeltaRange = 64;   // ft; a wider spread of deltas starts a new stroke
constexpr int kMaxPointSamples = 16;
constexpr int kGuardWaitTics = 256;
constexpr int kNoDeadline = INT_MAX;

struct GuardPosition {
  double x = 0, z = 0;
};

// Where submitted records and changed ground go. All may be empty.
struct ErosionHooks {
  // Offline, every submitted record after its decode: the demo recorder keeps it so that
  // playback digs the same ruts in the same order. (Online the network client records the
  // server's echo itself when it decodes it.)
  void (*record_written)(const uint8_t* bytes, int length) = nullptr;
  // Online: sends the record to the server; true skips the local decode and the
  // record_written call, as the echo will come back.
  bool (*send_to_server)(const uint8_t* bytes, int length) = nullptr;
  // The inclusive square of samples a dig or deposit wrote (the terrain renderer's
  // mark_ground_changed).
  void (*mark_ground_changed)(HeightField& hf, int column0, int column1, int row0,
                              int row1) = nullptr;
};
ErosionHooks& erosion_hooks();

// What the last sampling of a wheel saw, for the erosion log display.
struct ErosionDebug {
  float speed = 0, slip = 0, fx = 0, fz = 0, pfx = 0, pfz = 0;
};

// The one erosion queue of the run and the debug values.
struct ErosionState {
  std::array<RutPoint, kErosionQueueSize> queue{};
  int head = 0;    // ring index of the oldest entry
  int length = 0;  // queued entries
  bool full_reported = false;  // "Erode queue full!" shown; stays set for the run
  int guard_deadline = kNoDeadline;  // tic after which the guard is ignored once
  ErosionDebug last;                 // the last sampled wheel
  ErosionDebug front, rear;          // per wheel of the last sampled bike
};
ErosionState& erosion_state();
// Empties the queue, clears the guard deadline, the full-reported flag and the debug values
// (a fresh run; tests).
void reset_erosion();
// Empties the queue and clears the guard deadline. Call when a track is loaded: queued
// points belong to the old terrain. The full-reported flag stays (once per run).
void clear_erosion_queue();
// Number of queued points.
int erosion_queue_length();
// The k-th queued point from the head (k < erosion_queue_length()).
const RutPoint& erosion_queue_at(int k);

// ---- sampling ---------------------------------------------------------------------------

// Samples both wheels of a bike after the world step (front, then rear); `tic` is the
// current tic.
void erosion_sample_bike(BikeState& bike, const HeightField& hf, int tic);
// One sampling step of one wheel into its stroke.
void erosion_sample_wheel(RutStroke& stroke, const WheelContact& wheel, bool front,
                          const HeightField& hf, int tic);
// Turns the pending samples into a stored point (nothing when none are pending), sending
// the stroke first when it is full or when the new point would widen its delta range past
// 64 ft. The pending samples are consumed; their travel is left to the caller.
void store_rut_point(RutStroke& stroke, const HeightField& hf, int tic);
// Clears both strokes, dropping pending samples and unsent points.
void reset_rut_strokes(BikeState& bike);

// ---- records ----------------------------------------------------------------------------

// Packs the stroke's points into `out` (at least kErosionRecordMax bytes); positions are
// coded against `extent`, the terrain's. Returns the length, 0 when the stroke is empty.
int encode_erosion_record(const RutStroke& stroke, float extent, uint8_t* out);
// Appends the record's points to the queue. Records shorter than 17 bytes or of another
// type are ignored; trailing bytes that don't fill a point are too. A point that finds
// the queue full is dropped.
void decode_erosion_record(const uint8_t* bytes, int length, float extent);
// The same against the current track's terrain (nothing when no track is loaded): the
// form the demo player and the network client use.
void decode_erosion_record(const uint8_t* bytes, int length);
// Hands a finished record on: to the server when one takes it, otherwise decoded at once
// and given to record_written.
void submit_erosion_record(const uint8_t* bytes, int length, float extent);
void submit_erosion_record(const uint8_t* bytes, int length);

// The count of samples in a point is 1..16 and a record carries it in 4 bits: 16 is
// carried as 0, which no point holds otherwise, and 0 reads back as 16.
inline int encode_point_count(int count) { return count & 15; }
inline int decode_point_count(int code) { return code == 0 ? 16 : code; }

// ---- application ------------------------------------------------------------------------

// Points taken from the queue in one tic when q are queued.
int erosion_quota(int q);
// Applies this tic's quota with strength rate / 1024. A point within 10 ft of the guard
// (the local rider) waits, and everything behind it, until the rider has moved away or
// 256 tics have passed; then the quota goes regardless for one tic. The caller lifts the
// field's edit lock around the call.
void apply_erosion(HeightField& hf, std::optional<GuardPosition> guard, double strength,
                   int tic);
// Adds amount * bell(distance / radius) to the samples around (x, z); returns the total
// change actually written (samples outside the field or refused count nothing).
double terrain_dig(HeightField& hf, double x, double z, double radius, double amount);
// Puts `amount` back around (x, z) with the same bell, spread over the samples inside the
// field so that the whole amount lands.
void terrain_deposit(HeightField& hf, double x, double z, double radius, double amount);

// ---- log display ------------------------------------------------------------------------

// "front:\n", the front wheel's values, "rear:\n", the rear wheel's (fx, fz, pfx and pfz
// negated), into `out`; returns the length written (truncated to size - 1).
int erosion_log_text(const ErosionDebug& front, const ErosionDebug& rear, char* out,
                     size_t size);

}  // namespace ks
