// Format geometry by id and by file name, the preview cell, and the 16-bit bitmap header through
// which records load on both kinds of device.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <memory>
#include <vector>

#include "device/DeviceFolder.h"
#include "device/SimulatedDevice.h"
#include "device/iPodDev.h"
#include "fixtures/IthmbBuilder.h"
#include "fixtures/TempDir.h"
#include "photo/IthmbDecoders.h"
#include "photo/iPodPhoto.h"

namespace corvane {
namespace {

using namespace testing;

TIthmbFormat Format(int32_t id, int32_t width, int32_t height, int32_t slotSize = 0,
                    int32_t fileCount = 0) {
    TIthmbFormat format;
    format.Id = id;
    format.Width = width;
    format.Height = height;
    format.SlotSize = slotSize;
    format.FileCount = fileCount;
    return format;
}

TIthmbFormat Named(const std::string& fileName, TIthmbFormat format) {
    format.ByName = true;
    format.FileName = fileName;
    return format;
}

void ExpectFormat(const TIthmbFormat& actual, const TIthmbFormat& expected) {
    EXPECT_EQ(actual.Id, expected.Id);
    EXPECT_EQ(actual.Width, expected.Width);
    EXPECT_EQ(actual.Height, expected.Height);
    EXPECT_EQ(actual.SlotSize, expected.SlotSize);
    EXPECT_EQ(actual.FileCount, expected.FileCount);
}

// A disk-mode session and a mobile one, each with a photo library on it.
class IthmbHeader : public ::testing::Test {
protected:
    IthmbHeader() {
        FDisk = std::make_unique<TIpodDevice>(nullptr, OfflineSessionOptions());
        TSimulatedDeviceOptions simulated;
        simulated.Root = FRoot.Path();
        TSimulatedDevice device = MakeSimulatedDevice(simulated);
        TDeviceSessionOptions options;
        options.LoadLibrary = [&device] { return std::move(device.Library); };
        options.VolumeRule = nullptr;
        options.WatchMounts = false;
        FMobile = std::make_unique<TIpodDevice>(nullptr, options);
        device.Control->WaitIdle();
        FControl = device.Control;
    }

    TIpodPhotoDb& Library(bool mobile) {
        auto& slot = mobile ? FMobileDb : FDiskDb;
        if (!slot)
            slot = std::make_unique<TIpodPhotoDb>(mobile ? *FMobile : *FDisk, true);
        return *slot;
    }

    // Header then record, as the preview loader and the exporter put them together.
    static std::vector<uint8_t> File(const TIpodPhotoDb& db, const std::vector<uint8_t>& record) {
        std::vector<uint8_t> file(db.BmpHeader.begin(), db.BmpHeader.end());
        file.insert(file.end(), record.begin(), record.end());
        return file;
    }

    TTempDir FRoot;
    std::unique_ptr<TIpodDevice> FDisk;
    std::unique_ptr<TIpodDevice> FMobile;
    std::shared_ptr<TSimulatedDeviceControl> FControl;
    std::unique_ptr<TIpodPhotoDb> FDiskDb;
    std::unique_ptr<TIpodPhotoDb> FMobileDb;
};

TEST(IthmbFormat, IdTableSetsSizeAndLeavesTheRest) {
    struct TCase {
        int32_t Id, Width, Height;
    };
    const TCase cases[] = {
        {1019, 720, 480}, {1023, 176, 132}, {1067, 720, 480},  {1009, 42, 30},
        {3004, 56, 73},   {3006, 55, 56},   {3105, 1280, 320}, {4031, 120, 120},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Id);
        TIthmbFormat format = Format(c.Id, 1, 2, 777, 3);
        TIpodPhotoDb::SetFormatGeometry(format);
        ExpectFormat(format, Format(c.Id, c.Width, c.Height, 777, 3));
    }
    // An id the table does not know keeps the database's sizes.
    TIthmbFormat unknown = Format(1234, 90, 60, 10800, 2);
    TIpodPhotoDb::SetFormatGeometry(unknown);
    ExpectFormat(unknown, Format(1234, 90, 60, 10800, 2));
}

TEST(IthmbFormat, ByNameFormatsIgnoreLetterCaseAndTheIdTable) {
    struct TCase {
        const char* Name;
        TIthmbFormat Expected;
    };
    // Each starts as id 1019 (in the id table), 1 x 2 pixels, slot 777, 5 files.
    const TCase cases[] = {
        {"4031.ithmb", Format(4031, 120, 120, 28828, 0)},
        {"120x120.ithmb", Format(4031, 120, 120, 28828, 0)},
        {"79x79.ithmb", Format(3011, 80, 79, 12668, 0)},
        {"79X79.ITHMB", Format(3011, 80, 79, 12668, 0)},
        {"64x64.ithmb", Format(3309, 64, 64, 8220, 0)},
        {"3309.Ithmb", Format(3309, 64, 64, 8220, 0)},
        {"", Format(3011, 0, 0, 0, 5)},
        {"1019.ithmb", Format(1019, 1, 2, 777, 5)},
        {"64x64.ithmb.bak", Format(1019, 1, 2, 777, 5)},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TIthmbFormat format = Named(c.Name, Format(1019, 1, 2, 777, 5));
        TIpodPhotoDb::SetFormatGeometry(format);
        ExpectFormat(format, c.Expected);
        EXPECT_TRUE(format.ByName);
        EXPECT_EQ(format.FileName, c.Name);
    }
}

TEST_F(IthmbHeader, PreviewCellByFormat) {
    struct TCase {
        TIthmbFormat Thumb;
        int Width, Height;
    };
    const TCase cases[] = {
        {Format(1015, 130, 88), 119, 88},
        {Format(3004, 56, 73), 56, 56},  // the picture is taller than its cell
        {Format(3011, 80, 79), 75, 75},
        {Format(3113, 112, 112), 111, 111},
        {Format(4031, 120, 120), 120, 120},
        {Format(1036, 50, 41), 50, 41},
        {Format(1009, 42, 30), 42, 30},   // not in the cell table: its own size
        {Format(2222, 90, 0), 90, 0},     // a height of 0 stays for the camera roll to replace
        {Format(2222, 0, 50), 64, 64},    // no width: the default cell
        {Format(2222, -90, 60), 64, 64},  // damaged database
        {Format(2222, 90, -60), 64, 64},
        {Format(2222, 100000, 100000), 64, 64},
    };
    TIpodPhotoDb& db = Library(false);
    for (const TCase& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << c.Thumb.Id << " " << c.Thumb.Width << "x" << c.Thumb.Height);
        db.ThumbFormat = c.Thumb;
        db.SetThumbSize();
        EXPECT_EQ(db.Photos.ThumbWidth, c.Width);
        EXPECT_EQ(db.Photos.ThumbHeight, c.Height);
    }
}

TEST_F(IthmbHeader, ByNamePreviewHeaderBytesOnAMobileDevice) {
    ASSERT_TRUE(FMobile->IsIos());
    TIpodPhotoDb& db = Library(true);
    db.ThumbFormat = Named("64x64.ithmb", {});
    TIpodPhotoDb::SetFormatGeometry(db.ThumbFormat);
    db.BuildBmpHeader(true);
    const std::array<uint8_t, 66> expected = {
        'B',  'M',                           // 0: signature
        0x42, 0x20, 0x00, 0x00,              // 2: file size 66 + 8192 = 8258
        0x00, 0x00, 0x00, 0x00,              // 6: reserved
        0x42, 0x00, 0x00, 0x00,              // 10: pixels at 66
        0x28, 0x00, 0x00, 0x00,              // 14: information header of 40 bytes
        0x40, 0x00, 0x00, 0x00,              // 18: width 64
        0xC0, 0xFF, 0xFF, 0xFF,              // 22: height -64, top row first
        0x01, 0x00,                          // 26: planes
        0x10, 0x00,                          // 28: 16 bits per pixel
        0x03, 0x00, 0x00, 0x00,              // 30: bit fields
        0x00, 0x20, 0x00, 0x00,              // 34: 8192 pixel bytes (8220 less the 28-byte trailer)
        0,    0,    0,    0,    0, 0, 0, 0,  // 38: resolution
        0,    0,    0,    0,    0, 0, 0, 0,  // 46: palette counts
        0x00, 0x7C, 0x00, 0x00,              // 54: red 0x7C00
        0xE0, 0x03, 0x00, 0x00,              // 58: green 0x03E0
        0x1F, 0x00, 0x00, 0x00,              // 62: blue 0x001F
    };
    EXPECT_EQ(db.BmpHeader, expected);

    // The same format as the full-size one keeps its whole slot as the pixel size.
    db.FullFormat = db.ThumbFormat;
    db.BuildBmpHeader(false);
    EXPECT_EQ(db.BmpHeader[34], 0x1C);  // 8220
    EXPECT_EQ(db.BmpHeader[35], 0x20);
}

TEST_F(IthmbHeader, MasksFollowHowTheDeviceIsReached) {
    // Four pixels: 0x7FFF, 0xFFFF, 0xF800, 0x7C00.
    const std::vector<uint8_t> record = {0xFF, 0x7F, 0xFF, 0xFF, 0x00, 0xF8, 0x00, 0x7C};
    struct TCase {
        bool Mobile;
        std::vector<TRgb> Expected;
    };
    const TCase cases[] = {
        // 5-5-5, top bit ignored
        {true, {kWhite, kWhite, {247, 0, 0}, {255, 0, 0}}},
        // 5-6-5
        {false, {{123, 255, 255}, kWhite, {255, 0, 0}, {123, 130, 0}}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Mobile ? "mobile" : "disk mode");
        TIpodPhotoDb& db = Library(c.Mobile);
        db.FullFormat = Format(2222, 4, 1, 8);
        db.BuildBmpHeader(false);
        TBitmap picture;
        ASSERT_TRUE(LoadRgbRecord(File(db, record), picture));
        ASSERT_EQ(picture.Width(), 4);
        ASSERT_EQ(picture.Height(), 1);
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(picture.Pixel(x, 0), c.Expected[x]) << x;
    }
}

TEST_F(IthmbHeader, BuiltRecordsLoadBackThroughTheHeader) {
    // 3006 is 55 pixels wide: rows are padded to 112 bytes. 3011 is by name on mobile devices.
    struct TCase {
        int32_t Id;
        bool Mobile;
        bool ByName;
    };
    const TCase cases[] = {
        {1015, false, false}, {3006, false, false}, {1009, true, false}, {3011, true, true}};
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Id);
        TIpodPhotoDb& db = Library(c.Mobile);
        TIthmbFormat format = c.ByName ? Named("79x79.ithmb", {}) : Format(c.Id, 0, 0);
        TIpodPhotoDb::SetFormatGeometry(format);
        const TBitmap picture = PatternPicture(format.Width, format.Height);
        const TIthmbRecord record = c.ByName ? EncodeByNameRecord(picture, 0xA5)
                                             : EncodeFormatRecord(c.Id, picture, c.Mobile);
        if (!c.ByName)
            format.SlotSize = static_cast<int32_t>(record.size());
        EXPECT_EQ(record.size(), static_cast<size_t>(format.SlotSize));
        db.ThumbFormat = format;
        db.BuildBmpHeader(true);
        TBitmap loaded;
        ASSERT_TRUE(LoadRgbRecord(File(db, record), loaded));
        ASSERT_EQ(loaded.Width(), picture.Width());
        ASSERT_EQ(loaded.Height(), picture.Height());
        // Solid blocks survive exactly; gradients to within one 5-bit step.
        EXPECT_EQ(loaded.Pixel(0, 0), kWhite);
        const int block = std::max(1, std::min(picture.Width(), picture.Height()) / 8);
        EXPECT_EQ(loaded.Pixel(block * 2, 0), (TRgb{255, 0, 0}));
        int worst = 0;
        for (int y = 0; y < picture.Height(); ++y) {
            for (int x = 0; x < picture.Width(); ++x) {
                const TRgb a = picture.Pixel(x, y);
                const TRgb b = loaded.Pixel(x, y);
                worst = std::max(
                    {worst, std::abs(a.R - b.R), std::abs(a.G - b.G), std::abs(a.B - b.B)});
            }
        }
        EXPECT_LE(worst, 4);
    }
}

TEST_F(IthmbHeader, DamagedSizesMakeAnHonestHeaderThatRefusesShortRecords) {
    TIpodPhotoDb& db = Library(false);
    struct TCase {
        TIthmbFormat Format;
        bool ForThumbnail;
    };
    const TCase cases[] = {
        {Format(2222, 64, 64, -5), false},
        {Named("odd.ithmb", Format(2222, 64, 64, 10)), true},  // less than the trailer
        {Format(2222, -64, 64, 8192), false},
        {Format(2222, 64, INT32_MIN, 8192), false},
        {Format(2222, INT32_MAX, INT32_MAX, INT32_MAX), false},
    };
    const std::vector<uint8_t> record(64, 0xFF);
    for (const TCase& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << c.Format.Width << "x" << c.Format.Height << " slot " << c.Format.SlotSize);
        (c.ForThumbnail ? db.ThumbFormat : db.FullFormat) = c.Format;
        db.BuildBmpHeader(c.ForThumbnail);
        const TByteReader header(db.BmpHeader.data(), db.BmpHeader.size());
        const uint32_t pixelBytes = *header.ReadU32(34);
        EXPECT_EQ(*header.ReadU32(2), 66 + pixelBytes);
        EXPECT_GE(*header.ReadI32(18), 0);
        EXPECT_LE(*header.ReadI32(22), 0);
        TBitmap picture(2, 2);
        EXPECT_FALSE(LoadRgbRecord(File(db, record), picture));
        EXPECT_TRUE(picture.Empty());
    }
}

}  // namespace
}  // namespace corvane
