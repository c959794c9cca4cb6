// The camera roll: what is listed, under which path and name, in both device modes.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "device/DeviceFolder.h"
#include "device/SimulatedDevice.h"
#include "device/iPodDev.h"
#include "fixtures/DeviceSessions.h"
#include "fixtures/TempDir.h"
#include "photo/iPodPhoto.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using namespace testing;

void WriteCameraFolder(const TTempDir& root) {
    for (const char* name :
         {"DCIM/100APPLE/IMG_0001.JPG", "DCIM/100APPLE/IMG_0001.THM", "DCIM/100APPLE/X.DAT",
          "DCIM/100APPLE/IMG_0002.MOV", "DCIM/101APPLE/IMG_0103.PNG"})
        WriteFile(root / name, "data");
}

// (Path, FileName) of every item, sorted: the listing order is the file system's.
std::vector<std::pair<std::string, std::string>> Items(const TIpodPhotoDb& db) {
    std::vector<std::pair<std::string, std::string>> items;
    for (int i = 0; i < db.CameraPhotos.Count(); ++i) {
        const TCamPhotoItem& item = db.CameraPhotos.Items(i);
        EXPECT_FALSE(item.Checked) << item.Path;
        EXPECT_TRUE(item.Thumb.Empty()) << item.Path;
        items.emplace_back(item.Path, item.FileName);
    }
    std::sort(items.begin(), items.end());
    return items;
}

TEST(CameraRoll, MobileDeviceListsDevicePathsWithoutSidecarFiles) {
    TTempDir root;
    WriteCameraFolder(root);
    auto device = MobileDevice(root.Path());
    ASSERT_TRUE(device->IsIos());
    TIpodPhotoDb db(*device, true);
    EXPECT_EQ(db.LoadCameraRoll(), 3);
    EXPECT_EQ(Items(db), (std::vector<std::pair<std::string, std::string>>{
                             {"/DCIM/100APPLE/IMG_0001.JPG", "IMG_0001.JPG"},
                             {"/DCIM/100APPLE/IMG_0002.MOV", "IMG_0002.MOV"},
                             {"/DCIM/101APPLE/IMG_0103.PNG", "IMG_0103.PNG"}}));
    EXPECT_EQ(db.CameraPhotos.DcimRoot, "/DCIM/");
    EXPECT_EQ(db.CameraPhotos.CheckedCount, 0);
}

TEST(CameraRoll, DiskModeListsLocalPaths) {
    TTempDir root;
    WriteCameraFolder(root);
    auto device = DiskDevice(root.Path());
    TIpodPhotoDb db(*device, true);
    EXPECT_EQ(db.LoadCameraRoll(), 3);
    EXPECT_EQ(Items(db), (std::vector<std::pair<std::string, std::string>>{
                             {root / "DCIM/100APPLE/IMG_0001.JPG", "IMG_0001.JPG"},
                             {root / "DCIM/100APPLE/IMG_0002.MOV", "IMG_0002.MOV"},
                             {root / "DCIM/101APPLE/IMG_0103.PNG", "IMG_0103.PNG"}}));
    EXPECT_EQ(db.CameraPhotos.DcimRoot, root / "DCIM/");
}

TEST(CameraRoll, NoCameraFolderGivesAnEmptyRoll) {
    TTempDir root;
    fs::create_directories(root / "PhotoData");
    auto device = MobileDevice(root.Path());
    TIpodPhotoDb db(*device, true);
    EXPECT_EQ(db.LoadCameraRoll(), 0);
    EXPECT_EQ(db.CameraPhotos.Count(), 0);
}

}  // namespace
}  // namespace corvane
