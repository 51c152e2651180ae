#include "base/LargeBlock.h"

#include <cstdlib>
#include <new>

#ifdef __linux__
#include <sys/mman.h>
#endif

namespace pelorin::detail {

namespace {
constexpr std::size_t kHugePage = std::size_t{2} << 20;
}

void* AllocateLargeBlock(std::size_t bytes) {
    if (bytes == 0) bytes = 1;
    if (bytes < 2 * kHugePage) {
        void* p = std::malloc(bytes);
        if (!p) throw std::bad_alloc();
        return p;
    }
    const std::size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    void* p = std::aligned_alloc(kHugePage, rounded);
    if (!p) throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
    // Only advice: without huge pages the block works the same, in small pages.
    madvise(p, rounded, MADV_HUGEPAGE);
#endif
    return p;
}

void FreeLargeBlock(void* block) noexcept {
    std::free(block);
}

}  // namespace pelorin::detail
