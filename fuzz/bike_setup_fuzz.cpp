// The bike setup reader over arbitrary bytes, then the conversion into a bike's tuning and
// the number-plate colour tags over the same bytes as text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fs/vfs.h"
#include "physics/bike_catalog.h"
#include "physics/bike_setup.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static ks::BikeSetup s;
  ks::reset_bike_setup(s);
  if (ks::VfsFile* f = ks::vfs_open_memory(data, size)) {
    ks::read_setup_file(s, f);
    ks::vfs_close(f);
  }
  ks::BikeTuning t;
  const int model = ks::find_bike_model_exact(s.bike_name());
  ks::setup_to_tuning(s, ks::bike_model(model < 0 ? 0 : model), t);
  const std::string text(reinterpret_cast<const char*>(data), size);
  (void)ks::number_plate_colours(text.c_str());
  return 0;
}
