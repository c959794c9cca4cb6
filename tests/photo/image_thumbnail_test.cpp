#include "photo/ImageThumbnail.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <string>

#include "fixtures/PictureFiles.h"

namespace corvane {
namespace {

using namespace corvane::testing;

constexpr int kJpegTolerance = 24;
constexpr TRgb kGrey{128, 128, 128};
constexpr TRgb kPink{200, 40, 60};

TFitRect Rect(int x, int y, int width, int height) {
    TFitRect rect;
    rect.X = x;
    rect.Y = y;
    rect.Width = width;
    rect.Height = height;
    return rect;
}

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

bool Near(TRgb a, TRgb b, int tolerance) {
    return std::abs(a.R - b.R) <= tolerance && std::abs(a.G - b.G) <= tolerance &&
           std::abs(a.B - b.B) <= tolerance;
}

bool AllWhite(const TBitmap& bitmap) {
    for (int y = 0; y < bitmap.Height(); ++y) {
        for (int x = 0; x < bitmap.Width(); ++x) {
            if (bitmap.Pixel(x, y) != kWhite)
                return false;
        }
    }
    return true;
}

// The preview is white outside rect and near colour inside it (exactly, with tolerance 0).
::testing::AssertionResult ShowsRect(const TBitmap& thumb, TFitRect rect, TRgb colour,
                                     int tolerance) {
    for (int y = 0; y < thumb.Height(); ++y) {
        for (int x = 0; x < thumb.Width(); ++x) {
            const bool inside =
                x >= rect.X && x < rect.X + rect.Width && y >= rect.Y && y < rect.Y + rect.Height;
            const TRgb p = thumb.Pixel(x, y);
            if (inside ? !Near(p, colour, tolerance) : p != kWhite)
                return ::testing::AssertionFailure()
                       << "pixel " << x << "," << y << " is (" << int(p.R) << "," << int(p.G) << ","
                       << int(p.B) << ")" << (inside ? " inside" : " outside");
        }
    }
    return ::testing::AssertionSuccess();
}

TEST(FitPicture, ScalesByTheLongerSideAndCentres) {
    const struct {
        int W, H, ThumbW, ThumbH;
        TFitRect Expected;
    } cases[] = {
        {160, 120, 119, 88, Rect(0, 0, 119, 89)},  // one row past the bottom: -1 div 2 = 0
        {100, 50, 100, 100, Rect(0, 25, 100, 50)},
        {64, 64, 100, 100, Rect(0, 0, 100, 100)},   // square in square fills
        {64, 64, 100, 60, Rect(0, -20, 100, 100)},  // square counts as wide
        {50, 100, 100, 100, Rect(25, 0, 50, 100)},  // tall
        {30, 200, 120, 90, Rect(53, 0, 14, 90)},    // 13.5 rounds to even 14; (120-14)/2
        {3, 4, 100, 10, Rect(46, 0, 8, 10)},        // 7.5 rounds to 8
        {10, 5, 5, 5, Rect(0, 1, 5, 2)},            // 2.5 rounds to 2
        {4, 6, 100, 9, Rect(47, 0, 6, 9)},          // tall exact
        {120, 160, 88, 119, Rect(0, 0, 89, 119)},   // tall, one column past the right
        {0, 10, 100, 100, Rect(0, 0, 0, 0)},
        {10, 10, 0, 100, Rect(0, 0, 0, 0)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FitPicture(c.W, c.H, c.ThumbW, c.ThumbH), c.Expected)
            << c.W << "x" << c.H << " in " << c.ThumbW << "x" << c.ThumbH;
}

TEST(ImageThumbnail, UnknownKindsGiveNoPreview) {
    const TMemoryStream jpeg = StreamOf(JpegFile(SolidPicture(64, 64, kPink)));
    TThumbnail thumbnail(100, 100);
    ASSERT_TRUE(thumbnail.LoadFromStream(jpeg, 1));
    for (int kind : {0, 7, -1, 255}) {
        EXPECT_FALSE(thumbnail.LoadFromStream(jpeg, kind)) << kind;
        EXPECT_EQ(thumbnail.Thumbnail().Width(), 100);
        EXPECT_EQ(thumbnail.Thumbnail().Height(), 100);
        EXPECT_TRUE(AllWhite(thumbnail.Thumbnail())) << kind;
    }
}

// Black and white columns four pixels wide: each 8 x 8 block averages to grey, so a picture
// decoded at 1/8 shows no stripes at all.
TBitmap StripedPicture(int width, int height) {
    TBitmap picture = SolidPicture(width, height, kWhite);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            if (x % 8 < 4)
                picture.SetPixel(x, y, kBlack);
        }
    }
    return picture;
}

// Darkest and lightest green along row y from x0 to x1.
std::pair<int, int> GreenSpan(const TBitmap& t, int y, int x0, int x1) {
    int low = 255;
    int high = 0;
    for (int x = x0; x < x1; ++x) {
        low = std::min<int>(low, t.Pixel(x, y).G);
        high = std::max<int>(high, t.Pixel(x, y).G);
    }
    return {low, high};
}

TEST(ImageThumbnail, JpegWithoutExifIsDecodedReducedToTheCell) {
    // 320 x 240 is fitted to 100 x 75 at y = 12, whatever the reduction.
    TThumbnail thumbnail(100, 100);
    ASSERT_TRUE(thumbnail.LoadFromStream(StreamOf(JpegFile(SolidPicture(320, 240, kPink))), 1));
    EXPECT_TRUE(ShowsRect(thumbnail.Thumbnail(), Rect(0, 12, 100, 75), kPink, 8));
    // The decoder reduces no further than the cell needs: 320 x 240 by 3/8 (120 x 90) and
    // 640 x 480 by 2/8 keep the stripes; 800 x 600 fills the cell at 1/8, where they blur to
    // grey, as they would at 1/8 of any size.
    const struct {
        int Width, Height;
        bool Striped;
    } cases[] = {{320, 240, true}, {640, 480, true}, {800, 600, false}};
    for (const auto& c : cases) {
        ASSERT_TRUE(
            thumbnail.LoadFromStream(StreamOf(JpegFile(StripedPicture(c.Width, c.Height))), 1));
        const auto [low, high] = GreenSpan(thumbnail.Thumbnail(), 50, 10, 90);
        EXPECT_EQ(high - low > 100, c.Striped) << c.Width << ": " << low << " to " << high;
        EXPECT_EQ(thumbnail.Thumbnail().Pixel(50, 5), kWhite) << c.Width;
    }
}

TEST(ImageThumbnail, ExifPictureIsPreferredOverTheMainPicture) {
    const std::string thumb = JpegFile(SolidPicture(160, 120, kBlue));
    const TBitmap main = SolidPicture(320, 240, kRed);
    TThumbnail thumbnail(100, 100);
    for (bool bigEndian : {false, true}) {
        TExifContent exif = ExifThumbnail(thumb);
        exif.BigEndian = bigEndian;
        ASSERT_TRUE(thumbnail.LoadFromStream(StreamOf(JpegFileWithExif(main, exif)), 1));
        EXPECT_TRUE(ShowsRect(thumbnail.Thumbnail(), Rect(0, 12, 100, 75), kBlue, kJpegTolerance))
            << bigEndian;
    }
    // EXIF data without a picture, or with one that does not decode: the main picture, turned
    // as its orientation says (320 x 240 on its side is drawn 75 x 100).
    for (const std::string& embedded : {std::string(), JunkFile(500), thumb.substr(0, 300)}) {
        const std::string file = JpegFileWithExif(main, ExifThumbnail(embedded, 6));
        ASSERT_TRUE(thumbnail.LoadFromStream(StreamOf(file), 1)) << embedded.size();
        EXPECT_TRUE(ShowsRect(thumbnail.Thumbnail(), Rect(12, 0, 75, 100), kRed, kJpegTolerance))
            << embedded.size();
    }
}

// Quarters of a 2:1 picture red, green / blue, yellow, seen after each EXIF orientation: the
// colours of the shown picture's top-left, top-right, bottom-left and bottom-right quarters,
// and whether it stands on its side (1:2).
struct TOrientationCase {
    std::optional<uint16_t> Orientation;
    TRgb Quarters[4];
    bool Tall;
};
const TOrientationCase kOrientations[] = {
    {std::nullopt, {kRed, kGreen, kBlue, kYellow}, false},
    {1, {kRed, kGreen, kBlue, kYellow}, false},
    {2, {kGreen, kRed, kYellow, kBlue}, false},  // mirrored left to right
    {3, {kYellow, kBlue, kGreen, kRed}, false},  // half a turn
    {4, {kBlue, kYellow, kRed, kGreen}, false},  // mirrored top to bottom
    {5, {kRed, kBlue, kGreen, kYellow}, true},   // mirrored along the diagonal
    {6, {kBlue, kRed, kYellow, kGreen}, true},   // a quarter clockwise
    {7, {kYellow, kGreen, kBlue, kRed}, true},   // mirrored along the other diagonal
    {8, {kGreen, kYellow, kRed, kBlue}, true},   // a quarter anticlockwise
    {9, {kRed, kGreen, kBlue, kYellow}, false},  // no such orientation: as stored
};

// In a 100 x 100 preview a wide picture is drawn 100 x 50 at y = 25, a tall one 50 x 100 at
// x = 25; each quarter is checked at its centre, the white margins beside it.
::testing::AssertionResult ShowsQuarters(const TBitmap& t, const TOrientationCase& c) {
    const int across[2] = {c.Tall ? 37 : 25, c.Tall ? 62 : 75};
    const int down[2] = {c.Tall ? 25 : 37, c.Tall ? 75 : 62};
    for (int q = 0; q < 4; ++q) {
        const TRgb p = t.Pixel(across[q % 2], down[q / 2]);
        if (!Near(p, c.Quarters[q], kJpegTolerance))
            return ::testing::AssertionFailure() << "quarter " << q << " is (" << int(p.R) << ","
                                                 << int(p.G) << "," << int(p.B) << ")";
    }
    const TRgb margin = c.Tall ? t.Pixel(10, 50) : t.Pixel(50, 10);
    if (margin != kWhite)
        return ::testing::AssertionFailure() << "no white margin";
    return ::testing::AssertionSuccess();
}

// Every orientation turns the embedded picture of a JPEG or TIFF file, and the main picture of
// a JPEG file without one, in either byte order.
TEST(ImageThumbnail, EveryExifOrientationIsShownUpright) {
    const TBitmap quarters = QuarteredPicture(256, 128, kRed, kGreen, kBlue, kYellow);
    // Large enough to be drawn from its blocks' averages alone.
    const TBitmap largeQuarters = QuarteredPicture(1024, 512, kRed, kGreen, kBlue, kYellow);
    const std::string embedded = JpegFile(QuarteredPicture(64, 32, kRed, kGreen, kBlue, kYellow));
    const TBitmap grey = SolidPicture(96, 64, kGrey);
    TThumbnail thumbnail(100, 100);
    for (const TOrientationCase& c : kOrientations) {
        for (bool bigEndian : {false, true}) {
            TExifContent withPicture = ExifThumbnail(embedded, c.Orientation);
            TExifContent withoutPicture = ExifThumbnail({}, c.Orientation);
            withPicture.BigEndian = withoutPicture.BigEndian = bigEndian;
            const struct {
                const char* Name;
                int Kind;
                std::string File;
            } files[] = {
                {"jpeg, embedded picture", 1, JpegFileWithExif(grey, withPicture)},
                {"jpeg, main picture", 1, JpegFileWithExif(quarters, withoutPicture)},
                {"jpeg, large main picture", 1, JpegFileWithExif(largeQuarters, withoutPicture)},
                {"tiff, embedded picture", 2, TiffFile(grey, withPicture)},
            };
            for (const auto& f : files) {
                const std::string name = std::string(f.Name) + ", orientation " +
                                         std::to_string(c.Orientation.value_or(0)) +
                                         (bigEndian ? ", big-endian" : "");
                ASSERT_TRUE(thumbnail.LoadFromStream(StreamOf(f.File), f.Kind)) << name;
                EXPECT_TRUE(ShowsQuarters(thumbnail.Thumbnail(), c)) << name;
                if (f.Kind != 1)
                    continue;
                // The embedded picture alone, from the file's first bytes, the same way.
                const bool hasPicture = &f == &files[0];
                const auto bytes =
                    std::span(reinterpret_cast<const uint8_t*>(f.File.data()), f.File.size());
                EXPECT_EQ(thumbnail.LoadJpegExifThumbnail(bytes), hasPicture) << name;
                if (hasPicture) {
                    EXPECT_TRUE(ShowsQuarters(thumbnail.Thumbnail(), c)) << name;
                }
            }
        }
    }
}

// An embedded picture larger than the preview is decoded reduced; what is drawn is the same.
TEST(ImageThumbnail, LargeExifPictureIsReducedAndStillTurned) {
    const std::string embedded = JpegFile(QuarteredPicture(640, 320, kRed, kGreen, kBlue, kYellow));
    const std::string file =
        JpegFileWithExif(SolidPicture(64, 64, kGrey), ExifThumbnail(embedded, 6));
    TThumbnail thumbnail(100, 100);
    ASSERT_TRUE(thumbnail.LoadFromStream(StreamOf(file), 1));
    const TBitmap& t = thumbnail.Thumbnail();
    EXPECT_TRUE(Near(t.Pixel(37, 25), kBlue, kJpegTolerance));
    EXPECT_TRUE(Near(t.Pixel(62, 25), kRed, kJpegTolerance));
    EXPECT_TRUE(Near(t.Pixel(37, 75), kYellow, kJpegTolerance));
    EXPECT_TRUE(Near(t.Pixel(62, 75), kGreen, kJpegTolerance));
    EXPECT_EQ(t.Pixel(20, 50), kWhite);
}

// An embedded picture that claims 8000 x 8000 pixels (within what a picture may have) but holds
// 16 x 16: the main picture is shown, and the claim never cost 192 MiB of memory.
TEST(ImageThumbnail, ExifPictureClaimingAHugeSizeCostsLittle) {
    const std::string embedded =
        WithJpegFrameSize(JpegFile(SolidPicture(16, 16, kBlue)), 8000, 8000);
    const std::string file =
        JpegFileWithExif(SolidPicture(320, 240, kRed), ExifThumbnail(embedded));
    const long ceilingKb = std::max(PeakMemoryKb(), CurrentMemoryKb() + 64 * 1024);
    TThumbnail thumbnail(100, 100);
    ASSERT_TRUE(thumbnail.LoadFromStream(StreamOf(file), 1));
    EXPECT_TRUE(ShowsRect(thumbnail.Thumbnail(), Rect(0, 12, 100, 75), kRed, kJpegTolerance));
    EXPECT_LE(PeakMemoryKb(), ceilingKb);
}

// A TIFF preview is its EXIF picture or nothing. The picture here is large enough that its
// directories and thumbnail lie past the first 64 KiB.
TEST(ImageThumbnail, TiffShowsOnlyItsExifPicture) {
    const TBitmap main = SolidPicture(200, 150, kRed);
    const std::string thumb = JpegFile(SolidPicture(160, 120, kBlue));
    const std::string withPicture = TiffFile(main, ExifThumbnail(thumb));
    ASSERT_GT(withPicture.size(), 90000u);
    TThumbnail thumbnail(100, 100);
    ASSERT_TRUE(thumbnail.LoadFromStream(StreamOf(withPicture), 2));
    EXPECT_TRUE(ShowsRect(thumbnail.Thumbnail(), Rect(0, 12, 100, 75), kBlue, kJpegTolerance));

    std::string pastTheEnd = withPicture;
    pastTheEnd.resize(pastTheEnd.size() - 10);  // the thumbnail's length reaches past the file
    const std::string cases[] = {
        TiffFile(main),                                // no IFD1
        TiffFile(main, ExifThumbnail({}, 6)),          // orientation only
        TiffFile(main, ExifThumbnail(JunkFile(400))),  // not a JPEG
        pastTheEnd,
        withPicture.substr(0, 1000),                   // directories cut off
        JpegFileWithExif(main, ExifThumbnail(thumb)),  // a JPEG named .tif
    };
    for (const std::string& file : cases) {
        EXPECT_FALSE(thumbnail.LoadFromStream(StreamOf(file), 2)) << file.size();
        EXPECT_TRUE(AllWhite(thumbnail.Thumbnail())) << file.size();
    }
}

TEST(ImageThumbnail, PngGifAndBmpPreviews) {
    const struct {
        const char* Name;
        int Kind;
        std::string File;
        TFitRect Rect;
        TRgb Colour;
    } cases[] = {
        {"png wide", 3, PngFile(SolidPicture(40, 20, kGreen)), Rect(0, 25, 100, 50), kGreen},
        {"png tall", 3, PngFile(SolidPicture(20, 40, kPink)), Rect(25, 0, 50, 100), kPink},
        {"gif", 4, GifFile(SolidPicture(50, 100, kBlue)), Rect(25, 0, 50, 100), kBlue},
        {"bmp 24", 5, BmpFile(SolidPicture(30, 30, kPink), TBmpFormat::Rgb24), Rect(0, 0, 100, 100),
         kPink},
        // 5-5-5 keeps the top five bits: 200, 40, 60 reads back near 206, 41, 57.
        {"bmp 16", 5, BmpFile(SolidPicture(60, 30, kPink), TBmpFormat::Rgb555),
         Rect(0, 25, 100, 50), kPink},
    };
    TThumbnail thumbnail(100, 100);
    for (const auto& c : cases) {
        ASSERT_TRUE(thumbnail.LoadFromStream(StreamOf(c.File), c.Kind)) << c.Name;
        EXPECT_TRUE(ShowsRect(thumbnail.Thumbnail(), c.Rect, c.Colour, c.Kind == 5 ? 8 : 0))
            << c.Name;
    }
}

TEST(ImageThumbnail, GifShowsItsFirstFrameOnly) {
    TGifOptions options;
    options.SecondFrame = SolidPicture(40, 40, kBlue);
    const std::string gif = GifFile(QuarteredPicture(40, 40, kRed, kRed, kBlue, kBlue), options);
    TThumbnail thumbnail(10, 10);
    ASSERT_TRUE(thumbnail.LoadFromStream(StreamOf(gif), 4));
    EXPECT_EQ(thumbnail.Thumbnail().Pixel(5, 2), kRed);
    EXPECT_EQ(thumbnail.Thumbnail().Pixel(5, 7), kBlue);
}

// Damaged files of every kind: no preview, an all-white picture, also right after a file that
// did give one (the object is reused for every file of the camera roll).
TEST(ImageThumbnail, DamagedFilesGiveAWhitePreview) {
    const TBitmap picture = QuarteredPicture(64, 32, kRed, kGreen, kBlue, kYellow);
    const std::string jpeg = JpegFile(picture);
    const std::string png = PngFile(picture);
    const std::string gif = GifFile(picture);
    const std::string bmp = BmpFile(picture);
    const std::string good = JpegFile(SolidPicture(64, 64, kPink));
    const std::string noise = JpegFile(NoisePicture(256, 256));
    const struct {
        const char* Name;
        int Kind;
        std::string File;
    } cases[] = {
        {"jpeg empty", 1, ""},
        {"jpeg half", 1, jpeg.substr(0, jpeg.size() / 2)},
        {"jpeg cut in its picture data", 1, noise.substr(0, noise.size() * 3 / 4)},
        {"jpeg claims 65535 x 65535", 1, WithJpegFrameSize(jpeg, 65535, 65535)},
        {"jpeg claims 65500 x 65500", 1, WithJpegFrameSize(jpeg, 65500, 65500)},
        {"jpeg junk", 1, JunkFile(2000)},
        {"jpeg that is a movie", 1, MovFile(5000)},
        {"jpeg with a cut exif segment", 1,
         JpegFileWithExif(picture, ExifThumbnail(jpeg)).substr(0, 200)},
        {"tiff empty", 2, ""},
        {"tiff junk", 2, JunkFile(2000, 3)},
        {"png half", 3, png.substr(0, png.size() / 2)},
        {"png junk", 3, JunkFile(2000, 4)},
        {"gif half", 4, gif.substr(0, gif.size() / 2)},
        {"gif junk", 4, JunkFile(2000, 5)},
        {"bmp half", 5, bmp.substr(0, bmp.size() / 2)},
        {"bmp junk", 5, JunkFile(2000, 6)},
        {"bmp empty", 5, ""},
    };
    TThumbnail thumbnail(100, 100);
    for (const auto& c : cases) {
        ASSERT_TRUE(thumbnail.LoadFromStream(StreamOf(good), 1));
        EXPECT_FALSE(thumbnail.LoadFromStream(StreamOf(c.File), c.Kind)) << c.Name;
        EXPECT_TRUE(AllWhite(thumbnail.Thumbnail())) << c.Name;
    }
}

TEST(ImageThumbnail, PreviewOfNoSizeDrawsNothing) {
    TThumbnail thumbnail(0, 0);
    EXPECT_TRUE(thumbnail.LoadFromStream(StreamOf(PngFile(SolidPicture(4, 4, kRed))), 3));
    EXPECT_TRUE(thumbnail.Thumbnail().Empty());
}

}  // namespace
}  // namespace corvane
