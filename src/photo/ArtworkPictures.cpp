#include "photo/ArtworkPictures.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "base/MemoryStream.h"
#include "device/iPodDev.h"
#include "photo/ImageCodecs.h"
#include "photo/IthmbDecoders.h"
#include "photo/SixteenBitBmp.h"

namespace corvane {
namespace {

constexpr size_t kHeaderSize = kSixteenBitBmpHeaderSize;
// No cover is anywhere near this; a larger size from a damaged index allocates nothing.
constexpr int32_t kMaxSide = 2048;

// A 16-bit bit-field bitmap file of the stored picture: the header the photo records are
// loaded through, with the masks of the format, then the rows padded to four bytes.
bool LoadSixteenBit(std::span<const uint8_t> bytes, int width, int height, TArtworkPixels pixels,
                    TBitmap& picture) {
    const size_t row = static_cast<size_t>(width) * 2;
    const size_t paddedRow = (row + 3) & ~size_t{3};
    std::vector<uint8_t> file(kHeaderSize + paddedRow * static_cast<size_t>(height), 0);
    uint8_t* h = file.data();
    WriteSixteenBitBmpHeader(h, static_cast<uint32_t>(width), static_cast<uint32_t>(height),
                             static_cast<uint32_t>(paddedRow * static_cast<size_t>(height)),
                             pixels == TArtworkPixels::Rgb555Le);
    for (int y = 0; y < height; ++y) {
        uint8_t* out = h + kHeaderSize + paddedRow * static_cast<size_t>(y);
        std::memcpy(out, bytes.data() + row * static_cast<size_t>(y), row);
        if (pixels == TArtworkPixels::Rgb565Be) {
            for (size_t i = 0; i + 1 < row; i += 2)
                std::swap(out[i], out[i + 1]);
        }
    }
    return LoadRgbRecord(file, picture);
}

TRgb YuvPixel(int y, int u, int v) {
    const double luma = 1.164 * (y - 16);
    return {Clamp(luma + 1.596 * (v - 128)), Clamp(luma - 0.392 * (u - 128) - 0.813 * (v - 128)),
            Clamp(luma + 2.017 * (u - 128))};
}

void DecodeUyvyRows(std::span<const uint8_t> bytes, int width, int height, TBitmap& picture) {
    const size_t row = static_cast<size_t>(width) * 2;
    for (int y = 0; y < height; ++y) {
        const uint8_t* line = bytes.data() + row * static_cast<size_t>(y);
        for (int x = 0; x + 1 < width; x += 2) {
            const uint8_t* group = line + static_cast<size_t>(x) * 2;
            picture.SetPixel(x, y, YuvPixel(group[1], group[0], group[2]));
            picture.SetPixel(x + 1, y, YuvPixel(group[3], group[0], group[2]));
        }
    }
}

void DecodeI420Planes(std::span<const uint8_t> bytes, int width, int height, TBitmap& picture) {
    const size_t chromaWidth = static_cast<size_t>(width) / 2;
    const size_t lumaBytes = static_cast<size_t>(width) * static_cast<size_t>(height);
    const size_t chromaBytes = chromaWidth * (static_cast<size_t>(height) / 2);
    const uint8_t* uPlane = bytes.data() + lumaBytes;
    const uint8_t* vPlane = uPlane + chromaBytes;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const size_t chroma = static_cast<size_t>(y / 2) * chromaWidth + x / 2;
            picture.SetPixel(x, y,
                             YuvPixel(bytes[static_cast<size_t>(y) * width + x], uPlane[chroma],
                                      vPlane[chroma]));
        }
    }
}

// The picture's top-left width x height.
void Crop(TBitmap& picture, int width, int height) {
    if (width >= picture.Width() && height >= picture.Height())
        return;
    TBitmap cropped(width, height);
    for (int y = 0; y < height; ++y)
        std::memcpy(cropped.Row(y), picture.Row(y), static_cast<size_t>(width) * 3);
    picture = std::move(cropped);
}

bool IsJpeg(std::span<const uint8_t> bytes) {
    return bytes.size() >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF;
}

bool IsPng(std::span<const uint8_t> bytes) {
    static constexpr uint8_t kMagic[] = {0x89, 'P', 'N', 'G'};
    return bytes.size() >= 4 && std::equal(kMagic, kMagic + 4, bytes.begin());
}

// The bytes of an image's cover as the device holds them: a picture file whole, or the record.
bool ReadCoverBytes(TIpodDevice& device, const TArtworkIndex& artwork, int image,
                    std::vector<uint8_t>& bytes, const TArtworkRecord*& record) {
    record = nullptr;
    if (image < 0 || static_cast<size_t>(image) >= artwork.Images.size())
        return false;
    const TArtworkImage& entry = artwork.Images[static_cast<size_t>(image)];
    if (!entry.PictureFile.empty()) {
        TMemoryStream stream;
        if (!device.ReadIfPresent(entry.PictureFile, stream))
            return false;
        bytes.assign(stream.Data(), stream.Data() + stream.Size());
        return true;
    }
    record = artwork.LargestRecord(image);
    if (record == nullptr || record->Size == 0 || record->Size > TArtworkIndex::kMaxRecordBytes)
        return false;
    for (const std::string& folder : artwork.Folders) {
        // A record cut short by the file's end is damage, not a picture.
        if (device.ReadFilePart(folder + record->FileName, record->Offset, record->Size, bytes) &&
            bytes.size() == record->Size)
            return true;
    }
    return false;
}

}  // namespace

bool DecodeArtworkRecord(std::span<const uint8_t> bytes, const TArtworkRecord& record,
                         const TArtworkFormat& format, TBitmap& picture) {
    picture.Clear();
    // The stored picture: the record's size with its padding, else the format's.
    const int width = record.Width > 0 ? record.Width + record.HorizontalPadding : format.Width;
    const int height = record.Height > 0 ? record.Height + record.VerticalPadding : format.Height;
    if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide)
        return false;
    const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
    const size_t needed = format.Pixels == TArtworkPixels::I420 ? pixels + pixels / 2 : pixels * 2;
    if (bytes.size() < needed)
        return false;
    switch (format.Pixels) {
        case TArtworkPixels::Rgb565Le:
        case TArtworkPixels::Rgb565Be:
        case TArtworkPixels::Rgb555Le:
            if (!LoadSixteenBit(bytes, width, height, format.Pixels, picture))
                return false;
            break;
        case TArtworkPixels::Uyvy:
            if (!picture.SetSize(width, height))
                return false;
            DecodeUyvyRows(bytes, width, height, picture);
            break;
        case TArtworkPixels::I420:
            if (!picture.SetSize(width, height))
                return false;
            DecodeI420Planes(bytes, width, height, picture);
            break;
    }
    if (record.Width > 0 && record.Height > 0)
        Crop(picture, std::min<int>(record.Width, width), std::min<int>(record.Height, height));
    return !picture.Empty();
}

bool ReadCover(TIpodDevice& device, const TArtworkIndex& artwork, int image, TBitmap& picture) {
    picture.Clear();
    std::vector<uint8_t> bytes;
    const TArtworkRecord* record = nullptr;
    if (!ReadCoverBytes(device, artwork, image, bytes, record))
        return false;
    if (record != nullptr)
        return DecodeArtworkRecord(bytes, *record, artwork.FormatOf(*record), picture);
    if (IsJpeg(bytes))
        return DecodeJpeg(bytes, 1, picture);
    if (IsPng(bytes))
        return DecodePng(bytes, picture);
    return false;
}

std::vector<uint8_t> CoverJpeg(TIpodDevice& device, const TArtworkIndex& artwork, int image) {
    std::vector<uint8_t> bytes;
    const TArtworkRecord* record = nullptr;
    if (!ReadCoverBytes(device, artwork, image, bytes, record))
        return {};
    // A JPEG file of the device is the best copy there is: no second compression.
    if (record == nullptr && IsJpeg(bytes))
        return bytes;
    TBitmap picture;
    bool decoded = false;
    if (record != nullptr)
        decoded = DecodeArtworkRecord(bytes, *record, artwork.FormatOf(*record), picture);
    else if (IsPng(bytes))
        decoded = DecodePng(bytes, picture);
    return decoded ? EncodeJpeg(picture) : std::vector<uint8_t>{};
}

}  // namespace corvane
