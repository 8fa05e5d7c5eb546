// Allocation wrappers with optional leak tracking (KS_CHECK_ALLOC), the allocator that ends
// the program when memory runs out, and string interning.
#pragma once

#include <cstddef>
#include <string_view>

namespace ks {

void* mem_alloc(size_t size);
void* mem_alloc_zeroed(size_t count, size_t size);
void* mem_realloc(void* block, size_t size);
void mem_free(void* block);

// On failure: runs the out-of-memory hook (closes audio and the window), shows the message
// box "Error" / "Out of virtual memory" and exits with status 1.
void* mem_alloc_or_die(size_t size);
[[noreturn]] void out_of_memory();
void set_out_of_memory_hook(void (*hook)());

// The tracker (KS_CHECK_ALLOC set to a positive integer, read at the first allocation)
// keeps up to this many live blocks; one more stops tracking for the rest of the run.
constexpr size_t kMaxTrackedBlocks = 1048576;

// One line "%p:%d\n" (address, sequence number) on standard error for every block still
// tracked, oldest first.
void allocation_report();
bool allocation_tracking_enabled();
size_t tracked_block_count();
// Test support: forget the tracker and read KS_CHECK_ALLOC again on the next allocation.
// Blocks allocated before the reset must not be freed through a tracker enabled after it.
void reset_allocation_tracker(size_t capacity = kMaxTrackedBlocks);

// The stored copy equal to text (NUL-terminated); equal texts give the same pointer.
// Stored copies live until free_interned_strings.
const char* intern(std::string_view text);
size_t interned_string_count();
void free_interned_strings();

}  // namespace ks
