#include "photo/ImageThumbnail.h"

#include <libexif/exif-data.h>
#include <libexif/exif-utils.h>

#include <algorithm>
#include <climits>
#include <exception>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "base/ByteReader.h"
#include "device/iPodDev.h"
#include "photo/BitmapFile.h"
#include "photo/ExifSegment.h"
#include "photo/HeicDecoder.h"
#include "photo/ImageCodecs.h"
#include "photo/JpegDcDecoder.h"

namespace corvane {

namespace {

constexpr uint16_t kTagOrientation = 0x0112;
constexpr uint16_t kTagThumbnailOffset = 0x0201;  // JPEGInterchangeFormat
constexpr uint16_t kTagThumbnailLength = 0x0202;  // JPEGInterchangeFormatLength

// The small JPEG picture of a file's EXIF data (empty when there is none) and the orientation
// of its main picture (0 when not given).
struct TExifPicture {
    std::vector<uint8_t> Jpeg;
    int Orientation = 0;
};

struct TExifDataFree {
    void operator()(ExifData* data) const { exif_data_unref(data); }
};

// A JPEG file's EXIF segment through libexif, which finds it among the file's first markers.
TExifPicture ReadJpegExifPicture(std::span<const uint8_t> file) {
    TExifPicture picture;
    if (file.empty())
        return picture;
    std::unique_ptr<ExifData, TExifDataFree> exif(exif_data_new());
    if (!exif)
        return picture;
    // We only read: no made-up entries for tags the file lacks.
    exif_data_unset_option(exif.get(), EXIF_DATA_OPTION_FOLLOW_SPECIFICATION);
    // The segment sits among the first markers, so a file past 4 GiB loses nothing here.
    const auto size = static_cast<unsigned int>(std::min<size_t>(file.size(), UINT_MAX));
    exif_data_load_data(exif.get(), file.data(), size);
    if (exif->data && exif->size != 0)
        picture.Jpeg.assign(exif->data, exif->data + exif->size);
    const ExifEntry* entry = exif_content_get_entry(exif->ifd[EXIF_IFD_0], EXIF_TAG_ORIENTATION);
    if (entry && entry->format == EXIF_FORMAT_SHORT && entry->data && entry->size >= 2)
        picture.Orientation = exif_get_short(entry->data, exif_data_get_byte_order(exif.get()));
    return picture;
}

// A TIFF file is itself the structure that EXIF data copies, so its IFD0 and IFD1 are read
// directly. libexif expects an EXIF segment and reads no further than 64 KiB into it, while a
// TIFF file often keeps its directories after the image data, megabytes in.
class TTiffReader {
public:
    explicit TTiffReader(std::span<const uint8_t> file) : FReader(file) {
        if (FReader.TagIs(0, std::string_view("II*\0", 4))) {
            FValid = true;
        } else if (FReader.TagIs(0, std::string_view("MM\0*", 4))) {
            FReader = TByteReader(file, std::endian::big);
            FValid = true;
        }
    }
    bool Valid() const { return FValid; }
    const TByteReader& Bytes() const { return FReader; }

    std::optional<uint16_t> U16(size_t offset) const { return FReader.ReadU16(offset); }
    std::optional<uint32_t> U32(size_t offset) const { return FReader.ReadU32(offset); }

    // Calls visit(tag, value) for each entry of the directory at offset whose value is one
    // SHORT or LONG; returns the offset of the next directory (0 for none), or nothing when the
    // directory does not lie inside the file.
    template <typename Visit>
    std::optional<uint32_t> ReadDirectory(size_t offset, Visit visit) const {
        const auto count = U16(offset);
        if (!count || !FReader.Has(offset + 2, static_cast<size_t>(*count) * 12 + 4))
            return std::nullopt;
        for (size_t i = 0; i < *count; ++i) {
            const size_t entry = offset + 2 + i * 12;
            const uint16_t tag = *U16(entry);
            const uint16_t type = *U16(entry + 2);
            if (*U32(entry + 4) != 1)
                continue;
            if (type == 3)
                visit(tag, *U16(entry + 8));
            else if (type == 4)
                visit(tag, *U32(entry + 8));
        }
        return U32(offset + 2 + static_cast<size_t>(*count) * 12);
    }

private:
    TByteReader FReader;
    bool FValid = false;
};

// What the directories of a TIFF structure say about its embedded picture.
struct TTiffThumbnail {
    int Orientation = 0;
    uint32_t Offset = 0;  // both 0: no embedded picture named
    uint32_t Length = 0;
};

std::optional<TTiffThumbnail> ReadTiffThumbnail(const TTiffReader& tiff) {
    const auto ifd0 = tiff.U32(4);
    if (!tiff.Valid() || !ifd0)
        return std::nullopt;
    TTiffThumbnail thumbnail;
    const auto ifd1 = tiff.ReadDirectory(*ifd0, [&](uint16_t tag, uint32_t value) {
        if (tag == kTagOrientation)
            thumbnail.Orientation = static_cast<int>(value);
    });
    if (!ifd1 || *ifd1 == 0)
        return std::nullopt;
    const auto next = tiff.ReadDirectory(*ifd1, [&](uint16_t tag, uint32_t value) {
        if (tag == kTagThumbnailOffset)
            thumbnail.Offset = value;
        else if (tag == kTagThumbnailLength)
            thumbnail.Length = value;
    });
    if (!next)
        return std::nullopt;
    return thumbnail;
}

std::string OutsideText(const TTiffThumbnail& thumbnail, const char* where) {
    return "its EXIF thumbnail (" + std::to_string(thumbnail.Length) + " bytes at " +
           std::to_string(thumbnail.Offset) + ") lies past the end of " + where;
}

// problem: why a named embedded picture cannot be taken.
std::optional<TExifPicture> ReadTiffExifPicture(std::span<const uint8_t> file,
                                                std::string& problem) {
    const TTiffReader tiff(file);
    const auto thumbnail = ReadTiffThumbnail(tiff);
    if (!thumbnail || thumbnail->Offset == 0 || thumbnail->Length == 0)
        return std::nullopt;
    const auto jpeg = tiff.Bytes().Bytes(thumbnail->Offset, thumbnail->Length);
    if (!jpeg) {
        problem = OutsideText(*thumbnail, "the file");
        return std::nullopt;
    }
    TExifPicture picture;
    picture.Orientation = thumbnail->Orientation;
    picture.Jpeg.assign(jpeg->begin(), jpeg->end());
    return picture;
}

// Why a JPEG file's EXIF data gave no embedded picture although it names one, or could not be
// read at all: libexif drops such data without a word. Empty when nothing is wrong.
std::string JpegExifProblem(std::span<const uint8_t> file) {
    const TExifSegment segment = FindExifSegment(file);
    if (segment.State != TExifSegment::Found)
        return {};
    if (segment.End > file.size())
        return "its EXIF data runs past the end of the file";
    const TTiffReader tiff(file.subspan(segment.Start, segment.End - segment.Start));
    const auto thumbnail = ReadTiffThumbnail(tiff);
    if (!thumbnail || (thumbnail->Offset == 0 && thumbnail->Length == 0) ||
        tiff.Bytes().Has(thumbnail->Offset, thumbnail->Length))
        return {};
    return OutsideText(*thumbnail, "its EXIF data");
}

// EXIF orientation: how the stored picture is turned and mirrored against the scene. 1 is
// upright; 2 to 8 need the picture moved before it is shown; other values are ignored.
bool IsTurnedOrMirrored(int orientation) {
    return orientation >= 2 && orientation <= 8;
}
// 5 to 8 lie on their side: width and height change places.
bool SwapsSides(int orientation) {
    return orientation >= 5 && orientation <= 8;
}

// The picture as the scene looked: source pixel (x, y) of a w x h picture goes to
//   2 (w-1-x, y)   3 (w-1-x, h-1-y)   4 (x, h-1-y)   5 (y, x)
//   6 (h-1-y, x)   7 (h-1-y, w-1-x)   8 (y, w-1-x)
// that is mirrored left to right, turned half round, mirrored top to bottom, mirrored along
// the diagonal, turned a quarter clockwise, mirrored along the other diagonal, turned a
// quarter anticlockwise.
TBitmap Upright(const TBitmap& source, int orientation) {
    const int w = source.Width();
    const int h = source.Height();
    const bool swap = SwapsSides(orientation);
    TBitmap result(swap ? h : w, swap ? w : h);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            int dx = x;
            int dy = y;
            switch (orientation) {
                case 2:
                    dx = w - 1 - x;
                    break;
                case 3:
                    dx = w - 1 - x;
                    dy = h - 1 - y;
                    break;
                case 4:
                    dy = h - 1 - y;
                    break;
                case 5:
                    dx = y;
                    dy = x;
                    break;
                case 6:
                    dx = h - 1 - y;
                    dy = x;
                    break;
                case 7:
                    dx = h - 1 - y;
                    dy = w - 1 - x;
                    break;
                case 8:
                    dx = y;
                    dy = w - 1 - x;
                    break;
                default:
                    break;
            }
            result.SetPixel(dx, dy, source.Pixel(x, y));
        }
    }
    return result;
}

// numerator / denominator rounded to the nearest integer, halves to even; both positive.
int RoundHalfEven(int64_t numerator, int64_t denominator) {
    int64_t quotient = numerator / denominator;
    const int64_t twiceRemainder = (numerator % denominator) * 2;
    if (twiceRemainder > denominator || (twiceRemainder == denominator && quotient % 2 != 0))
        ++quotient;
    return static_cast<int>(quotient);
}

}  // namespace

TFitRect FitPicture(int width, int height, int thumbWidth, int thumbHeight) {
    if (width <= 0 || height <= 0 || thumbWidth <= 0 || thumbHeight <= 0)
        return {};
    TFitRect fit;
    if (width < height) {
        fit.Width = RoundHalfEven(static_cast<int64_t>(thumbHeight) * width, height);
        fit.Height = thumbHeight;
    } else {
        fit.Width = thumbWidth;
        fit.Height = RoundHalfEven(static_cast<int64_t>(thumbWidth) * height, width);
    }
    // Integer division truncates towards zero: an overflow of one pixel still starts at 0.
    fit.X = (thumbWidth - fit.Width) / 2;
    fit.Y = (thumbHeight - fit.Height) / 2;
    return fit;
}

TThumbnail::TThumbnail(int thumbnailWidth, int thumbnailHeight)
    : FThumb(thumbnailWidth, thumbnailHeight),
      FThumbWidth(thumbnailWidth),
      FThumbHeight(thumbnailHeight) {}

bool TThumbnail::LoadFromStream(const TMemoryStream& picture, int imageType) {
    FThumb.Fill(kWhite);
    FProblem.clear();
    bool drawn = false;
    try {
        drawn = LoadPicture(std::span<const uint8_t>(picture.Data(), picture.Size()), imageType);
    } catch (const std::exception&) {
        drawn = false;  // out of memory for a picture within the limits: no preview
    }
    FSrc.Clear();
    if (!drawn)
        FThumb.Fill(kWhite);
    return drawn;
}

bool TThumbnail::LoadJpegExifThumbnail(std::span<const uint8_t> fileStart) {
    FThumb.Fill(kWhite);
    FProblem.clear();
    bool drawn = false;
    try {
        int orientation = 0;
        drawn = LoadExifThumbnail(fileStart, pkJpeg, orientation);
    } catch (const std::exception&) {
        drawn = false;
    }
    FSrc.Clear();
    if (!drawn)
        FThumb.Fill(kWhite);
    return drawn;
}

bool TThumbnail::LoadPicture(std::span<const uint8_t> file, int imageType) {
    int orientation = 0;
    switch (imageType) {
        case pkJpeg:
            if (LoadExifThumbnail(file, imageType, orientation))
                return true;
            {
                auto eighths = [&](int width, int height) {
                    return EighthsToFill(width, height, SwapsSides(orientation));
                };
                // A photo much larger than the cell needs only its blocks' averages, which cost a
                // fraction of a full decode; otherwise it is reduced inside the decoder to the
                // least that still fills the cell.
                if (!DecodeJpegDc(
                        file, [&](int width, int height) { return eighths(width, height) == 1; },
                        FSrc) &&
                    !DecodeJpegInEighths(file, eighths, FSrc)) {
                    AddProblem(
                        "the picture cannot be decoded (a damaged, cut short or unsupported JPEG)");
                    return false;
                }
                if (IsTurnedOrMirrored(orientation))
                    FSrc = Upright(FSrc, orientation);
                return Draw(FSrc);
            }
        case pkTiff:
            return LoadExifThumbnail(file, imageType, orientation);
        case pkPng:
            return DecodePng(file, FSrc) && Draw(FSrc);
        case pkGif:
            return DecodeGif(file, FSrc) && Draw(FSrc);
        case pkBmp:
            return LoadBitmapFile(file, FSrc) && Draw(FSrc);
        case pkHeic: {
            // The longer side of the preview bounds both: the fit scales by the longer side.
            const int side = std::max(FThumbWidth, FThumbHeight);
            const THeicDecodeOptions options{side, side, true};
            return DecodeHeic(file, options, FSrc) && Draw(FSrc);
        }
        default:
            return false;
    }
}

bool TThumbnail::LoadExifThumbnail(std::span<const uint8_t> file, int imageType, int& orientation) {
    std::optional<TExifPicture> exif;
    if (imageType == pkTiff) {
        std::string problem;
        exif = ReadTiffExifPicture(file, problem);
        AddProblem(problem);
    } else {
        exif = ReadJpegExifPicture(file);
        if (exif->Jpeg.empty())
            AddProblem(JpegExifProblem(file));
    }
    if (!exif)
        return false;
    orientation = exif->Orientation;
    if (exif->Jpeg.empty())
        return false;
    const bool swap = SwapsSides(exif->Orientation);
    // An embedded picture is meant to be small (160 x 120), but nothing stops a file from
    // claiming a large one: it is decoded only as large as the preview draws it.
    auto scaleFor = [&](int width, int height) {
        const TFitRect fit = swap ? FitPicture(height, width, FThumbWidth, FThumbHeight)
                                  : FitPicture(width, height, FThumbWidth, FThumbHeight);
        const int drawnWidth = swap ? fit.Height : fit.Width;
        const int drawnHeight = swap ? fit.Width : fit.Height;
        for (int scale : {8, 4, 2}) {
            if ((width + scale - 1) / scale >= drawnWidth &&
                (height + scale - 1) / scale >= drawnHeight)
                return scale;
        }
        return 1;
    };
    if (!DecodeJpeg(exif->Jpeg, scaleFor, FSrc)) {
        AddProblem("its EXIF thumbnail cannot be decoded");
        return false;
    }
    if (IsTurnedOrMirrored(exif->Orientation))
        FSrc = Upright(FSrc, exif->Orientation);
    return Draw(FSrc);
}

int TThumbnail::EighthsToFill(int width, int height, bool swapsSides) const {
    const TFitRect fit = swapsSides ? FitPicture(height, width, FThumbWidth, FThumbHeight)
                                    : FitPicture(width, height, FThumbWidth, FThumbHeight);
    const int64_t drawnWidth = swapsSides ? fit.Height : fit.Width;
    const int64_t drawnHeight = swapsSides ? fit.Width : fit.Height;
    for (int eighths = 1; eighths < 8; ++eighths) {
        if ((int64_t{width} * eighths + 7) / 8 >= drawnWidth &&
            (int64_t{height} * eighths + 7) / 8 >= drawnHeight)
            return eighths;
    }
    return 8;
}

void TThumbnail::AddProblem(const std::string& problem) {
    if (problem.empty())
        return;
    if (!FProblem.empty())
        FProblem += "; ";
    FProblem += problem;
}

bool TThumbnail::Draw(const TBitmap& picture) {
    if (picture.Empty())
        return false;
    const TFitRect fit = FitPicture(picture.Width(), picture.Height(), FThumbWidth, FThumbHeight);
    FThumb.StretchDraw(picture, fit.X, fit.Y, fit.Width, fit.Height);
    return true;
}

}  // namespace corvane
