// Feeds arbitrary bytes to the HEIC decoder as the camera-roll preview and the photo export use
// it (the first byte picks the bound and whether the small picture is preferred). HEIC files
// come from the device, so no input may crash, hang or allocate without bound, and a decoded
// picture stays within the bound and the pixel cap.
#include <cstddef>
#include <cstdint>
#include <span>

#include "base/Bitmap.h"
#include "photo/HeicDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const bool thumbnail = (data[0] & 1) != 0;
    const int side = (data[0] & 2) != 0 ? 100 : 0;
    const corvane::THeicDecodeOptions options{side, side, thumbnail};
    corvane::TBitmap picture;
    const bool decoded = corvane::DecodeHeic(std::span(data + 1, size - 1), options, picture);
    if (decoded != !picture.Empty())
        __builtin_trap();
    if (decoded && side > 0 && (picture.Width() > side || picture.Height() > side))
        __builtin_trap();
    if (static_cast<int64_t>(picture.Width()) * picture.Height() > corvane::TBitmap::kMaxPixels)
        __builtin_trap();
    return 0;
}
