#include "track_test_util.h"

#include "support/test_support.h"

namespace ks::test {

std::string written_text(const std::string& path) { return read_file(path); }

}  // namespace ks::test
