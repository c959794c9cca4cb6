// Feeds arbitrary bytes to the eighth-size JPEG decode that previews of large camera files use.
// The files come from the device, so no input may crash, hang, read past the data or allocate
// without bound; a decode that gives up leaves no picture, and one that succeeds gives exactly
// one pixel per 8 x 8 block of the size the frame header names.
#include <cstddef>
#include <cstdint>
#include <span>

#include "photo/JpegDcDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    int width = 0;
    int height = 0;
    corvane::TBitmap picture;
    const bool decoded = corvane::DecodeJpegDc(
        std::span(data, size),
        [&](int w, int h) {
            width = w;
            height = h;
            return true;
        },
        picture);
    if (decoded && (picture.Width() != (width + 7) / 8 || picture.Height() != (height + 7) / 8))
        __builtin_trap();
    if (!decoded && !picture.Empty())
        __builtin_trap();
    return 0;
}
