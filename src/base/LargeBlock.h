// Uninitialised storage for large arrays of plain values (pixels, bitmap rows).
#pragma once

#include <cstddef>
#include <memory>
#include <type_traits>

namespace pelorin {

namespace detail {
void* AllocateLargeBlock(std::size_t bytes);
// `bytes` as given when the block was allocated.
void FreeLargeBlock(void* block, std::size_t bytes) noexcept;
}  // namespace detail

struct LargeBlockDeleter {
    std::size_t bytes = 0;
    void operator()(void* block) const noexcept { detail::FreeLargeBlock(block, bytes); }
};

template <typename T>
using LargeBlock = std::unique_ptr<T[], LargeBlockDeleter>;

// Room for `count` values of a trivial type T, left uninitialised. Blocks of several
// megabytes are laid on 2 MB boundaries and offered to the kernel for huge pages: an image
// of 4000 x 4000 is then touched through a few dozen page faults instead of tens of
// thousands, which dominate a first read on virtual machines. Raises std::bad_alloc.
template <typename T>
LargeBlock<T> AllocateLarge(std::size_t count) {
    static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>);
    return LargeBlock<T>(static_cast<T*>(detail::AllocateLargeBlock(count * sizeof(T))),
                         LargeBlockDeleter{count * sizeof(T)});
}

}  // namespace pelorin
