// Memory for the many small blocks of one large list (a library's tracks, one deque node each):
// carved out of a few big buffers instead of a malloc call per block, released in a few unmaps,
// and for a list of known length mapped in on another thread ahead of the one filling it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <type_traits>
#include <vector>

#include "platform/AheadPrefaulter.h"
#include "platform/PageBuffer.h"

namespace corvane {

class TNodeArena {
public:
    TNodeArena() = default;
    TNodeArena(const TNodeArena&) = delete;
    TNodeArena& operator=(const TNodeArena&) = delete;

    // bytes of memory aligned for any object; small blocks come from the arena (std::bad_alloc
    // when the system refuses it a buffer), large ones from operator new.
    void* Allocate(size_t bytes);
    // A block from Allocate with the same bytes; a small one is kept for the next Allocate of
    // its size, and the memory goes back to the system with the arena.
    void Release(void* block, size_t bytes) noexcept;
    // Room for about bytes more of small blocks in one buffer, mapped in on another thread a
    // little ahead of the blocks handed out, for a list whose length is known before it is
    // filled. Only a hint: a larger list goes on as without it, and a shorter one (a count
    // that lied) has only the window past its last block mapped for nothing.
    void Reserve(size_t bytes);
    // The list is filled: the mapping thread stops.
    void EndReserve();

    static constexpr size_t kMaxPooled = 1024;

private:
    static constexpr size_t kGrain = alignof(std::max_align_t);
    struct TFree {
        TFree* Next;
    };
    static size_t Rounded(size_t bytes) { return (bytes + kGrain - 1) / kGrain * kGrain; }
    void* Carve(size_t bytes);

    std::vector<TPageBuffer> FBuffers;
    unsigned char* FNext = nullptr;
    size_t FLeft = 0;
    std::array<TFree*, kMaxPooled / kGrain + 1> FFree{};
    // Follows FNext through the reserved buffer, and only there; gone before the buffers are.
    std::optional<TAheadPrefaulter> FPrefaulter;
};

// An allocator whose copies share one arena. The arena serves the container that made it and
// those it was moved from, on one thread at a time as the container itself; a copied container
// gets an arena of its own.
template <typename T>
class TArenaAllocator {
public:
    using value_type = T;
    using propagate_on_container_move_assignment = std::true_type;
    using propagate_on_container_swap = std::true_type;
    using propagate_on_container_copy_assignment = std::false_type;

    TArenaAllocator() : FArena(std::make_shared<TNodeArena>()) {}
    // Declared so that a move copies: a moved-from container still frees through the arena.
    TArenaAllocator(const TArenaAllocator&) = default;
    TArenaAllocator& operator=(const TArenaAllocator&) = default;
    template <typename U>
    TArenaAllocator(const TArenaAllocator<U>& other) : FArena(other.Arena()) {}

    TArenaAllocator select_on_container_copy_construction() const { return TArenaAllocator(); }

    T* allocate(size_t count) {
        static_assert(alignof(T) <= alignof(std::max_align_t));
        if (count > SIZE_MAX / sizeof(T))
            throw std::bad_array_new_length();
        return static_cast<T*>(FArena->Allocate(count * sizeof(T)));
    }
    void deallocate(T* block, size_t count) noexcept { FArena->Release(block, count * sizeof(T)); }

    const std::shared_ptr<TNodeArena>& Arena() const { return FArena; }
    template <typename U>
    bool operator==(const TArenaAllocator<U>& other) const {
        return FArena == other.Arena();
    }

private:
    std::shared_ptr<TNodeArena> FArena;
};

}  // namespace corvane
