#include "photo/IthmbDecoders.h"

#include <algorithm>
#include <bit>
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

// Adding 1.5 x 2^52 leaves no fraction bits, so the addition itself rounds in the default
// (nearest, halves to even) mode and the rounded integer lands in the low bits of the mantissa.
// Valid for |value| < 2^31 (the result is an int32_t); cheaper than a library call on the
// per-pixel path.
constexpr double kRoundBias = 6755399441055744.0;

inline int32_t RoundHalfEven(double value) {
    return static_cast<int32_t>(std::bit_cast<uint64_t>(value + kRoundBias));
}

inline uint8_t ClampInt(int32_t value) {
    return static_cast<uint8_t>(std::clamp(value, 0, 255));
}

// The colour factors of one YUV format, and what they give for every byte value. Red depends
// on Y and V only and blue on Y and U only, so both are looked up whole; green needs all three
// and is summed from the stored products in the order of the formula
// ((1.164 Y - g_u U) - 0.813 V), which gives the same double as computing it afresh.
struct TYuvFactors {
    double GreenU;
    double BlueU;
};

class TYuvTables {
public:
    explicit TYuvTables(TYuvFactors factors) {
        for (int i = 0; i < 256; ++i) {
            FLuma[i] = 1.164 * (i - 16);
            FGreenU[i] = factors.GreenU * (i - 128);
            FGreenV[i] = 0.813 * (i - 128);
        }
        for (int i = 0; i < kGreenSpan; ++i)
            FGreenClamp[i] = ClampInt(i - kGreenLowest);
        for (int c = 0; c < 256; ++c) {
            const double redV = 1.596 * (c - 128);
            const double blueU = factors.BlueU * (c - 128);
            for (int y = 0; y < 256; ++y) {
                FRed[c][y] = Clamp(FLuma[y] + redV);
                FBlue[c][y] = Clamp(FLuma[y] + blueU);
            }
        }
    }

    // Two pixels sharing one U and V: three bytes each to out.
    void PutPair(uint8_t y0, uint8_t y1, uint8_t u, uint8_t v, uint8_t* out) const {
        const uint8_t* red = FRed[v];
        const uint8_t* blue = FBlue[u];
        const double greenU = FGreenU[u];
        const double greenV = FGreenV[v];
        out[0] = red[y0];
        out[1] = FGreenClamp[RoundHalfEven(FLuma[y0] - greenU - greenV) + kGreenLowest];
        out[2] = blue[y0];
        out[3] = red[y1];
        out[4] = FGreenClamp[RoundHalfEven(FLuma[y1] - greenU - greenV) + kGreenLowest];
        out[5] = blue[y1];
    }

private:
    // Green lies within 1.164 x 239 + (0.392 + 0.813) x 128 = 432.5 above zero and
    // 1.164 x 16 + (0.392 + 0.813) x 127 = 171.7 below: a table holds it to a byte.
    static constexpr int kGreenLowest = 256;
    static constexpr int kGreenSpan = 768;

    double FLuma[256];
    double FGreenU[256];
    double FGreenV[256];
    uint8_t FRed[256][256];   // [V][Y]
    uint8_t FBlue[256][256];  // [U][Y]
    uint8_t FGreenClamp[kGreenSpan];
};

const TYuvTables& UyvyTables() {
    static const TYuvTables tables({0.392, 2.017});
    return tables;
}

const TYuvTables& Yuv420Tables() {
    static const TYuvTables tables({0.391, 2.018});
    return tables;
}

// Where each destination column reads its two source pixels, and its fraction.
struct TScaleColumn {
    uint32_t Left;   // byte offset of pixel x0
    uint32_t Right;  // byte offset of pixel x0 + 1, or of x0 itself at the right edge
    uint32_t Fx;
    uint32_t FlatW2;  // w2 for rows with fy = 0 (gy = 65535)
};

std::vector<TScaleColumn> ScaleColumns(int sourceWidth, int destWidth) {
    const uint64_t xs = (static_cast<uint64_t>(sourceWidth) << 16) / destWidth;
    std::vector<TScaleColumn> columns(destWidth);
    for (int c = 0; c < destWidth; ++c) {
        const uint64_t sx = c * xs;
        const auto x0 = static_cast<size_t>(sx >> 16);  // below sourceWidth since c < destWidth
        // The last column has no right neighbour; it pairs with itself, as the last row does.
        const size_t x1 = x0 + 1 < static_cast<size_t>(sourceWidth) ? x0 + 1 : x0;
        const auto fx = static_cast<uint32_t>(sx & 65535);
        columns[c] = {static_cast<uint32_t>(x0 * 3), static_cast<uint32_t>(x1 * 3), fx,
                      (65535 * fx) >> 16};
    }
    return columns;
}

// One destination row from source rows a and b. With weights w1 = gy - w2 and w3 = fy - w4,
// a0 w1 + a1 w2 + b0 w3 + b1 w4 = a0 65535 + (b0 - a0) fy + (a1 - a0) w2 + (b1 - b0) w4
// exactly (gy + fy = 65535), which saves multiplications; every partial sum stays within
// 0..255 x 65535. Offsets fit 32 bits as pictures stay below TBitmap::kMaxPixels.
void ScaleRow(const uint8_t* a, const uint8_t* b, int32_t fy,
              const std::vector<TScaleColumn>& columns, uint8_t* out) {
    if (fy == 0) {
        // Row B has no weight: only the two pixels of row A count.
        for (const TScaleColumn& column : columns) {
            const uint8_t* left = a + column.Left;
            const uint8_t* right = a + column.Right;
            const uint32_t w2 = column.FlatW2;
            const uint32_t w1 = 65535 - w2;
            out[0] = static_cast<uint8_t>((left[0] * w1 + right[0] * w2) >> 16);
            out[1] = static_cast<uint8_t>((left[1] * w1 + right[1] * w2) >> 16);
            out[2] = static_cast<uint8_t>((left[2] * w1 + right[2] * w2) >> 16);
            out += 3;
        }
        return;
    }
    const int32_t gy = 65535 - fy;
    for (const TScaleColumn& column : columns) {
        // The products reach 2^32 - 2^17 + 1: unsigned, as the weights are.
        const auto w2 = static_cast<int32_t>((static_cast<uint32_t>(gy) * column.Fx) >> 16);
        const auto w4 = static_cast<int32_t>((static_cast<uint32_t>(fy) * column.Fx) >> 16);
        for (int k = 0; k < 3; ++k) {
            const int32_t a0 = a[column.Left + k];
            const int32_t a1 = a[column.Right + k];
            const int32_t b0 = b[column.Left + k];
            const int32_t b1 = b[column.Right + k];
            const int32_t sum = (a0 << 16) - a0 + (b0 - a0) * fy + (a1 - a0) * w2 + (b1 - b0) * w4;
            out[k] = static_cast<uint8_t>(sum >> 16);
        }
        out += 3;
    }
}

// Every decoder writes each byte of its picture, so a picture of the right size is reused.
void SizePicture(TBitmap& picture, int width, int height) {
    if (picture.Width() != width || picture.Height() != height)
        picture.SetSize(width, height);
}

}  // namespace

uint8_t Clamp(double value) {
    if (!(value > -1))  // also NaN
        return 0;
    if (value >= 256)
        return 255;
    return ClampInt(RoundHalfEven(value));
}

void ScaleBilinear(const TBitmap& source, TBitmap& dest) {
    if (&source == &dest) {
        const TBitmap copy = source;
        ScaleBilinear(copy, dest);
        return;
    }
    if (source.Empty() || dest.Empty())
        return;
    const int sourceHeight = source.Height();
    const uint64_t ys = (static_cast<uint64_t>(sourceHeight) << 16) / dest.Height();
    const std::vector<TScaleColumn> columns = ScaleColumns(source.Width(), dest.Width());
    for (int r = 0; r < dest.Height(); ++r) {
        const uint64_t sy = r * ys;
        const auto y0 = static_cast<int>(sy >> 16);  // below sourceHeight since r < dest height
        const uint8_t* a = source.Row(y0);
        const uint8_t* b = y0 < sourceHeight - 1 ? source.Row(y0 + 1) : a;
        ScaleRow(a, b, static_cast<int32_t>(sy & 65535), columns, dest.Row(r));
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
    // The 704 x 480 frame scales to 640 x 480: the same height, so each destination row takes
    // source row r alone (ys = 65536, fy = 0) and the frame is built one row at a time.
    static_assert(kUyvyCrop % 2 == 0 && kUyvyCroppedWidth % 2 == 0);
    const TYuvTables& tables = UyvyTables();
    const std::vector<TScaleColumn> columns = ScaleColumns(kUyvyCroppedWidth, kUyvyOutWidth);
    SizePicture(picture, kUyvyOutWidth, kUyvyHeight);
    uint8_t frameRow[kUyvyCroppedWidth * 3];
    for (int row = 0; row < kUyvyHeight; ++row) {
        // Even rows come from the first field, odd rows from the second.
        const size_t line = row / 2 + (row % 2) * (kUyvyHeight / 2);
        const uint8_t* group = record.data() + line * kUyvyLineBytes + (kUyvyCrop / 2) * 4;
        uint8_t* out = frameRow;
        for (int pair = 0; pair < kUyvyCroppedWidth / 2; ++pair) {
            tables.PutPair(group[1], group[3], group[0], group[2], out);
            group += 4;
            out += 6;
        }
        ScaleRow(frameRow, frameRow, 0, columns, picture.Row(row));
    }
    return true;
}

bool DecodeYuv420(std::span<const uint8_t> record, TBitmap& picture) {
    if (record.size() < kYuvBytes) {
        picture.Clear();
        return false;
    }
    const TYuvTables& tables = Yuv420Tables();
    SizePicture(picture, kYuvWidth, kYuvHeight);
    const uint8_t* yPlane = record.data();
    const uint8_t* uPlane = record.data() + kYuvUOffset;
    const uint8_t* vPlane = record.data() + kYuvVOffset;
    for (int row = 0; row < kYuvHeight; ++row) {
        const uint8_t* yRow = yPlane + static_cast<size_t>(row) * kYuvWidth;
        const size_t chromaRow = static_cast<size_t>(row / 2) * kYuvChromaWidth;
        const uint8_t* uRow = uPlane + chromaRow;
        const uint8_t* vRow = vPlane + chromaRow;
        uint8_t* out = picture.Row(row);
        for (size_t pair = 0; pair < kYuvChromaWidth; ++pair) {
            tables.PutPair(yRow[pair * 2], yRow[pair * 2 + 1], uRow[pair], vRow[pair], out);
            out += 6;
        }
    }
    return true;
}

}  // namespace corvane
