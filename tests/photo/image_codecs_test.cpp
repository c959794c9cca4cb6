#include "photo/ImageCodecs.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>

#include "fixtures/PictureFiles.h"

namespace corvane {
namespace {

using namespace corvane::testing;

std::span<const uint8_t> Bytes(const std::string& file) {
    return {reinterpret_cast<const uint8_t*>(file.data()), file.size()};
}

::testing::AssertionResult Near(TRgb actual, TRgb expected, int tolerance) {
    if (std::abs(actual.R - expected.R) <= tolerance &&
        std::abs(actual.G - expected.G) <= tolerance &&
        std::abs(actual.B - expected.B) <= tolerance)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "(" << int(actual.R) << "," << int(actual.G) << ","
                                         << int(actual.B) << ") is not near (" << int(expected.R)
                                         << "," << int(expected.G) << "," << int(expected.B) << ")";
}

constexpr int kJpegTolerance = 24;  // quality 75, away from the edges of colour areas

long PeakMemoryKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

long CurrentMemoryKb() {
    long size = 0;
    long resident = 0;
    std::ifstream("/proc/self/statm") >> size >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

TEST(ImageCodecs, JpegRoundTripKeepsSizeAndColours) {
    const TBitmap source = QuarteredPicture(64, 32, kRed, kGreen, kBlue, kYellow);
    const std::vector<uint8_t> jpeg = EncodeJpeg(source);
    ASSERT_GT(jpeg.size(), 4u);
    EXPECT_EQ(jpeg[0], 0xFF);
    EXPECT_EQ(jpeg[1], 0xD8);
    TBitmap decoded;
    ASSERT_TRUE(DecodeJpeg(jpeg, 1, decoded));
    ASSERT_EQ(decoded.Width(), 64);
    ASSERT_EQ(decoded.Height(), 32);
    EXPECT_TRUE(Near(decoded.Pixel(8, 4), kRed, kJpegTolerance));
    EXPECT_TRUE(Near(decoded.Pixel(56, 4), kGreen, kJpegTolerance));
    EXPECT_TRUE(Near(decoded.Pixel(8, 28), kBlue, kJpegTolerance));
    EXPECT_TRUE(Near(decoded.Pixel(56, 28), kYellow, kJpegTolerance));
}

TEST(ImageCodecs, JpegScaledDecodeRoundsSizesUp) {
    const std::string jpeg = JpegFile(SolidPicture(100, 75, {200, 40, 60}));
    const struct {
        int Scale, Width, Height;
    } cases[] = {{1, 100, 75}, {2, 50, 38}, {4, 25, 19}, {8, 13, 10}};
    for (const auto& c : cases) {
        TBitmap decoded;
        ASSERT_TRUE(DecodeJpeg(Bytes(jpeg), c.Scale, decoded)) << c.Scale;
        EXPECT_EQ(decoded.Width(), c.Width) << c.Scale;
        EXPECT_EQ(decoded.Height(), c.Height) << c.Scale;
        EXPECT_TRUE(
            Near(decoded.Pixel(decoded.Width() / 2, decoded.Height() / 2), {200, 40, 60}, 8));
    }
    TBitmap decoded;
    EXPECT_FALSE(DecodeJpeg(Bytes(jpeg), 3, decoded));
    EXPECT_FALSE(DecodeJpeg(Bytes(jpeg), 16, decoded));

    // The reduction can be chosen from the full size.
    int seenWidth = 0;
    int seenHeight = 0;
    auto quarter = [&](int width, int height) {
        seenWidth = width;
        seenHeight = height;
        return 4;
    };
    ASSERT_TRUE(DecodeJpeg(Bytes(jpeg), quarter, decoded));
    EXPECT_EQ(seenWidth, 100);
    EXPECT_EQ(seenHeight, 75);
    EXPECT_EQ(decoded.Width(), 25);
    EXPECT_FALSE(DecodeJpeg(
        Bytes(jpeg), [](int, int) { return 3; }, decoded));
    EXPECT_TRUE(decoded.Empty());
}

// Progressive files decode; one with hundreds of scans, each a walk over the whole picture,
// is refused (the cost of a file built to keep us busy).
TEST(ImageCodecs, ProgressiveJpegWithinTheScanLimit) {
    const TBitmap source = QuarteredPicture(64, 32, kRed, kGreen, kBlue, kYellow);
    const std::string progressive = ProgressiveJpegFile(source);
    const std::string manyScans = ProgressiveJpegFile(source, true);
    for (int scale : {1, 8}) {
        TBitmap decoded;
        ASSERT_TRUE(DecodeJpeg(Bytes(progressive), scale, decoded)) << scale;
        EXPECT_TRUE(Near(decoded.Pixel(0, 0), kRed, kJpegTolerance));
        EXPECT_TRUE(Near(decoded.Pixel(decoded.Width() - 1, decoded.Height() - 1), kYellow,
                         kJpegTolerance));
        EXPECT_FALSE(DecodeJpeg(Bytes(manyScans), scale, decoded)) << scale;
        EXPECT_TRUE(decoded.Empty());
    }
}

TEST(ImageCodecs, PngRoundTripIsExact) {
    TBitmap source = QuarteredPicture(13, 7, kRed, kGreen, kBlue, kYellow);
    source.SetPixel(3, 5, {1, 2, 3});
    // Noise: every difference between neighbours, wrapping below zero too.
    for (const TBitmap& picture : {source, NoisePicture(64, 33), SolidPicture(1, 1, kBlue)}) {
        TBitmap decoded;
        ASSERT_TRUE(DecodePng(EncodePng(picture), decoded)) << picture.Width();
        EXPECT_EQ(decoded, picture) << picture.Width();
    }
}

TEST(ImageCodecs, PngAlphaIsComposedOntoWhite) {
    // Two pixels: fully transparent red, opaque blue.
    const std::string png = PngFileRgba(2, 1, {255, 0, 0, 0, 0, 0, 255, 255});
    TBitmap decoded;
    ASSERT_TRUE(DecodePng(Bytes(png), decoded));
    EXPECT_EQ(decoded.Pixel(0, 0), kWhite);
    EXPECT_EQ(decoded.Pixel(1, 0), kBlue);
}

TEST(ImageCodecs, GifFirstFrameWithPaletteAndInterlace) {
    const TBitmap source = QuarteredPicture(20, 19, kRed, kGreen, kBlue, kYellow);
    for (bool interlaced : {false, true}) {
        TGifOptions options;
        options.Interlaced = interlaced;
        options.SecondFrame = SolidPicture(20, 19, kRed);
        TBitmap decoded;
        ASSERT_TRUE(DecodeGif(Bytes(GifFile(source, options)), decoded)) << interlaced;
        EXPECT_EQ(decoded, source) << interlaced;
    }
}

TEST(ImageCodecs, GifTransparencyAndScreenAreWhite) {
    TBitmap frame = SolidPicture(4, 3, kBlue);
    frame.SetPixel(1, 1, kBlack);
    TGifOptions options;
    options.Transparent = kBlack;
    options.ScreenWidth = 8;
    options.ScreenHeight = 6;
    options.Left = 2;
    options.Top = 1;
    TBitmap decoded;
    ASSERT_TRUE(DecodeGif(Bytes(GifFile(frame, options)), decoded));
    ASSERT_EQ(decoded.Width(), 8);
    ASSERT_EQ(decoded.Height(), 6);
    for (int y = 0; y < 6; ++y) {
        for (int x = 0; x < 8; ++x) {
            const bool inFrame = x >= 2 && x < 6 && y >= 1 && y < 4 && !(x == 3 && y == 2);
            EXPECT_EQ(decoded.Pixel(x, y), inFrame ? kBlue : kWhite) << x << "," << y;
        }
    }
}

// Each decoder over what a camera roll can hold instead of its picture: nothing, another
// format, a cut-off file, junk. All must fail cleanly with an empty picture.
TEST(ImageCodecs, DamagedFilesFail) {
    const TBitmap picture = QuarteredPicture(64, 32, kRed, kGreen, kBlue, kYellow);
    const std::string jpeg = JpegFile(picture);
    const std::string png = PngFile(picture);
    const std::string gif = GifFile(picture);
    const std::string noise = JpegFile(NoisePicture(64, 64));
    using TDecode = bool (*)(std::span<const uint8_t>, TBitmap&);
    const TDecode decodeJpeg = [](std::span<const uint8_t> b, TBitmap& p) {
        return DecodeJpeg(b, 1, p);
    };
    const struct {
        const char* Name;
        TDecode Decode;
        std::string File;
    } cases[] = {
        {"jpeg empty", decodeJpeg, ""},
        {"jpeg half", decodeJpeg, jpeg.substr(0, jpeg.size() / 2)},
        {"jpeg cut in its picture data", decodeJpeg, noise.substr(0, noise.size() * 3 / 4)},
        {"jpeg without its last bytes", decodeJpeg, noise.substr(0, noise.size() - 40)},
        {"jpeg no entropy data", decodeJpeg, jpeg.substr(0, jpeg.find("\xFF\xDA") + 2)},
        {"jpeg is a png", decodeJpeg, png},
        {"jpeg junk", decodeJpeg, JunkFile(3000)},
        {"png empty", DecodePng, ""},
        {"png half", DecodePng, png.substr(0, png.size() / 2)},
        {"png is a gif", DecodePng, gif},
        {"png junk", DecodePng, JunkFile(3000)},
        {"gif empty", DecodeGif, ""},
        {"gif header only", DecodeGif, gif.substr(0, 13)},
        {"gif half", DecodeGif, gif.substr(0, gif.size() / 2)},
        {"gif is a jpeg", DecodeGif, jpeg},
        {"gif junk", DecodeGif, JunkFile(3000)},
    };
    for (const auto& c : cases) {
        TBitmap decoded(5, 5);
        EXPECT_FALSE(c.Decode(Bytes(c.File), decoded)) << c.Name;
        EXPECT_TRUE(decoded.Empty()) << c.Name;
    }
}

// A header can claim any size; the decoders refuse before they allocate for it. The library
// itself refuses sides past 65500, but 65500 x 65500 scaled by 1/8 is still 8188 x 8188
// pixels, 192 MiB, and the library would walk all of the picture. The peak memory of the
// process must not grow by anything near that.
TEST(ImageCodecs, HugeClaimedSizesAreRefusedWithoutAllocating) {
    const long ceilingKb = std::max(PeakMemoryKb(), CurrentMemoryKb() + 64 * 1024);
    const std::string small = JpegFile(SolidPicture(16, 16, kRed));
    std::string gif = GifFile(SolidPicture(4, 4, kRed));
    gif.replace(6, 4, "\xFF\xFF\xFF\xFF");  // logical screen 65535 x 65535
    const auto start = std::chrono::steady_clock::now();
    TBitmap decoded;
    for (uint16_t side : {65500, 65535}) {
        const std::string jpeg = WithJpegFrameSize(small, side, side);
        for (int scale : {1, 8})
            EXPECT_FALSE(DecodeJpeg(Bytes(jpeg), scale, decoded)) << side << " " << scale;
    }
    EXPECT_FALSE(DecodeGif(Bytes(gif), decoded));
    EXPECT_TRUE(decoded.Empty());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_LE(PeakMemoryKb(), ceilingKb);
}

TEST(ImageCodecs, EmptyPicturesDoNotEncode) {
    EXPECT_TRUE(EncodeJpeg(TBitmap()).empty());
    EXPECT_TRUE(EncodePng(TBitmap()).empty());
}

}  // namespace
}  // namespace corvane
