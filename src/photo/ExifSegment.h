// Where the EXIF data of a JPEG file lies, told from the file's first bytes: a camera-roll
// preview reads that much of a large photo, and the whole file only when the embedded picture
// is missing. The walk over the leading markers is the one the EXIF reader makes, so the bytes
// it finds hold everything that reader would read of the whole file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace corvane {

struct TExifSegment {
    enum TState {
        None,      // the file has no EXIF segment where the EXIF reader looks for one
        Found,     // the segment is [Start, End): Start is its TIFF header
        NeedMore,  // the bytes end before the walk does; read at least End bytes and look again
    };
    TState State = None;
    size_t Start = 0;
    size_t End = 0;
};

// head: the first bytes of a file (all of it, or fewer). End may lie past head, and for a
// damaged file past the file's end.
TExifSegment FindExifSegment(std::span<const uint8_t> head);

}  // namespace corvane
