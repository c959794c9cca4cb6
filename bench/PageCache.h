// Cold rounds of the copy benchmarks: the page cache is dropped before each, so that the copy
// reads from the disk, as it does from a device just attached.
#pragma once

#include <unistd.h>

#include <cstdio>

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

}  // namespace corvane
