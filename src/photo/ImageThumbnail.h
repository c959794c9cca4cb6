// A fitted, centred preview of a picture file on a white background. JPEG and TIFF files
// show the small picture embedded in their EXIF data when they carry one, HEIC files the small
// picture of their own container.
#pragma once

#include <cstdint>
#include <span>

#include "base/Bitmap.h"
#include "base/MemoryStream.h"

namespace corvane {

// Where a picture of width x height is drawn in a preview of thumbWidth x thumbHeight: scaled
// by its longer side, centred (the other side may overflow and is clipped). Empty when either
// size is not positive.
struct TFitRect {
    int X = 0;
    int Y = 0;
    int Width = 0;
    int Height = 0;
    friend bool operator==(const TFitRect&, const TFitRect&) = default;
};
TFitRect FitPicture(int width, int height, int thumbWidth, int thumbHeight);

class TThumbnail {
public:
    TThumbnail(int thumbnailWidth, int thumbnailHeight);

    // imageType: the TPictureKind of the file (1 JPEG, 2 TIFF, 3 PNG, 4 GIF, 5 BMP, 6 HEIC).
    // The whole stream is the file, whatever its position. True when a preview was drawn; otherwise
    // the preview is all white. Never throws.
    bool LoadFromStream(const TMemoryStream& picture, int imageType);
    const TBitmap& Thumbnail() const { return FThumb; }

private:
    bool LoadPicture(std::span<const uint8_t> file, int imageType);
    // The picture embedded in the EXIF data of a JPEG (imageType 1) or TIFF (2) file.
    bool LoadExifThumbnail(std::span<const uint8_t> file, int imageType);
    bool Draw(const TBitmap& picture);

    TBitmap FSrc;  // working picture, emptied after each file
    TBitmap FThumb;
    int FThumbWidth;
    int FThumbHeight;
};

}  // namespace corvane
