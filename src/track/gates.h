// Timing gates of a track: the starting gate, the checkpoints and the first-lap and
// normal-lap gate sequences, read from and written to a track's "timing_gates" file.
#pragma once

#include <array>
#include <string>
#include <vector>

namespace ks {

struct VfsFile;

constexpr int kMaxCheckpoints = 256;
constexpr int kMaxSequenceGates = 256;
constexpr int kMaxGatePositions = 160;
// Added to a checkpoint number in a sequence: racing-line statistics skip the gate.
constexpr int kMarkedGate = 100000;

extern const char* const kDefaultGateModel;    // "@startgate.jm"
extern const char* const kDefaultGateTexture;  // "@startgate.ppm"
extern const char* const kDefaultGateShape;    // "@startgate.shp"

// A checkpoint.
struct TimingGate {
  std::array<float, 3> position{};
  std::array<float, 3> direction{};
  float radius = 0;
  bool rider_down = false;  // set each frame for the track-side flaggers
};

// One starting-gate slot. The names are those of its gate piece; empty means none.
struct GatePosition {
  std::array<float, 3> slot{};  // as read; y is the piece's height above the terrain
  float angle = 0;              // -pi .. pi
  int object = -1;              // index of the gate piece in the track's objects
  std::string model = kDefaultGateModel;
  std::string texture = kDefaultGateTexture;
  std::string shape = kDefaultGateShape;
};

struct TimingGates {
  std::vector<GatePosition> start;     // at most kMaxGatePositions
  std::vector<TimingGate> checkpoints; // at most kMaxCheckpoints; empty when not valid
  std::vector<int> first_lap;          // checkpoint references (maybe + kMarkedGate)
  std::vector<int> normal_lap;
  int first_lap_unmarked = 0;
  int normal_lap_unmarked = 0;
  bool valid = false;
};

// The angle wrapped into -pi .. pi.
float normalize_gate_angle(float a);

// A sequence value as stored: the mark kept, the checkpoint clamped to the ones there are.
int clamp_gate_reference(int v, int checkpoint_count);

// Reads the file (gate pieces are not created here). Applies the validity rule: an
// invalid set keeps its starting gate but has no checkpoints and empty sequences.
void read_timing_gates(VfsFile* f, TimingGates& g);

// Writes what read_timing_gates reads back. Posts "Can't open 'timing_gates'\n" when the
// file can't be opened; false on any failure.
bool write_timing_gates(VfsFile* f, const TimingGates& g);
bool write_timing_gates_file(const char* path, const TimingGates& g);

}  // namespace ks
