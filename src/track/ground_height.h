// The terrain height query that placing billboards, objects and cameras needs, as a
// seam, so that the readers work (and are tested) without a loaded height field.
#pragma once

#include <functional>

namespace ks {

// Height of the ground at (x, z). An empty function means flat ground at 0.
using GroundHeight = std::function<float(float x, float z)>;

inline float ground_at(const GroundHeight& g, float x, float z) { return g ? g(x, z) : 0.0f; }

}  // namespace ks
