#include "platform/NodeArena.h"

#include <algorithm>
#include <new>
#include <utility>

namespace corvane {

namespace {

// The first buffer is small, so that a short list costs little; each next one doubles, up to a
// few huge pages' worth.
constexpr size_t kFirstBuffer = size_t{16} << 10;
constexpr size_t kLargestBuffer = size_t{4} << 20;
// How far the mapping thread runs ahead of the filler.
constexpr size_t kPrefaultWindow = size_t{16} << 20;

}  // namespace

void* TNodeArena::Allocate(size_t bytes) {
    if (bytes == 0 || bytes > kMaxPooled)
        return ::operator new(bytes);
    const size_t size = Rounded(bytes);
    if (TFree*& head = FFree[size / kGrain]; head != nullptr) {
        TFree* block = head;
        head = block->Next;
        return block;
    }
    return Carve(size);
}

void* TNodeArena::Carve(size_t size) {
    if (FLeft < size) {
        const size_t next =
            FBuffers.empty() ? kFirstBuffer : std::min(FBuffers.back().Size() * 2, kLargestBuffer);
        TPageBuffer buffer(next);
        if (!buffer)
            throw std::bad_alloc();
        FBuffers.push_back(std::move(buffer));
        FPrefaulter.reset();  // past the reservation
        FNext = FBuffers.back().Data();
        FLeft = FBuffers.back().Size();
    }
    void* block = FNext;
    FNext += size;
    FLeft -= size;
    if (FPrefaulter)
        FPrefaulter->Reached(FNext);
    return block;
}

void TNodeArena::Reserve(size_t bytes) {
    if (bytes <= FLeft)
        return;
    TPageBuffer buffer(bytes);
    if (!buffer)
        return;
    // The old thread stops first; the rest of the current buffer is left unused.
    FPrefaulter.reset();
    FBuffers.push_back(std::move(buffer));
    FNext = FBuffers.back().Data();
    FLeft = FBuffers.back().Size();
    FPrefaulter.emplace(FNext, FLeft, kPrefaultWindow);
}

void TNodeArena::EndReserve() {
    FPrefaulter.reset();
}

void TNodeArena::Release(void* block, size_t bytes) noexcept {
    if (block == nullptr)
        return;
    if (bytes == 0 || bytes > kMaxPooled) {
        ::operator delete(block);
        return;
    }
    auto* freed = static_cast<TFree*>(block);
    freed->Next = FFree[Rounded(bytes) / kGrain];
    FFree[Rounded(bytes) / kGrain] = freed;
}

}  // namespace corvane
