// "tileinfo" (and the older "texturelist") text from hostile bytes, then material codes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "fs/vfs.h"
#include "track/heightfield.h"
#include "track/tileinfo.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static auto hf = std::make_unique<ks::HeightField>();
  const bool texturelist = size > 0 && (data[0] & 1) != 0;
  ks::VfsFile* f = ks::vfs_open_memory(data, size);
  const bool ok = texturelist ? ks::load_texturelist(f, *hf) : ks::load_tileinfo(f, *hf);
  ks::vfs_close(f);
  if (!ok || hf->material_count < 0 || hf->material_count > ks::kMaxMaterials) std::abort();
  ks::compute_material_codes(*hf);
  for (int k = 0; k < hf->material_count; ++k) {
    const ks::TileInfo& t = hf->materials[static_cast<size_t>(k)];
    if (t.friction_count > ks::kMaxFrictionPoints || t.roll_resist_count > ks::kMaxRollResistPoints ||
        t.roost_count > ks::kMaxRoostTypes || t.erode.limit_count > ks::kMaxErodeLimits ||
        t.name.size() > ks::kMaterialNameChars) {
      std::abort();
    }
    for (int i = 1; i < t.friction_count; ++i) {
      if (t.friction[static_cast<size_t>(i)].speed < t.friction[static_cast<size_t>(i - 1)].speed) {
        std::abort();
      }
    }
  }
  return 0;
}
