#include "photo/PreviewMaker.h"

#include "device/iPodDev.h"
#include "photo/PreviewPlaceholders.h"

namespace corvane {

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
    } else {
        const TPictureKind kind = FDevice.ReadImageFile(path, FStream);
        if (kind != pkNone && FThumbnail.LoadFromStream(FStream, kind))
            result = &FThumbnail.Thumbnail();
    }
    // A camera roll of thousands of files must not keep the last one's bytes.
    FStream.Clear();
    return result;
}

}  // namespace corvane
