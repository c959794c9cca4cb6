#include "base/Bitmap.h"

#include <algorithm>

namespace corvane {

bool TBitmap::SetSize(int width, int height) {
    if (width < 0 || height < 0 || static_cast<int64_t>(width) * height > kMaxPixels) {
        FWidth = FHeight = 0;
        FPixels.clear();
        return false;
    }
    FWidth = width;
    FHeight = height;
    FPixels.assign(static_cast<size_t>(width) * height * 3, 0);
    return true;
}

void TBitmap::Fill(TRgb colour) {
    FillRect(0, 0, FWidth, FHeight, colour);
}

void TBitmap::FillRect(int left, int top, int right, int bottom, TRgb colour) {
    left = std::max(left, 0);
    top = std::max(top, 0);
    right = std::min(right, FWidth);
    bottom = std::min(bottom, FHeight);
    for (int y = top; y < bottom; ++y) {
        for (int x = left; x < right; ++x)
            SetPixel(x, y, colour);
    }
}

void TBitmap::StretchDraw(const TBitmap& source, int x, int y, int width, int height) {
    if (source.Empty() || width <= 0 || height <= 0)
        return;
    const int top = std::max(y, 0);
    const int bottom = std::min<int64_t>(static_cast<int64_t>(y) + height, FHeight);
    const int left = std::max(x, 0);
    const int right = std::min<int64_t>(static_cast<int64_t>(x) + width, FWidth);
    for (int row = top; row < bottom; ++row) {
        const int sy = static_cast<int>(static_cast<int64_t>(row - y) * source.FHeight / height);
        const uint8_t* from = source.Row(sy);
        uint8_t* to = Row(row);
        for (int column = left; column < right; ++column) {
            const int sx =
                static_cast<int>(static_cast<int64_t>(column - x) * source.FWidth / width);
            std::copy_n(from + sx * 3, 3, to + column * 3);
        }
    }
}

}  // namespace corvane
