// Large scratch memory straight from the system: not zero-filled by us, released whole, and
// placed so that a system that backs memory with huge pages can use them for it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

namespace corvane {

class TPageBuffer {
public:
    TPageBuffer() = default;
    // size bytes of writable memory; empty (Data() null) when the system refuses them.
    explicit TPageBuffer(size_t size);
    ~TPageBuffer() { Release(); }
    TPageBuffer(TPageBuffer&& other) noexcept
        : FData(std::exchange(other.FData, nullptr)), FSize(std::exchange(other.FSize, 0)) {}
    TPageBuffer& operator=(TPageBuffer&& other) noexcept {
        if (this != &other) {
            Release();
            FData = std::exchange(other.FData, nullptr);
            FSize = std::exchange(other.FSize, 0);
        }
        return *this;
    }
    TPageBuffer(const TPageBuffer&) = delete;
    TPageBuffer& operator=(const TPageBuffer&) = delete;

    uint8_t* Data() { return FData; }
    const uint8_t* Data() const { return FData; }
    size_t Size() const { return FSize; }
    explicit operator bool() const { return FData != nullptr; }

private:
    void Release();
    uint8_t* FData = nullptr;
    size_t FSize = 0;
};

}  // namespace corvane
