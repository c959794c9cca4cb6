// The eighth-size decode from DC coefficients alone, against libjpeg's own reduction to an
// eighth of the same files, and the files it leaves to libjpeg.
#include "photo/JpegDcDecoder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "fixtures/PictureFiles.h"
#include "photo/ImageCodecs.h"

namespace corvane {
namespace {

using namespace corvane::testing;

std::span<const uint8_t> Bytes(const std::string& file) {
    return {reinterpret_cast<const uint8_t*>(file.data()), file.size()};
}

using TEncoding = TJpegEncoding;

std::string Encode(const TBitmap& picture, const TEncoding& e) {
    return JpegFileWith(picture, e);
}

// Noise on the left, whose blocks use long codes and large values, a smooth colour ramp on
// the right; an odd size, so that the last units stick out of the picture.
TBitmap Scene() {
    const int width = 203;
    const int height = 117;
    TBitmap scene = NoisePicture(width, height, 7);
    for (int y = 0; y < height; ++y) {
        for (int x = width / 2; x < width; ++x)
            scene.SetPixel(x, y,
                           {static_cast<uint8_t>(2 * x - width), static_cast<uint8_t>(2 * y),
                            static_cast<uint8_t>(255 - y)});
    }
    return scene;
}

bool AlwaysWanted(int, int) {
    return true;
}

// Where the chroma is sampled as finely as the luma, libjpeg's eighth is made of the DC
// coefficients alone too: the pictures must be equal to the pixel. Where the chroma is
// coarser, libjpeg draws it from more than its DC coefficient, so only the luma is the same.
TEST(JpegDcDecoder, GivesLibjpegsEighthOfSequentialFiles) {
    const TEncoding encodings[] = {
        {"4:4:4", 1, 1},
        {"greyscale", 1, 1, true},
        {"4:4:4 at quality 100", 1, 1, false, 100},
        {"4:4:4, restart every 5 units", 1, 1, false, 90, 5},
        {"4:4:4, fitted tables", 1, 1, false, 90, 0, 0, true},
        {"4:2:0", 2, 2},
        {"4:2:2", 2, 1},
        {"4:2:0, restart every row, fitted tables", 2, 2, false, 75, 0, 1, true},
    };
    const TBitmap scene = Scene();
    for (const TEncoding& e : encodings) {
        SCOPED_TRACE(e.Name);
        const std::string file = Encode(scene, e);
        TBitmap expected;
        ASSERT_TRUE(DecodeJpeg(Bytes(file), 8, expected));
        TBitmap decoded;
        ASSERT_TRUE(DecodeJpegDc(Bytes(file), AlwaysWanted, decoded));
        ASSERT_EQ(decoded.Width(), 26);
        ASSERT_EQ(decoded.Height(), 15);
        if (e.LumaH == 1 && e.LumaV == 1) {
            EXPECT_EQ(decoded, expected);
            continue;
        }
        // Compared on the ramp, whose chroma barely changes inside a block; the noise before it
        // on each row is decoded first, so a slip there would show here as well.
        int total = 0;
        int worst = 0;
        const int rampStart = 16;
        for (int y = 0; y < decoded.Height(); ++y) {
            for (int x = rampStart; x < decoded.Width(); ++x) {
                const TRgb a = decoded.Pixel(x, y);
                const TRgb b = expected.Pixel(x, y);
                for (int d : {a.R - b.R, a.G - b.G, a.B - b.B}) {
                    total += std::abs(d);
                    worst = std::max(worst, std::abs(d));
                }
            }
        }
        // A slip in the coded data would throw every later block off by far more.
        EXPECT_LE(total / ((decoded.Width() - rampStart) * decoded.Height() * 3), 4);
        EXPECT_LE(worst, 12);
    }
}

// Whatever this decoder does not take, or cannot finish, it leaves to libjpeg, with nothing
// drawn.
TEST(JpegDcDecoder, LeavesOtherFilesAndDamageToLibjpeg) {
    const TBitmap scene = Scene();
    const std::string plain = Encode(scene, {"4:2:0"});
    std::string restarts = Encode(scene, {"restart every unit", 1, 1, false, 90, 1});
    // The third restart marker numbered as the fourth.
    const size_t third = restarts.find("\xFF\xD2");
    ASSERT_NE(third, std::string::npos);
    std::string misnumbered = restarts;
    misnumbered[third + 1] = '\xD3';
    const struct {
        const char* Name;
        std::string File;
    } files[] = {
        {"progressive", Encode(scene, {"progressive", 2, 2, false, 90, 0, 0, false, true})},
        {"arithmetic-coded",
         Encode(scene, {"arithmetic", 2, 2, false, 90, 0, 0, false, false, true})},
        {"cut inside the coded data", plain.substr(0, plain.size() * 2 / 3)},
        {"restart markers out of order", misnumbered},
        {"restart markers missing", restarts.substr(0, restarts.size() / 2)},
        {"not a JPEG", JunkFile(4000)},
        {"nothing but the start marker", "\xFF\xD8"},
    };
    for (const auto& f : files) {
        SCOPED_TRACE(f.Name);
        TBitmap decoded = SolidPicture(4, 4, kRed);
        EXPECT_FALSE(DecodeJpegDc(Bytes(f.File), AlwaysWanted, decoded));
        EXPECT_TRUE(decoded.Empty());
    }
    // The caller sees the size first and may decline.
    int seenWidth = 0;
    int seenHeight = 0;
    TBitmap decoded;
    EXPECT_FALSE(DecodeJpegDc(
        Bytes(plain),
        [&](int width, int height) {
            seenWidth = width;
            seenHeight = height;
            return false;
        },
        decoded));
    EXPECT_EQ(seenWidth, 203);
    EXPECT_EQ(seenHeight, 117);
    EXPECT_TRUE(decoded.Empty());
}

}  // namespace
}  // namespace corvane
