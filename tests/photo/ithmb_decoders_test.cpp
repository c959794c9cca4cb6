// The decoders of the full-size record formats, the rounding and the scaler they share, checked
// against values worked out by hand; and records too short for their format.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <limits>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "fixtures/IthmbBuilder.h"
#include "photo/IthmbDecoders.h"

namespace corvane {
namespace {

using namespace testing;

constexpr size_t kUyvyBytes = 720 * 480 * 2;
constexpr size_t kYuvBytes = 518400;
constexpr size_t kYPlane = 720 * 480;
constexpr size_t kChromaPlane = 360 * 240;

// A uYUV record whose every pixel has these values.
std::vector<uint8_t> Uyvy(uint8_t y, uint8_t u, uint8_t v) {
    std::vector<uint8_t> record(kUyvyBytes);
    for (size_t i = 0; i < record.size(); i += 4) {
        record[i] = u;
        record[i + 1] = y;
        record[i + 2] = v;
        record[i + 3] = y;
    }
    return record;
}

// Y of pixel x of stored line `line`.
void SetUyvyLuma(std::vector<uint8_t>& record, int line, int x, uint8_t y) {
    record[static_cast<size_t>(line) * 1440 + (x / 2) * 4 + (x % 2 == 0 ? 1 : 3)] = y;
}

std::vector<uint8_t> Yuv420(uint8_t y, uint8_t u, uint8_t v) {
    std::vector<uint8_t> record(kYuvBytes);
    std::fill_n(record.begin(), kYPlane, y);
    std::fill_n(record.begin() + kYPlane, kChromaPlane, u);
    std::fill_n(record.begin() + kYPlane + kChromaPlane, kChromaPlane, v);
    return record;
}

// Every pixel for which `where` holds has colour c.
::testing::AssertionResult AllPixels(const TBitmap& picture, TRgb c,
                                     const std::function<bool(int, int)>& where = nullptr) {
    for (int y = 0; y < picture.Height(); ++y) {
        for (int x = 0; x < picture.Width(); ++x) {
            if (where && !where(x, y))
                continue;
            const TRgb p = picture.Pixel(x, y);
            if (!(p == c)) {
                return ::testing::AssertionFailure()
                       << "pixel (" << x << ", " << y << ") is " << int(p.R) << "," << int(p.G)
                       << "," << int(p.B) << " not " << int(c.R) << "," << int(c.G) << ","
                       << int(c.B);
            }
        }
    }
    return ::testing::AssertionSuccess();
}

TEST(IthmbClamp, RoundsHalvesToEvenAndHoldsToAByte) {
    const struct {
        double Value;
        int Expected;
    } cases[] = {
        {254.5, 254},
        {253.5, 254},
        {0.5, 0},
        {1.5, 2},
        {-0.4, 0},
        {-0.5, 0},
        {300, 255},
        {255.4, 255},
        {255.5, 255},
        {-1e300, 0},
        {1e300, 255},
        {1.164 * 219, 255},  // Y = 235: 254.916
        {std::numeric_limits<double>::quiet_NaN(), 0},
        {std::numeric_limits<double>::infinity(), 255},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Clamp(c.Value), c.Expected) << c.Value;
}

TEST(IthmbScale, WorkedByHand) {
    // 3 x 1 into 2 x 1: xs = 98304. Column 1: x0 = 1, fx = 32768, w1 = 32768, w2 = 32767, so
    // (100 x 32768 + 50 x 32767) shr 16 = 4915150 shr 16 = 74. Column 0 takes 200 x 65535 shr 16.
    TBitmap wide(3, 1);
    const uint8_t row[] = {200, 100, 50};
    for (int x = 0; x < 3; ++x)
        wide.SetPixel(x, 0, {row[x], row[x], row[x]});
    TBitmap narrow(2, 1);
    ScaleBilinear(wide, narrow);
    EXPECT_EQ(narrow.Pixel(0, 0), (TRgb{199, 199, 199}));
    EXPECT_EQ(narrow.Pixel(1, 0), (TRgb{74, 74, 74}));

    // 2 x 2 into 3 x 3: xs = ys = 43690. The last row and the last column have no neighbour
    // below or to the right and pair with themselves. Middle pixel: fx = fy = 43690, gy = 21845,
    // w1..w4 = 7282, 14563, 14564, 29126: (90 x 14563 + 180 x 14564 + 30 x 29126) shr 16 = 73.
    TBitmap square(2, 2);
    square.SetPixel(0, 0, {0, 10, 20});
    square.SetPixel(1, 0, {90, 10, 20});
    square.SetPixel(0, 1, {180, 10, 20});
    square.SetPixel(1, 1, {30, 10, 20});
    TBitmap large(3, 3);
    ScaleBilinear(square, large);
    const uint8_t expected[3][3] = {{0, 59, 89}, {119, 73, 49}, {179, 80, 29}};
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 3; ++x) {
            // Green and blue are flat, so each is its value times 65535, shr 16.
            EXPECT_EQ(large.Pixel(x, y), (TRgb{expected[y][x], 9, 19})) << x << "," << y;
        }
    }
}

TEST(IthmbScale, EmptyPicturesAndScalingIntoItself) {
    TBitmap empty;
    TBitmap dest(2, 2);
    dest.Fill(kWhite);
    ScaleBilinear(empty, dest);
    EXPECT_TRUE(AllPixels(dest, kWhite));
    ScaleBilinear(dest, empty);
    EXPECT_TRUE(empty.Empty());
    ScaleBilinear(dest, dest);
    EXPECT_TRUE(AllPixels(dest, {254, 254, 254}));
}

TEST(IthmbUyvy, BlackAndWhiteLevels) {
    TBitmap picture;
    ASSERT_TRUE(DecodeUyvy(Uyvy(16, 128, 128), picture));
    ASSERT_EQ(picture.Width(), 640);
    ASSERT_EQ(picture.Height(), 480);
    EXPECT_TRUE(AllPixels(picture, {0, 0, 0}));
    // 1.164 x 219 rounds to 255; the scaler's weights add up to 65535, so 254 comes out.
    ASSERT_TRUE(DecodeUyvy(Uyvy(235, 128, 128), picture));
    EXPECT_TRUE(AllPixels(picture, {254, 254, 254}));
}

TEST(IthmbUyvy, ColourFactors) {
    // Y 100, U 90, V 200: R = 97.776 + 114.912 = 212.688, G = 97.776 + 14.896 - 58.536 = 54.136,
    // B = 97.776 - 76.646 = 21.13; then one less each after scaling.
    TBitmap picture;
    ASSERT_TRUE(DecodeUyvy(Uyvy(100, 90, 200), picture));
    EXPECT_TRUE(AllPixels(picture, {212, 53, 20}));
    // Y 57, U 172: G = 47.724 - 17.248 = 30.476 and B = 47.724 + 88.748 = 136.472, where the
    // planar decoder's factors give 31 and 137.
    ASSERT_TRUE(DecodeUyvy(Uyvy(57, 172, 128), picture));
    EXPECT_TRUE(AllPixels(picture, {47, 29, 135}));
}

TEST(IthmbUyvy, FieldsInterlaceAndTheEdgesAreCropped) {
    // First field black, second field white: even rows black, odd rows white.
    std::vector<uint8_t> record = Uyvy(16, 128, 128);
    const std::vector<uint8_t> white = Uyvy(235, 128, 128);
    std::copy(white.begin() + kUyvyBytes / 2, white.end(), record.begin() + kUyvyBytes / 2);
    TBitmap picture;
    ASSERT_TRUE(DecodeUyvy(record, picture));
    EXPECT_TRUE(AllPixels(picture, {0, 0, 0}, [](int, int y) { return y % 2 == 0; }));
    EXPECT_TRUE(AllPixels(picture, {254, 254, 254}, [](int, int y) { return y % 2 == 1; }));

    // Eight white pixels at each end of every line are dropped; pixel 8 is the first column
    // and pixel 711 the last.
    record = Uyvy(16, 128, 128);
    for (int line = 0; line < 480; ++line) {
        for (int x = 0; x < 8; ++x) {
            SetUyvyLuma(record, line, x, 235);
            SetUyvyLuma(record, line, 719 - x, 235);
        }
    }
    ASSERT_TRUE(DecodeUyvy(record, picture));
    EXPECT_TRUE(AllPixels(picture, {0, 0, 0}));
    for (int line = 0; line < 480; ++line) {
        SetUyvyLuma(record, line, 8, 235);
        SetUyvyLuma(record, line, 711, 235);
    }
    ASSERT_TRUE(DecodeUyvy(record, picture));
    EXPECT_EQ(picture.Pixel(0, 0), (TRgb{254, 254, 254}));
    EXPECT_EQ(picture.Pixel(1, 0), (TRgb{0, 0, 0}));
    // Column 639 reads columns 702 and 703 with fx = 58599, w2 = 58598: (255 x 58598) shr 16.
    EXPECT_EQ(picture.Pixel(639, 479), (TRgb{228, 228, 228}));
}

TEST(IthmbYuv420, ColourFactorsDifferFromUyvy) {
    TBitmap picture;
    ASSERT_TRUE(DecodeYuv420(Yuv420(57, 172, 128), picture));
    ASSERT_EQ(picture.Width(), 720);
    ASSERT_EQ(picture.Height(), 480);
    // G = 47.724 - 0.391 x 44 = 30.52, B = 47.724 + 2.018 x 44 = 136.516; not scaled.
    EXPECT_TRUE(AllPixels(picture, {48, 31, 137}));
    ASSERT_TRUE(DecodeYuv420(Yuv420(235, 128, 128), picture));
    EXPECT_TRUE(AllPixels(picture, kWhite));
}

TEST(IthmbYuv420, ChromaCoversTwoByTwoPixels) {
    // Y 128 gives 130.368. U of block (1, 0) is 228 and of block (0, 1) is 28:
    // B = 130.368 + 201.8 -> 255 and 130.368 - 201.8 -> 0; G = 130.368 -/+ 39.1 -> 91 / 169.
    std::vector<uint8_t> record = Yuv420(128, 128, 128);
    record[kYPlane + 1] = 228;
    record[kYPlane + 360] = 28;
    TBitmap picture;
    ASSERT_TRUE(DecodeYuv420(record, picture));
    const auto inBlock = [](int bx, int by) {
        return [bx, by](int x, int y) { return x / 2 == bx && y / 2 == by; };
    };
    EXPECT_TRUE(AllPixels(picture, {130, 91, 255}, inBlock(1, 0)));
    EXPECT_TRUE(AllPixels(picture, {130, 169, 0}, inBlock(0, 1)));
    EXPECT_TRUE(AllPixels(picture, {130, 130, 130}, [](int x, int y) {
        return !(x / 2 == 1 && y / 2 == 0) && !(x / 2 == 0 && y / 2 == 1);
    }));
}

// The full-size header of format 1023 on a disk-mode iPod: 176 x 132, 5-6-5.
std::vector<uint8_t> SwappedHeader() {
    std::vector<uint8_t> h(66, 0);
    const auto put = [&h](size_t at, uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            h[at + i] = static_cast<uint8_t>(value >> (8 * i));
    };
    h[0] = 'B';
    h[1] = 'M';
    put(2, 66 + 46464, 4);
    put(10, 66, 4);
    put(14, 40, 4);
    put(18, 176, 4);
    put(22, static_cast<uint32_t>(-132), 4);
    put(26, 1, 2);
    put(28, 16, 2);
    put(30, 3, 4);
    put(34, 46464, 4);
    put(54, 0xF800, 4);
    put(58, 0x07E0, 4);
    put(62, 0x001F, 4);
    return h;
}

TEST(IthmbSwappedRgb, PixelsAreBigEndian) {
    std::vector<uint8_t> record(46464, 0);
    const uint8_t first[] = {0xF8, 0x00, 0x07, 0xE0, 0x00, 0x1F, 0xFF, 0xFF};
    std::copy(std::begin(first), std::end(first), record.begin());
    record[46462] = 0x00;  // last pixel, bottom right: blue
    record[46463] = 0x1F;
    TBitmap picture;
    ASSERT_TRUE(DecodeSwappedRgb(record, SwappedHeader(), picture));
    ASSERT_EQ(picture.Width(), 176);
    ASSERT_EQ(picture.Height(), 132);
    EXPECT_EQ(picture.Pixel(0, 0), (TRgb{255, 0, 0}));
    EXPECT_EQ(picture.Pixel(1, 0), (TRgb{0, 255, 0}));
    EXPECT_EQ(picture.Pixel(2, 0), (TRgb{0, 0, 255}));
    EXPECT_EQ(picture.Pixel(3, 0), kWhite);
    EXPECT_EQ(picture.Pixel(175, 131), (TRgb{0, 0, 255}));

    // A built record comes back as the picture, to within a 5-bit step.
    const TBitmap pattern = PatternPicture(176, 132);
    ASSERT_TRUE(DecodeSwappedRgb(EncodeSwappedRgb565(pattern), SwappedHeader(), picture));
    EXPECT_EQ(picture.Pixel(0, 0), kWhite);
    EXPECT_NEAR(picture.Pixel(100, 100).R, pattern.Pixel(100, 100).R, 4);
    EXPECT_NEAR(picture.Pixel(100, 100).G, pattern.Pixel(100, 100).G, 4);
    EXPECT_NEAR(picture.Pixel(100, 100).B, pattern.Pixel(100, 100).B, 4);
}

TEST(IthmbDecoders, BuiltVideoRecordsComeBackClose) {
    const TBitmap pattern = PatternPicture(720, 480);
    TBitmap picture;
    ASSERT_TRUE(DecodeYuv420(EncodeYuv420(pattern), picture));
    // Inside the solid blocks chroma is not shared with a neighbour of another colour.
    EXPECT_EQ(picture.Pixel(10, 10), kWhite);
    const TRgb red = picture.Pixel(130, 30);
    EXPECT_GE(red.R, 250);
    EXPECT_LE(red.G, 5);
    EXPECT_LE(red.B, 5);

    ASSERT_TRUE(DecodeUyvy(EncodeUyvy(pattern), picture));
    // 704 source columns into 640: source x of output column c is c x 1.1 + 8.
    EXPECT_EQ(picture.Pixel(10, 10), (TRgb{254, 254, 254}));
    const TRgb blue = picture.Pixel((4 * 60 + 30 - 8) * 10 / 11, 30);
    EXPECT_LE(blue.R, 5);
    EXPECT_LE(blue.G, 5);
    EXPECT_GE(blue.B, 249);
}

// The conversion as the formulas state it, in doubles: 1.164 (Y - 16) plus the chroma terms,
// through Clamp.
TRgb FormulaPixel(int y, int u, int v, double greenU, double blueU) {
    const double luma = 1.164 * (y - 16);
    return {Clamp(luma + 1.596 * (v - 128)), Clamp(luma - greenU * (u - 128) - 0.813 * (v - 128)),
            Clamp(luma + blueU * (u - 128))};
}

// How far picture strays from want: the largest difference of a colour value and how many
// values differ at all.
struct TStray {
    int Largest = 0;
    size_t Differing = 0;
    size_t Values = 0;
};
void AddStray(const TBitmap& picture, const TBitmap& want, TStray& stray) {
    ASSERT_EQ(picture.Width(), want.Width());
    ASSERT_EQ(picture.Height(), want.Height());
    const std::vector<uint8_t>& a = picture.Pixels();
    const std::vector<uint8_t>& b = want.Pixels();
    for (size_t i = 0; i < a.size(); ++i) {
        const int d = std::abs(a[i] - b[i]);
        stray.Largest = std::max(stray.Largest, d);
        stray.Differing += d != 0;
    }
    stray.Values += a.size();
}

// Every combination of Y, U and V, four lumas sharing each chroma sample over 49 planar
// records, and two noise records of uYUV through the frame's scaling: no colour is more than
// one step from the formulas, and only next to a half does it differ at all.
TEST(IthmbDecoders, VideoRecordsDecodeWithinOneStepOfTheFormulas) {
    TStray planar;
    TBitmap picture;
    TBitmap want(720, 480);
    for (uint32_t first = 0; first < (1u << 22); first += kChromaPlane) {
        std::vector<uint8_t> record(kYuvBytes);
        for (size_t c = 0; c < kChromaPlane; ++c) {
            const uint32_t k = first + static_cast<uint32_t>(c);  // U, V and a quarter of Y
            const int u = k & 255;
            const int v = (k >> 8) & 255;
            record[kYPlane + c] = static_cast<uint8_t>(u);
            record[kYPlane + kChromaPlane + c] = static_cast<uint8_t>(v);
            const int bx = static_cast<int>(c % 360);
            const int by = static_cast<int>(c / 360);
            for (int j = 0; j < 4; ++j) {
                const int x = bx * 2 + j % 2;
                const int y = by * 2 + j / 2;
                const int luma = static_cast<int>(((k >> 16) * 4 + j) & 255);
                record[static_cast<size_t>(y) * 720 + x] = static_cast<uint8_t>(luma);
                want.SetPixel(x, y, FormulaPixel(luma, u, v, 0.391, 2.018));
            }
        }
        ASSERT_TRUE(DecodeYuv420(record, picture));
        AddStray(picture, want, planar);
    }
    EXPECT_LE(planar.Largest, 1);
    EXPECT_LT(planar.Differing, planar.Values / 50) << planar.Differing << " of " << planar.Values;

    TStray interlaced;
    for (uint32_t seed : {7u, 8u}) {
        std::mt19937 random(seed);
        std::vector<uint8_t> record(kUyvyBytes);
        for (uint8_t& b : record)
            b = static_cast<uint8_t>(random());
        TBitmap frame(704, 480);
        for (int row = 0; row < 480; ++row) {
            const size_t line = static_cast<size_t>(row / 2 + (row % 2) * 240);
            for (int x = 0; x < 704; ++x) {
                const uint8_t* group = &record[line * 1440 + static_cast<size_t>((x + 8) / 2) * 4];
                frame.SetPixel(
                    x, row,
                    FormulaPixel(group[x % 2 == 0 ? 1 : 3], group[0], group[2], 0.392, 2.017));
            }
        }
        TBitmap scaled(640, 480);
        ScaleBilinear(frame, scaled);
        ASSERT_TRUE(DecodeUyvy(record, picture));
        AddStray(picture, scaled, interlaced);
    }
    EXPECT_LE(interlaced.Largest, 1);
    EXPECT_LT(interlaced.Differing, interlaced.Values / 50)
        << interlaced.Differing << " of " << interlaced.Values;
}

TEST(IthmbDecoders, APictureOfTheRightSizeIsOverwrittenWhole) {
    // The decoders reuse a picture that already has their size; nothing of it may show through.
    const TBitmap pattern = PatternPicture(720, 480);
    const struct {
        std::vector<uint8_t> Record;
        bool (*Decode)(std::span<const uint8_t>, TBitmap&);
        int Width;
    } cases[] = {
        {EncodeUyvy(pattern), DecodeUyvy, 640},
        {EncodeYuv420(pattern), DecodeYuv420, 720},
    };
    for (const auto& c : cases) {
        TBitmap fresh;
        ASSERT_TRUE(c.Decode(c.Record, fresh));
        TBitmap reused(c.Width, 480);
        reused.Fill({1, 2, 3});
        ASSERT_TRUE(c.Decode(c.Record, reused));
        EXPECT_TRUE(reused == fresh) << c.Width;
    }
}

TEST(IthmbDecoders, ShortRecordsFailAndLeaveNoPicture) {
    struct TCase {
        const char* Name;
        size_t Needed;
        std::function<bool(std::span<const uint8_t>, TBitmap&)> Decode;
    };
    const std::vector<uint8_t> header = SwappedHeader();
    const TCase cases[] = {
        {"uYUV", kUyvyBytes, DecodeUyvy},
        {"Yuv", kYuvBytes, DecodeYuv420},
        {"nRGB", 46464,
         [&header](std::span<const uint8_t> r, TBitmap& p) {
             return DecodeSwappedRgb(r, header, p);
         }},
        {"RGB", 66 + 46464, LoadRgbRecord},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        std::vector<uint8_t> record(c.Needed, 0x80);
        if (std::string(c.Name) == "RGB")
            std::copy(header.begin(), header.end(), record.begin());
        for (size_t size : {size_t{0}, size_t{1}, c.Needed / 2, c.Needed - 1}) {
            TBitmap picture(3, 3);
            EXPECT_FALSE(c.Decode(std::span(record).first(size), picture)) << size;
            EXPECT_TRUE(picture.Empty());
        }
    }
    // A longer record is fine: only the bytes of the picture are read.
    std::vector<uint8_t> longer = Uyvy(16, 128, 128);
    longer.resize(kUyvyBytes + 1000, 0xFF);
    TBitmap picture;
    EXPECT_TRUE(DecodeUyvy(longer, picture));
    EXPECT_TRUE(AllPixels(picture, {0, 0, 0}));
}

}  // namespace
}  // namespace corvane
