// The track list: terrain variants, long names from "desc", and the order by long name.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/test_support.h"
#include "track/track_list.h"

namespace ks {
namespace {

class TrackListTest : public ::testing::Test {
 protected:
  void SetUp() override { test::use_roots(home.path(), data.path()); }
  void desc(const std::string& dir, const std::string& text) {
    test::write_file(data / (dir + "/desc"), text);
  }
  TrackList build(const std::vector<const char*>& files) {
    TrackList list;
    build_track_list_from(files, list);
    return list;
  }
  test::TempDir home, data;
};

TEST_F(TrackListTest, FoldersOfTerrainFilesAndTheirVariants) {
  desc("b", "Beta\n");
  TrackList list = build({"a/terrain.hf.gz", "a/terrain.hf", "b/terrain.hf.gz.scram",
                          "c/terrain.hf.scram", "d/terrain.hfx", "terrain.hf", "e/xterrain.hf",
                          "deep/er/terrain.hf"});
  EXPECT_EQ(list.dirs, (std::vector<std::string>{"a", "b", "c", "deep/er"}));
  EXPECT_EQ(list.long_names, (std::vector<std::string>{"a", "Beta", "c", "deep/er"}));
}

TEST_F(TrackListTest, LongNameIsTheFirstLine) {
  const std::pair<std::string, std::string> cases[] = {
      {"Rabbit Hill\nmore", "Rabbit Hill"},
      {"Dos\r\n", "Dos"},
      {std::string("Nul\0tail", 8), "Nul"},
      {"No end", "No end"},
      {"", ""},
  };
  for (auto [text, name] : cases) {
    desc("t", text);
    EXPECT_EQ(track_long_name("t"), name) << text;
  }
  EXPECT_EQ(track_long_name("missing"), "missing");
}

TEST_F(TrackListTest, SortedByLongNameIgnoringCaseWithTiesInFileOrder) {
  desc("one", "zebra\n");
  desc("two", "Apple\n");
  desc("three", "apple\n");
  desc("four", "Mango\n");
  desc("five", "APPLE\n");
  TrackList list = build({"one/terrain.hf", "two/terrain.hf", "three/terrain.hf",
                          "four/terrain.hf", "five/terrain.hf"});
  EXPECT_EQ(list.dirs, (std::vector<std::string>{"two", "three", "five", "four", "one"}));
  EXPECT_EQ(list.long_names,
            (std::vector<std::string>{"Apple", "apple", "APPLE", "Mango", "zebra"}));
  EXPECT_EQ(find_track(list, "four"), 3);
  EXPECT_EQ(find_track(list, "six"), -1);
}

TEST_F(TrackListTest, TwoNamesDifferingInCaseKeepTheirOrder) {
  desc("x", "Dunes\n");
  desc("y", "DUNES\n");
  EXPECT_EQ(build({"x/terrain.hf", "y/terrain.hf"}).dirs, (std::vector<std::string>{"x", "y"}));
  EXPECT_EQ(build({"y/terrain.hf", "x/terrain.hf"}).dirs, (std::vector<std::string>{"y", "x"}));
}

TEST_F(TrackListTest, PrefixSortsFirstAndPumpRunsPerTrack) {
  desc("p", "Hill 2\n");
  desc("q", "Hill\n");
  int pumps = 0;
  TrackList list;
  build_track_list_from({"p/terrain.hf", "q/terrain.hf", "q/terrain.hf.gz"}, list,
                        [&] { ++pumps; });
  EXPECT_EQ(list.dirs, (std::vector<std::string>{"q", "p"}));
  EXPECT_EQ(pumps, 2);
}

TEST_F(TrackListTest, BuildsFromTheIndex) {
  test::write_file(data / "alpha/terrain.hf", "0 1 0 0\n");
  desc("alpha", "Alpha Track\n");
  reset_track_list();
  EXPECT_EQ(build_track_list(), 1);
  EXPECT_EQ(track_list().long_names, (std::vector<std::string>{"Alpha Track"}));
  reset_track_list();
  EXPECT_TRUE(track_list().dirs.empty());
}

}  // namespace
}  // namespace ks
