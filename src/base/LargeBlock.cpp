#include "base/LargeBlock.h"

#include <cstdint>
#include <cstdlib>
#include <limits>
#include <new>

#ifdef __linux__
#include <sys/mman.h>
#endif

// Under the address sanitizer every block comes from the allocator, whose bounds it watches.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PELORIN_ADDRESS_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define PELORIN_ADDRESS_SANITIZER 1
#endif
#if defined(__linux__) && !defined(PELORIN_ADDRESS_SANITIZER)
#define PELORIN_MAP_LARGE_BLOCKS 1
#endif

namespace pelorin::detail {

namespace {
constexpr std::size_t kHugePage = std::size_t{2} << 20;
}

// Large blocks are mapped on their own rather than taken from the allocator's heap: once
// the allocator has seen a large block freed it serves the next ones from its heap, where
// a freed image stays resident under the next one (a 24-bit copy of a rendering made
// after the pixels were freed would cost both).
void* AllocateLargeBlock(std::size_t bytes) {
    if (bytes == 0) bytes = 1;
    if (bytes < 2 * kHugePage) {
        void* p = std::malloc(bytes);
        if (!p) throw std::bad_alloc();
        return p;
    }
    const std::size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
#ifdef PELORIN_MAP_LARGE_BLOCKS
    // Mapped with a huge page of room, then trimmed to a block on a 2 MB boundary.
    if (rounded > std::numeric_limits<std::size_t>::max() - kHugePage) throw std::bad_alloc();
    void* mapped = mmap(nullptr, rounded + kHugePage, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) throw std::bad_alloc();
    const auto start = reinterpret_cast<std::uintptr_t>(mapped);
    const std::uintptr_t aligned = (start + kHugePage - 1) / kHugePage * kHugePage;
    if (aligned > start) munmap(mapped, aligned - start);
    const std::size_t tail = kHugePage - (aligned - start);
    if (tail > 0) munmap(reinterpret_cast<void*>(aligned + rounded), tail);
    void* p = reinterpret_cast<void*>(aligned);
#else
    void* p = std::aligned_alloc(kHugePage, rounded);
    if (!p) throw std::bad_alloc();
#endif
#ifdef MADV_HUGEPAGE
    // Only advice: without huge pages the block works the same, in small pages.
    madvise(p, rounded, MADV_HUGEPAGE);
#endif
    return p;
}

void FreeLargeBlock(void* block, std::size_t bytes) noexcept {
    if (!block) return;
#ifdef PELORIN_MAP_LARGE_BLOCKS
    if (bytes == 0) bytes = 1;
    if (bytes >= 2 * kHugePage) {
        munmap(block, (bytes + kHugePage - 1) / kHugePage * kHugePage);
        return;
    }
#else
    (void)bytes;
#endif
    std::free(block);
}

}  // namespace pelorin::detail
