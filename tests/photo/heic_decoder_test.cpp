// HEIC decoding: the small picture or the main one, the bound on the size, the rotation boxes
// applied, and damaged files refused.
#include <gtest/gtest.h>

#include <cstdlib>
#include <span>
#include <string>

#include "fixtures/HeicFiles.h"
#include "fixtures/PictureFiles.h"
#include "fixtures/TempDir.h"
#include "photo/HeicDecoder.h"

namespace corvane {
namespace {

using namespace testing;

std::span<const uint8_t> BytesOf(const std::string& file) {
    return {reinterpret_cast<const uint8_t*>(file.data()), file.size()};
}

// Lossy coding moves colours a little; a wrong picture is far off.
bool Near(TRgb got, TRgb want) {
    return std::abs(got.R - want.R) < 40 && std::abs(got.G - want.G) < 40 &&
           std::abs(got.B - want.B) < 40;
}

TEST(HeicDecoder, ThumbnailOrMainPictureAtABoundedSize) {
    const TBitmap main = QuarteredPicture(64, 48, kRed, kGreen, kBlue, kYellow);
    const std::string withThumbnail =
        HeicFile(main, THeicExtras{.Thumbnail = SolidPicture(64, 48, kBlue)});
    const std::string plain = HeicFile(main);
    ASSERT_FALSE(withThumbnail.empty());
    ASSERT_FALSE(plain.empty());
    struct TCase {
        const char* Name;
        const std::string& File;
        THeicDecodeOptions Options;
        int Width;
        int Height;
        bool Thumbnail;  // the blue small picture, else the quartered main one
    } cases[] = {
        {"thumbnail preferred", withThumbnail, {100, 100, true}, 32, 24, true},
        {"thumbnail reduced to the bound", withThumbnail, {16, 16, true}, 16, 12, true},
        {"main picture asked for", withThumbnail, {0, 0, false}, 64, 48, false},
        {"no thumbnail: the main one, reduced", plain, {32, 32, true}, 32, 24, false},
        {"no thumbnail, full size", plain, {}, 64, 48, false},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TBitmap picture;
        ASSERT_TRUE(DecodeHeic(BytesOf(c.File), c.Options, picture));
        ASSERT_EQ(picture.Width(), c.Width);
        ASSERT_EQ(picture.Height(), c.Height);
        const int w = c.Width;
        const int h = c.Height;
        EXPECT_TRUE(Near(picture.Pixel(w / 4, h / 4), c.Thumbnail ? kBlue : kRed));
        EXPECT_TRUE(Near(picture.Pixel(3 * w / 4, h / 4), c.Thumbnail ? kBlue : kGreen));
        EXPECT_TRUE(Near(picture.Pixel(w / 4, 3 * h / 4), kBlue));
        EXPECT_TRUE(Near(picture.Pixel(3 * w / 4, 3 * h / 4), c.Thumbnail ? kBlue : kYellow));
    }
}

TEST(HeicDecoder, RotationBoxesMakeThePictureUpright) {
    // Stored as the sensor saw it, left half red, right half blue; shown turned a quarter
    // clockwise, the red half is on top. The small picture turns the same way.
    const TBitmap stored = QuarteredPicture(64, 32, kRed, kBlue, kRed, kBlue);
    const std::string file = HeicFile(
        stored, THeicExtras{.Thumbnail = QuarteredPicture(64, 32, kRed, kBlue, kRed, kBlue),
                            .Orientation = 6});
    ASSERT_FALSE(file.empty());
    for (bool thumbnail : {true, false}) {
        SCOPED_TRACE(thumbnail ? "thumbnail" : "main picture");
        TBitmap picture;
        ASSERT_TRUE(DecodeHeic(BytesOf(file), {0, 0, thumbnail}, picture));
        ASSERT_EQ(picture.Width() * 2, picture.Height());
        EXPECT_TRUE(Near(picture.Pixel(picture.Width() / 2, picture.Height() / 4), kRed));
        EXPECT_TRUE(Near(picture.Pixel(picture.Width() / 2, 3 * picture.Height() / 4), kBlue));
    }
}

TEST(HeicDecoder, DamagedFilesAreRefused) {
    const std::string good = HeicFile(QuarteredPicture(64, 48, kRed, kGreen, kBlue, kYellow));
    ASSERT_FALSE(good.empty());
    std::string broken = good;
    // The coded picture sits at the end, in the mdat box.
    for (size_t i = broken.size() - 200; i < broken.size(); ++i)
        broken[i] = static_cast<char>(0xFF);
    const std::string files[] = {good.substr(0, good.size() / 2), good.substr(0, 40),
                                 JpegFile(SolidPicture(32, 32, kRed)), JunkFile(4000),
                                 std::string()};
    for (const std::string& file : files) {
        TBitmap picture(5, 5);
        EXPECT_FALSE(DecodeHeic(BytesOf(file), {100, 100, true}, picture)) << file.size();
        EXPECT_TRUE(picture.Empty());
    }
    // A damaged coded picture either fails or gives a picture of the right size, never more.
    TBitmap picture;
    if (DecodeHeic(BytesOf(broken), {}, picture)) {
        EXPECT_EQ(picture.Width(), 64);
        EXPECT_EQ(picture.Height(), 48);
    }
}

TEST(HeicDecoder, FilesAreReadFromDisk) {
    TTempDir dir;
    const std::string path = WriteFile(
        dir / "IMG_0001.HEIC",
        HeicFile(SolidPicture(48, 48, kGreen), {.Thumbnail = SolidPicture(48, 48, kRed)}));
    TBitmap picture;
    ASSERT_TRUE(DecodeHeicFile(path, {0, 0, false}, picture));
    EXPECT_EQ(picture.Width(), 48);
    EXPECT_TRUE(Near(picture.Pixel(24, 24), kGreen));
    EXPECT_FALSE(DecodeHeicFile(dir / "missing.heic", {}, picture));
}

}  // namespace
}  // namespace corvane
