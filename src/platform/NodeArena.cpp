#include "platform/NodeArena.h"

#include <algorithm>
#include <new>
#include <utility>

namespace corvane {

namespace {

// The first buffer is small, so that a short list costs little; each next one doubles, up to
// the size where huge pages take over.
constexpr size_t kFirstBuffer = size_t{16} << 10;
constexpr size_t kLargestBuffer = size_t{4} << 20;

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
        FNext = buffer.Data();
        FLeft = buffer.Size();
        FBuffers.push_back(std::move(buffer));
    }
    void* block = FNext;
    FNext += size;
    FLeft -= size;
    return block;
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
