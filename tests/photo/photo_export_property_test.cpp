// Whatever the destination already holds, a photo export only adds: every file, folder and
// link that was there stays byte for byte, nothing appears outside the destination, no
// half-written file is left, and the device is never touched.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "device/DeviceFolder.h"
#include "fixtures/DemoDevice.h"
#include "fixtures/DeviceSessions.h"
#include "fixtures/TempDir.h"
#include "photo/iPodPhoto.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using namespace testing;

size_t Below(std::mt19937& random, size_t n) {
    return random() % n;
}

// Names the exports of both demo devices use, and near misses of them.
const std::vector<std::string> kNames = {
    "100.jpg",      "101.jpg",         "105.jpg",         "Evenings",
    "Harbour Walk", "Garden_ Spring_", "Camera_Roll",     "IMG_0001.JPG",
    "IMG_0100.JPG", "1_IMG_0100.JPG",  "Weekend",         "Photo Album 1",
    "IMG_0110.PNG", "MOV_0111.MOV",    ".100.jpg.part-x", "IMG_0003.JPG",
};

// Random files (some of the very size a copy would have), folders and links, named like
// the export's targets, up to two levels deep.
void Fill(std::mt19937& random, const std::string& dest, const std::string& outside) {
    for (size_t n = Below(random, 14); n > 0; --n) {
        std::string path = dest;
        if (Below(random, 2) == 0)
            path += "/" + kNames[Below(random, kNames.size())];
        path += "/" + kNames[Below(random, kNames.size())];
        if (fs::exists(fs::path(path).parent_path()) &&
            !fs::is_directory(fs::path(path).parent_path()))
            continue;
        if (fs::exists(fs::symlink_status(path)))
            continue;
        fs::create_directories(fs::path(path).parent_path());
        switch (Below(random, 4)) {
            case 0:
                fs::create_directory(path);
                break;
            case 1:
                fs::create_directory_symlink(outside, path);
                break;
            default:
                WriteFile(path, std::string(Below(random, 3) == 0 ? 0 : 1 + Below(random, 50),
                                            static_cast<char>('a' + Below(random, 26))));
        }
    }
}

TEST(PhotoExportProperty, WhatWasThereStaysAndOnlyTheDestinationGrows) {
    TTempDir root;
    ASSERT_TRUE(BuildDemoDevices(root / "devices"));
    const std::string outside = root / "outside";
    const std::string dest = root / "dest";
    for (bool mobile : {false, true}) {
        const std::string deviceRoot = root / (mobile ? "devices/iphone" : "devices/ipod");
        auto device = mobile ? MobileDevice(deviceRoot) : DiskDevice(deviceRoot);
        const auto deviceBefore = Tree(deviceRoot);
        for (uint32_t seed = 1; seed <= 25; ++seed) {
            SCOPED_TRACE(std::string(mobile ? "iPhone" : "iPod") + ", seed " +
                         std::to_string(seed));
            std::mt19937 random(seed);
            fs::remove_all(dest);
            fs::remove_all(outside);
            WriteFile(outside + "/keep", "outside");
            fs::create_directories(dest);
            Fill(random, dest, outside);
            const auto destBefore = Tree(dest);
            const auto outsideBefore = Tree(outside);

            TIpodPhotoDb photos(*device, true);
            ASSERT_TRUE(photos.Load());
            for (int i = 0; i < photos.CameraPhotos.Count(); ++i) {
                if (Below(random, 3) != 0)
                    photos.CameraPhotos.Check(i);
            }
            photos.OrganizeByAlbum = Below(random, 2) == 0;
            photos.RetryPause = [](std::chrono::milliseconds) {};
            std::string folder = dest;
            ASSERT_TRUE(photos.PrepareDestination(folder)) << folder;
            for (int run = 0; run < 2; ++run) {
                photos.Export();
                photos.ExportCameraRoll();
            }

            const auto destAfter = Tree(dest);
            for (const auto& [path, entry] : destBefore) {
                auto after = destAfter.find(path);
                ASSERT_NE(after, destAfter.end()) << path;
                EXPECT_EQ(after->second, entry) << path;
            }
            for (const auto& [path, entry] : destAfter) {
                if (destBefore.count(path) == 0) {
                    EXPECT_EQ(path.find(".part-"), std::string::npos) << path;
                }
            }
            EXPECT_EQ(Tree(outside), outsideBefore);
        }
        EXPECT_EQ(Tree(deviceRoot), deviceBefore);
    }
}

}  // namespace
}  // namespace corvane
