// A whole local file as read-only memory: the pages the system already caches are used in
// place, so reading a large database costs no copy and no fresh memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

namespace corvane {

class TMappedFile {
public:
    enum class TResult { Done, Failed, TooLarge };

    TMappedFile() = default;
    ~TMappedFile() { Release(); }
    TMappedFile(TMappedFile&& other) noexcept
        : FData(std::exchange(other.FData, nullptr)), FSize(std::exchange(other.FSize, 0)) {}
    TMappedFile& operator=(TMappedFile&& other) noexcept {
        if (this != &other) {
            Release();
            FData = std::exchange(other.FData, nullptr);
            FSize = std::exchange(other.FSize, 0);
        }
        return *this;
    }
    TMappedFile(const TMappedFile&) = delete;
    TMappedFile& operator=(const TMappedFile&) = delete;

    // Maps the regular file at path (never waiting on a FIFO or device node), refusing one
    // larger than maxSize. Reading ahead of the whole file starts at once, so the walk that
    // follows does not stop for the disk page by page; pages are mapped as the walk reaches
    // them, so the parts a reader steps over cost no time and no memory. An empty file maps to
    // no bytes.
    TResult Map(const std::string& path, uint64_t maxSize);
    void Release();

    const uint8_t* Data() const { return FData; }
    size_t Size() const { return FSize; }

private:
    const uint8_t* FData = nullptr;
    size_t FSize = 0;
};

}  // namespace corvane
