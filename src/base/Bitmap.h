// A picture in memory: 24-bit RGB, rows top first, no padding. The photo library keeps its
// previews in it and the program converts it for display; it carries no toolkit type.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace corvane {

struct TRgb {
    uint8_t R = 0;
    uint8_t G = 0;
    uint8_t B = 0;
    friend bool operator==(const TRgb&, const TRgb&) = default;
};

constexpr TRgb kWhite{255, 255, 255};
constexpr TRgb kSilver{192, 192, 192};

class TBitmap {
public:
    // Larger pictures are refused: no device picture comes near it, and a damaged header must
    // not make us allocate gigabytes.
    static constexpr int64_t kMaxPixels = 64 * 1024 * 1024;

    TBitmap() = default;
    TBitmap(int width, int height) { SetSize(width, height); }

    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    bool Empty() const { return FWidth == 0 || FHeight == 0; }

    // Resizes to width x height, all black. False (and an empty bitmap) when a side is
    // negative or the picture is larger than kMaxPixels.
    bool SetSize(int width, int height);
    void Clear() { SetSize(0, 0); }

    TRgb Pixel(int x, int y) const {
        const uint8_t* p = &FPixels[(static_cast<size_t>(y) * FWidth + x) * 3];
        return {p[0], p[1], p[2]};
    }
    void SetPixel(int x, int y, TRgb c) {
        uint8_t* p = &FPixels[(static_cast<size_t>(y) * FWidth + x) * 3];
        p[0] = c.R;
        p[1] = c.G;
        p[2] = c.B;
    }
    uint8_t* Row(int y) { return &FPixels[static_cast<size_t>(y) * FWidth * 3]; }
    const uint8_t* Row(int y) const { return &FPixels[static_cast<size_t>(y) * FWidth * 3]; }
    const std::vector<uint8_t>& Pixels() const { return FPixels; }

    void Fill(TRgb colour);
    // Fills the rectangle [left, right) x [top, bottom), clipped to the bitmap.
    void FillRect(int left, int top, int right, int bottom, TRgb colour);
    // Draws source stretched into the rectangle at (x, y) of width x height, nearest
    // neighbour, clipped to the bitmap.
    void StretchDraw(const TBitmap& source, int x, int y, int width, int height);

    friend bool operator==(const TBitmap&, const TBitmap&) = default;

private:
    int FWidth = 0;
    int FHeight = 0;
    std::vector<uint8_t> FPixels;
};

}  // namespace corvane
