// The export's decoders of the video records to luma and chroma planes and the encoder of those
// planes: levels of flat records worked out by hand, where the fields and the cropped edges
// land, short records and sizes the encoder refuses, and the JPEG files of the planes against
// the ones made through the RGB decoders.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "fixtures/IthmbBuilder.h"
#include "photo/ImageCodecs.h"
#include "photo/IthmbDecoders.h"
#include "photo/IthmbPlanes.h"
#include "photo/PlanarJpeg.h"

namespace corvane {
namespace {

using namespace testing;

constexpr size_t kUyvyBytes = 720 * 480 * 2;
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

std::vector<uint8_t> Yuv420(uint8_t y, uint8_t u, uint8_t v) {
    std::vector<uint8_t> record(kYPlane + 2 * kChromaPlane);
    std::fill_n(record.begin(), kYPlane, y);
    std::fill_n(record.begin() + kYPlane, kChromaPlane, u);
    std::fill_n(record.begin() + kYPlane + kChromaPlane, kChromaPlane, v);
    return record;
}

// Byte of pixel x of stored uYUV line `line`: its luma, or the U or V of its pair.
uint8_t& UyvyByte(std::vector<uint8_t>& record, int line, int x, char what) {
    const size_t group = static_cast<size_t>(line) * 1440 + static_cast<size_t>(x / 2) * 4;
    switch (what) {
        case 'U':
            return record[group];
        case 'V':
            return record[group + 2];
        default:
            return record[group + (x % 2 == 0 ? 1 : 3)];
    }
}

using TPlaneRow = std::function<const uint8_t*(const TYcbcrPicture&, int)>;
const TPlaneRow kLuma = [](const TYcbcrPicture& p, int r) { return p.Luma(r); };
const TPlaneRow kCb = [](const TYcbcrPicture& p, int r) { return p.Cb(r); };
const TPlaneRow kCr = [](const TYcbcrPicture& p, int r) { return p.Cr(r); };

// Every sample of the plane for which `where` holds is value.
::testing::AssertionResult AllSamples(const TYcbcrPicture& picture, const TPlaneRow& plane,
                                      bool chroma, int value,
                                      const std::function<bool(int, int)>& where = nullptr) {
    const int width = chroma ? picture.ChromaWidth() : picture.Width();
    const int height = chroma ? picture.ChromaHeight() : picture.Height();
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = plane(picture, y);
        for (int x = 0; x < width; ++x) {
            if ((!where || where(x, y)) && row[x] != value) {
                return ::testing::AssertionFailure() << "sample (" << x << ", " << y << ") is "
                                                     << int(row[x]) << " not " << value;
            }
        }
    }
    return ::testing::AssertionSuccess();
}

TEST(IthmbPlanes, FlatRecordsMapToFullRange) {
    // Y' = 1.164 (Y - 16) and C' = 128 + 1.1384 (C - 128), rounded and held to a byte; both
    // formats alike.
    const struct {
        uint8_t Y, U, V;
        int Luma, Cb, Cr;
    } cases[] = {
        {16, 128, 128, 0, 128, 128},  {235, 128, 128, 255, 128, 128},
        {128, 200, 60, 130, 210, 51},  // 130.368; 209.96; 50.59
        {5, 10, 250, 0, 0, 255},       // held: -12.8; -6.3; 266.9
        {250, 250, 10, 255, 255, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.Y) + " " + std::to_string(c.U) + " " + std::to_string(c.V));
        TYcbcrPicture uyvy;
        ASSERT_TRUE(DecodeUyvyPlanes(Uyvy(c.Y, c.U, c.V), uyvy));
        ASSERT_EQ(uyvy.Width(), 640);
        ASSERT_EQ(uyvy.Height(), 480);
        TYcbcrPicture planar;
        ASSERT_TRUE(DecodeYuv420Planes(Yuv420(c.Y, c.U, c.V), planar));
        ASSERT_EQ(planar.Width(), 720);
        ASSERT_EQ(planar.Height(), 480);
        for (const TYcbcrPicture* picture : {&uyvy, &planar}) {
            EXPECT_TRUE(AllSamples(*picture, kLuma, false, c.Luma));
            EXPECT_TRUE(AllSamples(*picture, kCb, true, c.Cb));
            EXPECT_TRUE(AllSamples(*picture, kCr, true, c.Cr));
        }
    }
}

TEST(IthmbPlanes, UyvyFieldsInterlaceAndTheEdgesAreCropped) {
    // First field black with U 100, second white with U 160: luma rows alternate, and each
    // chroma row is the mean of one line of each field, 130 -> 130.28.
    std::vector<uint8_t> record = Uyvy(16, 100, 128);
    const std::vector<uint8_t> second = Uyvy(235, 160, 128);
    std::copy(second.begin() + kUyvyBytes / 2, second.end(), record.begin() + kUyvyBytes / 2);
    TYcbcrPicture picture;
    ASSERT_TRUE(DecodeUyvyPlanes(record, picture));
    EXPECT_TRUE(AllSamples(picture, kLuma, false, 0, [](int, int y) { return y % 2 == 0; }));
    EXPECT_TRUE(AllSamples(picture, kLuma, false, 255, [](int, int y) { return y % 2 == 1; }));
    EXPECT_TRUE(AllSamples(picture, kCb, true, 130));

    // Eight white pixels with U 250 at each end of every line are dropped.
    record = Uyvy(16, 128, 128);
    for (int line = 0; line < 480; ++line) {
        for (int x = 0; x < 8; ++x) {
            UyvyByte(record, line, x, 'Y') = UyvyByte(record, line, 719 - x, 'Y') = 235;
            UyvyByte(record, line, x, 'U') = UyvyByte(record, line, 719 - x, 'U') = 250;
        }
    }
    ASSERT_TRUE(DecodeUyvyPlanes(record, picture));
    EXPECT_TRUE(AllSamples(picture, kLuma, false, 0));
    EXPECT_TRUE(AllSamples(picture, kCb, true, 128));

    // Pixels 8 and 711 are the first and last kept. Output column c reads kept pixels
    // floor(1.1 c) and the next: column 639 lies nine tenths of the way from 702 to 703, which
    // gives 16 + 219 x 230 / 256 -> 229. Chroma column 319 lies as far from pair 350 to 351.
    for (int line = 0; line < 480; ++line) {
        UyvyByte(record, line, 8, 'Y') = UyvyByte(record, line, 711, 'Y') = 235;
        UyvyByte(record, line, 8, 'U') = UyvyByte(record, line, 711, 'U') = 200;
    }
    ASSERT_TRUE(DecodeUyvyPlanes(record, picture));
    const auto column = [](int x) { return [x](int c, int) { return c == x; }; };
    EXPECT_TRUE(AllSamples(picture, kLuma, false, 255, column(0)));
    EXPECT_TRUE(AllSamples(picture, kLuma, false, 0, column(1)));
    EXPECT_TRUE(AllSamples(picture, kLuma, false, 0, column(638)));
    EXPECT_TRUE(AllSamples(picture, kLuma, false, 229, column(639)));
    EXPECT_TRUE(AllSamples(picture, kCb, true, 210, column(0)));
    EXPECT_TRUE(AllSamples(picture, kCb, true, 128, column(1)));
    EXPECT_TRUE(AllSamples(picture, kCb, true, 202, column(319)));  // 128 + 1.1384 x 64.7
}

TEST(IthmbPlanes, ShortRecordsAndSizesTheEncoderCannotTake) {
    TYcbcrPicture picture;
    EXPECT_FALSE(DecodeUyvyPlanes(std::vector<uint8_t>(kUyvyBytes - 1, 128), picture));
    EXPECT_FALSE(
        DecodeYuv420Planes(std::vector<uint8_t>(kYPlane + 2 * kChromaPlane - 1, 128), picture));
    EXPECT_TRUE(EncodePlanarJpeg(picture).empty());
    picture.SetSize(648, 480);  // not whole blocks of 16
    EXPECT_TRUE(EncodePlanarJpeg(picture).empty());
    picture.SetSize(640, 488);
    EXPECT_TRUE(EncodePlanarJpeg(picture).empty());
}

// The pattern picture with fine detail over it: one-pixel stripes across and down, coloured
// bars and thin lines, where a column or line off by one, a field mixed into the other or a
// chroma plane swapped or shifted shows.
TBitmap DetailedPicture() {
    TBitmap picture = PatternPicture(720, 480);
    for (int x = 100; x < 300; x += 2)
        picture.FillRect(x, 150, x + 1, 250, {0, 0, 0});
    for (int y = 150; y < 250; y += 2)
        picture.FillRect(320, y, 520, y + 1, {255, 255, 255});
    const TRgb bars[] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 0}, {255, 0, 255}};
    for (int i = 0; i < 5; ++i) {
        picture.FillRect(560 + 24 * i, 120, 572 + 24 * i, 400, bars[i]);
        picture.FillRect(40, 300 + 30 * i, 500, 303 + 30 * i, bars[i]);
    }
    return picture;
}

struct TChannelError {
    double Psnr[3];
    int Max[3];
};

TChannelError Compare(const TBitmap& a, const TBitmap& b) {
    double squares[3] = {0, 0, 0};
    TChannelError error{{0, 0, 0}, {0, 0, 0}};
    for (int y = 0; y < a.Height(); ++y) {
        for (int x = 0; x < a.Width(); ++x) {
            const TRgb p = a.Pixel(x, y);
            const TRgb q = b.Pixel(x, y);
            const int d[3] = {p.R - q.R, p.G - q.G, p.B - q.B};
            for (int c = 0; c < 3; ++c) {
                squares[c] += d[c] * d[c];
                error.Max[c] = std::max(error.Max[c], std::abs(d[c]));
            }
        }
    }
    const double pixels = static_cast<double>(a.Width()) * a.Height();
    for (int c = 0; c < 3; ++c)
        error.Psnr[c] = 10 * std::log10(255.0 * 255.0 / std::max(squares[c] / pixels, 1e-9));
    return error;
}

TEST(IthmbPlanes, JpegFilesOfThePlanesLookLikeTheOnesThroughRgb) {
    // The old way: the RGB decoder, then the encoder's own colour conversion.
    for (const int32_t format : {1019, 1067}) {
        SCOPED_TRACE(format);
        const TIthmbRecord record = EncodeFormatRecord(format, DetailedPicture(), false);
        TBitmap rgb;
        ASSERT_TRUE(format == 1019 ? DecodeUyvy(record, rgb) : DecodeYuv420(record, rgb));
        TBitmap throughRgb;
        ASSERT_TRUE(DecodeJpeg(EncodeJpeg(rgb), 1, throughRgb));

        TYcbcrPicture planes;
        ASSERT_TRUE(format == 1019 ? DecodeUyvyPlanes(record, planes)
                                   : DecodeYuv420Planes(record, planes));
        TBitmap fromPlanes;
        ASSERT_TRUE(DecodeJpeg(EncodePlanarJpeg(planes), 1, fromPlanes));
        ASSERT_EQ(fromPlanes.Width(), rgb.Width());
        ASSERT_EQ(fromPlanes.Height(), rgb.Height());

        const TChannelError between = Compare(fromPlanes, throughRgb);
        const TChannelError oldLoss = Compare(throughRgb, rgb);
        const TChannelError newLoss = Compare(fromPlanes, rgb);
        for (int c = 0; c < 3; ++c) {
            SCOPED_TRACE("channel " + std::to_string(c));
            // Measured: 40 dB and more, at most 31 apart, in the stripes. A column off by one,
            // the fields swapped, Cb for Cr or luma 2 % dark all come out below 38 dB.
            EXPECT_GE(between.Psnr[c], 38.0);
            EXPECT_LE(between.Max[c], 40);
            // Against the RGB decoder's picture the planes' file loses no more than the old
            // file did (measured: within 0.1 dB).
            EXPECT_GE(newLoss.Psnr[c], oldLoss.Psnr[c] - 0.5);
        }
    }
}

}  // namespace
}  // namespace corvane
