// What kessra-sim draws and checks on the terrain: the riders' paths, the cells the wheels
// ran over, the ground that erosion changed, and the top-down picture of all of it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ks {

struct Track;
struct HeightField;

struct RiderPath {
  int slot = 0;
  std::vector<float> xz;  // x, z pairs
};

// One flag per height sample: a wheel rolled over (or next to) it.
struct WheelMarks {
  int size = 0;
  float spacing = 1;
  std::vector<uint8_t> ran;
};
void init_wheel_marks(WheelMarks& m, const HeightField& hf);
void mark_wheel(WheelMarks& m, double x, double z);

struct ErosionSummary {
  int changed = 0;  // samples whose height differs from the loaded height
  int dug = 0;      // of those, lower than loaded
  int raised = 0;
  double deepest = 0;   // ft below the loaded height, largest
  double highest = 0;   // ft above
  double farthest = 0;  // ft from the nearest sample a wheel ran over, largest
  int far_samples = 0;  // changed samples farther than kRutReach from every wheel track
};
constexpr double kRutReach = 12.0;  // ft: the dig radius plus the dirt thrown aside
// Heights below this difference count as unchanged (float noise of the digging sums).
constexpr double kHeightEpsilon = 1e-4;
ErosionSummary summarize_erosion(const HeightField& hf, const WheelMarks& marks);

// The top-down picture: material colours over the baked shading, darker where the ground
// was dug and lighter where dirt was thrown, the timing gates and the starting gate, and
// every path in its own colour. False when the file can't be written.
bool write_track_plot(const std::string& file, const Track& track,
                      const std::vector<RiderPath>& paths);

}  // namespace ks
