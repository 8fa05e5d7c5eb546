// Erosion: wheels that dig turn their contact force into rut points, gathered into strokes
// and packed into erosion records; records feed a queue whose points dig the terrain and
// throw the dirt aside.
#pragma once

#include <cstdint>
#include <optional>

#include "physics/rut_stroke.h"

namespace ks {

struct BikeState;
struct HeightField;
struct WheelContact;

constexpr int kErosionRecordMax = 17 + 63 * 4;  // 269 bytes
constexpr int kErosionQueueSize = 131072;

struct GuardPosition {
  double x = 0, z = 0;
};

// Where submitted records go besides the queue: the demo recorder keeps them, a network
// client sends them instead of decoding (return true to skip the local decode).
struct ErosionHooks {
  void (*record_written)(const uint8_t* bytes, int length) = nullptr;
  bool (*send_to_server)(const uint8_t* bytes, int length) = nullptr;
};
ErosionHooks& erosion_hooks();

// Samples both wheels of a bike after the world step; `tic` is the current tic.
void erosion_sample_bike(BikeState& bike, const HeightField& hf, int tic);
void reset_rut_strokes(BikeState& bike);

int encode_erosion_record(const RutStroke& stroke, float extent, uint8_t* out);
void submit_erosion_record(const uint8_t* bytes, int length);
void decode_erosion_record(const uint8_t* bytes, int length);

// Applies the queue's quota for this tic with strength rate / 1024.
void apply_erosion(HeightField& hf, std::optional<GuardPosition> guard, double strength,
                   int tic);
// Number of queued points.
int erosion_queue_length();
// Empties the queue (a new track).
void clear_erosion_queue();

}  // namespace ks
