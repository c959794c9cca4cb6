// The preview loader thread: what it reports and when, the previews it decodes in both modes,
// stopping it part-way, and waiting for it on the owner's thread without pumping.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <thread>

#include "base/Dispatcher.h"
#include "device/DeviceFolder.h"
#include "device/SimulatedDevice.h"
#include "device/iPodDev.h"
#include "fixtures/DemoDevice.h"
#include "fixtures/DeviceSessions.h"
#include "fixtures/PhotosSqliteBuilder.h"
#include "fixtures/PictureFiles.h"
#include "fixtures/TempDir.h"
#include "photo/ImageThumbnail.h"
#include "photo/PreviewPlaceholders.h"
#include "photo/ThumbnailLoader.h"
#include "photo/iPodPhoto.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using namespace testing;

// A loader whose callbacks go through an event queue that this (the owner's) thread pumps.
class TLoaderRun {
public:
    std::vector<std::pair<int, int>> Items;
    std::vector<bool> Done;
    bool AllOnOwnerThread = true;
    // Runs inside OnItem, on the owner's thread.
    std::function<void(TLoadAllThumbnailThd&, int index)> OnItemHook;

    void Start(TIpodPhotoDb* db, bool cameraRoll) {
        FLoader = std::make_unique<TLoadAllThumbnailThd>(
            db, cameraRoll,
            [this](bool completed) {
                Note();
                Done.push_back(completed);
            },
            [this](int index, int total) {
                Note();
                // The owner sees the fields as they were at the call.
                EXPECT_EQ(FRunning->Index(), index);
                EXPECT_EQ(FRunning->Total(), total);
                Items.emplace_back(index, total);
                if (OnItemHook)
                    OnItemHook(*FRunning, index);
            },
            FQueue.Dispatcher());
        FRunning = FLoader.get();
    }
    // Pumps until OnDone ran, then waits for the thread.
    void Finish() {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (Done.empty() && std::chrono::steady_clock::now() < deadline)
            FQueue.ProcessEvents(std::chrono::milliseconds(20));
        ASSERT_EQ(Done.size(), 1u);
        FLoader->WaitFor();
    }
    void Run(TIpodPhotoDb* db, bool cameraRoll) {
        Start(db, cameraRoll);
        Finish();
    }
    TLoadAllThumbnailThd& Loader() { return *FLoader; }
    void Destroy() { FLoader.reset(); }
    TEventQueue& Queue() { return FQueue; }

private:
    void Note() {
        if (std::this_thread::get_id() != FQueue.Owner())
            AllOnOwnerThread = false;
    }

    TEventQueue FQueue;  // declared first: it outlives the loader
    std::unique_ptr<TLoadAllThumbnailThd> FLoader;
    // Still valid while the loader's destructor reports its last items.
    TLoadAllThumbnailThd* FRunning = nullptr;
};

using TPixelAt = std::function<uint16_t(int x, int y)>;
using TColourAt = std::function<TRgb(int x, int y)>;

// A record of 16-bit little-endian pixels, rows top first, and trailer bytes after them.
std::string Record(int width, int height, const TPixelAt& pixel, size_t trailer = 0) {
    std::string bytes;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const uint16_t value = pixel(x, y);
            bytes += static_cast<char>(value & 0xFF);
            bytes += static_cast<char>(value >> 8);
        }
    }
    return bytes + std::string(trailer, '\xAB');
}

TBitmap Picture(int width, int height, const TColourAt& colour) {
    TBitmap picture(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            picture.SetPixel(x, y, colour(x, y));
    }
    return picture;
}

// A library of photos whose previews are records of F1009_1.ithmb (42 x 30), set up by hand as
// the Photo Database reader would.
void SetUpRecordLibrary(TIpodPhotoDb& db, const std::vector<int32_t>& thumbOffsets) {
    db.ThumbFormat.Id = 1009;
    db.ThumbFormat.Width = 42;
    db.ThumbFormat.Height = 30;
    db.ThumbFormat.SlotSize = 42 * 30 * 2;
    db.ThumbFormat.FileCount = 2;
    for (int32_t offset : thumbOffsets) {
        TPhotoItem& photo = db.Photos.Add();
        photo.ImageId = static_cast<uint32_t>(db.Photos.Count());
        photo.Checked = true;
        photo.ThumbOffset = offset;
        photo.FileIndex = 2;
    }
}

TEST(ThumbnailLoader, AtTwiceTheScaleTheLibrarysDenserRecordsArePreviewedInTheSameCell) {
    TTempDir root;
    ASSERT_TRUE(BuildDemoDevices(root.Path()));
    auto device = DiskDevice(root / "ipod");
    TBitmap previews[2];
    for (int scale : {1, 2}) {
        SCOPED_TRACE("scale " + std::to_string(scale));
        TIpodPhotoDb db(*device, false);
        db.PreviewScale = scale;
        ASSERT_TRUE(db.Load());
        // 130 x 88 previews at the normal scale, the 220 x 176 screen pictures at twice it;
        // the cell stays the one of the small previews.
        EXPECT_EQ(db.ThumbFormat.Id, scale == 1 ? 1015 : 1013);
        EXPECT_EQ(db.Photos.ThumbWidth, 119);
        EXPECT_EQ(db.Photos.ThumbHeight, 88);
        EXPECT_EQ(db.FullFormat.Id, 1019);
        TLoaderRun run;
        run.Run(&db, false);
        ASSERT_GT(db.Photos.Count(), 0);
        previews[scale - 1] = db.Photos.Items(0).Thumb;
        EXPECT_EQ(previews[scale - 1].Width(), scale == 1 ? 130 : 220);
        EXPECT_EQ(previews[scale - 1].Height(), scale == 1 ? 88 : 176);
    }
    // The same picture either way: its middle has the same colour.
    const TRgb small = previews[0].Pixel(65, 44);
    const TRgb dense = previews[1].Pixel(110, 88);
    EXPECT_LE(
        std::abs(small.R - dense.R) + std::abs(small.G - dense.G) + std::abs(small.B - dense.B),
        60);
}

TEST(ThumbnailLoader, NothingToLoadReportsOnlyTheEnd) {
    TTempDir root;
    auto device = DiskDevice(root.Path());
    {
        SCOPED_TRACE("no library");
        TLoaderRun run;
        run.Run(nullptr, false);
        EXPECT_EQ(run.Done, std::vector<bool>{true});
        EXPECT_TRUE(run.Items.empty());
        EXPECT_EQ(run.Loader().Index(), -1);
        EXPECT_EQ(run.Loader().Total(), 0);
    }
    for (bool cameraRoll : {false, true}) {
        SCOPED_TRACE(cameraRoll ? "empty camera roll" : "no photos");
        TIpodPhotoDb db(*device, true);
        TLoaderRun run;
        run.Run(&db, cameraRoll);
        EXPECT_EQ(run.Done, std::vector<bool>{true});
        EXPECT_TRUE(run.Items.empty());
    }
    {
        SCOPED_TRACE("preview file missing");
        TIpodPhotoDb db(*device, true);
        SetUpRecordLibrary(db, {0, 2520});
        TLoaderRun run;
        run.Run(&db, false);
        EXPECT_EQ(run.Done, std::vector<bool>{true});
        EXPECT_TRUE(run.Items.empty());
        EXPECT_EQ(run.Loader().Total(), 2);
        EXPECT_TRUE(run.Loader().Completed());
        EXPECT_TRUE(db.Photos.Items(0).Thumb.Empty());
    }
}

TEST(ThumbnailLoader, ByNamePreviewsOfAPhotosSqliteLibraryAreDecodedPixelExact) {
    TTempDir root;
    fs::create_directories(root / "PhotoData/Thumbnails");
    TPhotosSqliteBuilder b(TPhotosEra::Ios11);
    b.AddAsset(PhotosAsset(101, 1, "DCIM/100APPLE", "IMG_0001.JPG"));
    b.AddAsset(PhotosAsset(102, 0, "DCIM/100APPLE", "IMG_0002.JPG"));
    b.AddAsset(PhotosAsset(103, 7, "DCIM/100APPLE", "IMG_0003.JPG"));  // past the file's end
    b.Write(root / "PhotoData/Photos.sqlite");
    // Mobile devices use 5-5-5 pixels; each 64 x 64 record carries 28 bytes that are no pixels.
    const std::string first = Record(
        64, 64, [](int, int y) -> uint16_t { return y == 0 ? 0x7C00 : 0x001F; }, 28);
    const std::string second = Record(
        64, 64, [](int x, int) -> uint16_t { return x == 0 ? 0x03E0 : 0x7FFF; }, 28);
    ASSERT_EQ(first.size(), 8220u);
    WriteFile(root / "PhotoData/Thumbnails/3309.ithmb", first + second);
    auto device = MobileDevice(root.Path());
    TIpodPhotoDb db(*device, true);
    ASSERT_TRUE(db.Load());

    TLoaderRun run;
    run.Run(&db, false);
    EXPECT_EQ(run.Items, (std::vector<std::pair<int, int>>{{0, 3}, {1, 3}, {2, 3}}));
    EXPECT_EQ(run.Done, std::vector<bool>{true});
    EXPECT_TRUE(run.AllOnOwnerThread);
    EXPECT_EQ(db.Photos.Items(0).Thumb,
              Picture(64, 64, [](int x, int) { return x == 0 ? kGreen : kWhite; }));
    EXPECT_EQ(db.Photos.Items(1).Thumb,
              Picture(64, 64, [](int, int y) { return y == 0 ? kRed : kBlue; }));
    EXPECT_TRUE(db.Photos.Items(2).Thumb.Empty());
}

TEST(ThumbnailLoader, RecordPreviewsComeFromFileNumberOneInDiskMode) {
    TTempDir root;
    auto device = DiskDevice(root.Path());
    // Disk mode uses 5-6-5 pixels.
    const std::string first =
        Record(42, 30, [](int, int y) -> uint16_t { return y < 15 ? 0xF800 : 0x07E0; });
    const std::string second =
        Record(42, 30, [](int x, int) -> uint16_t { return x < 21 ? 0xFFFF : 0x001F; });
    WriteFile(root / "Photos/Thumbs/F1009_1.ithmb", first + second);
    WriteFile(root / "Photos/Thumbs/F1009_2.ithmb", second + first);
    TIpodPhotoDb db(*device, true);
    // A damaged offset and one past the end leave their previews empty.
    SetUpRecordLibrary(db, {2520, 0, -1, 5040});
    TLoaderRun run;
    run.Run(&db, false);
    EXPECT_EQ(run.Items.size(), 4u);
    EXPECT_EQ(run.Done, std::vector<bool>{true});
    EXPECT_EQ(db.Photos.Items(0).Thumb,
              Picture(42, 30, [](int x, int) { return x < 21 ? kWhite : kBlue; }));
    EXPECT_EQ(db.Photos.Items(1).Thumb,
              Picture(42, 30, [](int, int y) { return y < 15 ? kRed : kGreen; }));
    EXPECT_TRUE(db.Photos.Items(2).Thumb.Empty());
    EXPECT_TRUE(db.Photos.Items(3).Thumb.Empty());
}

// Record previews are made one at a time; camera-roll previews with a helper that has the next
// one under way when the stop comes: it is not kept.
TEST(ThumbnailLoader, TerminationDuringItemFiveOfTenReportsThatItemThenTheEnd) {
    for (bool cameraRoll : {false, true}) {
        SCOPED_TRACE(cameraRoll ? "camera roll" : "records");
        TTempDir root;
        auto device = DiskDevice(root.Path());
        WriteFile(root / "Photos/Thumbs/F1009_1.ithmb", Record(42, 30, [](int, int) { return 0; }));
        for (int i = 0; i < 10; ++i) {
            WriteFile(root / ("DCIM/100APPLE/IMG_000" + std::to_string(i) + ".JPG"),
                      JpegFile(SolidPicture(64, 64, kRed)));
        }
        TIpodPhotoDb db(*device, true);
        SetUpRecordLibrary(db, std::vector<int32_t>(10, 0));
        ASSERT_EQ(db.LoadCameraRoll(), 10);
        TLoaderRun run;
        run.OnItemHook = [](TLoadAllThumbnailThd& loader, int index) {
            if (index == 4)
                loader.Terminate();
        };
        run.Run(&db, cameraRoll);
        ASSERT_EQ(run.Items.size(), 5u);
        EXPECT_EQ(run.Items.back(), std::make_pair(4, 10));
        EXPECT_EQ(run.Done, std::vector<bool>{false});
        EXPECT_FALSE(run.Loader().Completed());
        auto thumb = [&](int i) -> const TBitmap& {
            return cameraRoll ? db.CameraPhotos.Items(i).Thumb : db.Photos.Items(i).Thumb;
        };
        EXPECT_FALSE(thumb(4).Empty());
        EXPECT_TRUE(thumb(5).Empty());
    }
}

TEST(ThumbnailLoader, WaitingOnTheOwnersThreadRunsTheReportsWithoutPumping) {
    TTempDir root;
    auto device = DiskDevice(root.Path());
    WriteFile(root / "Photos/Thumbs/F1009_1.ithmb", Record(42, 30, [](int, int) { return 0; }));
    TIpodPhotoDb db(*device, true);
    SetUpRecordLibrary(db, {0, 0, 0});
    {
        SCOPED_TRACE("WaitFor");
        TLoaderRun run;
        run.Start(&db, false);
        run.Loader().WaitFor();
        EXPECT_EQ(run.Items.size(), 3u);
        EXPECT_EQ(run.Done, std::vector<bool>{true});
        EXPECT_TRUE(run.AllOnOwnerThread);
        // The hand-overs it gave up run as no-ops.
        run.Queue().ProcessEvents(std::chrono::milliseconds(50));
        EXPECT_EQ(run.Items.size(), 3u);
    }
    {
        SCOPED_TRACE("destroyed while running");
        SetUpRecordLibrary(db, std::vector<int32_t>(200, 0));
        TLoaderRun run;
        run.Start(&db, false);
        while (run.Items.empty())
            run.Queue().ProcessEvents(std::chrono::milliseconds(20));
        run.Destroy();
        EXPECT_EQ(run.Done, std::vector<bool>{false});
        EXPECT_LT(run.Items.size(), 203u);
        EXPECT_TRUE(run.AllOnOwnerThread);
    }
    {
        SCOPED_TRACE("a dispatcher that refuses work stops the loader instead of hanging it");
        // Fresh photos: those given previews above would be skipped.
        db.Photos.Clear();
        SetUpRecordLibrary(db, std::vector<int32_t>(200, 0));
        TEventQueue queue;
        queue.Shutdown();
        bool called = false;
        TLoadAllThumbnailThd loader(
            &db, false, [&](bool) { called = true; }, [&](int, int) { called = true; },
            queue.Dispatcher());
        // Waited for elsewhere, so that no report runs on this (the owner's) thread instead.
        std::thread([&loader] { loader.WaitFor(); }).join();
        EXPECT_FALSE(called);
        EXPECT_EQ(loader.Index(), 0);
        EXPECT_FALSE(loader.Completed());
    }
}

// Camera-roll files: pictures of three kinds that decode, a video without a poster frame, which
// gets the video placeholder, and an undecodable JPEG and a HEIC that is not one, which get the
// placeholder.
struct TCameraFile {
    const char* Path;
    std::string Bytes;
    TPictureKind Kind;  // pkNone: the placeholder
    bool Video = false;
};

std::vector<TCameraFile> CameraFiles() {
    const TBitmap picture = QuarteredPicture(16, 12, kRed, kGreen, kBlue, kWhite);
    return {{"DCIM/100APPLE/IMG_0001.JPG", JpegFile(picture), pkJpeg},
            {"DCIM/100APPLE/IMG_0002.PNG", PngFile(picture), pkPng},
            {"DCIM/100APPLE/IMG_0003.MOV", MovFile(2000), pkNone, true},
            {"DCIM/100APPLE/IMG_0004.JPG", JunkFile(3000), pkNone},
            {"DCIM/101APPLE/IMG_0005.bmp", BmpFile(picture), pkBmp},
            {"DCIM/101APPLE/IMG_0006.HEIC", JpegFile(picture), pkNone}};
}

struct TCameraCase {
    int CellWidth;
    int CellHeight;
    int Width;  // of every preview
    int Height;
};

void ExpectCameraPreviews(TIpodPhotoDb& db, const TCameraCase& c,
                          const std::vector<TCameraFile>& files) {
    TLoaderRun run;
    run.Run(&db, true);
    EXPECT_EQ(run.Items.size(), files.size());
    EXPECT_EQ(run.Done, std::vector<bool>{true});

    for (int i = 0; i < db.CameraPhotos.Count(); ++i) {
        const TCamPhotoItem& item = db.CameraPhotos.Items(i);
        SCOPED_TRACE(item.FileName);
        auto file = std::find_if(files.begin(), files.end(), [&](const TCameraFile& f) {
            return fs::path(f.Path).filename() == item.FileName;
        });
        ASSERT_NE(file, files.end());
        const TBitmap& thumb = item.Thumb;
        ASSERT_EQ(thumb.Width(), c.Width);
        ASSERT_EQ(thumb.Height(), c.Height);
        if (file->Kind != pkNone) {
            TThumbnail thumbnail(c.Width, c.Height);
            ASSERT_TRUE(thumbnail.LoadFromStream(StreamOf(file->Bytes), file->Kind));
            EXPECT_EQ(thumb, thumbnail.Thumbnail());
            continue;
        }
        if (file->Video) {
            EXPECT_EQ(thumb, MakeVideoPlaceholder(c.Width, c.Height));
            continue;
        }
        // The placeholder: silver, a white frame 5 pixels wide centred on the outline of the
        // middle rectangle, silver inside.
        const int left = c.Width / 4;
        const int right = 3 * (c.Width / 4);
        const int y = c.Height / 2;
        EXPECT_EQ(thumb.Pixel(0, 0), kSilver);
        EXPECT_EQ(thumb.Pixel(left - 3, y), kSilver);
        EXPECT_EQ(thumb.Pixel(left - 2, y), kWhite);
        EXPECT_EQ(thumb.Pixel(left + 2, y), kWhite);
        EXPECT_EQ(thumb.Pixel(left + 3, y), kSilver);
        EXPECT_EQ(thumb.Pixel(c.Width / 2, y), kSilver);
        EXPECT_EQ(thumb.Pixel(right + 1, y), kWhite);
        EXPECT_EQ(thumb.Pixel(right + 2, y), kSilver);
        EXPECT_EQ(thumb.Pixel(c.Width / 2, c.Height / 4), kWhite);
    }
}

TEST(ThumbnailLoader, CameraRollPreviewsAndThePlaceholderInBothModes) {
    const TCameraCase cases[] = {{40, 30, 40, 30}, {0, 0, 100, 100}, {-5, 5000, 100, 100}};
    const std::vector<TCameraFile> files = CameraFiles();
    for (bool mobile : {true, false}) {
        for (const TCameraCase& c : cases) {
            SCOPED_TRACE(std::string(mobile ? "mobile " : "disk mode ") +
                         std::to_string(c.CellWidth) + " x " + std::to_string(c.CellHeight));
            TTempDir root;
            for (const TCameraFile& file : files)
                WriteFile(root / file.Path, file.Bytes);
            auto device = mobile ? MobileDevice(root.Path()) : DiskDevice(root.Path());
            TIpodPhotoDb db(*device, true);
            ASSERT_EQ(db.LoadCameraRoll(), static_cast<int>(files.size()));
            db.Photos.ThumbWidth = c.CellWidth;
            db.Photos.ThumbHeight = c.CellHeight;
            ExpectCameraPreviews(db, c, files);
        }
    }
}

}  // namespace
}  // namespace corvane
