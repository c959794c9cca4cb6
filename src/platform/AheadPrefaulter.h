// Maps fresh memory in on the other core a little ahead of the thread that fills it, so that
// the filling thread rarely stops on a page fault. Under a hypervisor that takes back the
// guest's free memory, mapping a huge page in can cost milliseconds; paid beside the work
// instead of inside it, it mostly costs no time at all.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <thread>

namespace corvane {

class TAheadPrefaulter {
public:
    // Maps data[0, size) in steps, never more than window bytes past the last Reached place.
    // Less than kSmallest is left to the filler: a thread would cost more than it saves.
    TAheadPrefaulter(uint8_t* data, size_t size, size_t window);
    // Stops and waits for the mapping thread: the memory may go once this returns.
    ~TAheadPrefaulter();
    TAheadPrefaulter(const TAheadPrefaulter&) = delete;
    TAheadPrefaulter& operator=(const TAheadPrefaulter&) = delete;

    // The filling thread has come to at, inside the data; cheap enough to call on every small
    // allocation.
    void Reached(const uint8_t* at) {
        const auto offset = static_cast<size_t>(at - FData);
        if (offset < FNextWake)
            return;
        FNextWake = offset + kStep;
        FReached.store(offset, std::memory_order_relaxed);
        FReached.notify_one();
    }

    static constexpr size_t kStep = size_t{2} << 20;
    static constexpr size_t kSmallest = size_t{8} << 20;

private:
    void Run();

    uint8_t* FData;
    size_t FSize;
    size_t FWindow;
    size_t FNextWake = 0;  // only the filling thread's; SIZE_MAX without a mapping thread
    std::atomic<size_t> FReached{0};
    std::thread FThread;
};

}  // namespace corvane
