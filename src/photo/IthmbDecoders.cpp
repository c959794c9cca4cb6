#include "photo/IthmbDecoders.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// The colour factors of one YUV format in 3.13 fixed point, so that a product of a factor and
// a centred value fits 32 bits and a factor fits 16 (SSE2 multiplies and adds such pairs in
// one step). The factors are within 1/16384 of the decimal ones, which keeps every colour
// within 0.03 of the exact value before rounding: the same byte, or one step away next to
// a half.
struct TYuvFactors {
    int16_t Luma;    // 1.164
    int16_t RedV;    // 1.596
    int16_t GreenU;  // 0.392 (uYUV) or 0.391 (I420)
    int16_t GreenV;  // 0.813
    int16_t BlueU;   // 2.017 or 2.018
};

constexpr int kFixedShift = 13;
constexpr int32_t kFixedHalf = 1 << (kFixedShift - 1);

constexpr int16_t Fixed(double factor) {
    return static_cast<int16_t>(factor * (1 << kFixedShift) + 0.5);
}

constexpr TYuvFactors kUyvyFactors{Fixed(1.164), Fixed(1.596), Fixed(0.392), Fixed(0.813),
                                   Fixed(2.017)};
constexpr TYuvFactors kYuv420Factors{Fixed(1.164), Fixed(1.596), Fixed(0.391), Fixed(0.813),
                                     Fixed(2.018)};

// One colour from its fixed-point sum, rounded (halves up) and held to a byte.
inline uint8_t FixedToByte(int32_t sum) {
    return ClampInt((sum + kFixedHalf) >> kFixedShift);
}

// count pixels to RGB at out: luma[i] is Y of pixel i, chroma[i / 2] the U and V it shares
// with its neighbour; each given with its own step in bytes (lumaStep between neighbours,
// chromaStep between pairs). count is even.
[[maybe_unused]] void ConvertRowScalar(const uint8_t* luma, size_t lumaStep, const uint8_t* u,
                                       const uint8_t* v, size_t chromaStep, size_t count,
                                       const TYuvFactors& f, uint8_t* out) {
    for (size_t i = 0; i < count; i += 2) {
        const int32_t cu = *u - 128;
        const int32_t cv = *v - 128;
        const int32_t red = f.RedV * cv;
        const int32_t green = f.GreenU * cu + f.GreenV * cv;
        const int32_t blue = f.BlueU * cu;
        for (int k = 0; k < 2; ++k) {
            const int32_t y = f.Luma * (*luma - 16);
            out[0] = FixedToByte(y + red);
            out[1] = FixedToByte(y - green);
            out[2] = FixedToByte(y + blue);
            luma += lumaStep;
            out += 3;
        }
        u += chromaStep;
        v += chromaStep;
    }
}

#if defined(__SSE2__)
// Eight pixels at once: luma, u and v hold one centred value per pixel as 16-bit lanes. Each
// colour is a sum of pairs (value x factor) formed by one multiply-add, which is exact in 32
// bits; packing to 16 and then 8 bits saturates, holding every colour to 0..255 as the scalar
// path does, so both give the same bytes.
inline void ConvertEight(__m128i luma, __m128i u, __m128i v, const TYuvFactors& f, uint8_t* out) {
    const auto pair = [](int16_t low, int16_t high) {
        return _mm_set1_epi32(static_cast<int32_t>(
            static_cast<uint32_t>(static_cast<uint16_t>(high)) << 16 | static_cast<uint16_t>(low)));
    };
    const __m128i redFactors = pair(f.Luma, f.RedV);
    const __m128i greenFactors = pair(f.Luma, static_cast<int16_t>(-f.GreenU));
    const __m128i greenVFactors = pair(static_cast<int16_t>(-f.GreenV), 0);
    const __m128i blueFactors = pair(f.Luma, f.BlueU);
    const __m128i half = _mm_set1_epi32(kFixedHalf);
    const __m128i zero = _mm_setzero_si128();
    const auto colour = [&](__m128i low, __m128i high) {
        low = _mm_srai_epi32(_mm_add_epi32(low, half), kFixedShift);
        high = _mm_srai_epi32(_mm_add_epi32(high, half), kFixedShift);
        return _mm_packus_epi16(_mm_packs_epi32(low, high), zero);
    };
    const __m128i lumaV[2] = {_mm_unpacklo_epi16(luma, v), _mm_unpackhi_epi16(luma, v)};
    const __m128i lumaU[2] = {_mm_unpacklo_epi16(luma, u), _mm_unpackhi_epi16(luma, u)};
    const __m128i vAlone[2] = {_mm_unpacklo_epi16(v, zero), _mm_unpackhi_epi16(v, zero)};
    alignas(16) uint8_t rgb[3][16];
    _mm_store_si128(
        reinterpret_cast<__m128i*>(rgb[0]),
        colour(_mm_madd_epi16(lumaV[0], redFactors), _mm_madd_epi16(lumaV[1], redFactors)));
    _mm_store_si128(reinterpret_cast<__m128i*>(rgb[1]),
                    colour(_mm_add_epi32(_mm_madd_epi16(lumaU[0], greenFactors),
                                         _mm_madd_epi16(vAlone[0], greenVFactors)),
                           _mm_add_epi32(_mm_madd_epi16(lumaU[1], greenFactors),
                                         _mm_madd_epi16(vAlone[1], greenVFactors))));
    _mm_store_si128(
        reinterpret_cast<__m128i*>(rgb[2]),
        colour(_mm_madd_epi16(lumaU[0], blueFactors), _mm_madd_epi16(lumaU[1], blueFactors)));
    for (int i = 0; i < 8; ++i) {
        out[i * 3] = rgb[0][i];
        out[i * 3 + 1] = rgb[1][i];
        out[i * 3 + 2] = rgb[2][i];
    }
}
#endif

// A line of uYUV groups (U, Y0, V, Y1) to count pixels of RGB; count is a multiple of 8.
void ConvertUyvyRow(const uint8_t* groups, size_t count, uint8_t* out) {
#if defined(__SSE2__)
    const __m128i lowHalves = _mm_set1_epi32(0x0000ffff);
    const __m128i highHalves = _mm_set1_epi32(static_cast<int32_t>(0xffff0000u));
    const __m128i lumaBlack = _mm_set1_epi16(16);
    const __m128i chromaZero = _mm_set1_epi16(128);
    for (size_t i = 0; i < count; i += 8) {
        __m128i bytes;
        std::memcpy(&bytes, groups + i * 2, sizeof bytes);
        // As 16-bit lanes: U | Y0 << 8, V | Y1 << 8, ...; as 32-bit lanes (U, V) pairs.
        const __m128i luma = _mm_sub_epi16(_mm_srli_epi16(bytes, 8), lumaBlack);
        const __m128i chroma = _mm_and_si128(bytes, _mm_set1_epi16(0x00ff));
        const __m128i u =
            _mm_or_si128(_mm_and_si128(chroma, lowHalves), _mm_slli_epi32(chroma, 16));
        const __m128i v =
            _mm_or_si128(_mm_srli_epi32(chroma, 16), _mm_and_si128(chroma, highHalves));
        ConvertEight(luma, _mm_sub_epi16(u, chromaZero), _mm_sub_epi16(v, chromaZero), kUyvyFactors,
                     out + i * 3);
    }
#else
    ConvertRowScalar(groups + 1, 2, groups, groups + 2, 4, count, kUyvyFactors, out);
#endif
}

// A row of planar 4:2:0: count lumas, count / 2 of U and of V; count is a multiple of 8.
void ConvertYuv420Row(const uint8_t* luma, const uint8_t* u, const uint8_t* v, size_t count,
                      uint8_t* out) {
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i lumaBlack = _mm_set1_epi16(16);
    const __m128i chromaZero = _mm_set1_epi16(128);
    for (size_t i = 0; i < count; i += 8) {
        int64_t lumaBytes = 0;
        int32_t uBytes = 0;
        int32_t vBytes = 0;
        std::memcpy(&lumaBytes, luma + i, 8);
        std::memcpy(&uBytes, u + i / 2, 4);
        std::memcpy(&vBytes, v + i / 2, 4);
        const __m128i y =
            _mm_sub_epi16(_mm_unpacklo_epi8(_mm_cvtsi64_si128(lumaBytes), zero), lumaBlack);
        __m128i cu = _mm_unpacklo_epi8(_mm_cvtsi32_si128(uBytes), zero);
        __m128i cv = _mm_unpacklo_epi8(_mm_cvtsi32_si128(vBytes), zero);
        cu = _mm_sub_epi16(_mm_unpacklo_epi16(cu, cu), chromaZero);  // each for two pixels
        cv = _mm_sub_epi16(_mm_unpacklo_epi16(cv, cv), chromaZero);
        ConvertEight(y, cu, cv, kYuv420Factors, out + i * 3);
    }
#else
    ConvertRowScalar(luma, 1, u, v, 1, count, kYuv420Factors, out);
#endif
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
    static_assert(kUyvyCrop % 2 == 0 && kUyvyCroppedWidth % 8 == 0 && kYuvWidth % 8 == 0);
    const std::vector<TScaleColumn> columns = ScaleColumns(kUyvyCroppedWidth, kUyvyOutWidth);
    SizePicture(picture, kUyvyOutWidth, kUyvyHeight);
    uint8_t frameRow[kUyvyCroppedWidth * 3];
    for (int row = 0; row < kUyvyHeight; ++row) {
        // Even rows come from the first field, odd rows from the second.
        const size_t line = row / 2 + (row % 2) * (kUyvyHeight / 2);
        const uint8_t* group = record.data() + line * kUyvyLineBytes + (kUyvyCrop / 2) * 4;
        ConvertUyvyRow(group, kUyvyCroppedWidth, frameRow);
        ScaleRow(frameRow, frameRow, 0, columns, picture.Row(row));
    }
    return true;
}

bool DecodeYuv420(std::span<const uint8_t> record, TBitmap& picture) {
    if (record.size() < kYuvBytes) {
        picture.Clear();
        return false;
    }
    SizePicture(picture, kYuvWidth, kYuvHeight);
    const uint8_t* yPlane = record.data();
    const uint8_t* uPlane = record.data() + kYuvUOffset;
    const uint8_t* vPlane = record.data() + kYuvVOffset;
    for (int row = 0; row < kYuvHeight; ++row) {
        const uint8_t* yRow = yPlane + static_cast<size_t>(row) * kYuvWidth;
        const size_t chromaRow = static_cast<size_t>(row / 2) * kYuvChromaWidth;
        const uint8_t* uRow = uPlane + chromaRow;
        const uint8_t* vRow = vPlane + chromaRow;
        ConvertYuv420Row(yRow, uRow, vRow, kYuvWidth, picture.Row(row));
    }
    return true;
}

}  // namespace corvane
