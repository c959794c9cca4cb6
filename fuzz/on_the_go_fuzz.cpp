// Feeds arbitrary bytes to the reader of the iPod's binary On-The-Go playlists: no input may
// crash, read past the data or list more entries than the file holds.
#include <cstddef>
#include <cstdint>

#include "music/OnTheGo.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const corvane::TOnTheGoFile read = corvane::ParseOnTheGoFile({data, size});
    if (!read.Damage.empty() && !read.TrackIndexes.empty())
        __builtin_trap();
    // Entries of at least 4 bytes after a header of at least 0x14.
    if (!read.TrackIndexes.empty() && read.TrackIndexes.size() > (size - 0x14) / 4)
        __builtin_trap();
    return 0;
}
