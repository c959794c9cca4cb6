#include "platform/PageBuffer.h"

#include <sys/mman.h>

namespace corvane {

TPageBuffer::TPageBuffer(size_t size) {
    if (size == 0)
        return;
    void* memory = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED)
        return;
    // Only a hint: without huge pages the buffer works the same, a little slower.
    madvise(memory, size, MADV_HUGEPAGE);
    FData = static_cast<uint8_t*>(memory);
    FSize = size;
}

void TPageBuffer::Release() {
    if (FData != nullptr)
        munmap(FData, FSize);
    FData = nullptr;
    FSize = 0;
}

}  // namespace corvane
