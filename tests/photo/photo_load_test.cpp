// Which photo source Load uses, what a failed Photos.sqlite leaves behind (nothing), and when
// the camera roll alone makes the library worth showing.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "device/DeviceFolder.h"
#include "device/SimulatedDevice.h"
#include "device/iPodDev.h"
#include "fixtures/DeviceSessions.h"
#include "fixtures/PhotoDbBuilder.h"
#include "fixtures/PhotosSqliteBuilder.h"
#include "fixtures/SqliteBuilder.h"
#include "fixtures/TempDir.h"
#include "photo/iPodPhoto.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using namespace testing;
using ::testing::HasSubstr;
using ::testing::Not;

// Every file below dir with its bytes.
std::map<std::string, std::string> Snapshot(const std::string& dir) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        if (entry.is_regular_file())
            files[entry.path().string()] = ReadFile(entry.path().string());
    }
    return files;
}

// Our staged copies and anything SQLite might have left beside them.
void ExpectNoStagedCopies(const TIpodDevice& device) {
    for (const char* suffix : {"", "-wal", "-shm", "-journal"})
        EXPECT_FALSE(fs::exists(device.WorkFile() + suffix)) << suffix;
}

// Photo 102 and the album sit only in the "-wal".
void WriteLibraryWithWal(const std::string& path) {
    TPhotosSqliteBuilder b(TPhotosEra::Ios11);
    b.AddAsset(PhotosAsset(101, 1, "DCIM/100APPLE", "IMG_0001.JPG"));
    b.MarkWalStart();
    b.AddAsset(PhotosAsset(102, 0, "DCIM/100APPLE", "IMG_0002.JPG"));
    b.AddAlbum(PhotosAlbum(7, "Trip", {102}));
    b.WriteWal(path);
}

std::vector<uint32_t> ImageIds(const TIpodPhotoDb& db) {
    std::vector<uint32_t> ids;
    for (int i = 0; i < db.Photos.Count(); ++i)
        ids.push_back(db.Photos.Items(i).ImageId);
    return ids;
}

TEST(PhotoLoad, MobileDeviceReadsPhotosSqliteWithItsWalAndKeepsNoCopy) {
    TTempDir root;
    fs::create_directories(root / "PhotoData/Thumbnails");
    WriteLibraryWithWal(root / "PhotoData/Photos.sqlite");
    WriteFile(root / "PhotoData/Thumbnails/3309.ithmb", "records");
    WriteFile(root / "DCIM/100APPLE/IMG_0001.JPG", "jpeg");
    auto device = MobileDevice(root.Path());
    ASSERT_TRUE(device->IsIos());
    TIpodPhotoDb db(*device, true);
    EXPECT_TRUE(db.Load());
    EXPECT_EQ(ImageIds(db), (std::vector<uint32_t>{101, 102}));
    ASSERT_EQ(db.Albums.Count(), 2);
    EXPECT_EQ(db.Albums.Items(1).Members, (std::vector<int32_t>{1}));
    EXPECT_TRUE(db.SeparateFiles);
    EXPECT_EQ(db.ThumbFormat.FileName, "3309.ithmb");
    EXPECT_EQ(db.Photos.Items(0).ThumbOffset, 8220);
    EXPECT_EQ(db.CameraPhotos.Count(), 1);
    EXPECT_EQ(db.Log.Text(), "");
    ExpectNoStagedCopies(*device);
}

TEST(PhotoLoad, FailedPhotosSqliteNamesTheReasonAndFallsBackLeavingNoCopyAndNoHalfLibrary) {
    struct TCase {
        const char* Name;
        std::function<void(const std::string& path)> Write;
        const char* Reason;
    };
    const TCase cases[] = {
        {"albums read, then the asset table is missing",
         [](const std::string& path) {
             TPhotosSqliteBuilder b(TPhotosEra::Ios11);
             b.AddAsset(PhotosAsset(101, 0, "DCIM/100APPLE", "IMG_0001.JPG"));
             b.AddAlbum(PhotosAlbum(7, "Trip", {101}));
             b.Write(path);
             ExecSql(path, "DROP TABLE ZGENERICASSET");
         },
         "no such table: ZGENERICASSET"},
        {"damaged file", [](const std::string& path) { WriteFile(path, std::string(8192, 'x')); },
         "file is not a database"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TTempDir root;
        fs::create_directories(root / "PhotoData/Thumbnails");
        c.Write(root / "PhotoData/Photos.sqlite");
        WriteFile(root / "PhotoData/Thumbnails/3309.ithmb", "records");
        auto device = MobileDevice(root.Path());
        TIpodPhotoDb db(*device, true);
        EXPECT_FALSE(db.Load());
        EXPECT_EQ(db.Photos.Count(), 0);
        EXPECT_EQ(db.Albums.Count(), 0);
        EXPECT_FALSE(db.SeparateFiles);
        // One line with SQLite's reason, then the Photo Database's own failure.
        EXPECT_THAT(db.Log.Text(), HasSubstr("Photos.sqlite cannot be read: "));
        EXPECT_THAT(db.Log.Text(), HasSubstr(c.Reason));
        EXPECT_THAT(db.Log.Text(), HasSubstr("Read DB fail: "));
        EXPECT_THAT(db.Log.Text(), Not(::testing::EndsWith("Read DB fail: ")));
        ExpectNoStagedCopies(*device);
    }
}

// Two photos whose full-size and preview records lie in F1019_1 and F1009_1, and no album list.
std::string PhotoDatabaseWithoutAlbums() {
    TPhotoDbBuilder db;
    for (uint32_t n = 0; n < 2; ++n) {
        db.AddImage(500 + n, {PhotoRef(1019, n * 691200, 691200, 720, 480, ":Thumbs:F1019_1.ithmb"),
                              PhotoRef(1009, n * 2520, 2520, 42, 30, ":Thumbs:F1009_1.ithmb")});
    }
    db.SetSections({1});
    return db.Build();
}

TEST(PhotoLoad, PhotoDatabaseIsUsedOnlyWhenPhotosSqliteFails) {
    for (bool sqliteReads : {true, false}) {
        SCOPED_TRACE(sqliteReads ? "Photos.sqlite reads" : "Photos.sqlite fails after its albums");
        TTempDir root;
        TPhotosSqliteBuilder b(TPhotosEra::Ios11);
        b.AddAsset(PhotosAsset(101, 0, "DCIM/100APPLE", "IMG_0001.JPG"));
        b.AddAlbum(PhotosAlbum(7, "Trip", {101}));
        fs::create_directories(root / "PhotoData");
        b.Write(root / "PhotoData/Photos.sqlite");
        if (!sqliteReads)
            ExecSql(root / "PhotoData/Photos.sqlite", "DROP TABLE ZGENERICASSET");
        WriteFile(root / "Photos/Photo Database", PhotoDatabaseWithoutAlbums());
        auto device = MobileDevice(root.Path());
        TIpodPhotoDb db(*device, true);
        EXPECT_TRUE(db.Load());
        if (sqliteReads) {
            EXPECT_EQ(ImageIds(db), (std::vector<uint32_t>{101}));
            EXPECT_EQ(db.Albums.Count(), 2);
            EXPECT_TRUE(db.SeparateFiles);
            continue;
        }
        // The Photo Database lists no albums, so none of the failed read's may remain.
        EXPECT_EQ(ImageIds(db), (std::vector<uint32_t>{500, 501}));
        EXPECT_EQ(db.Albums.Count(), 0);
        EXPECT_FALSE(db.SeparateFiles);
        EXPECT_FALSE(db.ThumbFormat.ByName);
        EXPECT_EQ(db.ThumbFormat.Id, 1009);
        ExpectNoStagedCopies(*device);
    }
}

TEST(PhotoLoad, CameraRollOfOneFileIsEnoughWithoutAnyDatabase) {
    for (bool withCameraRoll : {true, false}) {
        SCOPED_TRACE(withCameraRoll);
        TTempDir root;
        WriteFile(root / "DCIM/100APPLE/IMG_0001.JPG", "jpeg");
        auto device = MobileDevice(root.Path());
        TIpodPhotoDb db(*device, withCameraRoll);
        EXPECT_EQ(db.Load(), withCameraRoll);
        EXPECT_EQ(db.CameraPhotos.Count(), withCameraRoll ? 1 : 0);
        EXPECT_EQ(db.Photos.Count(), 0);
    }
}

TEST(PhotoLoad, DiskModeReadsTheDevicesOwnFilesInPlaceAndChangesNothing) {
    TTempDir root;
    auto device = DiskDevice(root.Path());
    fs::create_directories(root / "PhotoData/Thumbnails");
    WriteLibraryWithWal(root / "PhotoData/Photos.sqlite");
    WriteFile(root / "PhotoData/Thumbnails/3309.ithmb", "records");
    const auto before = Snapshot(root.Path());
    TIpodPhotoDb db(*device, true);
    EXPECT_TRUE(db.Load());
    EXPECT_EQ(ImageIds(db), (std::vector<uint32_t>{101, 102}));
    EXPECT_EQ(db.Log.Text(), "");
    EXPECT_EQ(Snapshot(root.Path()), before);
}

}  // namespace
}  // namespace corvane
