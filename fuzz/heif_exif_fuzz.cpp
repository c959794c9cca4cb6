// Feeds arbitrary bytes, as the EXIF block of a HEIC file, to the step that turns it into the
// EXIF segment of an exported JPEG: the block comes from the device's picture, so no input may
// read or write outside it, and what comes out is either empty or a whole segment.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "photo/HeicToJpeg.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<uint8_t> segment = corvane::JpegExifSegment(std::span(data, size));
    if (!segment.empty() && (segment.size() > 65533 || segment.size() < 6 + 8))
        std::abort();
    return 0;
}
