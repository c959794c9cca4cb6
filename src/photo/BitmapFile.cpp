#include "photo/BitmapFile.h"

#include <array>
#include <bit>
#include <optional>

#include "base/ByteReader.h"

namespace corvane {
namespace {

constexpr size_t kFileHeaderSize = 14;
constexpr size_t kMaskOffset = kFileHeaderSize + 40;  // after a 40-byte information header
constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kBiBitFields = 3;

bool KnownInfoHeaderSize(uint32_t size) {
    // BITMAPINFOHEADER, its two extensions with masks, V4 and V5.
    return size == 40 || size == 52 || size == 56 || size == 108 || size == 124;
}

// One colour channel of a packed pixel: where its bits are and how they become 8 bits.
class TChannel {
public:
    explicit TChannel(uint32_t mask) : FMask(mask) {
        if (mask == 0)
            return;
        FShift = std::countr_zero(mask);
        FBits = std::bit_width(mask >> FShift);
        if (FBits <= 8) {
            // Short fields repeat their high bits into the low ones, so that all ones is 255.
            for (uint32_t value = 0; value < (1u << FBits); ++value) {
                uint32_t wide = 0;
                int filled = 0;
                while (filled < 8) {
                    wide = (wide << FBits) | value;
                    filled += FBits;
                }
                FTable[value] = static_cast<uint8_t>(wide >> (filled - 8));
            }
        }
    }

    uint8_t operator()(uint32_t pixel) const {
        if (FMask == 0)
            return 0;
        const uint32_t value = (pixel & FMask) >> FShift;
        return FBits <= 8 ? FTable[value] : static_cast<uint8_t>(value >> (FBits - 8));
    }

private:
    uint32_t FMask = 0;
    int FShift = 0;
    int FBits = 0;
    std::array<uint8_t, 256> FTable{};
};

struct TLayout {
    int32_t Width = 0;
    int32_t Height = 0;  // rows, positive
    bool TopDown = false;
    uint16_t BitCount = 0;
    size_t PixelOffset = 0;
    size_t Stride = 0;    // bytes per stored row, padded to 4
    size_t RowBytes = 0;  // bytes of a row that hold pixels
};

// The header fields, checked against each other and against the bytes.
std::optional<TLayout> ReadLayout(const TByteReader& data, uint32_t& compression) {
    if (!data.Has(0, 2) || data.Data()[0] != 'B' || data.Data()[1] != 'M')
        return std::nullopt;
    const auto offBits = data.ReadU32(10);
    const auto infoSize = data.ReadU32(14);
    if (!offBits || !infoSize || !KnownInfoHeaderSize(*infoSize) ||
        !data.Has(kFileHeaderSize, *infoSize))
        return std::nullopt;
    const int32_t width = *data.ReadI32(18);
    const int32_t height = *data.ReadI32(22);
    const uint16_t bitCount = *data.ReadU16(28);
    compression = *data.ReadU32(30);
    if (width <= 0 || height == 0 || height == INT32_MIN)
        return std::nullopt;

    TLayout layout;
    layout.Width = width;
    layout.Height = height < 0 ? -height : height;
    layout.TopDown = height < 0;
    layout.BitCount = bitCount;
    if (static_cast<int64_t>(layout.Width) * layout.Height > TBitmap::kMaxPixels)
        return std::nullopt;
    switch (bitCount) {
        case 1:
        case 4:
        case 8:
        case 24:
            if (compression != kBiRgb)
                return std::nullopt;
            break;
        case 16:
        case 32:
            if (compression != kBiRgb && compression != kBiBitFields)
                return std::nullopt;
            break;
        default:
            return std::nullopt;
    }

    // Width and height are bounded by kMaxPixels, so these products cannot overflow.
    const uint64_t rowBits = static_cast<uint64_t>(layout.Width) * bitCount;
    layout.RowBytes = static_cast<size_t>((rowBits + 7) / 8);
    layout.Stride = static_cast<size_t>((rowBits + 31) / 32 * 4);
    layout.PixelOffset = *offBits;
    if (layout.PixelOffset < kFileHeaderSize + *infoSize)
        return std::nullopt;
    // The last row may end without its padding.
    const uint64_t pixelBytes =
        static_cast<uint64_t>(layout.Stride) * (layout.Height - 1) + layout.RowBytes;
    if (!data.Has(layout.PixelOffset, pixelBytes))
        return std::nullopt;
    return layout;
}

void ReadPalette(const TByteReader& data, const TLayout& layout, uint32_t infoSize,
                 std::array<TRgb, 256>& palette) {
    const uint32_t maxColours = 1u << layout.BitCount;
    uint32_t colours = data.ReadU32(46).value_or(0);
    if (colours == 0 || colours > maxColours)
        colours = maxColours;
    // Entries that the file does not hold stay black, as do indexes past the used colours.
    const size_t start = kFileHeaderSize + infoSize;
    for (uint32_t i = 0; i < colours; ++i) {
        const auto entry = data.Bytes(start + size_t{i} * 4, 4);
        if (!entry || start + size_t{i} * 4 + 4 > layout.PixelOffset)
            break;
        palette[i] = {(*entry)[2], (*entry)[1], (*entry)[0]};
    }
}

void ReadPaletteRow(const uint8_t* row, const TLayout& layout, const std::array<TRgb, 256>& palette,
                    uint8_t* out) {
    const int bits = layout.BitCount;
    const int perByte = 8 / bits;
    const uint8_t indexMask = static_cast<uint8_t>((1u << bits) - 1);
    for (int x = 0; x < layout.Width; ++x) {
        const uint8_t byte = row[x / perByte];
        const int shift = 8 - bits * (x % perByte + 1);
        const TRgb c = palette[(byte >> shift) & indexMask];
        out[x * 3] = c.R;
        out[x * 3 + 1] = c.G;
        out[x * 3 + 2] = c.B;
    }
}

void ReadPackedRow(const uint8_t* row, const TLayout& layout, const TChannel& red,
                   const TChannel& green, const TChannel& blue, uint8_t* out) {
    const bool wide = layout.BitCount == 32;
    for (int x = 0; x < layout.Width; ++x) {
        uint32_t pixel;
        if (wide) {
            const uint8_t* p = row + x * 4;
            pixel = p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
        } else {
            const uint8_t* p = row + x * 2;
            pixel = p[0] | (p[1] << 8);
        }
        out[x * 3] = red(pixel);
        out[x * 3 + 1] = green(pixel);
        out[x * 3 + 2] = blue(pixel);
    }
}

void ReadBgrRow(const uint8_t* row, const TLayout& layout, uint8_t* out) {
    for (int x = 0; x < layout.Width; ++x) {
        out[x * 3] = row[x * 3 + 2];
        out[x * 3 + 1] = row[x * 3 + 1];
        out[x * 3 + 2] = row[x * 3];
    }
}

}  // namespace

bool LoadBitmapFile(std::span<const uint8_t> bytes, TBitmap& picture) {
    picture.Clear();
    const TByteReader data(bytes);
    uint32_t compression = 0;
    const std::optional<TLayout> layout = ReadLayout(data, compression);
    if (!layout)
        return false;
    const uint32_t infoSize = *data.ReadU32(14);

    uint32_t masks[3] = {0, 0, 0};
    if (compression == kBiBitFields) {
        for (size_t i = 0; i < 3; ++i) {
            const auto mask = data.ReadU32(kMaskOffset + i * 4);
            if (!mask)
                return false;
            masks[i] = *mask;
        }
    } else if (layout->BitCount == 16) {
        masks[0] = 0x7C00;
        masks[1] = 0x03E0;
        masks[2] = 0x001F;
    } else if (layout->BitCount == 32) {
        masks[0] = 0x00FF0000;
        masks[1] = 0x0000FF00;
        masks[2] = 0x000000FF;
    }
    const TChannel red(masks[0]), green(masks[1]), blue(masks[2]);
    std::array<TRgb, 256> palette{};
    if (layout->BitCount <= 8)
        ReadPalette(data, *layout, infoSize, palette);

    if (!picture.SetSize(layout->Width, layout->Height))
        return false;
    for (int32_t y = 0; y < layout->Height; ++y) {
        const int32_t stored = layout->TopDown ? y : layout->Height - 1 - y;
        const uint8_t* row = data.Data() + layout->PixelOffset + layout->Stride * stored;
        uint8_t* out = picture.Row(y);
        switch (layout->BitCount) {
            case 24:
                ReadBgrRow(row, *layout, out);
                break;
            case 16:
            case 32:
                ReadPackedRow(row, *layout, red, green, blue, out);
                break;
            default:
                ReadPaletteRow(row, *layout, palette, out);
                break;
        }
    }
    return true;
}

}  // namespace corvane
