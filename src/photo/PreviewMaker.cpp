#include "photo/PreviewMaker.h"

#include <span>

#include "device/iPodDev.h"
#include "photo/ExifSegment.h"
#include "photo/PreviewPlaceholders.h"

namespace corvane {

namespace {

// The first read of a JPEG file: a start marker, a JFIF segment and the largest EXIF segment
// there can be, so that one read mostly serves.
constexpr uint32_t kJpegHeadBytes = 68 * 1024;
// Application segments before the EXIF data are at most 64 KiB each and seldom more than one
// or two; a walk that needs more than this is given up for a whole-file read.
constexpr uint32_t kMaxJpegHeadBytes = 1024 * 1024;

}  // namespace

TPreviewMaker::TPreviewMaker(TIpodDevice& device, int width, int height)
    : FDevice(device),
      FDevicePreviews(device, width, height),
      FThumbnail(width, height),
      FVideoPlaceholder(MakeVideoPlaceholder(width, height)) {}

const TBitmap* TPreviewMaker::Make(const std::string& path, const std::string& mediaPath) {
    const TBitmap* result = nullptr;
    if (!mediaPath.empty() && FDevicePreviews.ReadV2(mediaPath, FStream) &&
        FThumbnail.LoadFromStream(FStream, pkJpeg)) {
        result = &FThumbnail.Thumbnail();
    } else if (TDevicePreviews::IsVideo(path)) {
        const bool poster = FDevicePreviews.ReadSidecar(path, FStream) &&
                            FThumbnail.LoadFromStream(FStream, pkJpeg);
        result = poster ? &FThumbnail.Thumbnail() : &FVideoPlaceholder;
    } else if (TIpodDevice::PictureKindOf(path) == pkJpeg && MakeFromExifHead(path)) {
        result = &FThumbnail.Thumbnail();
    } else {
        const TPictureKind kind = FDevice.ReadImageFile(path, FStream);
        if (kind != pkNone) {
            if (FThumbnail.LoadFromStream(FStream, kind))
                result = &FThumbnail.Thumbnail();
            // Damage is worth a line; a file without an embedded picture is not.
            if (!FThumbnail.Problem().empty())
                FDevice.AddLog("Preview of " + path + ": " + FThumbnail.Problem());
        }
    }
    // A camera roll of thousands of files must not keep the last one's bytes.
    FStream.Clear();
    FHead = {};
    return result;
}

bool TPreviewMaker::MakeFromExifHead(const std::string& path) {
    uint32_t wanted = kJpegHeadBytes;
    for (;;) {
        if (!FDevice.ReadFilePart(path, 0, wanted, FHead))
            return false;
        const bool wholeFile = FHead.size() < wanted;
        const TExifSegment segment = FindExifSegment(FHead);
        if (segment.State == TExifSegment::None)
            return false;
        if (segment.End <= FHead.size() || wholeFile) {
            // Cut to the segment's end, where the EXIF reader stops reading the whole file.
            const size_t end = segment.State == TExifSegment::Found && segment.End < FHead.size()
                                   ? segment.End
                                   : FHead.size();
            return FThumbnail.LoadJpegExifThumbnail(std::span(FHead.data(), end));
        }
        if (segment.End > kMaxJpegHeadBytes)
            return false;
        wanted = static_cast<uint32_t>(segment.End);
    }
}

}  // namespace corvane
