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

// One line "%p:%d\n" on standard error for every block still tracked.
void allocation_report();
// Test support: forget the tracker and read KS_CHECK_ALLOC again on the next allocation.
void reset_allocation_tracker();

// The stored copy equal to text; stored copies live until free_interned_strings.
const char* intern(std::string_view text);
void free_interned_strings();

}  // namespace ks
