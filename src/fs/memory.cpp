// Allocation wrappers with the optional tracker, the allocator that ends the program when
// memory runs out, and string interning.
//
// With the tracker on, freeing or reallocating a block it does not know is reported and
// then left alone: such a pointer is a double free or a foreign block, and handing it to
// the C library would corrupt the heap the tracker is meant to diagnose.
#include "fs/memory.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "platform/vant.h"

namespace ks {

namespace {

// ---- the tracker -----------------------------------------------------------------------

enum TrackState : int { kUnknown = 0, kOff = 1, kOn = 2 };

struct TrackedBlock {
  size_t size = 0;
  unsigned sequence = 0;
};

struct AllocTracker {
  std::atomic<int> state{kUnknown};
  std::mutex lock;
  size_t capacity = kMaxTrackedBlocks;
  unsigned next_sequence = 0;
  std::unordered_map<void*, TrackedBlock> blocks;
};

AllocTracker& tracker() {
  static AllocTracker t;
  return t;
}

bool env_asks_for_tracking() {
  const char* v = std::getenv("KS_CHECK_ALLOC");
  if (v == nullptr) return false;
  char* end = nullptr;
  const long n = std::strtol(v, &end, 10);
  return end != v && n > 0;
}

// Decides once, at the first allocation, whether the tracker runs.
bool tracking_at_allocation() {
  AllocTracker& t = tracker();
  int s = t.state.load(std::memory_order_acquire);
  if (s == kUnknown) {
    int expected = kUnknown;
    t.state.compare_exchange_strong(expected, env_asks_for_tracking() ? kOn : kOff,
                                    std::memory_order_acq_rel);
    s = t.state.load(std::memory_order_acquire);
  }
  return s == kOn;
}

bool tracking() { return tracker().state.load(std::memory_order_acquire) == kOn; }

// Caller holds the lock.
void stop_tracking(AllocTracker& t) {
  t.state.store(kOff, std::memory_order_release);
  t.blocks.clear();
}

// Caller holds the lock.
void record(AllocTracker& t, void* block, size_t size) {
  if (t.state.load(std::memory_order_relaxed) != kOn) return;
  if (t.blocks.size() >= t.capacity) {
    std::fputs("Too many allocations to check!\n", stderr);
    stop_tracking(t);
    return;
  }
  try {
    t.blocks[block] = TrackedBlock{size, t.next_sequence++};
  } catch (const std::bad_alloc&) {
    std::fputs("Too many allocations to check!\n", stderr);
    stop_tracking(t);
  }
}

void report_unknown(void* block) { std::fprintf(stderr, "Allocation not found for %p!\n", block); }

// No allocation can be larger than the address space allows; refusing here also keeps
// sanitizer allocators from aborting on absurd sizes.
constexpr size_t kMaxBlock = static_cast<size_t>(PTRDIFF_MAX);

// Zero-byte requests get one byte, so that a null result always means failure.
size_t real_size(size_t size) { return size == 0 ? 1 : size; }

void (*g_out_of_memory_hook)() = nullptr;

}  // namespace

void* mem_alloc(size_t size) {
  if (size > kMaxBlock) return nullptr;
  void* p = std::malloc(real_size(size));
  if (p != nullptr && tracking_at_allocation()) {
    AllocTracker& t = tracker();
    std::lock_guard<std::mutex> g(t.lock);
    record(t, p, size);
  }
  return p;
}

void* mem_alloc_zeroed(size_t count, size_t size) {
  if (size != 0 && count > kMaxBlock / size) return nullptr;
  const size_t total = count * size;
  void* p = std::calloc(1, real_size(total));
  if (p != nullptr && tracking_at_allocation()) {
    AllocTracker& t = tracker();
    std::lock_guard<std::mutex> g(t.lock);
    record(t, p, total);
  }
  return p;
}

void* mem_realloc(void* block, size_t size) {
  if (block == nullptr) return mem_alloc(size);
  if (size > kMaxBlock) return nullptr;
  if (!tracking_at_allocation()) return std::realloc(block, real_size(size));
  AllocTracker& t = tracker();
  std::lock_guard<std::mutex> g(t.lock);
  if (t.state.load(std::memory_order_relaxed) != kOn) return std::realloc(block, real_size(size));
  auto it = t.blocks.find(block);
  if (it == t.blocks.end()) {
    report_unknown(block);
    return nullptr;
  }
  void* p = std::realloc(block, real_size(size));
  if (p == nullptr) return nullptr;  // the old block stays valid and recorded
  t.blocks.erase(it);
  record(t, p, size);
  return p;
}

void mem_free(void* block) {
  if (block == nullptr) return;
  // A free before any allocation decides too, so that an early stray free is caught.
  if (tracking_at_allocation()) {
    AllocTracker& t = tracker();
    std::unique_lock<std::mutex> g(t.lock);
    if (t.state.load(std::memory_order_relaxed) == kOn) {
      auto it = t.blocks.find(block);
      if (it == t.blocks.end()) {
        report_unknown(block);
        return;
      }
      std::memset(block, 0, it->second.size);
      t.blocks.erase(it);
    }
  }
  std::free(block);
}

void set_out_of_memory_hook(void (*hook)()) { g_out_of_memory_hook = hook; }

void out_of_memory() {
  static bool dying = false;
  if (!dying) {
    dying = true;
    if (g_out_of_memory_hook != nullptr) g_out_of_memory_hook();
  }
  vant_message_box("Error", "Out of virtual memory");
  std::exit(1);
}

void* mem_alloc_or_die(size_t size) {
  void* p = mem_alloc(size);
  if (p == nullptr) out_of_memory();
  return p;
}

void allocation_report() {
  AllocTracker& t = tracker();
  std::vector<std::pair<unsigned, void*>> live;
  {
    std::lock_guard<std::mutex> g(t.lock);
    live.reserve(t.blocks.size());
    for (const auto& [p, b] : t.blocks) live.emplace_back(b.sequence, p);
  }
  std::sort(live.begin(), live.end());
  for (const auto& [seq, p] : live) std::fprintf(stderr, "%p:%d\n", p, static_cast<int>(seq));
}

bool allocation_tracking_enabled() { return tracking(); }

size_t tracked_block_count() {
  AllocTracker& t = tracker();
  std::lock_guard<std::mutex> g(t.lock);
  return t.blocks.size();
}

void reset_allocation_tracker(size_t capacity) {
  AllocTracker& t = tracker();
  std::lock_guard<std::mutex> g(t.lock);
  t.blocks.clear();
  t.next_sequence = 0;
  t.capacity = capacity;
  t.state.store(kUnknown, std::memory_order_release);
}

// ---- interning -------------------------------------------------------------------------

namespace {

struct InternTable {
  std::vector<char*> strings;                  // owned copies, in the order stored
  std::unordered_set<std::string_view> index;  // views of those copies
};

// Never destroyed: interned strings outlive every static that may still hold one, and the
// table stays reachable for the leak checker until free_interned_strings.
InternTable& intern_table() {
  static InternTable* t = new InternTable;
  return *t;
}

}  // namespace

const char* intern(std::string_view text) {
  InternTable& t = intern_table();
  if (auto it = t.index.find(text); it != t.index.end()) return it->data();
  if (text.size() >= kMaxBlock) out_of_memory();
  auto* copy = static_cast<char*>(mem_alloc_or_die(text.size() + 1));
  if (!text.empty()) std::memcpy(copy, text.data(), text.size());
  copy[text.size()] = '\0';
  try {
    if (t.strings.capacity() == 0) t.strings.reserve(16);
    t.strings.push_back(copy);
    t.index.insert(std::string_view(copy, text.size()));
  } catch (const std::bad_alloc&) {
    out_of_memory();
  }
  return copy;
}

size_t interned_string_count() { return intern_table().strings.size(); }

void free_interned_strings() {
  InternTable& t = intern_table();
  t.index.clear();
  for (char* s : t.strings) mem_free(s);
  t.strings.clear();
  t.strings.shrink_to_fit();
}

}  // namespace ks
