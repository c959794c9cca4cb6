// A growable in-memory byte stream with a position, the buffer that readers parse.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace corvane {

class TMemoryStream {
public:
    void Clear() {
        FData.clear();
        FPosition = 0;
    }
    // Writes at the position, growing the stream as needed.
    void Write(const void* data, size_t count);
    // Reads up to count bytes from the position; returns how many were read.
    size_t Read(void* data, size_t count);
    void Seek(size_t position) { FPosition = position; }
    void Rewind() { FPosition = 0; }
    size_t Position() const { return FPosition; }
    size_t Size() const { return FData.size(); }
    void Reserve(size_t count) { FData.reserve(count); }
    const uint8_t* Data() const { return FData.data(); }
    const std::vector<uint8_t>& Bytes() const { return FData; }

private:
    std::vector<uint8_t> FData;
    size_t FPosition = 0;
};

}  // namespace corvane
