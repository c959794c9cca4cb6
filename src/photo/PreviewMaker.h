// The preview of one device file for a cell of the grid, from the quickest source that has
// one: the device's own preview JPEG, then for a video the .THM beside it, else the file itself
// (JPEG, TIFF, PNG, GIF, BMP, HEIC). A video with neither gets the "video" placeholder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/Bitmap.h"
#include "base/MemoryStream.h"
#include "photo/DevicePreviews.h"
#include "photo/ImageThumbnail.h"

namespace corvane {

class TIpodDevice;

class TPreviewMaker {
public:
    TPreviewMaker(TIpodDevice& device, int width, int height);

    // path: the file as ReadImageFile takes it; mediaPath: the same below the media root, as
    // the device's preview folder names it (empty: the device's previews are not asked). The
    // result stays valid until the next call; null when no preview could be made.
    const TBitmap* Make(const std::string& path, const std::string& mediaPath);
    // Whether the device keeps previews of its own (decided on the first call).
    bool HasDevicePreviews() { return FDevicePreviews.HasV2(); }
    TDevicePreviews& DevicePreviews() { return FDevicePreviews; }

private:
    // A JPEG file's preview from its embedded EXIF picture, reading the file's first bytes and
    // no more; false when the file must be read whole.
    bool MakeFromExifHead(const std::string& path);

    TIpodDevice& FDevice;
    TDevicePreviews FDevicePreviews;
    TThumbnail FThumbnail;
    TBitmap FVideoPlaceholder;
    TMemoryStream FStream;       // our own: the photo export uses the library's work stream
    std::vector<uint8_t> FHead;  // the first bytes of a JPEG file
};

}  // namespace corvane
