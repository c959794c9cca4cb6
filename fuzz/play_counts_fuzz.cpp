// Feeds arbitrary bytes to the reader of "Play Counts", which the iPod writes: no input may
// crash, read past the data or allocate more than its entries, and what is read must be usable
// as it stands (ratings on the 0..100 scale, a count no larger than the file can hold).
#include <cstddef>
#include <cstdint>

#include "music/PlayCounts.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const corvane::TPlayDeltas read = corvane::ParsePlayCounts({data, size});
    if (!read.Damage.empty() && !read.Entries.empty())
        __builtin_trap();
    // Every entry takes at least 12 bytes after a header of at least 0x60.
    if (!read.Entries.empty() && read.Entries.size() > (size - 0x60) / 12)
        __builtin_trap();
    for (const corvane::TPlayDelta& entry : read.Entries) {
        if (entry.Rating && *entry.Rating > 100)
            __builtin_trap();
    }
    return 0;
}
