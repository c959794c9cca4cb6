#include "photo/IthmbPlanes.h"

#include <algorithm>
#include <array>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace corvane {
namespace {

// Format 1019: two fields of 240 lines, each line 360 groups of U, Y0, V, Y1; eight pixels
// (four groups, 16 bytes) dropped at each end of a line.
constexpr int kUyvyWidth = 720;
constexpr int kUyvyHeight = 480;
constexpr int kUyvyFieldLines = kUyvyHeight / 2;
constexpr size_t kUyvyLineBytes = kUyvyWidth * 2;
constexpr size_t kUyvyBytes = kUyvyLineBytes * kUyvyHeight;
constexpr size_t kUyvyCropBytes = 16;
constexpr int kUyvyKeptWidth = 704;
constexpr int kUyvyOutWidth = 640;
constexpr size_t kChromaSums = kUyvyKeptWidth / 2;

// Format 1067: planes Y (720 x 480), U and V (360 x 240 each).
constexpr int kYuvWidth = 720;
constexpr int kYuvHeight = 480;
constexpr size_t kYuvLumaBytes = size_t{kYuvWidth} * kYuvHeight;
constexpr size_t kYuvChromaBytes = kYuvLumaBytes / 4;
constexpr size_t kYuvBytes = kYuvLumaBytes + 2 * kYuvChromaBytes;

// ---------------------------------------------------------------------------------------------
// Video levels to the full range a JPEG file holds. The RGB decoders scale luma by 1.164 above
// 16; the encoder's Cb and Cr taken through their colour factors come to 1.1384 times the
// distance from 128 (0.5 x 1.596 + 0.41869 x 0.813 for Cr; Cb differs by less than 0.0002), and
// its luma to the decoders' luma within 0.0003 of the chroma, so each plane maps on its own.
//
// In fixed point a sample comes in times 256 (0..65280, as the resampling leaves it); the high
// half of its product with Gain keeps five fraction bits, Offset takes away the level that maps
// to 0 less a half for rounding, and what falls below 0 or above 255 is held to a byte.
struct TLevelMap {
    uint16_t Gain;
    uint16_t Offset;
};

constexpr TLevelMap MakeLevelMap(double gain, double zeroLevel) {
    const double offset = gain * zeroLevel * 32 - 16;
    return {static_cast<uint16_t>(gain * 8192 + 0.5), static_cast<uint16_t>(offset + 0.5)};
}

constexpr TLevelMap kLumaLevels = MakeLevelMap(1.164, 16);
constexpr double kChromaGain = 1.1384;
constexpr TLevelMap kChromaLevels = MakeLevelMap(kChromaGain, 128 - 128 / kChromaGain);
static_assert(kLumaLevels.Gain == 9535 && kLumaLevels.Offset == 580);
static_assert(kChromaLevels.Gain == 9326 && kChromaLevels.Offset == 551);

inline uint8_t MapLevel(uint32_t scaled, TLevelMap map) {
    const uint32_t t = (scaled * map.Gain) >> 16;
    return t <= map.Offset ? 0
                           : static_cast<uint8_t>(std::min<uint32_t>((t - map.Offset) >> 5, 255));
}

// ---------------------------------------------------------------------------------------------
// 704 samples to 640 and 352 to 320: every 11 source samples give 10, output i of a group lying
// i tenths of the way from source i to source i + 1 (the RGB decoder's bilinear columns, which
// drift from these by less than a hundredth of a pixel). The weights of the right-hand source:
// luma in 256ths, chroma in 128ths as it comes summed over two lines.
constexpr int kGroupIn = 11;
constexpr int kGroupOut = 10;
constexpr int kLumaGroups = kUyvyOutWidth / kGroupOut;
constexpr int kChromaGroups = kUyvyOutWidth / 2 / kGroupOut;
static_assert(kLumaGroups * kGroupIn == kUyvyKeptWidth && kChromaGroups * kGroupIn * 2 == 704);

constexpr std::array<uint16_t, kGroupOut> GroupWeights(int unit) {
    std::array<uint16_t, kGroupOut> weights{};
    for (int i = 0; i < kGroupOut; ++i)
        weights[i] = static_cast<uint16_t>((i * unit * 2 + kGroupOut) / (2 * kGroupOut));
    return weights;
}
constexpr std::array<uint16_t, kGroupOut> kLumaWeights = GroupWeights(256);
constexpr std::array<uint16_t, kGroupOut> kChromaWeights = GroupWeights(128);

// Groups [first, last) of one output luma row from a line's kept groups (U Y0 V Y1 ...).
void LumaGroups(const uint8_t* line, uint8_t* out, int first, int last) {
    for (int g = first; g < last; ++g) {
        for (int i = 0; i < kGroupOut; ++i) {
            const size_t x = static_cast<size_t>(g) * kGroupIn + i;
            const uint32_t w = kLumaWeights[i];
            const uint32_t s = line[2 * x + 1] * (256 - w) + line[2 * x + 3] * w;
            out[g * kGroupOut + i] = MapLevel(s, kLumaLevels);
        }
    }
}

// Groups [first, last) of one output chroma row from the sums of two lines.
void ChromaGroups(const uint16_t* sums, uint8_t* out, int first, int last) {
    for (int g = first; g < last; ++g) {
        for (int i = 0; i < kGroupOut; ++i) {
            const size_t m = static_cast<size_t>(g) * kGroupIn + i;
            const uint32_t w = kChromaWeights[i];
            out[g * kGroupOut + i] = MapLevel(sums[m] * (128 - w) + sums[m + 1] * w, kChromaLevels);
        }
    }
}

void MapSamples(const uint8_t* in, uint8_t* out, size_t first, size_t count, TLevelMap map) {
    for (size_t i = first; i < count; ++i)
        out[i] = MapLevel(uint32_t{in[i]} << 8, map);
}

#if defined(__SSE2__)
// The same sums eight or sixteen at a time (SSE2 is part of every x86-64). A group's ten outputs
// take sixteen lanes, the last six of which the next group's store overwrites; the last groups
// of a row, whose store would pass its end, go through the loops above.

inline __m128i Load(const void* at) {
    return _mm_loadu_si128(static_cast<const __m128i*>(at));
}

inline void Store(void* at, __m128i value) {
    _mm_storeu_si128(static_cast<__m128i*>(at), value);
}

inline __m128i MapLevels(__m128i scaled, __m128i gain, __m128i offset) {
    return _mm_srli_epi16(_mm_subs_epu16(_mm_mulhi_epu16(scaled, gain), offset), 5);
}

struct TGroupWeights {
    __m128i LeftLow, LeftHigh, RightLow, RightHigh;
};

TGroupWeights VectorWeights(const std::array<uint16_t, kGroupOut>& w, int unit) {
    auto left = [&](int i) { return static_cast<short>(i < kGroupOut ? unit - w[i] : 0); };
    auto right = [&](int i) { return static_cast<short>(i < kGroupOut ? w[i] : 0); };
    return {_mm_setr_epi16(left(0), left(1), left(2), left(3), left(4), left(5), left(6), left(7)),
            _mm_setr_epi16(left(8), left(9), 0, 0, 0, 0, 0, 0),
            _mm_setr_epi16(right(0), right(1), right(2), right(3), right(4), right(5), right(6),
                           right(7)),
            _mm_setr_epi16(right(8), right(9), 0, 0, 0, 0, 0, 0)};
}

inline __m128i Blend(__m128i left, __m128i right, __m128i leftWeight, __m128i rightWeight) {
    return _mm_add_epi16(_mm_mullo_epi16(left, leftWeight), _mm_mullo_epi16(right, rightWeight));
}

// Groups whose 16-byte store stays inside a row of `width` outputs.
constexpr int VectorGroups(int width) {
    return (width - 16) / kGroupOut + 1;
}

void LumaRow(const uint8_t* line, uint8_t* out) {
    static const TGroupWeights weights = VectorWeights(kLumaWeights, 256);
    const __m128i gain = _mm_set1_epi16(static_cast<short>(kLumaLevels.Gain));
    const __m128i offset = _mm_set1_epi16(static_cast<short>(kLumaLevels.Offset));
    constexpr int vectorGroups = VectorGroups(kUyvyOutWidth);
    for (int g = 0; g < vectorGroups; ++g) {
        // Luma is the high byte of each 16-bit U-Y or V-Y pair.
        const uint8_t* p = line + 2 * kGroupIn * g;
        const __m128i low = Blend(_mm_srli_epi16(Load(p), 8), _mm_srli_epi16(Load(p + 2), 8),
                                  weights.LeftLow, weights.RightLow);
        const __m128i high = Blend(_mm_srli_epi16(Load(p + 16), 8), _mm_srli_epi16(Load(p + 18), 8),
                                   weights.LeftHigh, weights.RightHigh);
        Store(out + kGroupOut * g,
              _mm_packus_epi16(MapLevels(low, gain, offset), MapLevels(high, gain, offset)));
    }
    LumaGroups(line, out, vectorGroups, kLumaGroups);
}

// Per chroma sample of two lines, the sums of their U and of their V.
void ChromaSums(const uint8_t* a, const uint8_t* b, uint16_t* u, uint16_t* v) {
    const __m128i low = _mm_set1_epi32(0xFF);
    static_assert(kChromaSums % 8 == 0);
    for (size_t m = 0; m < kChromaSums; m += 8) {
        const __m128i a0 = Load(a + 4 * m);
        const __m128i a1 = Load(a + 4 * m + 16);
        const __m128i b0 = Load(b + 4 * m);
        const __m128i b1 = Load(b + 4 * m + 16);
        // U is the low byte of each 32-bit group, V the third.
        auto sum = [&](__m128i x, __m128i y) {
            return _mm_add_epi32(_mm_and_si128(x, low), _mm_and_si128(y, low));
        };
        Store(u + m, _mm_packs_epi32(sum(a0, b0), sum(a1, b1)));
        Store(v + m, _mm_packs_epi32(sum(_mm_srli_epi32(a0, 16), _mm_srli_epi32(b0, 16)),
                                     sum(_mm_srli_epi32(a1, 16), _mm_srli_epi32(b1, 16))));
    }
}

void ChromaRow(const uint16_t* sums, uint8_t* out) {
    static const TGroupWeights weights = VectorWeights(kChromaWeights, 128);
    const __m128i gain = _mm_set1_epi16(static_cast<short>(kChromaLevels.Gain));
    const __m128i offset = _mm_set1_epi16(static_cast<short>(kChromaLevels.Offset));
    constexpr int vectorGroups = VectorGroups(kUyvyOutWidth / 2);
    for (int g = 0; g < vectorGroups; ++g) {
        const uint16_t* p = sums + kGroupIn * g;
        const __m128i low = Blend(Load(p), Load(p + 1), weights.LeftLow, weights.RightLow);
        const __m128i high = Blend(Load(p + 8), Load(p + 9), weights.LeftHigh, weights.RightHigh);
        Store(out + kGroupOut * g,
              _mm_packus_epi16(MapLevels(low, gain, offset), MapLevels(high, gain, offset)));
    }
    ChromaGroups(sums, out, vectorGroups, kChromaGroups);
}

void MapPlane(const uint8_t* in, uint8_t* out, size_t count, TLevelMap map) {
    const __m128i gain = _mm_set1_epi16(static_cast<short>(map.Gain));
    const __m128i offset = _mm_set1_epi16(static_cast<short>(map.Offset));
    const __m128i zero = _mm_setzero_si128();
    size_t i = 0;
    for (; i + 16 <= count; i += 16) {
        // Interleaved under zero bytes, each sample lands in a 16-bit lane times 256.
        const __m128i x = Load(in + i);
        Store(out + i, _mm_packus_epi16(MapLevels(_mm_unpacklo_epi8(zero, x), gain, offset),
                                        MapLevels(_mm_unpackhi_epi8(zero, x), gain, offset)));
    }
    MapSamples(in, out, i, count, map);
}

#else

void LumaRow(const uint8_t* line, uint8_t* out) {
    LumaGroups(line, out, 0, kLumaGroups);
}

// Per chroma sample of two lines, the sums of their U and of their V.
void ChromaSums(const uint8_t* a, const uint8_t* b, uint16_t* u, uint16_t* v) {
    for (size_t m = 0; m < kChromaSums; ++m) {
        u[m] = static_cast<uint16_t>(a[4 * m] + b[4 * m]);
        v[m] = static_cast<uint16_t>(a[4 * m + 2] + b[4 * m + 2]);
    }
}

void ChromaRow(const uint16_t* sums, uint8_t* out) {
    ChromaGroups(sums, out, 0, kChromaGroups);
}

void MapPlane(const uint8_t* in, uint8_t* out, size_t count, TLevelMap map) {
    MapSamples(in, out, 0, count, map);
}

#endif

// The kept part of stored line `line`.
const uint8_t* KeptLine(std::span<const uint8_t> record, int line) {
    return record.data() + static_cast<size_t>(line) * kUyvyLineBytes + kUyvyCropBytes;
}

}  // namespace

bool DecodeUyvyPlanes(std::span<const uint8_t> record, TYcbcrPicture& picture) {
    if (record.size() < kUyvyBytes)
        return false;
    picture.SetSize(kUyvyOutWidth, kUyvyHeight);
    // Frame rows 2k and 2k + 1 are line k of each field: one pass over a line pair gives both
    // luma rows and the chroma row they share, reading the fields where they lie.
    uint16_t u[kChromaSums];
    uint16_t v[kChromaSums];
    for (int k = 0; k < kUyvyFieldLines; ++k) {
        const uint8_t* first = KeptLine(record, k);
        const uint8_t* second = KeptLine(record, kUyvyFieldLines + k);
        LumaRow(first, picture.Luma(2 * k));
        LumaRow(second, picture.Luma(2 * k + 1));
        ChromaSums(first, second, u, v);
        ChromaRow(u, picture.Cb(k));
        ChromaRow(v, picture.Cr(k));
    }
    return true;
}

bool DecodeYuv420Planes(std::span<const uint8_t> record, TYcbcrPicture& picture) {
    if (record.size() < kYuvBytes)
        return false;
    picture.SetSize(kYuvWidth, kYuvHeight);
    const uint8_t* planes = record.data();
    MapPlane(planes, picture.Luma(0), kYuvLumaBytes, kLumaLevels);
    MapPlane(planes + kYuvLumaBytes, picture.Cb(0), kYuvChromaBytes, kChromaLevels);
    MapPlane(planes + kYuvLumaBytes + kYuvChromaBytes, picture.Cr(0), kYuvChromaBytes,
             kChromaLevels);
    return true;
}

}  // namespace corvane
