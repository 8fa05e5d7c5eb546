// The generated data tree through the track loader: every track loads with its gates,
// scenery and cameras. Skipped when the tree has not been generated.
#include <gtest/gtest.h>

#include <string>

#include "support/test_support.h"
#include "track/collision_shape.h"
#include "track/track.h"
#include "track/track_list.h"

namespace ks {
namespace {

TEST(GeneratedTracks, EveryTrackLoads) {
  test::TempDir home;
  test::use_roots(home.path(), test::data_dir());
  reset_track_list();
  if (build_track_list() == 0) GTEST_SKIP() << "no generated data tree in " << test::data_dir();
  const TrackList list = track_list();
  for (size_t i = 0; i < list.dirs.size(); ++i) {
    const std::string& dir = list.dirs[i];
    ASSERT_TRUE(load_track(dir)) << dir;
    const Track& t = *current_track();
    EXPECT_EQ(t.long_name, list.long_names[i]);
    EXPECT_NE(t.long_name, dir) << "no desc";
    EXPECT_TRUE(t.gates.valid) << dir;
    EXPECT_FALSE(t.gates.start.empty()) << dir;
    EXPECT_GT(t.objects.size(), t.first_statue) << dir;
    EXPECT_GT(t.billboards.size(), t.first_track_billboard) << dir;
    EXPECT_FALSE(t.cameras.list.empty()) << dir;
    for (const TrackObject& o : t.objects) {
      EXPECT_TRUE(o.shape_name.empty() || o.shape.has_value()) << dir << ": " << o.shape_name;
    }
    EXPECT_NE(t.hash, Ripemd160Digest{}) << dir;
    free_track();
  }
  free_shape_cache();
  reset_track_list();
}

}  // namespace
}  // namespace ks
