#include "base/MemoryStream.h"

#include <cstring>

namespace corvane {

void TMemoryStream::Write(const void* data, size_t count) {
    if (count == 0)
        return;
    if (FPosition + count > FData.size())
        FData.resize(FPosition + count);
    std::memcpy(FData.data() + FPosition, data, count);
    FPosition += count;
}

size_t TMemoryStream::Read(void* data, size_t count) {
    if (FPosition >= FData.size())
        return 0;
    size_t available = FData.size() - FPosition;
    if (count > available)
        count = available;
    std::memcpy(data, FData.data() + FPosition, count);
    FPosition += count;
    return count;
}

}  // namespace corvane
