// File descriptor helpers of the platform layer: ownership and complete writes.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <utility>

namespace corvane {

class TUniqueFd {
public:
    TUniqueFd() = default;
    explicit TUniqueFd(int fd) : FFd(fd) {}
    ~TUniqueFd() { Reset(); }
    TUniqueFd(TUniqueFd&& other) noexcept : FFd(other.Release()) {}
    TUniqueFd& operator=(TUniqueFd&& other) noexcept {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }
    TUniqueFd(const TUniqueFd&) = delete;
    TUniqueFd& operator=(const TUniqueFd&) = delete;

    int Get() const { return FFd; }
    explicit operator bool() const { return FFd >= 0; }
    int Release() { return std::exchange(FFd, -1); }
    void Reset(int fd = -1) {
        if (FFd >= 0)
            ::close(FFd);
        FFd = fd;
    }
    // Closes now and reports what close said: some file systems report a failed write only
    // here. 0 or errno.
    int Close() {
        if (FFd < 0)
            return 0;
        int result = ::close(std::exchange(FFd, -1)) == 0 ? 0 : errno;
        // Linux releases the descriptor even when close fails; EINTR is not a write error.
        return result == EINTR ? 0 : result;
    }

private:
    int FFd = -1;
};

// Writes all of data, resuming after short writes and signals; 0 or errno (ENOSPC, EIO...).
inline int WriteAll(int fd, const void* data, size_t count) {
    const char* next = static_cast<const char*>(data);
    while (count > 0) {
        ssize_t written = ::write(fd, next, count);
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0)
            return errno;
        next += written;
        count -= static_cast<size_t>(written);
    }
    return 0;
}

}  // namespace corvane
