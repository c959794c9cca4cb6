// Feeds arbitrary bytes to the camera-roll preview as each kind of picture file (the first byte
// picks the kind: 1 JPEG, 2 TIFF, 3 PNG, 4 GIF, 5 BMP, 6 HEIC, 0 and 7 unknown). Camera-roll files
// come from the device, so no input may crash, hang, read past the data or allocate without bound,
// and a preview that was not drawn must be all white. JPEG input also goes through the partial
// read's path: the EXIF segment is looked for in the bytes and its part alone is shown.
#include <cstddef>
#include <cstdint>
#include <span>

#include "base/MemoryStream.h"
#include "photo/ExifSegment.h"
#include "photo/ImageThumbnail.h"

namespace {

constexpr int kSide = 100;

bool AllWhite(const corvane::TBitmap& bitmap) {
    for (int y = 0; y < bitmap.Height(); ++y) {
        for (int x = 0; x < bitmap.Width(); ++x) {
            if (bitmap.Pixel(x, y) != corvane::kWhite)
                return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const int kind = data[0] % 8;
    // One object for the whole run, as the preview loader reuses one for every file.
    static corvane::TThumbnail thumbnail(kSide, kSide);
    corvane::TMemoryStream stream;
    stream.Write(data + 1, size - 1);
    const bool drawn = thumbnail.LoadFromStream(stream, kind);
    const corvane::TBitmap& preview = thumbnail.Thumbnail();
    if (preview.Width() != kSide || preview.Height() != kSide)
        __builtin_trap();
    if (drawn && (kind == 0 || kind == 7))
        __builtin_trap();
    if (!drawn && !AllWhite(preview))
        __builtin_trap();
    if (kind == 1) {
        const std::span<const uint8_t> file(data + 1, size - 1);
        const corvane::TExifSegment segment = corvane::FindExifSegment(file);
        if (segment.State == corvane::TExifSegment::Found &&
            (segment.Start > segment.End || segment.Start > file.size()))
            __builtin_trap();
        const size_t end =
            segment.State == corvane::TExifSegment::Found && segment.End < file.size()
                ? segment.End
                : file.size();
        if (!thumbnail.LoadJpegExifThumbnail(file.first(end)) && !AllWhite(preview))
            __builtin_trap();
    }
    return 0;
}
