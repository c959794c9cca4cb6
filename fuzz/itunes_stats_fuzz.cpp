// Feeds arbitrary bytes to the reader of a shuffle's iTunesStats, in whichever of its two
// layouts the bytes look like: no input may crash, read past the data or allocate more than
// its entries, and an ignored file gives no entries.
#include <cstddef>
#include <cstdint>

#include "music/PlayCounts.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const corvane::TPlayDeltas read = corvane::ParseITunesStats({data, size});
    if (!read.Damage.empty() && !read.Entries.empty())
        __builtin_trap();
    // The smaller layout's entries take 18 bytes after 6.
    if (!read.Entries.empty() && read.Entries.size() > (size - 6) / 18)
        __builtin_trap();
    for (const corvane::TPlayDelta& entry : read.Entries) {
        if (entry.Rating || entry.PersistentId != 0 || entry.Deleted)
            __builtin_trap();  // the layouts hold none of these
    }
    return 0;
}
