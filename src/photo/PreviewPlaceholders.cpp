#include "photo/PreviewPlaceholders.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace corvane {

namespace {

constexpr TRgb kVideoText{64, 64, 64};

// "video" in a 5 x 7 pixel face, one row per byte, the leftmost column in bit 4.
constexpr int kGlyphWidth = 5;
constexpr int kGlyphHeight = 7;
constexpr std::array<std::array<uint8_t, kGlyphHeight>, 5> kVideo = {{
    {0x00, 0x00, 0x11, 0x11, 0x11, 0x0A, 0x04},  // v
    {0x04, 0x00, 0x0C, 0x04, 0x04, 0x04, 0x0E},  // i
    {0x01, 0x01, 0x0F, 0x11, 0x11, 0x11, 0x0F},  // d
    {0x00, 0x00, 0x0E, 0x11, 0x1F, 0x10, 0x0E},  // e
    {0x00, 0x00, 0x0E, 0x11, 0x11, 0x11, 0x0E},  // o
}};

}  // namespace

// Silver, with a white frame 5 pixels wide centred on the outline of the middle rectangle
// (W div 4, H div 4) - (3 * (W div 4), 3 * (H div 4)), whose inside stays silver.
TBitmap MakePlaceholder(int width, int height) {
    TBitmap picture(width, height);
    picture.Fill(kSilver);
    const int left = width / 4;
    const int top = height / 4;
    const int right = 3 * (width / 4);
    const int bottom = 3 * (height / 4);
    picture.FillRect(left - 2, top - 2, right + 2, bottom + 2, kWhite);
    picture.FillRect(left + 3, top + 3, right - 3, bottom - 3, kSilver);
    return picture;
}

// The word takes about half the width, in whole pixels per dot, centred.
TBitmap MakeVideoPlaceholder(int width, int height) {
    TBitmap picture(width, height);
    picture.Fill(kSilver);
    const int columns = static_cast<int>(kVideo.size()) * (kGlyphWidth + 1) - 1;
    const int dot = std::max(1, std::min(width / 2 / columns, height / 2 / kGlyphHeight));
    const int left = (width - columns * dot) / 2;
    const int top = (height - kGlyphHeight * dot) / 2;
    for (size_t letter = 0; letter < kVideo.size(); ++letter) {
        const int x0 = left + static_cast<int>(letter) * (kGlyphWidth + 1) * dot;
        for (int row = 0; row < kGlyphHeight; ++row) {
            for (int column = 0; column < kGlyphWidth; ++column) {
                if ((kVideo[letter][static_cast<size_t>(row)] >> (kGlyphWidth - 1 - column)) & 1)
                    picture.FillRect(x0 + column * dot, top + row * dot, x0 + (column + 1) * dot,
                                     top + (row + 1) * dot, kVideoText);
            }
        }
    }
    return picture;
}

}  // namespace corvane
