#include "photo/IthmbDecoders.h"

#include <cmath>
#include <vector>

#include "photo/BitmapFile.h"

namespace corvane {
namespace {

// Format 1023
constexpr size_t kSwappedPixels = 176 * 132;

// Format 1019: two fields of 240 lines, each line 360 groups of U, Y0, V, Y1.
constexpr int kUyvyWidth = 720;
constexpr int kUyvyHeight = 480;
constexpr size_t kUyvyLineBytes = kUyvyWidth * 2;
constexpr size_t kUyvyBytes = kUyvyLineBytes * kUyvyHeight;
constexpr int kUyvyCrop = 8;  // pixels dropped at each end of a line
constexpr int kUyvyCroppedWidth = kUyvyWidth - 2 * kUyvyCrop;
constexpr int kUyvyOutWidth = 640;

// Format 1067: planes Y (720 x 480), U and V (360 x 240 each).
constexpr int kYuvWidth = 720;
constexpr int kYuvHeight = 480;
constexpr size_t kYuvUOffset = 345600;
constexpr size_t kYuvVOffset = 432000;
constexpr size_t kYuvChromaWidth = kYuvWidth / 2;
constexpr size_t kYuvBytes = kYuvVOffset + kYuvChromaWidth * (kYuvHeight / 2);

void PutRgb(uint8_t* at, uint8_t r, uint8_t g, uint8_t b) {
    at[0] = r;
    at[1] = g;
    at[2] = b;
}

}  // namespace

uint8_t Clamp(double value) {
    // nearbyint in the default rounding mode takes halves to the even neighbour.
    const double rounded = std::nearbyint(value);
    if (!(rounded > 0))  // also NaN
        return 0;
    if (rounded >= 255)
        return 255;
    return static_cast<uint8_t>(rounded);
}

void ScaleBilinear(const TBitmap& source, TBitmap& dest) {
    if (&source == &dest) {
        const TBitmap copy = source;
        ScaleBilinear(copy, dest);
        return;
    }
    if (source.Empty() || dest.Empty())
        return;
    const int sourceWidth = source.Width();
    const int sourceHeight = source.Height();
    const uint64_t xs = (static_cast<uint64_t>(sourceWidth) << 16) / dest.Width();
    const uint64_t ys = (static_cast<uint64_t>(sourceHeight) << 16) / dest.Height();
    for (int r = 0; r < dest.Height(); ++r) {
        const uint64_t sy = r * ys;
        const auto y0 = static_cast<int>(sy >> 16);  // below sourceHeight since r < dest height
        const uint8_t* a = source.Row(y0);
        const uint8_t* b = y0 < sourceHeight - 1 ? source.Row(y0 + 1) : a;
        const auto fy = static_cast<uint32_t>(sy & 65535);
        const uint32_t gy = 65535 - fy;
        uint8_t* out = dest.Row(r);
        for (int c = 0; c < dest.Width(); ++c) {
            const uint64_t sx = c * xs;
            const auto x0 = static_cast<int>(sx >> 16);
            // The last column has no right neighbour; it pairs with itself, as the last row does.
            const int x1 = x0 < sourceWidth - 1 ? x0 + 1 : x0;
            const auto fx = static_cast<uint32_t>(sx & 65535);
            const uint32_t w2 = (gy * fx) >> 16;
            const uint32_t w1 = gy - w2;
            const uint32_t w4 = (fy * fx) >> 16;
            const uint32_t w3 = fy - w4;
            for (int k = 0; k < 3; ++k) {
                const uint32_t sum = a[x0 * 3 + k] * w1 + a[x1 * 3 + k] * w2 + b[x0 * 3 + k] * w3 +
                                     b[x1 * 3 + k] * w4;
                out[c * 3 + k] = static_cast<uint8_t>(sum >> 16);
            }
        }
    }
}

bool LoadRgbRecord(std::span<const uint8_t> bitmapFile, TBitmap& picture) {
    return LoadBitmapFile(bitmapFile, picture);
}

bool DecodeSwappedRgb(std::span<const uint8_t> record, std::span<const uint8_t> header,
                      TBitmap& picture) {
    if (record.size() < kSwappedPixels * 2) {
        picture.Clear();
        return false;
    }
    std::vector<uint8_t> file;
    file.reserve(header.size() + record.size());
    file.insert(file.end(), header.begin(), header.end());
    file.insert(file.end(), record.begin(), record.end());
    uint8_t* pixels = file.data() + header.size();
    for (size_t i = 0; i < kSwappedPixels; ++i)
        std::swap(pixels[i * 2], pixels[i * 2 + 1]);
    return LoadBitmapFile(file, picture);
}

bool DecodeUyvy(std::span<const uint8_t> record, TBitmap& picture) {
    if (record.size() < kUyvyBytes) {
        picture.Clear();
        return false;
    }
    TBitmap frame(kUyvyCroppedWidth, kUyvyHeight);
    for (int row = 0; row < kUyvyHeight; ++row) {
        // Even rows come from the first field, odd rows from the second.
        const size_t line = row / 2 + (row % 2) * (kUyvyHeight / 2);
        const uint8_t* in = record.data() + line * kUyvyLineBytes;
        uint8_t* out = frame.Row(row);
        for (int column = 0; column < kUyvyCroppedWidth; ++column) {
            const int pixel = column + kUyvyCrop;
            const uint8_t* group = in + (pixel / 2) * 4;
            const int u = group[0] - 128;
            const int y = (pixel % 2 == 0 ? group[1] : group[3]) - 16;
            const int v = group[2] - 128;
            PutRgb(out + column * 3, Clamp(1.164 * y + 1.596 * v),
                   Clamp(1.164 * y - 0.392 * u - 0.813 * v), Clamp(1.164 * y + 2.017 * u));
        }
    }
    picture.SetSize(kUyvyOutWidth, kUyvyHeight);
    ScaleBilinear(frame, picture);
    return true;
}

bool DecodeYuv420(std::span<const uint8_t> record, TBitmap& picture) {
    if (record.size() < kYuvBytes) {
        picture.Clear();
        return false;
    }
    picture.SetSize(kYuvWidth, kYuvHeight);
    const uint8_t* yPlane = record.data();
    const uint8_t* uPlane = record.data() + kYuvUOffset;
    const uint8_t* vPlane = record.data() + kYuvVOffset;
    for (int row = 0; row < kYuvHeight; ++row) {
        const uint8_t* yRow = yPlane + static_cast<size_t>(row) * kYuvWidth;
        const size_t chromaRow = static_cast<size_t>(row / 2) * kYuvChromaWidth;
        uint8_t* out = picture.Row(row);
        for (int column = 0; column < kYuvWidth; ++column) {
            const int y = yRow[column] - 16;
            const int u = uPlane[chromaRow + column / 2] - 128;
            const int v = vPlane[chromaRow + column / 2] - 128;
            PutRgb(out + column * 3, Clamp(1.164 * y + 1.596 * v),
                   Clamp(1.164 * y - 0.391 * u - 0.813 * v), Clamp(1.164 * y + 2.018 * u));
        }
    }
    return true;
}

}  // namespace corvane
