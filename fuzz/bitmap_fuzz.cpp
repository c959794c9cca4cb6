// Feeds arbitrary bytes to the bitmap file reader and to the decoders of the full-size record
// formats: preview and picture records come from the device, so no input may crash, read past
// the data or allocate more than the input can describe. Every decoder meets the raw input; a
// last byte of 0xD1 also runs the swapped-RGB decoder on the first 66 bytes as its header and
// the rest repeated up to a whole record, so that any header meets a full set of pixels. The
// YUV decoders (to RGB and to planes) read fixed offsets once the size check passes and a full
// record costs a fifth of a second here, so they see raw input only; their arithmetic has unit
// tests.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "base/Bitmap.h"
#include "photo/BitmapFile.h"
#include "photo/IthmbDecoders.h"
#include "photo/IthmbPlanes.h"

namespace {

constexpr size_t kHeaderSize = 66;
constexpr size_t kSwappedBytes = 176 * 132 * 2;

std::vector<uint8_t> Repeat(std::span<const uint8_t> bytes, size_t size) {
    std::vector<uint8_t> out(size);
    for (size_t i = 0; i < size; ++i)
        out[i] = bytes[i % bytes.size()];
    return out;
}

void ExpectSize(bool decoded, const corvane::TBitmap& picture, int width, int height) {
    if (decoded ? picture.Width() != width || picture.Height() != height : !picture.Empty())
        __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> input(data, size);
    corvane::TBitmap picture;
    if (corvane::LoadBitmapFile(input, picture)) {
        // One-bit pixels are the densest a file holds: a picture never outgrows its bytes.
        const int64_t pixels = int64_t{picture.Width()} * picture.Height();
        if (picture.Empty() || pixels > int64_t(size) * 8 || pixels > corvane::TBitmap::kMaxPixels)
            __builtin_trap();
    } else if (!picture.Empty()) {
        __builtin_trap();
    }

    ExpectSize(corvane::DecodeUyvy(input, picture), picture, 640, 480);
    ExpectSize(corvane::DecodeYuv420(input, picture), picture, 720, 480);
    corvane::TYcbcrPicture planes;
    if (corvane::DecodeUyvyPlanes(input, planes) && planes.Width() != 640)
        __builtin_trap();
    if (corvane::DecodeYuv420Planes(input, planes) && planes.Width() != 720)
        __builtin_trap();
    if (size > kHeaderSize) {
        corvane::DecodeSwappedRgb(input.subspan(kHeaderSize), input.first(kHeaderSize), picture);
    }

    if (size > kHeaderSize + 1 && input.back() == 0xD1) {
        const std::span<const uint8_t> body = input.first(size - 1);
        const std::vector<uint8_t> record = Repeat(body.subspan(kHeaderSize), kSwappedBytes);
        corvane::DecodeSwappedRgb(record, body.first(kHeaderSize), picture);
    }
    return 0;
}
