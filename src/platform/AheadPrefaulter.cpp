#include "platform/AheadPrefaulter.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <system_error>

namespace corvane {

TAheadPrefaulter::TAheadPrefaulter(uint8_t* data, size_t size, size_t window)
    : FData(data), FSize(size), FWindow(std::max(window, kStep)) {
    if (size < kSmallest) {
        FNextWake = SIZE_MAX;
        return;
    }
    try {
        FThread = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
        // No thread: the filling thread maps its pages itself, as without this.
        FNextWake = SIZE_MAX;
    }
}

TAheadPrefaulter::~TAheadPrefaulter() {
    // The end mark, a changed value, also wakes a thread waiting for the filler to move on.
    FReached.store(SIZE_MAX, std::memory_order_relaxed);
    FReached.notify_one();
    if (FThread.joinable())
        FThread.join();
}

void TAheadPrefaulter::Run() {
    size_t mapped = 0;
    while (mapped < FSize) {
        const size_t reached = FReached.load(std::memory_order_relaxed);
        if (reached == SIZE_MAX)
            return;
        if (mapped >= reached + FWindow) {
            FReached.wait(reached, std::memory_order_relaxed);
            continue;
        }
        const size_t step = std::min(kStep, FSize - mapped);
        // Maps the pages as a write would, without writing: the filler may be using them.
        // A kernel that cannot (before Linux 5.14) leaves the faults to the filler.
        if (madvise(FData + mapped, step, MADV_POPULATE_WRITE) != 0)
            return;
        mapped += step;
    }
}

}  // namespace corvane
