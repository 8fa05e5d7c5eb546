// Erosion records from hostile bytes: decoded into the queue against a small field, then
// applied until the queue is empty. Heights must stay finite and the queue bounded.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>

#include "physics/erosion.h"
#include "track/heightfield.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static auto hf = std::make_unique<ks::HeightField>();
  if (hf->size == 0 && !ks::init_height_field(*hf, 3, 1.5f, 4.0f)) std::abort();
  hf->heights = hf->loaded_heights;
  ks::reset_erosion();
  const int length = size > 4096 ? 4096 : static_cast<int>(size);
  ks::decode_erosion_record(data, length, hf->extent);
  // A second copy half-way in covers records that start at any byte.
  if (length > 1) ks::decode_erosion_record(data + length / 2, length - length / 2, hf->extent);
  // Each record holds one point for its first 17 bytes and one for every 4 after them.
  const int most = 2 * (1 + (length > 17 ? (length - 17) / 4 : 0));
  if (ks::erosion_queue_length() < 0 || ks::erosion_queue_length() > most) std::abort();
  for (int k = 0; k < ks::erosion_queue_length(); ++k) {
    const ks::RutPoint& p = ks::erosion_queue_at(k);
    if (!std::isfinite(p.x) || !std::isfinite(p.z) || p.count < 1 || p.count > 16) std::abort();
  }
  const std::optional<ks::GuardPosition> guard =
      size > 0 && (data[size - 1] & 1) ? std::optional<ks::GuardPosition>({12.0, 12.0})
                                       : std::nullopt;
  // Held by the guard, at least 4 points go every 258 tics.
  const int tics = (ks::erosion_queue_length() / 4 + 2) * (ks::kGuardWaitTics + 2);
  for (int tic = 0; ks::erosion_queue_length() > 0; ++tic) {
    if (tic > tics) std::abort();
    ks::apply_erosion(*hf, guard, 4096.0, tic);
  }
  for (const float h : hf->heights) {
    if (!std::isfinite(h)) std::abort();
  }
  return 0;
}
