// Cold rounds of the copy benchmarks: the page cache is dropped before each, so that the copy
// reads from the disk, as it does from a device just attached.
#pragma once

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace corvane {

// Writes back what is dirty and drops the clean cached pages; false where that is not allowed
// (it needs root).
inline bool DropPageCache() {
    sync();
    std::FILE* control = std::fopen("/proc/sys/vm/drop_caches", "w");
    if (control == nullptr)
        return false;
    const bool dropped = std::fputs("1\n", control) >= 0;
    return std::fclose(control) == 0 && dropped;
}

inline double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// Ours and the reference from a cold cache, one of each per round, the order swapped every
// round: under a hypervisor that caches the disk, "cold" swings by a factor of two from minute
// to minute, and rounds taken far apart compared that swing rather than the copies. The time
// reported is ours; the counter "pace" is the median over the rounds of the reference's time
// over ours (1 = level, more = ours faster). clean() removes what a copy wrote.
template <typename Ours, typename Reference, typename Clean>
void ColdPairs(benchmark::State& state, Ours ours, Reference reference, Clean clean) {
    if (!DropPageCache()) {
        state.SkipWithError("the page cache cannot be dropped here (needs root): no cold rounds");
        return;
    }
    auto timed = [&](auto& copy) {
        DropPageCache();
        const auto start = std::chrono::steady_clock::now();
        const bool copied = copy();
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        clean();
        return copied ? took.count() : -1.0;
    };
    std::vector<double> paces;
    for (auto _ : state) {
        const bool oursFirst = paces.size() % 2 == 0;
        const double first = oursFirst ? timed(ours) : timed(reference);
        const double second = oursFirst ? timed(reference) : timed(ours);
        const double mine = oursFirst ? first : second;
        const double theirs = oursFirst ? second : first;
        if (mine < 0 || theirs < 0) {
            state.SkipWithError("copy failed");
            return;
        }
        state.SetIterationTime(mine);
        paces.push_back(theirs / mine);
    }
    state.counters["pace"] = Median(paces);
}

}  // namespace corvane
