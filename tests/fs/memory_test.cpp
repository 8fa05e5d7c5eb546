// Allocation wrappers, the tracker, the dying allocator and string interning.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fs/memory.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

std::string pointer_text(const void* p) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%p", p);
  return buf;
}

class Tracker : public ::testing::Test {
 protected:
  void SetUp() override { enable("1"); }
  void TearDown() override {
    unsetenv("KS_CHECK_ALLOC");
    ks::reset_allocation_tracker();
  }
  static void enable(const char* value, size_t capacity = ks::kMaxTrackedBlocks) {
    setenv("KS_CHECK_ALLOC", value, 1);
    ks::reset_allocation_tracker(capacity);
  }
};

TEST_F(Tracker, EnvironmentValueDecidesAtTheFirstAllocation) {
  struct Case {
    const char* value;
    bool on;
  };
  const Case cases[] = {{"1", true}, {"42", true}, {"0", false}, {"-3", false}, {"abc", false}, {"", false}};
  for (const auto& c : cases) {
    enable(c.value);
    void* p = ks::mem_alloc(8);
    EXPECT_EQ(ks::allocation_tracking_enabled(), c.on) << c.value;
    EXPECT_EQ(ks::tracked_block_count(), c.on ? 1u : 0u) << c.value;
    ks::mem_free(p);
    EXPECT_EQ(ks::tracked_block_count(), 0u);
  }
  // Checked once: a later change of the variable does nothing.
  enable("1");
  void* p = ks::mem_alloc(1);
  unsetenv("KS_CHECK_ALLOC");
  void* q = ks::mem_alloc(1);
  EXPECT_EQ(ks::tracked_block_count(), 2u);
  ks::mem_free(p);
  ks::mem_free(q);
}

TEST_F(Tracker, RecordsEveryKindOfAllocationAndReportsTheLiveOnes) {
  void* a = ks::mem_alloc(16);
  auto* z = static_cast<unsigned char*>(ks::mem_alloc_zeroed(4, 8));
  ASSERT_NE(z, nullptr);
  for (int i = 0; i < 32; ++i) EXPECT_EQ(z[i], 0);
  void* b = ks::mem_realloc(nullptr, 5);  // null behaves like an allocation
  EXPECT_EQ(ks::tracked_block_count(), 3u);

  // Reallocation drops the old record and adds the new block with the next number.
  std::memcpy(a, "fifteen chars!!", 16);
  void* a2 = ks::mem_realloc(a, 4096);
  ASSERT_NE(a2, nullptr);
  EXPECT_STREQ(static_cast<char*>(a2), "fifteen chars!!");
  EXPECT_EQ(ks::tracked_block_count(), 3u);

  CaptureStderr();
  ks::allocation_report();
  EXPECT_EQ(GetCapturedStderr(), pointer_text(z) + ":1\n" + pointer_text(b) + ":2\n" + pointer_text(a2) + ":3\n");

  ks::mem_free(z);
  ks::mem_free(b);
  ks::mem_free(a2);
  ks::mem_free(nullptr);
  CaptureStderr();
  ks::allocation_report();
  EXPECT_EQ(GetCapturedStderr(), "");
}

TEST_F(Tracker, UnknownBlocksAreReportedAndLeftAlone) {
  void* foreign = std::malloc(8);
  CaptureStderr();
  ks::mem_free(foreign);
  EXPECT_EQ(ks::mem_realloc(foreign, 64), nullptr);
  const std::string err = GetCapturedStderr();
  const std::string line = "Allocation not found for " + pointer_text(foreign) + "!\n";
  EXPECT_EQ(err, line + line);
  std::free(foreign);  // still valid: the wrappers did not touch it

  // A double free is caught the same way instead of corrupting the heap.
  void* p = ks::mem_alloc(8);
  ks::mem_free(p);
  CaptureStderr();
  ks::mem_free(p);
  EXPECT_EQ(GetCapturedStderr(), "Allocation not found for " + pointer_text(p) + "!\n");
}

TEST_F(Tracker, AFullTableStopsTracking) {
  enable("1", 3);
  std::vector<void*> blocks;
  for (int i = 0; i < 3; ++i) blocks.push_back(ks::mem_alloc(4));
  EXPECT_EQ(ks::tracked_block_count(), 3u);
  CaptureStderr();
  blocks.push_back(ks::mem_alloc(4));
  blocks.push_back(ks::mem_alloc(4));
  EXPECT_EQ(GetCapturedStderr(), "Too many allocations to check!\n");
  EXPECT_FALSE(ks::allocation_tracking_enabled());
  EXPECT_EQ(ks::tracked_block_count(), 0u);
  // Blocks recorded before the stop are freed normally, without complaint.
  CaptureStderr();
  for (void* p : blocks) ks::mem_free(p);
  ks::allocation_report();
  EXPECT_EQ(GetCapturedStderr(), "");
}

TEST(Memory, RefusesImpossibleSizesAndHandlesZero) {
  EXPECT_EQ(ks::mem_alloc(SIZE_MAX), nullptr);
  EXPECT_EQ(ks::mem_alloc_zeroed(SIZE_MAX / 2, 3), nullptr);  // count * size overflows
  void* p = ks::mem_alloc(0);
  EXPECT_NE(p, nullptr);
  EXPECT_EQ(ks::mem_realloc(p, SIZE_MAX), nullptr);  // the old block stays valid
  p = ks::mem_realloc(p, 0);
  EXPECT_NE(p, nullptr);
  ks::mem_free(p);
  void* z = ks::mem_alloc_zeroed(0, 16);
  EXPECT_NE(z, nullptr);
  ks::mem_free(z);
}

void announce_hook() { std::fputs("hook: audio and window closed\n", stderr); }

TEST(MemoryDeathTest, DyingAllocatorRunsTheHookShowsTheBoxAndExits) {
  EXPECT_EXIT(
      {
        ks::set_out_of_memory_hook(announce_hook);
        ks::mem_alloc_or_die(SIZE_MAX);
      },
      ::testing::ExitedWithCode(1), "hook: audio and window closed\n.*Error: Out of virtual memory");
  EXPECT_EXIT(ks::out_of_memory(), ::testing::ExitedWithCode(1), "Error: Out of virtual memory");
  void* p = ks::mem_alloc_or_die(32);
  EXPECT_NE(p, nullptr);
  ks::mem_free(p);
}

TEST(Intern, EqualTextsShareOneCopy) {
  ks::free_interned_strings();
  const char* a = ks::intern("track");
  const std::string again = "track";
  EXPECT_EQ(ks::intern(again), a);
  EXPECT_NE(a, again.c_str());
  EXPECT_STREQ(a, "track");
  EXPECT_EQ(ks::intern(std::string_view("trackside", 5)), a);  // a view needs no NUL
  const char* b = ks::intern("Track");
  EXPECT_NE(a, b);
  const char* empty = ks::intern("");
  EXPECT_STREQ(empty, "");
  EXPECT_EQ(ks::intern(std::string_view()), empty);
  EXPECT_EQ(ks::interned_string_count(), 3u);

  // Copies stay put while the list grows well past its first capacity.
  std::vector<const char*> stored;
  for (int i = 0; i < 5000; ++i) stored.push_back(ks::intern("name" + std::to_string(i)));
  for (int i = 0; i < 5000; ++i) {
    const std::string name = "name" + std::to_string(i);
    EXPECT_STREQ(stored[static_cast<size_t>(i)], name.c_str());
    EXPECT_EQ(ks::intern(name), stored[static_cast<size_t>(i)]);
  }
  EXPECT_EQ(ks::intern("track"), a);
  EXPECT_EQ(ks::interned_string_count(), 5003u);

  ks::free_interned_strings();
  EXPECT_EQ(ks::interned_string_count(), 0u);
  EXPECT_STREQ(ks::intern("track"), "track");
  ks::free_interned_strings();
}

}  // namespace
