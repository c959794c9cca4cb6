// Previews of a mobile device's pictures and videos: the device's own V2 JPEGs in the size that
// suits the cell, the small picture of a HEIC file or its main picture, upright, the .THM beside
// a video, the "video" placeholder; and the loader serving the cells on screen first.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/Dispatcher.h"
#include "device/iPodDev.h"
#include "fixtures/DeviceSessions.h"
#include "fixtures/HeicFiles.h"
#include "fixtures/PictureFiles.h"
#include "fixtures/TempDir.h"
#include "photo/PreviewPlaceholders.h"
#include "photo/ThumbnailLoader.h"
#include "photo/iPodPhoto.h"

namespace corvane {
namespace {

using namespace testing;

const std::string kV2 = "PhotoData/Thumbnails/V2/";

bool Near(TRgb got, TRgb want) {
    return std::abs(got.R - want.R) < 40 && std::abs(got.G - want.G) < 40 &&
           std::abs(got.B - want.B) < 40;
}

// Runs a loader to its end, pumping its reports here; onItem runs inside each report.
std::vector<int> RunLoader(TIpodPhotoDb& db, bool cameraRoll,
                           const std::function<void(TLoadAllThumbnailThd&, int)>& onItem = {}) {
    TEventQueue queue;
    std::vector<int> order;
    bool done = false;
    TLoadAllThumbnailThd* running = nullptr;
    TLoadAllThumbnailThd loader(
        &db, cameraRoll, [&](bool) { done = true; },
        [&](int index, int) {
            order.push_back(index);
            if (onItem)
                onItem(*running, index);
        },
        queue.Dispatcher());
    running = &loader;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!done && std::chrono::steady_clock::now() < deadline)
        queue.ProcessEvents(std::chrono::milliseconds(20));
    loader.WaitFor();
    EXPECT_TRUE(done);
    return order;
}

// What one cell must show: the colour at its centre, or for a turned picture at the top and the
// bottom of its middle column.
struct TExpected {
    const char* File;
    std::optional<TRgb> Centre;
    std::optional<TRgb> Top{};
    std::optional<TRgb> Bottom{};
    bool VideoPlaceholder = false;
};

TEST(DevicePreviews, CameraRollOfAMobileDeviceShowsTheBestPreviewOfEachFile) {
    TTempDir root;
    // The configuration names two sizes; the cell (100) is best served by the larger one.
    WriteFile(root / "PhotoData/Thumbnails/thumbnailConfiguration",
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
              "<key>PLThumbnailManagerThumbnailFormatKey</key><integer>5003</integer>"
              "<key>PLThumbnailManagerThumbnailFormatsKey</key>"
              "<array><integer>5003</integer><integer>5005</integer></array>"
              "<key>PLThumbnailManagerVersionKey</key><integer>12</integer></dict></plist>");
    const std::string dcim = "DCIM/100APPLE/";
    const TBitmap quarters = QuarteredPicture(64, 64, kRed, kGreen, kBlue, kYellow);
    // IMG_0001: a V2 preview in both sizes, red in the small one, green in the large one.
    WriteFile(root / (dcim + "IMG_0001.JPG"), JpegFile(quarters));
    WriteFile(root / (kV2 + dcim + "IMG_0001.JPG/5003.JPG"), JpegFile(SolidPicture(32, 32, kRed)));
    WriteFile(root / (kV2 + dcim + "IMG_0001.JPG/5005.JPG"),
              JpegFile(SolidPicture(256, 256, kGreen)));
    // IMG_0002: only the small size.
    WriteFile(root / (dcim + "IMG_0002.MOV"), MovFile(3000));
    WriteFile(root / (kV2 + dcim + "IMG_0002.MOV/5003.JPG"), JpegFile(SolidPicture(32, 32, kBlue)));
    // HEIC files without V2 previews: the blue small picture, and a main picture turned.
    WriteFile(root / (dcim + "IMG_0003.HEIC"),
              HeicFile(quarters, {.Thumbnail = SolidPicture(64, 64, kBlue)}));
    WriteFile(
        root / (dcim + "IMG_0004.HEIC"),
        HeicFile(QuarteredPicture(128, 64, kRed, kYellow, kRed, kYellow), {.Orientation = 6}));
    // Videos: a poster frame beside one, nothing beside the other.
    WriteFile(root / (dcim + "IMG_0005.MOV"), MovFile(3000));
    WriteFile(root / (dcim + "IMG_0005.THM"), JpegFile(SolidPicture(40, 40, kYellow)));
    WriteFile(root / (dcim + "IMG_0006.MOV"), MovFile(3000));
    const TExpected expected[] = {
        {"IMG_0001.JPG", kGreen},  {"IMG_0002.MOV", kBlue},
        {"IMG_0003.HEIC", kBlue},  {"IMG_0004.HEIC", {}, kRed, kYellow},
        {"IMG_0005.MOV", kYellow}, {"IMG_0006.MOV", kSilver, {}, {}, true},
    };
    auto device = MobileDevice(root.Path());
    TIpodPhotoDb db(*device, true);
    ASSERT_EQ(db.LoadCameraRoll(), 6);
    RunLoader(db, true);
    for (const TExpected& e : expected) {
        SCOPED_TRACE(e.File);
        const TCamPhotoItem* item = nullptr;
        for (int i = 0; i < db.CameraPhotos.Count(); ++i)
            if (db.CameraPhotos.Items(i).FileName == e.File)
                item = &db.CameraPhotos.Items(i);
        ASSERT_NE(item, nullptr);
        const TBitmap& thumb = item->Thumb;
        ASSERT_EQ(thumb.Width(), 100);
        ASSERT_EQ(thumb.Height(), 100);
        if (e.VideoPlaceholder) {
            EXPECT_EQ(thumb, MakeVideoPlaceholder(100, 100));
            continue;
        }
        if (e.Centre) {
            EXPECT_TRUE(Near(thumb.Pixel(50, 50), *e.Centre));
        }
        if (e.Top) {
            EXPECT_TRUE(Near(thumb.Pixel(50, 10), *e.Top));
        }
        if (e.Bottom) {
            EXPECT_TRUE(Near(thumb.Pixel(50, 90), *e.Bottom));
        }
    }
    // Misses of the preview folder are normal: nothing about them in the log.
    EXPECT_EQ(device->Log.Text().find("Ios:"), std::string::npos) << device->Log.Text();
}

TEST(DevicePreviews, LibraryPhotosTakeTheDevicePreviewsAndCloudOnlyOnesReadNoFile) {
    TTempDir root;
    const std::string dcim = "DCIM/100APPLE/";
    // No configuration: the sizes present decide; 5005 is the one that covers a 60 pixel cell.
    WriteFile(root / (dcim + "IMG_0001.HEIC"), HeicFile(SolidPicture(64, 64, kRed)));
    WriteFile(root / (kV2 + dcim + "IMG_0001.HEIC/5003.JPG"), JpegFile(SolidPicture(32, 32, kRed)));
    WriteFile(root / (kV2 + dcim + "IMG_0001.HEIC/5005.JPG"),
              JpegFile(SolidPicture(128, 128, kGreen)));
    // Only in the cloud: its preview is on the device, its file is not.
    WriteFile(root / (kV2 + dcim + "IMG_0002.HEIC/5005.JPG"),
              JpegFile(SolidPicture(128, 128, kBlue)));
    // In the library but with no preview at all: the file itself.
    WriteFile(root / (dcim + "IMG_0003.HEIC"), HeicFile(SolidPicture(64, 64, kYellow)));
    // Cloud only and no preview: stays empty, and no read of the missing file is tried.
    auto device = MobileDevice(root.Path());
    TIpodPhotoDb db(*device, true);
    db.SeparateFiles = true;
    db.ThumbFormat.ByName = true;  // a Photos.sqlite library without a preview file
    db.Photos.ThumbWidth = 60;
    db.Photos.ThumbHeight = 60;
    for (const char* name : {"IMG_0001.HEIC", "IMG_0002.HEIC", "IMG_0003.HEIC", "IMG_0004.HEIC"}) {
        TPhotoItem& photo = db.Photos.Add();
        photo.FilePath = dcim + name;
        photo.Local = std::string(name) != "IMG_0002.HEIC" && std::string(name) != "IMG_0004.HEIC";
    }
    EXPECT_EQ(RunLoader(db, false).size(), 4u);
    const TRgb centres[] = {kGreen, kBlue, kYellow};
    for (int i = 0; i < 3; ++i) {
        const TBitmap& thumb = db.Photos.Items(i).Thumb;
        ASSERT_EQ(thumb.Width(), 60) << i;
        EXPECT_TRUE(Near(thumb.Pixel(30, 30), centres[i])) << i;
    }
    EXPECT_TRUE(db.Photos.Items(3).Thumb.Empty());
    EXPECT_EQ(device->Log.Text().find("Ios:"), std::string::npos) << device->Log.Text();
}

TEST(DevicePreviews, WantedCellsComeFirstAndCellsScrolledAwayWaitTheirTurn) {
    TTempDir root;
    for (int i = 0; i < 50; ++i) {
        char name[40];
        std::snprintf(name, sizeof name, "DCIM/100APPLE/IMG_%04d.JPG", i);
        WriteFile(root / name, JpegFile(SolidPicture(16, 16, kRed)));
    }
    auto device = DiskDevice(root.Path());
    TIpodPhotoDb db(*device, true);
    ASSERT_EQ(db.LoadCameraRoll(), 50);
    // Two done before: a loader started again leaves them alone.
    db.CameraPhotos.Items(1).Thumb = SolidPicture(100, 100, kBlue);
    db.CameraPhotos.Items(2).Thumb = SolidPicture(100, 100, kBlue);
    const std::vector<int> order = RunLoader(db, true, [](TLoadAllThumbnailThd& loader, int index) {
        // The grid shows 40 and 30; then it scrolls to 45 before 30 was reached.
        if (index == 0)
            loader.Want({40, 30, 2});
        if (index == 40)
            loader.Want({45});
    });
    ASSERT_EQ(order.size(), 48u);
    EXPECT_EQ((std::vector<int>(order.begin(), order.begin() + 5)),
              (std::vector<int>{0, 40, 45, 3, 4}));
    EXPECT_EQ(std::count(order.begin(), order.end(), 30), 1);
    EXPECT_EQ(db.CameraPhotos.Items(1).Thumb, SolidPicture(100, 100, kBlue));
}

}  // namespace
}  // namespace corvane
