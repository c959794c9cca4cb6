// What the program knows about .ithmb record formats: picture size by format id, the files known
// by name, the preview cell, and the 16-bit bit-field bitmap header records are loaded through.
#include <algorithm>
#include <cstring>
#include <string_view>

#include "base/Text.h"
#include "device/iPodDev.h"
#include "photo/SixteenBitBmp.h"
#include "photo/iPodPhoto.h"

namespace corvane {
namespace {

struct TFormatSize {
    int32_t Id;
    int32_t Width;
    int32_t Height;
};

constexpr TFormatSize kFormatSizes[] = {
    {1009, 42, 30},   {1013, 220, 176}, {1015, 130, 88},   {1016, 140, 140}, {1017, 56, 56},
    {1019, 720, 480}, {1023, 176, 132}, {1024, 320, 240},  {1027, 100, 100}, {1028, 100, 100},
    {1029, 200, 200}, {1031, 42, 42},   {1032, 42, 37},    {1036, 50, 41},   {1055, 128, 128},
    {1060, 320, 320}, {1061, 56, 55},   {1062, 56, 56},    {1064, 320, 240}, {1066, 64, 64},
    {1067, 720, 480}, {1068, 128, 128}, {1071, 240, 240},  {1074, 50, 50},   {1078, 80, 80},
    {1081, 640, 480}, {1084, 240, 240}, {3001, 256, 256},  {3002, 128, 128}, {3003, 64, 64},
    {3004, 56, 73},   {3005, 320, 320}, {3006, 55, 56},    {3007, 88, 88},   {3008, 640, 480},
    {3009, 160, 128}, {3011, 80, 79},   {3105, 1280, 320}, {3106, 112, 112}, {3113, 112, 112},
    {3309, 64, 64},   {4031, 120, 120},
};

struct TNamedFormat {
    std::string_view FileName;
    int32_t Id;
    int32_t Width;
    int32_t Height;
    int32_t SlotSize;  // Width x Height x 2 pixel bytes and 28 more
};

constexpr TNamedFormat kNamedFormats[] = {
    {"79x79.ithmb", 3011, 80, 79, 12668},  {"120x120.ithmb", 4031, 120, 120, 28828},
    {"4031.ithmb", 4031, 120, 120, 28828}, {"64x64.ithmb", 3309, 64, 64, 8220},
    {"3309.ithmb", 3309, 64, 64, 8220},
};

// Bytes after the pixels of a record of a format known by name.
constexpr int32_t kByNameTrailer = 28;

// Preview cells that differ from the record's picture size.
constexpr TFormatSize kCells[] = {
    {1015, 119, 88}, {1032, 42, 37},   {1036, 50, 41},   {3004, 56, 56},
    {3011, 75, 75},  {3113, 111, 111}, {4031, 120, 120},
};

constexpr int32_t kDefaultCell = 64;
// A preview cell larger than this comes from a damaged database; camera-roll previews are made
// at the cell size, so it must not be trusted.
constexpr int32_t kMaxCellSide = 2048;

}  // namespace

void TIpodPhotoDb::SetFormatGeometry(TIthmbFormat& format) {
    if (format.ByName) {
        if (format.FileName.empty()) {
            format.Id = 3011;
            format.Width = 0;
            format.Height = 0;
            format.SlotSize = 0;
            return;
        }
        for (const TNamedFormat& named : kNamedFormats) {
            if (SameText(format.FileName, named.FileName)) {
                format.Id = named.Id;
                format.Width = named.Width;
                format.Height = named.Height;
                format.SlotSize = named.SlotSize;
                format.FileCount = 0;
                return;
            }
        }
        return;
    }
    for (const TFormatSize& size : kFormatSizes) {
        if (size.Id == format.Id) {
            format.Width = size.Width;
            format.Height = size.Height;
            return;
        }
    }
}

uint32_t TIpodPhotoDb::MaxRecordBytes(int32_t formatId) {
    constexpr uint32_t kBytesPerPixel = 4;
    constexpr uint32_t kSlack = 4096;
    // A format of a device not in the table: the largest picture a record is known to hold.
    uint32_t pixels = 1280 * 960;
    for (const TFormatSize& size : kFormatSizes) {
        if (size.Id == formatId) {
            pixels = static_cast<uint32_t>(size.Width) * static_cast<uint32_t>(size.Height);
            break;
        }
    }
    return pixels * kBytesPerPixel + kSlack;
}

void TIpodPhotoDb::SetThumbSize() {
    const TIthmbFormat& format = CellFormat.Id != 0 ? CellFormat : ThumbFormat;
    for (const TFormatSize& cell : kCells) {
        if (cell.Id == format.Id) {
            Photos.ThumbWidth = cell.Width;
            Photos.ThumbHeight = cell.Height;
            return;
        }
    }
    const int32_t width = format.Width;
    const int32_t height = format.Height;
    // A height of 0 is kept: camera-roll previews turn it into their own default.
    if (width > 0 && width <= kMaxCellSide && height >= 0 && height <= kMaxCellSide) {
        Photos.ThumbWidth = width;
        Photos.ThumbHeight = height;
    } else {
        Photos.ThumbWidth = kDefaultCell;
        Photos.ThumbHeight = kDefaultCell;
    }
}

void TIpodPhotoDb::BuildBmpHeader(bool forThumbnail) {
    const TIthmbFormat& format = forThumbnail ? ThumbFormat : FullFormat;
    int64_t pixelBytes = format.SlotSize;
    if (forThumbnail && format.ByName)
        pixelBytes -= kByNameTrailer;
    // Sizes from a damaged database are held to what a header can say truthfully; the loader
    // then refuses any picture the record's bytes do not hold.
    const auto size = static_cast<uint32_t>(
        std::clamp<int64_t>(pixelBytes, 0, int64_t{UINT32_MAX} - kBmpHeaderSize));
    const auto width = std::max<int32_t>(format.Width, 0);
    const auto height = std::max<int32_t>(format.Height, 0);

    // Mobile devices store 5-5-5 pixels with the top bit unused; disk-mode iPods store 5-6-5.
    WriteSixteenBitBmpHeader(BmpHeader.data(), static_cast<uint32_t>(width),
                             static_cast<uint32_t>(height), size, Device.IsIos());
}

}  // namespace corvane
