// Exports of an iOS 14+ library from a mobile device: album, flat and date folders, edited
// photos and Live Photo clips, originals only in iCloud, files the camera roll shares with the
// library, the device's times on every copy, and HEIC pictures written as JPEG.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <libexif/exif-data.h>

#include <filesystem>
#include <set>

#include "device/iPodDev.h"
#include "fixtures/DeviceSessions.h"
#include "fixtures/HeicExportFiles.h"
#include "fixtures/ModernPhotoLibrary.h"
#include "fixtures/TempDir.h"
#include "photo/HeicToJpeg.h"
#include "photo/ImageCodecs.h"
#include "photo/iPodPhoto.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using namespace corvane::testing;

// 2019-03-04 12:26:40 UTC, the time every device file carries.
constexpr int64_t kDeviceTime = 1551702400;

class ModernExportTest : public ::testing::Test {
protected:
    // The library of era on the simulated device, exported into the folder sub of FDest.
    void Open(TPhotosEra era = TPhotosEra::Ios18, const std::string& sub = "out") {
        FOut = FDest / sub;
        WriteModernLibrary(FRoot.Path());
        ModernLibrary(era).Write(FRoot / "PhotoData/Photos.sqlite");
        for (const auto& entry : fs::recursive_directory_iterator(FRoot.Path())) {
            if (entry.is_regular_file())
                SetTime(entry.path());
        }
        FPhotos.reset();
        FDevice = MobileDevice(FRoot.Path());
        FPhotos = std::make_unique<TIpodPhotoDb>(*FDevice, true);
        ASSERT_TRUE(FPhotos->Load());
        std::string folder = FOut;
        ASSERT_TRUE(FPhotos->PrepareDestination(folder)) << folder;
    }
    static void SetTime(const fs::path& path) {
        const auto time = std::chrono::file_clock::from_sys(
            std::chrono::sys_seconds(std::chrono::seconds(kDeviceTime)));
        fs::last_write_time(path, time);
    }
    // Every file written, relative to the destination.
    std::set<std::string> Written() const {
        std::set<std::string> files;
        for (const auto& entry : fs::recursive_directory_iterator(FOut)) {
            if (entry.is_regular_file())
                files.insert(fs::relative(entry.path(), FOut).generic_string());
        }
        return files;
    }
    int64_t TimeOf(const std::string& relative) const {
        const auto time = fs::last_write_time(FOut + "/" + relative);
        return std::chrono::duration_cast<std::chrono::seconds>(
                   std::chrono::file_clock::to_sys(time).time_since_epoch())
            .count();
    }
    void TickOnly(std::initializer_list<uint32_t> ids) {
        for (int i = 0; i < FPhotos->Photos.Count(); ++i) {
            const uint32_t id = FPhotos->Photos.Items(i).ImageId;
            if (std::find(ids.begin(), ids.end(), id) == ids.end())
                FPhotos->Photos.Uncheck(i);
        }
    }

    TTempDir FRoot;
    TTempDir FDest;
    std::string FOut;
    std::unique_ptr<TIpodDevice> FDevice;
    std::unique_ptr<TIpodPhotoDb> FPhotos;
};

TEST_F(ModernExportTest, AlbumFoldersEditsClipsAndTheCameraRollCopyEachFileOnceWithDeviceTimes) {
    Open();
    for (int i = 0; i < FPhotos->CameraPhotos.Count(); ++i)
        FPhotos->CameraPhotos.Check(i);
    EXPECT_EQ(FPhotos->Export(), 7);
    EXPECT_EQ(FPhotos->ExportCameraRoll(), 3);
    EXPECT_EQ(
        Written(),
        (std::set<std::string>{
            "Trip/IMG_0001.HEIC", "Trip/IMG_0002.HEIC", "Trip/IMG_0002.mov", "IMG_0003.MOV",
            "IMG_0003 (edited).mov", "Hidden/IMG_0004.JPG", "Trip/IMG_0008.JPG",
            "Trip/IMG_0008 (edited).jpg", "Shared/IMG_0009.JPG", "IMG_0010.PNG",
            // The camera roll adds only what the library did not copy.
            "Camera_Roll/IMG_0005.JPG", "Camera_Roll/IMG_0006.JPG", "Camera_Roll/IMG_0011.JPG"}));
    for (const std::string& file : Written())
        EXPECT_EQ(TimeOf(file), kDeviceTime) << file;
    EXPECT_EQ(FPhotos->ExportFailures, 0);
    EXPECT_EQ(FPhotos->CameraRollFailures, 0);
    EXPECT_THAT(FPhotos->Log.Text(),
                ::testing::HasSubstr("2 photos are only in iCloud and were not copied"));
}

TEST_F(ModernExportTest, EditedChoiceLiveClipsAndTheDateFolders) {
    struct TCase {
        const char* Name;
        TEditedExport Edited;
        bool LiveVideo;
        bool ByDate;
        std::set<std::string> Files;
    };
    const std::string month = "2017/2017-10/";
    const TCase cases[] = {
        {"as edited, no clips, flat",
         TEditedExport::AsEdited,
         false,
         false,
         {"IMG_0001.HEIC", "IMG_0002.HEIC", "IMG_0003 (edited).mov", "IMG_0004.JPG",
          "IMG_0008 (edited).jpg", "IMG_0009.JPG", "IMG_0010.PNG"}},
        {"originals with clips, flat",
         TEditedExport::Originals,
         true,
         false,
         {"IMG_0001.HEIC", "IMG_0002.HEIC", "IMG_0002.mov", "IMG_0003.MOV", "IMG_0004.JPG",
          "IMG_0008.JPG", "IMG_0009.JPG", "IMG_0010.PNG"}},
        {"both, by date taken",
         TEditedExport::Both,
         true,
         true,
         {month + "IMG_0001.HEIC", month + "IMG_0002.HEIC", month + "IMG_0002.mov",
          month + "IMG_0003.MOV", month + "IMG_0003 (edited).mov", month + "IMG_0004.JPG",
          month + "IMG_0008.JPG", month + "IMG_0008 (edited).jpg", month + "IMG_0009.JPG",
          month + "IMG_0010.PNG"}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        Open(TPhotosEra::Ios16, c.Name);
        FPhotos->OrganizeByAlbum = false;
        FPhotos->OrganizeByDate = c.ByDate;
        FPhotos->Edited = c.Edited;
        FPhotos->LiveVideo = c.LiveVideo;
        FPhotos->Export();
        EXPECT_EQ(Written(), c.Files);
        EXPECT_EQ(FPhotos->ExportFailures, 0);
    }
}

TEST_F(ModernExportTest, HeicBecomesAnUprightJpegKeepingItsExifWithOrientationOne) {
    Open();
    // 64 x 32 as stored, red above blue, turned a quarter clockwise by the file.
    WriteHeic(FRoot / "DCIM/100APPLE/IMG_0001.HEIC", 64, 32, 6);
    SetTime(FRoot / "DCIM/100APPLE/IMG_0001.HEIC");
    TickOnly({201, 202});  // 202's file is no HEIC: it is copied as it is
    FPhotos->OrganizeByAlbum = false;
    FPhotos->HeicToJpeg = true;
    FPhotos->LiveVideo = false;
    EXPECT_EQ(FPhotos->Export(), 2);
    EXPECT_EQ(Written(), (std::set<std::string>{"IMG_0001.jpg", "IMG_0002.HEIC"}));
    EXPECT_EQ(TimeOf("IMG_0001.jpg"), kDeviceTime);
    EXPECT_THAT(FPhotos->Log.Text(),
                ::testing::HasSubstr("IMG_0002.HEIC: cannot be written as JPEG ("));

    const std::string jpeg = ReadFile(FOut + "/IMG_0001.jpg");
    const auto* bytes = reinterpret_cast<const uint8_t*>(jpeg.data());
    TBitmap picture;
    ASSERT_TRUE(DecodeJpeg(std::span(bytes, jpeg.size()), 1, picture));
    ASSERT_EQ(picture.Width(), 32);
    ASSERT_EQ(picture.Height(), 64);
    // The stored top (red) is now on the right.
    EXPECT_GT(picture.Pixel(28, 32).R, 150);
    EXPECT_GT(picture.Pixel(3, 32).B, 150);

    std::unique_ptr<ExifData, void (*)(ExifData*)> exif(
        exif_data_new_from_data(bytes, static_cast<unsigned>(jpeg.size())), exif_data_unref);
    ASSERT_NE(exif, nullptr);
    ExifEntry* orientation = exif_content_get_entry(exif->ifd[EXIF_IFD_0], EXIF_TAG_ORIENTATION);
    ASSERT_NE(orientation, nullptr);
    EXPECT_EQ(exif_get_short(orientation->data, exif_data_get_byte_order(exif.get())), 1);
    ExifEntry* date = exif_content_get_entry(exif->ifd[EXIF_IFD_0], EXIF_TAG_DATE_TIME);
    ASSERT_NE(date, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(date->data)), kHeicExifDate);

    // A second export finds the JPEG there and writes nothing.
    EXPECT_EQ(FPhotos->Export(), 0);
    EXPECT_EQ(Written().size(), 2u);
}

TEST(HeicExif, DamagedBlocksGiveNoSegmentAndTheOrientationIsSetToOne) {
    auto block = [](std::vector<uint8_t> tiff, uint32_t skip = 0) {
        std::vector<uint8_t> out = {static_cast<uint8_t>(skip >> 24),
                                    static_cast<uint8_t>(skip >> 16),
                                    static_cast<uint8_t>(skip >> 8), static_cast<uint8_t>(skip)};
        out.insert(out.end(), skip, 0);
        out.insert(out.end(), tiff.begin(), tiff.end());
        return out;
    };
    const std::vector<uint8_t> good = ExifTiff(8);
    const std::vector<uint8_t> segment = JpegExifSegment(block(good, 2));
    ASSERT_EQ(segment.size(), good.size() + 6);
    EXPECT_EQ(std::string(segment.begin(), segment.begin() + 6), std::string("Exif\0\0", 6));
    EXPECT_EQ(segment[6 + 8 + 2 + 8], 1);  // the Orientation value

    std::vector<uint8_t> badMagic = good;
    badMagic[0] = 'X';
    std::vector<uint8_t> ifdPastEnd = good;
    ifdPastEnd[4] = 200;
    std::vector<uint8_t> manyEntries = good;
    manyEntries[8] = 50;
    const std::vector<std::vector<uint8_t>> damaged = {{},
                                                       {0, 0, 0},
                                                       {0, 0, 0, 99, 1, 2},
                                                       block(badMagic),
                                                       block(ifdPastEnd),
                                                       block(manyEntries),
                                                       block(std::vector<uint8_t>(70000, 'I'))};
    for (size_t i = 0; i < damaged.size(); ++i)
        EXPECT_TRUE(JpegExifSegment(damaged[i]).empty()) << "case " << i;

    std::string error;
    EXPECT_TRUE(HeicFileToJpeg("/nonexistent/x.heic", error).empty());
    EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace corvane
