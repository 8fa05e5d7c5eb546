// Opening, reading and writing through the file layer: real paths, "@" names over the
// roots, gzip variants, backups and atomic replacement.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <string>

#include "fs/vfs.h"
#include "fs/vfs_file.h"
#include "platform/vant.h"
#include "support/test_support.h"
#include "vfs_test_util.h"

namespace ks {
namespace {

using test::TempDir;
using test::write_file;

class VfsOpen : public ::testing::Test {
 protected:
  void SetUp() override { test::use_roots(tmp / "home", tmp / "data"); }
  void TearDown() override {
    free_roots_and_index();
    vant_log(nullptr);
  }
  std::string read_all(VfsFile* f) {
    std::string s;
    for (int c; (c = vfs_getc(f)) >= 0;) s.push_back(static_cast<char>(c));
    return s;
  }
  TempDir tmp;
};

TEST_F(VfsOpen, ReadersAgreeOnMemoryAndRealFiles) {
  const std::string text = "ab\ncd\n\nlast";
  write_file(tmp / "t.txt", text);
  VfsFile* files[] = {vfs_open_memory(text.data(), text.size()),
                      vfs_open((tmp / "t.txt").c_str(), "rb")};
  for (VfsFile* f : files) {
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(vfs_peekc(f), 'a');
    EXPECT_EQ(vfs_tell(f), 0);
    EXPECT_EQ(vfs_getc(f), 'a');
    vfs_ungetc(f, 'a');
    EXPECT_EQ(vfs_tell(f), 0);
    char buf[16];
    ASSERT_NE(vfs_gets(f, buf, sizeof buf), nullptr);
    EXPECT_STREQ(buf, "ab\n");
    ASSERT_NE(vfs_gets(f, buf, sizeof buf), nullptr);
    EXPECT_STREQ(buf, "cd\n");
    ASSERT_NE(vfs_gets(f, buf, sizeof buf), nullptr);
    EXPECT_STREQ(buf, "\n");
    ASSERT_NE(vfs_gets(f, buf, sizeof buf), nullptr);
    EXPECT_STREQ(buf, "last");  // the final line has no "\n"
    EXPECT_EQ(vfs_gets(f, buf, sizeof buf), nullptr);
    EXPECT_EQ(vfs_getc(f), -1);
    EXPECT_EQ(vfs_tell(f), static_cast<long>(text.size()));
    // seek drops the pushed-back character
    vfs_ungetc(f, 'Z');
    ASSERT_TRUE(vfs_seek(f, 3));
    EXPECT_EQ(vfs_getc(f), 'c');
    char block[64];
    EXPECT_EQ(vfs_read(f, block, sizeof block), text.size() - 4);
    vfs_close(f);
  }
}

TEST_F(VfsOpen, GetsWithSizeTwoReturnsOneBytePerCall) {
  const std::string text = "xy\nz";
  VfsFile* f = vfs_open_memory(text.data(), text.size());
  char buf[2];
  std::string got;
  while (vfs_gets(f, buf, 2) != nullptr) {
    ASSERT_EQ(std::strlen(buf), 1u);
    got += buf;
  }
  EXPECT_EQ(got, text);
  vfs_close(f);
}

TEST_F(VfsOpen, HomeWinsOverDataForAtNames) {
  write_file(tmp / "home/x.txt", "home");
  write_file(tmp / "data/x.txt", "data");
  write_file(tmp / "data/only.txt", "data only");
  EXPECT_EQ(file_to_string("@x.txt"), "home");
  EXPECT_EQ(file_to_string("@only.txt"), "data only");
  EXPECT_EQ(file_to_string("@missing.txt"), std::nullopt);
}

TEST_F(VfsOpen, WritingAtConfigCreatesItInTheHomeFolder) {
  write_file(tmp / "data/readme", "x");  // data folder exists, home does not
  VfsFile* f = vfs_open("@config", "wb");
  ASSERT_NE(f, nullptr);
  EXPECT_TRUE(vfs_puts(f, "a=1\n"));
  vfs_close(f);
  EXPECT_EQ(test::read_file(tmp / "home/config"), "a=1\n");
  EXPECT_FALSE(test::file_exists(tmp / "data/config"));
  // and folders along the way
  f = vfs_open("@setups/deep/bike.txt", "w");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(vfs_printf(f, "%d-%s", 7, "up"), 4);
  vfs_close(f);
  EXPECT_EQ(test::read_file(tmp / "home/setups/deep/bike.txt"), "7-up");

  // A home folder that cannot be made sends nothing to the data folder.
  write_file(tmp / "blocker", "a file, not a folder");
  test::use_roots(tmp / "blocker/home", tmp / "data");
  EXPECT_EQ(vfs_open("@config2", "wb"), nullptr);
  EXPECT_EQ(vfs_open_replace("@config2"), nullptr);
  EXPECT_FALSE(test::file_exists(tmp / "data/config2"));
  EXPECT_EQ(file_to_string("@readme"), "x");  // reading still reaches the data folder
}

TEST_F(VfsOpen, FoldersDoNotOpenForReading) {
  std::filesystem::create_directories(tmp / "home/tracks");
  EXPECT_EQ(vfs_open("@tracks", "rb"), nullptr);
}

TEST_F(VfsOpen, GzipOnlyFileReadsDecompressed) {
  std::string text;
  for (int i = 0; i < 20000; ++i) text += "line " + std::to_string(i * 7919 % 1000) + "\n";
  write_file(tmp / "data/big.txt.gz", test::gzip_bytes(text));
  VfsFile* f = vfs_open("@big.txt", "rb");
  ASSERT_NE(f, nullptr);
  EXPECT_TRUE(vfs_is_gzip(f));
  EXPECT_FALSE(vfs_seek(f, 0));
  EXPECT_EQ(vfs_peekc(f), 'l');
  std::string got(text.size() + 10, '\0');
  got.resize(vfs_read(f, got.data(), got.size()));
  EXPECT_EQ(got, text);
  EXPECT_EQ(vfs_tell(f), static_cast<long>(text.size()));
  EXPECT_EQ(vfs_getc(f), -1);
  vfs_close(f);
}

// Headers with each optional field, and headers that must be refused.
TEST_F(VfsOpen, GzipHeaderFields) {
  const std::string body = test::raw_deflate("hello gzip");
  const std::string base = std::string("\x1f\x8b\x08", 3);
  const std::string six(6, '\0');
  struct Case {
    const char* what;
    std::string bytes;
    bool opens;
  } cases[] = {
      {"plain", base + '\0' + six + body, true},
      {"extra", base + '\x04' + six + std::string("\x03\x00xyz", 5) + body, true},
      {"name", base + '\x08' + six + std::string("f.txt\0", 6) + body, true},
      {"comment", base + '\x10' + six + std::string("hi\0", 3) + body, true},
      {"crc", base + '\x02' + six + "cc" + body, true},
      {"all", base + '\x1e' + six + std::string("\x01\x00q", 3) + std::string("n\0c\0", 4) + "cc" + body,
       true},
      {"bad magic", std::string("\x1f\x8c\x08\x00", 4) + six + body, false},
      {"not deflate", std::string("\x1f\x8b\x07\x00", 4) + six + body, false},
      {"flags over 31", base + '\x20' + six + body, false},
      {"header cut short", base + '\x08' + six + "name-without-end", false},
      {"empty", "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    VfsFile* f = vfs_open_memory_gzip(c.bytes.data(), c.bytes.size());
    EXPECT_EQ(f != nullptr, c.opens);
    if (f != nullptr) {
      EXPECT_EQ(read_all(f), "hello gzip");
    }
    vfs_close(f);
    write_file(tmp / "home/h.gz", c.bytes);
    f = vfs_open("@h", "rb");
    EXPECT_EQ(f != nullptr, c.opens);
    vfs_close(f);
  }
}

TEST_F(VfsOpen, TruncatedGzipEndsCleanly) {
  std::string text;
  for (int i = 0; i < 50000; ++i) text += static_cast<char>('a' + (i * 31 % 26));
  const std::string gz = test::gzip_bytes(text);
  for (size_t cut : {size_t{10}, size_t{11}, gz.size() / 3, gz.size() / 2, gz.size() - 9}) {
    SCOPED_TRACE(cut);
    write_file(tmp / "home/cut.gz", gz.substr(0, cut));
    VfsFile* f = vfs_open("@cut", "rb");
    ASSERT_NE(f, nullptr);
    std::string got = read_all(f);
    EXPECT_LE(got.size(), text.size());
    EXPECT_EQ(got, text.substr(0, got.size()));
    EXPECT_EQ(vfs_getc(f), -1);
    vfs_close(f);
  }
  // Damage in the middle: the stream stops there.
  std::string bad = gz;
  for (size_t i = gz.size() / 2; i < gz.size() / 2 + 40; ++i) bad[i] = '\xff';
  VfsFile* f = vfs_open_memory_gzip(bad.data(), bad.size());
  ASSERT_NE(f, nullptr);
  EXPECT_LT(read_all(f).size(), text.size());
  vfs_close(f);
}

TEST_F(VfsOpen, BackupModeKeepsNumberedCopies) {
  const std::string path = tmp / "home/demo.ksdemo";
  // No file yet: no backup, the file is written.
  VfsFile* f = vfs_open("@demo.ksdemo", "~wb");
  ASSERT_NE(f, nullptr);
  vfs_puts(f, "one");
  vfs_close(f);
  EXPECT_FALSE(test::file_exists(path + ".~1~"));
  const char* contents[] = {"two", "three", "four"};
  for (const char* next : contents) {
    f = vfs_open("@demo.ksdemo", "~wb");
    ASSERT_NE(f, nullptr);
    vfs_puts(f, next);
    vfs_close(f);
  }
  EXPECT_EQ(test::read_file(path), "four");
  EXPECT_EQ(test::read_file(path + ".~1~"), "one");
  EXPECT_EQ(test::read_file(path + ".~2~"), "two");
  EXPECT_EQ(test::read_file(path + ".~3~"), "three");
  // A gap is filled first.
  std::filesystem::remove(path + ".~2~");
  f = vfs_open(path.c_str(), "~wb");
  vfs_close(f);
  EXPECT_EQ(test::read_file(path + ".~2~"), "four");
}

TEST_F(VfsOpen, ReplaceCommitsAtomically) {
  const std::string path = tmp / "home/config";
  write_file(path, "old");
  auto temp_files = [&] {
    int n = 0;
    for (const auto& e : std::filesystem::directory_iterator(tmp / "home")) {
      if (e.path().filename() != "config") ++n;
    }
    return n;
  };

  VfsFile* f = vfs_open_replace("@config");
  ASSERT_NE(f, nullptr);
  vfs_puts(f, "half");
  EXPECT_EQ(test::read_file(path), "old");
  vfs_close(f);  // no commit: old content stays, temporary goes
  EXPECT_EQ(test::read_file(path), "old");
  EXPECT_EQ(temp_files(), 0);

  namespace fsys = std::filesystem;
  fsys::permissions(path, fsys::perms::owner_read | fsys::perms::owner_write | fsys::perms::group_read);
  f = vfs_open_replace("@config");
  ASSERT_NE(f, nullptr);
  vfs_puts(f, "new");
  EXPECT_TRUE(vfs_commit(f));
  EXPECT_EQ(test::read_file(path), "new");
  EXPECT_EQ(temp_files(), 0);
  EXPECT_EQ(fsys::status(path).permissions(),
            fsys::perms::owner_read | fsys::perms::owner_write | fsys::perms::group_read);

  // A new file in a folder that does not exist yet.
  f = vfs_open_replace((tmp / "home/a/b/c.txt").c_str());
  ASSERT_NE(f, nullptr);
  vfs_write(f, "abc", 3);
  EXPECT_TRUE(vfs_commit(f));
  EXPECT_EQ(test::read_file(tmp / "home/a/b/c.txt"), "abc");
}

TEST_F(VfsOpen, FailedWriteMakesCommitFailAndKeepsTheOldFile) {
  const std::string path = tmp / "home/standings";
  write_file(path, "precious");
  // A file-size limit makes the writes fail the way a full disk does.
  struct rlimit old_limit {};
  getrlimit(RLIMIT_FSIZE, &old_limit);
  auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old_limit;
  small.rlim_cur = 4096;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  VfsFile* f = vfs_open_replace(path.c_str());
  ASSERT_NE(f, nullptr);
  std::string big(100000, 'x');
  vfs_write(f, big.data(), big.size());
  bool committed = vfs_commit(f);
  setrlimit(RLIMIT_FSIZE, &old_limit);
  std::signal(SIGXFSZ, old_handler);
  EXPECT_FALSE(committed);
  EXPECT_EQ(test::read_file(path), "precious");
  int others = 0;
  for (const auto& e : std::filesystem::directory_iterator(tmp / "home")) {
    if (e.path().filename() != "standings") ++others;
  }
  EXPECT_EQ(others, 0);
}

TEST_F(VfsOpen, WriteFailedReportsAFullDevice) {
  if (!test::file_exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  VfsFile* f = vfs_open("/dev/full", "wb");
  ASSERT_NE(f, nullptr);
  EXPECT_FALSE(vfs_write_failed(f));
  std::string big(70000, 'x');
  vfs_write(f, big.data(), big.size());
  vfs_flush(f);
  EXPECT_TRUE(vfs_write_failed(f));
  vfs_close(f);
  // Writers refuse read-only views.
  VfsFile* m = vfs_open_memory("abc", 3);
  EXPECT_FALSE(vfs_putc(m, 'x'));
  EXPECT_TRUE(vfs_write_failed(m));
  vfs_close(m);
}

TEST_F(VfsOpen, NamesOverTheirBuffersAreNotOpened) {
  const std::string long_rest(600, 'n');
  EXPECT_EQ(vfs_open(("@" + long_rest).c_str(), "wb"), nullptr);
  EXPECT_FALSE(test::file_exists(tmp / ("home/" + long_rest)));
  EXPECT_EQ(vfs_open(std::string(1100, 'p').c_str(), "rb"), nullptr);
  EXPECT_EQ(vfs_open_replace(("@" + long_rest).c_str()), nullptr);
}

TEST_F(VfsOpen, FileToStringLimit) {
  ASSERT_FALSE(locate_game_data());  // opens the log in the home folder
  write_file(tmp / "home/edge", std::string(16 * 1024 * 1024 - 1, 'e'));
  write_file(tmp / "home/over", std::string(16 * 1024 * 1024, 'o'));
  auto edge = file_to_string("@edge");
  ASSERT_TRUE(edge.has_value());
  EXPECT_EQ(edge->size(), 16u * 1024 * 1024 - 1);
  EXPECT_EQ(file_to_string("@over"), std::nullopt);
  vant_log(nullptr);
  std::string log = test::read_file(tmp / "home/lastlog.txt");
  EXPECT_NE(log.find("File @over too long for file_to_string\n"), std::string::npos) << log;
}

TEST_F(VfsOpen, RenameWithinTheHomeFolder) {
  write_file(tmp / "home/a.txt", "A");
  write_file(tmp / "home/b.txt", "B");
  EXPECT_TRUE(vfs_rename("@a.txt", "@b.txt"));  // the target is replaced
  EXPECT_EQ(test::read_file(tmp / "home/b.txt"), "A");
  EXPECT_FALSE(test::file_exists(tmp / "home/a.txt"));
  EXPECT_FALSE(vfs_rename("@a.txt", "@c.txt"));
  EXPECT_TRUE(vfs_rename((tmp / "home/b.txt").c_str(), "@c.txt"));
  EXPECT_EQ(test::read_file(tmp / "home/c.txt"), "A");
  // A missing source leaves the target alone.
  EXPECT_FALSE(vfs_rename("@missing.txt", "@c.txt"));
  EXPECT_EQ(test::read_file(tmp / "home/c.txt"), "A");
}

}  // namespace
}  // namespace ks
