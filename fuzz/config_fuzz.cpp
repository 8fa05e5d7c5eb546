// The config reader over arbitrary bytes, then the command line over the same bytes split
// at NUL into arguments.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/config.h"
#include "core/detail_settings.h"
#include "core/startup_options.h"
#include "fs/vfs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ks::Settings s;
  ks::reset_settings(s);
  if (ks::VfsFile* f = ks::vfs_open_memory(data, size)) {
    ks::read_config_file(s, f);
    ks::vfs_close(f);
  }
  for (const ks::InputControl& c : s.controls) (void)ks::format_binding(c);
  ks::DetailSettings d;
  ks::compute_detail_settings(s, d);

  std::vector<std::string> args = {"kessra"};
  std::string current;
  for (size_t i = 0; i < size && args.size() < 64; ++i) {
    if (data[i] == 0) {
      args.push_back(current);
      current.clear();
    } else {
      current.push_back(static_cast<char>(data[i]));
    }
  }
  args.push_back(current);
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  ks::StartupOptions o;
  o.no_mmx = true;
  ks::parse_command_line(static_cast<int>(argv.size()), argv.data(), s, d, o);
  return 0;
}
