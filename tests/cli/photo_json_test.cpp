// photos list --json over the library of every iOS 14+ release: the photos with their new
// fields, the albums with their members, the camera roll with the dates the library gives.
#include <gtest/gtest.h>

#include <filesystem>

#include "cli/PhotoOutput.h"
#include "device/iPodDev.h"
#include "fixtures/DeviceSessions.h"
#include "fixtures/ModernPhotoLibrary.h"
#include "fixtures/TempDir.h"
#include "photo/iPodPhoto.h"

namespace corvane::cli {
namespace {

using namespace corvane::testing;

// The part of the object from "photos" up to "log".
std::string LibraryPart(const std::string& json) {
    const size_t from = json.find("\"photos\"");
    const size_t to = json.find(",\"log\"");
    if (from == std::string::npos || to == std::string::npos || to < from)
        return json;
    return json.substr(from, to - from);
}

std::string Photo(int index, int id, const std::string& path, int thumb, int album, bool local,
                  bool hidden, const char* kind, const std::string& date) {
    const bool checked = local;
    return "{\"index\":" + std::to_string(index) + ",\"image_id\":" + std::to_string(id) +
           ",\"name\":\"" + std::to_string(id) + "\",\"checked\":" + (checked ? "true" : "false") +
           ",\"file_index\":0,\"full_offset\":0,\"full_size\":0,\"thumb_offset\":" +
           std::to_string(thumb) + ",\"file_path\":\"" + path +
           "\",\"album_index\":" + std::to_string(album) +
           ",\"local\":" + (local ? "true" : "false") +
           ",\"hidden\":" + (hidden ? "true" : "false") + ",\"kind\":\"" + kind +
           "\",\"date_taken\":\"" + date + "\"}";
}

TEST(PhotoJson, EveryReleaseListsExactlyTheRightPhotosAlbumsAndCameraRoll) {
    for (TPhotosEra era : kAssetEras) {
        SCOPED_TRACE(EraName(era));
        TTempDir root;
        WriteModernLibrary(root.Path());
        ModernLibrary(era).Write(root / "PhotoData/Photos.sqlite");
        auto device = MobileDevice(root.Path());
        TIpodPhotoDb photos(*device, true);
        ASSERT_TRUE(photos.Load());
        const std::string json = PhotoLibraryJson(*device, photos, true);
        std::string got = LibraryPart(json);

        // Preview offsets come from ZTHUMBNAILINDEX, which iOS 18 dropped; no preview file is
        // on this device, so every offset is 0 anyway.
        const std::string d = "DCIM/100APPLE/";
        auto date = [](int second) { return "2017-10-18T06:16:" + std::to_string(second) + "Z"; };
        const std::string expected =
            "\"photos\":[" +
            Photo(0, 201, d + "IMG_0001.HEIC", 0, 2, true, false, "photo", date(41)) + "," +
            Photo(1, 202, d + "IMG_0002.HEIC", 0, 2, true, false, "live", date(42)) + "," +
            Photo(2, 203, d + "IMG_0003.MOV", 0, 0, true, false, "video", date(43)) + "," +
            Photo(3, 204, d + "IMG_0004.JPG", 0, 4, true, true, "photo", date(44)) + "," +
            Photo(4, 206, d + "IMG_0006.JPG", 0, 0, false, false, "photo", date(46)) + "," +
            Photo(5, 207, d + "IMG_0007.JPG", 0, 0, false, false, "photo", date(47)) + "," +
            Photo(6, 208, d + "IMG_0008.JPG", 0, 2, true, false, "photo", date(48)) + "," +
            Photo(7, 209, "PhotoData/PhotoCloudSharingData/4/A1/100CLOUD/IMG_0009.JPG", 0, 3, true,
                  false, "photo", date(49)) +
            "," +
            Photo(8, 210, "DCIM/101APPLE/IMG_0010.PNG", 0, 0, true, false, "photo", date(50)) +
            "],\"albums\":["
            "{\"index\":0,\"name\":\"Pictures\",\"album_id\":0,\"members\":[0,1,2,4,5,6,7,8]},"
            "{\"index\":1,\"name\":\"Family\",\"album_id\":6,\"members\":[0]},"
            "{\"index\":2,\"name\":\"Trip\",\"album_id\":5,\"members\":[6,0,1]},"
            "{\"index\":3,\"name\":\"Shared\",\"album_id\":8,\"members\":[7]},"
            "{\"index\":4,\"name\":\"Hidden\",\"album_id\":0,\"members\":[3]}],"
            "\"camera_roll\":[";
        ASSERT_EQ(got.substr(0, expected.size()), expected);
        // The camera roll in the device's order; files the library knows carry its date.
        std::string roll = got.substr(expected.size());
        for (const char* name : {"IMG_0001.HEIC", "IMG_0004.JPG", "IMG_0010.PNG"})
            EXPECT_NE(roll.find(std::string("\"file_name\":\"") + name +
                                "\",\"checked\":false,\"date_taken\":\"2017-10-18T06:16:"),
                      std::string::npos)
                << name << " in " << roll;
        for (const char* name : {"IMG_0005.JPG", "IMG_0011.JPG", "IMG_0002.mov"})
            EXPECT_NE(roll.find(std::string("\"file_name\":\"") + name +
                                "\",\"checked\":false,\"date_taken\":null"),
                      std::string::npos)
                << name << " in " << roll;
    }
}

}  // namespace
}  // namespace corvane::cli
