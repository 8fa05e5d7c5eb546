// The file index: folder walks, ".saf" archives, ranking between roots and archives, the
// file list, and what hostile archive headers may and may not do.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "fs/vfs.h"
#include "platform/vant.h"
#include "support/test_support.h"
#include "vfs_test_util.h"

namespace ks {
namespace {

using test::make_archive;
using test::TempDir;
using test::write_file;

class VfsIndex : public ::testing::Test {
 protected:
  void SetUp() override { test::use_roots(tmp / "home", tmp / "data"); }
  void TearDown() override {
    free_roots_and_index();
    vant_log(nullptr);
  }
  std::vector<std::string> file_list() {
    std::vector<std::string> names;
    for (const char* n : build_index()) names.emplace_back(n);
    return names;
  }
  TempDir tmp;
};

// Which copy of a name "@" finds, for the ways the same name can be present more than once.
TEST_F(VfsIndex, RankingBetweenRootsFoldersAndArchives) {
  struct Layout {
    const char* what;
    std::vector<std::pair<std::string, std::string>> files;  // path under tmp -> bytes
    std::string expected;
  };
  const std::vector<Layout> layouts = {
      {"home over data over archive",
       {{"home/t/x", "home"}, {"data/t/x", "data"}, {"data/a.saf", make_archive({{"t/x", "packed"}})}},
       "home"},
      {"loose in data over archive",
       {{"data/t/x", "data"}, {"data/a.saf", make_archive({{"t/x", "packed"}})}},
       "data"},
      {"archive whose index name sorts first",
       {{"data/b.saf", make_archive({{"t/x", "from b"}})},
        {"data/A.saf", make_archive({{"t/x", "from A"}})}},
       "from A"},
      {"archive in a subfolder sorts by its path",
       {{"data/z.saf", make_archive({{"t/x", "from z"}})},
        {"data/sub/m.saf", make_archive({{"t/x", "from sub"}})}},
       "from sub"},
      {"gzip variant in home over plain in archive",
       {{"home/t/x.gz", test::gzip_bytes("home gz")},
        {"data/a.saf", make_archive({{"t/x", "packed"}})}},
       "home gz"},
      {"packed gzip variant",
       {{"data/a.saf", make_archive({{"t/x.gz", test::gzip_bytes("packed gz")}, {"t/y", "y"}})}},
       "packed gz"},
      {"plain beats gzip variant in the same archive",
       {{"data/a.saf", make_archive({{"t/x.gz", test::gzip_bytes("gz")}, {"t/x", "plain"}})}},
       "plain"},
      {"earlier archive's gzip beats later archive's plain",
       {{"data/a.saf", make_archive({{"t/x.gz", test::gzip_bytes("a gz")}})},
        {"data/b.saf", make_archive({{"t/x", "b plain"}})}},
       "a gz"},
      {"case differs from the request",
       {{"data/a.saf", make_archive({{"T/X", "upper"}})}},
       "upper"},
  };
  for (const Layout& l : layouts) {
    SCOPED_TRACE(l.what);
    TempDir dir;
    test::use_roots(dir / "home", dir / "data");
    for (const auto& [path, bytes] : l.files) write_file(dir / path, bytes);
    build_index();
    EXPECT_EQ(file_to_string("@t/x"), l.expected);
    free_roots_and_index();
  }
}

TEST_F(VfsIndex, MembersReadInPlaceWithinTheirLimit) {
  write_file(tmp / "data/pack.saf",
             make_archive({{"a.txt", "first\nline"}, {"b//c.txt", "second"}, {"e", ""}}));
  build_index();
  VfsFile* f = vfs_open("@a.txt", "rb");
  ASSERT_NE(f, nullptr);
  char buf[64];
  ASSERT_NE(vfs_gets(f, buf, sizeof buf), nullptr);
  EXPECT_STREQ(buf, "first\n");
  ASSERT_NE(vfs_gets(f, buf, sizeof buf), nullptr);
  EXPECT_STREQ(buf, "line");  // stops at the member's end, not the archive's
  EXPECT_EQ(vfs_getc(f), -1);
  EXPECT_TRUE(vfs_seek(f, 6));
  EXPECT_EQ(vfs_read(f, buf, sizeof buf), 4u);
  EXPECT_FALSE(vfs_seek(f, 10));
  vfs_close(f);
  EXPECT_EQ(file_to_string("@b/c.txt"), "second");  // "//" collapses in header names
  EXPECT_EQ(file_to_string("@e"), "");
  VfsFile* w = vfs_open("@a.txt", "wb");  // writing goes to the home folder
  EXPECT_NE(w, nullptr);
  vfs_close(w);
  EXPECT_TRUE(test::file_exists(tmp / "home/a.txt"));
}

TEST_F(VfsIndex, MalformedHeadersContributeNothing) {
  const std::string good = make_archive({{"ok", "fine"}});
  struct Case {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"no dash line", "4 lost\nlost"},
      {"size not a number", "4 lost\nxx name\n-\nlost"},
      {"negative size", "4 lost\n-3 name\n-\nlost"},
      {"last line without newline", "4 lost\n-"},
      {"line over the line buffer", "4 lost\n5 " + std::string(1100, 'n') + "\n-\nlostxxxxx"},
      {"empty", ""},
  };
  write_file(tmp / "data/0good.saf", good);
  for (size_t i = 0; i < std::size(cases); ++i) {
    write_file(tmp / ("data/bad" + std::to_string(i) + ".saf"), cases[i].bytes);
  }
  std::vector<std::string> names = file_list();
  EXPECT_EQ(file_to_string("@ok"), "fine");  // the index is built anyway
  EXPECT_EQ(file_to_string("@lost"), std::nullopt);
  EXPECT_EQ(file_to_string("@name"), std::nullopt);
  for (const std::string& n : names) EXPECT_TRUE(n == "ok" || n.ends_with(".saf")) << n;
}

TEST_F(VfsIndex, HostileSizesNeverReadPastTheArchive) {
  // Offsets and sizes that run past the archive's real length are refused; members before
  // them stay usable.
  write_file(tmp / "data/h.saf", "3 a\n2147483647 huge\n2 b\n-\nabcXY");
  write_file(tmp / "data/s.saf", "3 a2\n100 past\n-\nabc");
  // A size no archive can hold does not scan as a size: the header is malformed.
  write_file(tmp / "data/o.saf", "1 o\n99999999999999999999 overflow\n-\nx");
  build_index();
  EXPECT_EQ(file_to_string("@a"), "abc");
  EXPECT_EQ(file_to_string("@a2"), "abc");
  EXPECT_EQ(file_to_string("@huge"), std::nullopt);
  EXPECT_EQ(file_to_string("@past"), std::nullopt);
  EXPECT_EQ(file_to_string("@b"), std::nullopt);  // its offset follows the huge member
  EXPECT_EQ(file_to_string("@o"), std::nullopt);
}

TEST_F(VfsIndex, AnySeparatorCharacter) {
  write_file(tmp / "data/p.saf", "1\tone\n2:two\n-\n1ab");
  build_index();
  EXPECT_EQ(file_to_string("@one"), "1");
  EXPECT_EQ(file_to_string("@two"), "ab");
}

TEST_F(VfsIndex, FileListIsSortedAndFoldsLetterCase) {
  write_file(tmp / "home/Readme", "h");
  write_file(tmp / "data/readme", "d");
  write_file(tmp / "data/b/z", "z");
  write_file(tmp / "data/B/y", "y");
  write_file(tmp / "data/a.saf", make_archive({{"README", "p"}, {"c", "c"}}));
  std::vector<std::string> expected = {"a.saf", "B/y", "b/z", "c", "Readme"};
  EXPECT_EQ(file_list(), expected);
  EXPECT_EQ(&build_index(), &build_index());  // built once
  EXPECT_EQ(vfs_index_entry_count(), 7u);
  EXPECT_EQ(file_to_string("@README"), "h");
  EXPECT_EQ(file_to_string("@b/Y"), "y");  // through the index: the data folder is case-exact
  EXPECT_EQ(describe_index_entry(0), "a.saf -> " + tmp.path() + "/data/a.saf");
  EXPECT_EQ(describe_index_entry(99), "");
}

TEST_F(VfsIndex, FilesMadeAfterTheIndexOpenThroughTheRoots) {
  build_index();
  write_file(tmp / "home/late.txt", "late");
  EXPECT_EQ(file_to_string("@late.txt"), "late");
  std::vector<std::string> names = file_list();
  EXPECT_TRUE(names.empty());
}

TEST_F(VfsIndex, LogsThePhasesAndPumpsTheLoadingScreen) {
  write_file(tmp / "data/zzzz.saf", make_archive({{"f", "x"}}));
  write_file(tmp / "data/sub/g", "g");
  EXPECT_TRUE(locate_game_data());
  int pumps = 0;
  vfs_set_pump([&] { ++pumps; });
  build_index();
  // home, data, data/sub, and one archive
  EXPECT_EQ(pumps, 4);
  vant_log(nullptr);
  std::string log = test::read_file(tmp / "home/lastlog.txt");
  size_t a = log.find("Listing directories\n");
  size_t b = log.find("Listing archives\n");
  size_t c = log.find("Creating file list\n");
  size_t d = log.find("File index complete\n");
  ASSERT_NE(d, std::string::npos) << log;
  EXPECT_LT(a, b);
  EXPECT_LT(b, c);
  EXPECT_LT(c, d);
}

TEST_F(VfsIndex, LocateGameDataNeedsAReadableArchive) {
  EXPECT_FALSE(locate_game_data());
  EXPECT_TRUE(test::file_exists(tmp / "home/lastlog.txt"));  // home made, log opened
  write_file(tmp / "home/zzzz.saf", "-\n");
  EXPECT_TRUE(locate_game_data());
}

TEST_F(VfsIndex, RootsAreNormalised) {
  test::use_roots(tmp.path() + "//home\\x", tmp.path() + "/data//");
  ASSERT_EQ(vfs_root_count(), 2);
  EXPECT_EQ(std::string(vfs_root(0)), tmp.path() + "/home/x/");
  EXPECT_EQ(std::string(vfs_root(1)), tmp.path() + "/data/");
  EXPECT_EQ(vfs_root(2), nullptr);
}

TEST_F(VfsIndex, DefaultRootsFollowTheEnvironment) {
  struct Env {
    const char* xdg;
    const char* home;
    const char* ks_home;
    std::string root0;
    std::string root1;
  };
  struct Saved {
    const char* name;
    std::optional<std::string> value;
  } saved[] = {{"XDG_DATA_HOME", {}}, {"HOME", {}}, {"KS_HOME", {}}};
  for (Saved& s : saved) {
    if (const char* v = getenv(s.name)) s.value = v;
  }
  const Env cases[] = {
      {"/x/dg", "/h", "/data", "/x/dg/Kessra/", "/data/"},
      {"", "/h", "/data", "/h/.local/share/Kessra/", "/data/"},
      {nullptr, "/h//me", "/d\\k", "/h/me/.local/share/Kessra/", "/d/k/"},
  };
  for (const Env& e : cases) {
    SCOPED_TRACE(e.root0);
    if (e.xdg) setenv("XDG_DATA_HOME", e.xdg, 1); else unsetenv("XDG_DATA_HOME");
    setenv("HOME", e.home, 1);
    setenv("KS_HOME", e.ks_home, 1);
    free_roots_and_index();
    ASSERT_EQ(vfs_root_count(), 2);
    EXPECT_EQ(std::string(vfs_root(0)), e.root0);
    EXPECT_EQ(std::string(vfs_root(1)), e.root1);
  }
  unsetenv("KS_HOME");
  free_roots_and_index();
  ASSERT_EQ(vfs_root_count(), 2);
  std::string exe_dir = vfs_root(1);
  EXPECT_TRUE(test::file_exists(exe_dir + "test_fs")) << exe_dir;
  for (const Saved& s : saved) {
    if (s.value) setenv(s.name, s.value->c_str(), 1); else unsetenv(s.name);
  }
}

TEST_F(VfsIndex, OpenHomeFolderStartsTheDesktopOpener) {
  const std::string bin = tmp / "bin";
  const std::string seen = tmp / "seen";
  write_file(bin + "/xdg-open", "#!/bin/sh\necho \"$1\" > " + seen + ".part && mv " + seen +
                                    ".part " + seen + "\n");
  std::filesystem::permissions(bin + "/xdg-open", std::filesystem::perms::owner_all);
  std::filesystem::create_directories(tmp / "empty");
  const char* old_path = getenv("PATH");
  const std::string saved = old_path != nullptr ? old_path : "";

  setenv("PATH", (tmp / "empty").c_str(), 1);
  EXPECT_FALSE(open_home_folder());  // nothing to start
  EXPECT_TRUE(test::file_exists(tmp / "home"));

  setenv("PATH", (bin + ":" + saved).c_str(), 1);
  EXPECT_TRUE(open_home_folder());
  setenv("PATH", saved.c_str(), 1);
  // The opener runs detached; wait for it to leave its note.
  for (int i = 0; i < 500 && !test::file_exists(seen); ++i) usleep(10000);
  EXPECT_EQ(test::read_file(seen), tmp / "home\n");
}

}  // namespace
}  // namespace ks
