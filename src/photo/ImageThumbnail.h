// A fitted, centred preview of a picture file on a white background. JPEG and TIFF files
// show the small picture embedded in their EXIF data when they carry one, HEIC files the small
// picture of their own container.
#pragma once

#include <cstdint>
#include <span>
#include <string>

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
    // The preview of a JPEG file from its embedded EXIF picture alone, out of the file's first
    // bytes (up to the end of its EXIF segment, see FindExifSegment): what most camera files
    // need. False, with a white preview, when those bytes hold no usable embedded picture;
    // LoadFromStream of the whole file then gives the preview LoadFromStream always gives.
    bool LoadJpegExifThumbnail(std::span<const uint8_t> fileStart);
    const TBitmap& Thumbnail() const { return FThumb; }
    // Why the last file's embedded picture or the picture itself could not be used, in words
    // for a log line, when the file is damaged (not merely without an embedded picture);
    // empty otherwise.
    const std::string& Problem() const { return FProblem; }

private:
    bool LoadPicture(std::span<const uint8_t> file, int imageType);
    // The picture embedded in the EXIF data of a JPEG (imageType 1) or TIFF (2) file; true
    // when it was drawn. orientation: that of the main picture, 0 when none is given.
    bool LoadExifThumbnail(std::span<const uint8_t> file, int imageType, int& orientation);
    bool Draw(const TBitmap& picture);
    // The least reduction of the decoder, in eighths of the full size, at which a picture of
    // width x height still covers what the preview draws of it (turned when swapsSides).
    int EighthsToFill(int width, int height, bool swapsSides) const;
    void AddProblem(const std::string& problem);

    TBitmap FSrc;  // working picture, emptied after each file
    TBitmap FThumb;
    int FThumbWidth;
    int FThumbHeight;
    std::string FProblem;
};

}  // namespace corvane
