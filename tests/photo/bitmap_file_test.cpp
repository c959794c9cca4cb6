// The bitmap file reader: row order, padding, palettes, packed pixels with and without masks,
// and files that are damaged, truncated or of a kind it does not read.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <vector>

#include "photo/BitmapFile.h"

namespace corvane {
namespace {

struct TBmp {
    uint32_t InfoSize = 40;
    int32_t Width = 0;
    int32_t Height = 0;  // negative: rows stored top first
    uint16_t BitCount = 24;
    uint32_t Compression = 0;
    uint32_t ColoursUsed = 0;
    std::vector<uint32_t> Masks;             // written from offset 54 when not empty
    std::vector<TRgb> Palette;               // after the headers and masks
    std::vector<std::vector<uint8_t>> Rows;  // in stored order, unpadded

    TBmp(int32_t width, int32_t height, uint16_t bitCount)
        : Width(width), Height(height), BitCount(bitCount) {}
};

void Put(std::vector<uint8_t>& out, size_t at, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

std::vector<uint8_t> Build(const TBmp& bmp) {
    const size_t masksEnd = bmp.Masks.empty() || bmp.InfoSize > 40
                                ? 14 + bmp.InfoSize
                                : 14 + bmp.InfoSize + 4 * bmp.Masks.size();
    // At least the 40-byte header's fields, also when the file claims a shorter one.
    const size_t pixels = std::max<size_t>(masksEnd + 4 * bmp.Palette.size(), 54);
    std::vector<uint8_t> out(pixels, 0);
    out[0] = 'B';
    out[1] = 'M';
    Put(out, 10, static_cast<uint32_t>(pixels), 4);  // pixel offset
    Put(out, 14, bmp.InfoSize, 4);                   // information header size
    Put(out, 18, static_cast<uint32_t>(bmp.Width), 4);
    Put(out, 22, static_cast<uint32_t>(bmp.Height), 4);
    Put(out, 26, 1, 2);  // planes
    Put(out, 28, bmp.BitCount, 2);
    Put(out, 30, bmp.Compression, 4);
    Put(out, 46, bmp.ColoursUsed, 4);
    for (size_t i = 0; i < bmp.Masks.size(); ++i)
        Put(out, 54 + 4 * i, bmp.Masks[i], 4);
    for (size_t i = 0; i < bmp.Palette.size(); ++i) {
        const TRgb c = bmp.Palette[i];
        out[masksEnd + 4 * i] = c.B;
        out[masksEnd + 4 * i + 1] = c.G;
        out[masksEnd + 4 * i + 2] = c.R;
    }
    for (const std::vector<uint8_t>& row : bmp.Rows) {
        out.insert(out.end(), row.begin(), row.end());
        out.resize((out.size() - pixels + 3) / 4 * 4 + pixels, 0);
    }
    Put(out, 2, static_cast<uint32_t>(out.size()), 4);
    return out;
}

std::vector<TRgb> Pixels(const TBitmap& picture) {
    std::vector<TRgb> pixels;
    for (int y = 0; y < picture.Height(); ++y) {
        for (int x = 0; x < picture.Width(); ++x)
            pixels.push_back(picture.Pixel(x, y));
    }
    return pixels;
}

constexpr TRgb kBlack{0, 0, 0};
constexpr TRgb kRed{255, 0, 0};
constexpr TRgb kGreen{0, 255, 0};
constexpr TRgb kBlue{0, 0, 255};

// 3 x 2, 24-bit: 9-byte rows padded to 12.
TBmp TwentyFour(int32_t height) {
    TBmp bmp(3, height, 24);
    bmp.Rows = {{0, 0, 255, 0, 255, 0, 255, 0, 0},  // red, green, blue (BGR order)
                {255, 255, 255, 0, 0, 0, 10, 20, 30}};
    return bmp;
}

TEST(BitmapFile, RowOrderFollowsTheSignOfTheHeight) {
    TBitmap picture;
    // Bottom-up: the first stored row is the bottom one.
    ASSERT_TRUE(LoadBitmapFile(Build(TwentyFour(2)), picture));
    EXPECT_EQ(Pixels(picture),
              (std::vector<TRgb>{kWhite, kBlack, {30, 20, 10}, kRed, kGreen, kBlue}));
    ASSERT_TRUE(LoadBitmapFile(Build(TwentyFour(-2)), picture));
    EXPECT_EQ(Pixels(picture),
              (std::vector<TRgb>{kRed, kGreen, kBlue, kWhite, kBlack, {30, 20, 10}}));
}

TEST(BitmapFile, PalettesOfOneFourAndEightBits) {
    const std::vector<TRgb> palette = {kRed, kGreen, kBlue, kWhite};
    struct TCase {
        uint16_t Bits;
        std::vector<uint8_t> Row;  // 5 pixels: indexes 0, 1, 2, 3, 0 (1-bit: 0, 1, 0, 1, 1)
        std::vector<TRgb> Expected;
    };
    const TCase cases[] = {
        {1, {0b01011000}, {kRed, kGreen, kRed, kGreen, kGreen}},
        {4, {0x01, 0x23, 0x00}, {kRed, kGreen, kBlue, kWhite, kRed}},
        {8, {0, 1, 2, 3, 0}, {kRed, kGreen, kBlue, kWhite, kRed}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Bits);
        TBmp bmp(5, -1, c.Bits);
        bmp.Palette = palette;
        bmp.ColoursUsed = 4;
        bmp.Rows = {c.Row};
        TBitmap picture;
        ASSERT_TRUE(LoadBitmapFile(Build(bmp), picture));
        EXPECT_EQ(Pixels(picture), c.Expected);
    }
    // An index past the colours the file holds is black.
    TBmp bmp(2, 1, 8);
    bmp.Palette = {kRed, kGreen};
    bmp.ColoursUsed = 2;
    bmp.Rows = {{1, 200}};
    TBitmap picture;
    ASSERT_TRUE(LoadBitmapFile(Build(bmp), picture));
    EXPECT_EQ(Pixels(picture), (std::vector<TRgb>{kGreen, kBlack}));
}

TEST(BitmapFile, PackedPixelsScaleEachFieldToEightBits) {
    struct TCase {
        const char* Name;
        uint16_t Bits;
        uint32_t InfoSize;
        uint32_t Compression;
        std::vector<uint32_t> Masks;
        std::vector<uint8_t> Row;
        std::vector<TRgb> Expected;
    };
    const TCase cases[] = {
        // No masks: 5-5-5. 0x7FFF white, the top bit ignored; 0x0010 is 5-bit 16 -> 132.
        {"16 plain",
         16,
         40,
         0,
         {},
         {0xFF, 0x7F, 0xFF, 0xFF, 0x10, 0x00},
         {kWhite, kWhite, {0, 0, 132}}},
        // 5-6-5: 0xFFFF white, 0x07E0 green, 0x0020 is 6-bit 1 -> 4.
        {"16 masks",
         16,
         40,
         3,
         {0xF800, 0x07E0, 0x001F},
         {0xFF, 0xFF, 0xE0, 0x07, 0x20, 0x00},
         {kWhite, kGreen, {0, 4, 0}}},
        // A V5 header carries the masks inside it, at the same offset.
        {"16 masks V5",
         16,
         124,
         3,
         {0x7C00, 0x03E0, 0x001F},
         {0xFF, 0x7F, 0x00, 0x7C, 0, 0},
         {kWhite, kRed, kBlack}},
        {"32 plain",
         32,
         40,
         0,
         {},
         {1, 2, 3, 99, 0, 0, 255, 0, 0, 0, 0, 0},
         {{3, 2, 1}, kRed, kBlack}},
        {"32 masks",
         32,
         108,
         3,
         {0xFF000000, 0x00FF0000, 0x0000FF00},
         {0, 1, 2, 3, 0, 0, 0, 255, 0, 0, 0, 0},
         {{3, 2, 1}, kRed, kBlack}},
        // Ten-bit fields keep their top eight bits.
        {"32 ten-bit",
         32,
         40,
         3,
         {0x3FF00000, 0x000FFC00, 0x000003FF},
         {0xFF, 0x03, 0, 0, 0, 0, 0xF0, 0x3F, 0, 0, 0, 0},
         {{0, 0, 255}, {255, 0, 0}, kBlack}},
        // A mask of nothing reads 0.
        {"16 zero mask",
         16,
         40,
         3,
         {0, 0x07E0, 0x001F},
         {0xFF, 0xFF, 0, 0, 0, 0},
         {{0, 255, 255}, kBlack, kBlack}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TBmp bmp(3, -1, c.Bits);
        bmp.InfoSize = c.InfoSize;
        bmp.Compression = c.Compression;
        bmp.Masks = c.Masks;
        bmp.Rows = {c.Row};
        TBitmap picture;
        ASSERT_TRUE(LoadBitmapFile(Build(bmp), picture));
        EXPECT_EQ(Pixels(picture), c.Expected);
    }
}

TEST(BitmapFile, EveryTruncationFailsCleanly) {
    TBmp bmp = TwentyFour(2);
    const std::vector<uint8_t> file = Build(bmp);
    // The last stored row may lack its padding; one byte less is short of a pixel.
    const size_t needed = file.size() - 3;
    for (size_t size = 0; size < file.size(); ++size) {
        TBitmap picture(1, 1);
        const bool loaded = LoadBitmapFile(std::span(file).first(size), picture);
        EXPECT_EQ(loaded, size >= needed) << size;
        EXPECT_EQ(picture.Empty(), !loaded);
    }
}

TEST(BitmapFile, RefusesWhatItDoesNotRead) {
    struct TCase {
        const char* Name;
        std::vector<uint8_t> File;
    };
    const auto with = [](TBmp bmp, auto change) {
        change(bmp);
        return Build(bmp);
    };
    const auto patched = [](std::vector<uint8_t> file, size_t at, uint32_t value) {
        for (size_t i = 0; i < 4 && at + i < file.size(); ++i)
            file[at + i] = static_cast<uint8_t>(value >> (8 * i));
        return file;
    };
    const std::vector<uint8_t> good = Build(TwentyFour(2));
    const TCase cases[] = {
        {"signature", patched(good, 0, 0x4D42 + 1)},
        {"core header", with(TwentyFour(2), [](TBmp& b) { b.InfoSize = 12; })},
        {"odd header", with(TwentyFour(2), [](TBmp& b) { b.InfoSize = 64; })},
        {"RLE8", with(TBmp(2, 1, 8),
                      [](TBmp& b) {
                          b.Compression = 1;
                          b.Rows = {{0, 0}};
                      })},
        {"JPEG", with(TwentyFour(2), [](TBmp& b) { b.Compression = 4; })},
        {"24-bit masks", with(TwentyFour(2),
                              [](TBmp& b) {
                                  b.Compression = 3;
                                  b.Masks = {0xFF0000, 0xFF00, 0xFF};
                              })},
        {"2 bits", with(TBmp(4, 1, 2), [](TBmp& b) { b.Rows = {{0}}; })},
        {"no width", with(TwentyFour(2), [](TBmp& b) { b.Width = 0; })},
        {"negative width", with(TwentyFour(2), [](TBmp& b) { b.Width = -3; })},
        {"no height", with(TwentyFour(2), [](TBmp& b) { b.Height = 0; })},
        {"lowest height", with(TwentyFour(2), [](TBmp& b) { b.Height = INT32_MIN; })},
        {"too many pixels", with(TwentyFour(2),
                                 [](TBmp& b) {
                                     b.Width = 100000;
                                     b.Height = 100000;
                                 })},
        {"pixels past the end", patched(good, 10, UINT32_MAX)},
        {"pixels inside the header", patched(good, 10, 20)},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TBitmap picture(2, 2);
        EXPECT_FALSE(LoadBitmapFile(c.File, picture));
        EXPECT_TRUE(picture.Empty());
    }
}

}  // namespace
}  // namespace corvane
