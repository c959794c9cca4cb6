// Photo export of picture files: the library's full-size files (Photo Database and
// Photos.sqlite naming), the camera roll, renaming on collision and the same-size skip in 64 bits,
// the error limits, the one retry and its source, names from the device that must stay inside
// the destination, a device that goes away mid-file and a destination that fills up.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "device/DeviceFolder.h"
#include "device/SimulatedDevice.h"
#include "device/iPodDev.h"
#include "fixtures/DeviceSessions.h"
#include "fixtures/IthmbBuilder.h"
#include "fixtures/PhotoDbBuilder.h"
#include "fixtures/PhotosSqliteBuilder.h"
#include "fixtures/PictureFiles.h"
#include "fixtures/TempDir.h"
#include "photo/iPodPhoto.h"
#include "platform/PlatformTestSupport.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using namespace testing;
using ::testing::HasSubstr;
using ::testing::Not;

TSimulatedFaults GoneAfter(uint64_t bytes) {
    TSimulatedFaults faults;
    faults.GoneAfterBytes = bytes;
    return faults;
}

// Names in a folder and below it, relative, hidden ones too.
std::set<std::string> Tree(const std::string& dir) {
    std::set<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(dir))
        names.insert(fs::relative(entry.path(), dir).string());
    return names;
}

// A library whose photos are files of their own, set up as the Photo Database reader leaves
// it; FilePath below the device's Photos folder.
void AddFilePhoto(TIpodPhotoDb& db, uint32_t id, const std::string& filePath) {
    TPhotoItem& photo = db.Photos.Add();
    photo.ImageId = id;
    photo.Name = std::to_string(id);
    photo.FilePath = filePath;
    db.Photos.Check(db.Photos.Count() - 1);
}

void AddCameraFile(TIpodPhotoDb& db, const std::string& path, const std::string& fileName) {
    TCamPhotoItem& item = db.CameraPhotos.Add();
    item.Path = path;
    item.FileName = fileName;
    db.CameraPhotos.Check(db.CameraPhotos.Count() - 1);
}

// A disk-mode iPod in Dir/ipod, a library of file photos and a destination Dir/out.
struct TFileExport {
    TTempDir Dir;
    std::string Root = Dir / "ipod";
    std::string Out = Dir / "out/";
    std::unique_ptr<TIpodDevice> Device = DiskDevice(Root);
    TIpodPhotoDb Db{*Device, false};
    std::vector<std::string> Progress;

    TFileExport() {
        Db.SeparateFiles = true;
        Db.Destination = Out;
        fs::create_directories(Out);
        Db.OnProgress = [this](const std::string& name) { Progress.push_back(name); };
    }
    // A device file below Photos/Full Resolution, and a photo naming it.
    void AddDeviceFile(uint32_t id, const std::string& name, const std::string& bytes) {
        WriteFile(Root + "/Photos/Full Resolution/" + name, bytes);
        AddFilePhoto(Db, id, ":Full Resolution:" + name);
    }
};

TEST(PhotoExportFiles, PhotoDatabaseFilesAreCopiedRenamedOnCollisionAndSkippedWhenPresent) {
    TTempDir dir;
    const std::string root = dir / "ipod";
    const std::string one(1000, '1');
    const std::string two(2000, '2');
    WriteFile(root + "/Photos/Full Resolution/2006/05/01/IMG_0001.JPG", one);
    WriteFile(root + "/Photos/Full Resolution/2006/05/01/IMG_0002.JPG", two);
    TPhotoDbBuilder builder;
    for (uint32_t k = 1; k <= 2; ++k) {
        TPhotoDbImage image;
        image.Id = 100 + k;
        image.Objects = {
            TPhotoDbObject::FullResolution(":Full Resolution:2006:05:01:IMG_000" +
                                           std::to_string(k) + ".JPG"),
            TPhotoDbObject::Picture(PhotoRef(1009, 0, 2520, 42, 30, ":Thumbs:F1009_1.ithmb"))};
        builder.AddImage(std::move(image));
    }
    builder.AddAlbum("Photo Library", builder.AllImageIds());
    builder.AddAlbum("Garden: Spring?", {102});
    WriteFile(root + "/Photos/Photo Database", builder.Build());

    auto device = DiskDevice(root);
    TIpodPhotoDb db(*device, false);
    ASSERT_TRUE(db.Load());
    ASSERT_TRUE(db.SeparateFiles);
    std::vector<std::string> progress;
    db.OnProgress = [&](const std::string& name) { progress.push_back(name); };
    std::string folder = dir / "out";
    ASSERT_TRUE(db.PrepareDestination(folder));
    const std::string out = folder;
    WriteFile(out + "IMG_0001.JPG", "someone else's");

    EXPECT_EQ(db.Export(), 2) << db.Log.Text();
    EXPECT_EQ(ReadFile(out + "IMG_0001.JPG"), "someone else's");
    EXPECT_EQ(ReadFile(out + "1_IMG_0001.JPG"), one);
    EXPECT_EQ(ReadFile(out + "Garden_ Spring_/IMG_0002.JPG"), two);
    EXPECT_EQ(progress, (std::vector<std::string>{"IMG_0001.JPG", "IMG_0002.JPG"}));

    // Copied before, with the same size: nothing is copied, the progress still counts them.
    EXPECT_EQ(db.Export(), 0);
    EXPECT_EQ(progress.size(), 4u);

    // The first renamed copy changed size: the next collision gives 2_1_.
    WriteFile(out + "1_IMG_0001.JPG", "changed");
    EXPECT_EQ(db.Export(), 1);
    EXPECT_EQ(ReadFile(out + "2_1_IMG_0001.JPG"), one);
    EXPECT_EQ(ReadFile(out + "1_IMG_0001.JPG"), "changed");
    EXPECT_EQ(Tree(out),
              (std::set<std::string>{"IMG_0001.JPG", "1_IMG_0001.JPG", "2_1_IMG_0001.JPG",
                                     "Garden_ Spring_", "Garden_ Spring_/IMG_0002.JPG"}));
    EXPECT_EQ(db.Log.Text(), "");
}

TEST(PhotoExportFiles, PhotosSqliteFilesOfAMobileDeviceAndTheDeviceGoingAwayMidFile) {
    TTempDir root;
    TPhotosSqliteBuilder photos(TPhotosEra::Ios11);
    photos.AddAsset(PhotosAsset(101, 0, "DCIM/100APPLE", "IMG_0001.JPG"));
    photos.AddAsset(PhotosAsset(102, 1, "DCIM/100APPLE", "IMG_0002.JPG"));
    photos.AddAsset(PhotosAsset(103, 2, "DCIM/100APPLE", "IMG_0003.JPG"));
    photos.AddAlbum(PhotosAlbum(7, std::string("My:Trip?"), {101}));
    fs::create_directories(root / "PhotoData");
    photos.Write(root / "PhotoData/Photos.sqlite");
    WriteFile(root / "PhotoData/Thumbnails/3309.ithmb", std::string(3 * 8220, '\0'));
    const std::string big = JunkFile(3 << 20, 7);  // three copy buffers
    WriteFile(root / "DCIM/100APPLE/IMG_0001.JPG", "first");
    WriteFile(root / "DCIM/100APPLE/IMG_0002.JPG", big);
    WriteFile(root / "DCIM/100APPLE/IMG_0003.JPG", big);

    TMobileSession mobile = MobileSession(root.Path());
    ASSERT_TRUE(mobile.Session->IsIos());
    TIpodPhotoDb db(*mobile.Session, false);
    ASSERT_TRUE(db.Load());
    ASSERT_TRUE(db.ThumbFormat.ByName);
    TTempDir out;
    db.Destination = out.Path() + "/";
    WriteFile(out / "IMG_0003.JPG", "mine");  // another size: the copy goes to 1_

    // The device goes away half-way through the second file.
    mobile.Control->SetFaults(GoneAfter(5 + (3 << 20) / 2));
    EXPECT_EQ(db.Export(), 1);
    mobile.Control->WaitIdle();
    EXPECT_EQ(ReadFile(out / "My_Trip_/IMG_0001.JPG"), "first");
    EXPECT_EQ(ReadFile(out / "IMG_0003.JPG"), "mine");
    // Nothing half written, under its name or a temporary one.
    EXPECT_EQ(Tree(out.Path()),
              (std::set<std::string>{"My_Trip_", "My_Trip_/IMG_0001.JPG", "IMG_0003.JPG"}));
    const std::string log = db.Log.Text();
    EXPECT_THAT(log, HasSubstr("\r\nDCIM/100APPLE/IMG_0002.JPG: Error "));
    EXPECT_THAT(log, HasSubstr("\r\nDCIM/100APPLE/IMG_0003.JPG: Error "));
}

struct TLimitCase {
    const char* Name;
    bool Camera;
    int Failures;
    int Copied;
    bool Aborted;
};

TEST(PhotoExportFiles, ThirtyFailedCopiesGoOnAndTheThirtyFirstStops) {
    const TLimitCase cases[] = {
        {"library, 30 failures", false, 30, 1, false},
        {"library, 31 failures", false, 31, 0, true},
        {"camera roll, 30 failures", true, 30, 1, false},
        {"camera roll, 31 failures", true, 31, 0, true},
    };
    for (const TLimitCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TFileExport e;
        const std::string dcim = e.Root + "/DCIM/100APPLE/";
        for (int k = 0; k < c.Failures; ++k) {
            const std::string name = "GONE_" + std::to_string(k) + ".JPG";
            if (c.Camera) {
                AddCameraFile(e.Db, dcim + name, name);
            } else {
                AddFilePhoto(e.Db, 100 + k, ":Full Resolution:" + name);
            }
        }
        if (c.Camera) {
            WriteFile(dcim + "IMG_0001.JPG", "picture");
            AddCameraFile(e.Db, dcim + "IMG_0001.JPG", "IMG_0001.JPG");
        } else {
            e.AddDeviceFile(1, "IMG_0001.JPG", "picture");
        }
        const int copied = c.Camera ? e.Db.ExportCameraRoll() : e.Db.Export();
        EXPECT_EQ(copied, c.Copied);
        EXPECT_EQ(c.Camera ? e.Db.CameraRollFailures : e.Db.ExportFailures, c.Failures);
        const std::string log = e.Db.Log.Text();
        const std::string first = c.Camera ? dcim + "GONE_0.JPG" : ":Full Resolution:GONE_0.JPG";
        EXPECT_THAT(log,
                    HasSubstr("\r\n" + first + ": Error " + std::to_string(LocalCopyCode(ENOENT))));
        const std::string abort = c.Camera ? "Too many error, camera photos transfer abort."
                                           : "Too many error, transfer abort.";
        if (c.Aborted) {
            EXPECT_THAT(log, HasSubstr("GONE_30.JPG: Error " +
                                       std::to_string(LocalCopyCode(ENOENT)) + "\r\n" + abort));
            EXPECT_EQ(e.Progress.size(), 31u);
        } else {
            EXPECT_THAT(log, Not(HasSubstr(abort)));
            EXPECT_EQ(e.Progress.size(), 31u);
        }
    }
}

TEST(PhotoExportFiles, RetryAfterATransientErrorReadsTheSameSource) {
    for (bool camera : {false, true}) {
        SCOPED_TRACE(camera ? "camera roll" : "library");
        TFileExport e;
        // Reading this process's memory at offset 0 fails with EIO, as a failing device does;
        // while the export waits, the file becomes readable. A library path is never followed
        // through a link out of the device, so there the memory is mounted over a device file.
        const std::string source = e.Root + "/DCIM/100APPLE/IMG_0001.JPG";
        fs::create_directories(e.Root + "/DCIM/100APPLE");
        std::unique_ptr<TBindMount> memory;
        if (camera) {
            fs::create_symlink("/proc/self/mem", source);
        } else {
            WriteFile(source, "");
            memory = std::make_unique<TBindMount>("/proc/self/mem", source);
            if (!memory->Mounted()) {
                std::printf("needs root to mount over a file: library half left out\n");
                continue;
            }
        }
        std::vector<std::chrono::milliseconds> pauses;
        e.Db.RetryPause = [&](std::chrono::milliseconds wait) {
            pauses.push_back(wait);
            memory.reset();
            fs::remove(source);
            WriteFile(source, "picture");
        };
        e.Db.CameraPhotos.DcimRoot = e.Device->DcimPath();
        int copied;
        std::string target;
        if (camera) {
            AddCameraFile(e.Db, source, "IMG_0001.JPG");
            copied = e.Db.ExportCameraRoll();
            target = e.Out + "Camera_Roll/IMG_0001.JPG";
        } else {
            e.Db.ThumbFormat.ByName = true;  // Photos.sqlite naming: the path as it is
            AddFilePhoto(e.Db, 1, "DCIM/100APPLE/IMG_0001.JPG");
            copied = e.Db.Export();
            target = e.Out + "IMG_0001.JPG";
        }
        EXPECT_EQ(copied, 1) << e.Db.Log.Text();
        EXPECT_EQ(pauses, (std::vector<std::chrono::milliseconds>{
                              std::chrono::milliseconds(camera ? 1000 : 2000)}));
        EXPECT_EQ(ReadFile(target), "picture");
        EXPECT_EQ(e.Db.Log.Text(), "");
    }
}

TEST(PhotoExportFiles, SameSizeIsComparedInSixtyFourBits) {
    TFileExport e;
    constexpr uintmax_t kFourGiB = uintmax_t{1} << 32;
    // Sparse files: sizes without the data.
    e.AddDeviceFile(1, "BIG.MOV", "");
    fs::resize_file(e.Root + "/Photos/Full Resolution/BIG.MOV", kFourGiB + 7);
    WriteFile(e.Out + "BIG.MOV", "");
    fs::resize_file(e.Out + "BIG.MOV", kFourGiB + 7);
    // 4 GiB + 7 and 7 bytes agree in their low 32 bits only.
    e.AddDeviceFile(2, "SMALL.MOV", "seven!!");
    WriteFile(e.Out + "SMALL.MOV", "");
    fs::resize_file(e.Out + "SMALL.MOV", kFourGiB + 7);

    EXPECT_EQ(e.Db.Export(), 1) << e.Db.Log.Text();
    EXPECT_EQ(ReadFile(e.Out + "1_SMALL.MOV"), "seven!!");
    EXPECT_EQ(Tree(e.Out), (std::set<std::string>{"BIG.MOV", "SMALL.MOV", "1_SMALL.MOV"}));
    EXPECT_EQ(fs::file_size(e.Out + "SMALL.MOV"), kFourGiB + 7);
}

TEST(PhotoExportFiles, CameraRollGoesIntoItsFolderOnlyWhenSomethingIsTicked) {
    TFileExport e;
    const std::string dcim = e.Root + "/DCIM/100APPLE/";
    WriteFile(dcim + "IMG_0001.JPG", "one");
    WriteFile(dcim + "IMG_0002.JPG", "two");
    WriteFile(dcim + "IMG_0003.JPG", "three");
    e.Db.WithCameraRoll = true;
    e.Db.LoadCameraRoll();
    ASSERT_EQ(e.Db.CameraPhotos.Count(), 3);
    EXPECT_EQ(e.Db.ExportCameraRoll(), 0);
    EXPECT_FALSE(fs::exists(e.Out + "Camera_Roll"));
    EXPECT_TRUE(e.Progress.empty());

    for (int i = 0; i < 3; ++i) {
        if (e.Db.CameraPhotos.Items(i).FileName != "IMG_0002.JPG")
            e.Db.CameraPhotos.Check(i);
    }
    WriteFile(e.Out + "Camera_Roll/IMG_0003.JPG", "mine");
    e.Db.OrganizeByAlbum = true;  // has no say over the camera roll
    // A file of another size under a picture's name is not that picture: it gets a free name.
    EXPECT_EQ(e.Db.ExportCameraRoll(), 2);
    EXPECT_EQ(ReadFile(e.Out + "Camera_Roll/IMG_0001.JPG"), "one");
    EXPECT_EQ(ReadFile(e.Out + "Camera_Roll/IMG_0003.JPG"), "mine");
    EXPECT_EQ(ReadFile(e.Out + "Camera_Roll/1_IMG_0003.JPG"), "three");
    EXPECT_EQ(Tree(e.Out + "Camera_Roll"),
              (std::set<std::string>{"IMG_0001.JPG", "IMG_0003.JPG", "1_IMG_0003.JPG"}));
    EXPECT_EQ(e.Progress.size(), 2u);
}

TEST(PhotoExportFiles, CameraFilesOfOneNameInTwoFoldersAreAllCopiedOnce) {
    for (bool mobile : {false, true}) {
        SCOPED_TRACE(mobile ? "mobile device" : "disk mode");
        TTempDir dir;
        const std::string root = dir / "device";
        // The same names again in the next folder, as after 9,999 pictures; one of each pair
        // of the same size, so that size alone cannot tell them apart.
        WriteFile(root + "/DCIM/100APPLE/IMG_0001.JPG", "first folder");
        WriteFile(root + "/DCIM/100APPLE/IMG_0002.JPG", "same size A");
        WriteFile(root + "/DCIM/101APPLE/IMG_0001.JPG", "second folder, longer");
        WriteFile(root + "/DCIM/101APPLE/IMG_0002.JPG", "same size B");
        std::unique_ptr<TIpodDevice> device = mobile ? MobileDevice(root) : DiskDevice(root);
        TIpodPhotoDb db(*device, true);
        db.LoadCameraRoll();
        ASSERT_EQ(db.CameraPhotos.Count(), 4);
        for (int i = 0; i < 4; ++i)
            db.CameraPhotos.Check(i);
        db.Destination = dir / "out/";
        fs::create_directories(db.Destination);
        EXPECT_EQ(db.ExportCameraRoll(), 4);
        EXPECT_EQ(db.CameraRollFailures, 0);
        const std::string roll = db.Destination + "Camera_Roll/";
        std::set<std::string> contents;
        for (const std::string& name : Tree(roll))
            contents.insert(ReadFile(roll + name));
        EXPECT_EQ(contents, (std::set<std::string>{"first folder", "same size A",
                                                   "second folder, longer", "same size B"}));
        EXPECT_EQ(Tree(roll).size(), 4u);
        // Again: everything is there already.
        EXPECT_EQ(db.ExportCameraRoll(), 0);
        EXPECT_EQ(db.CameraRollFailures, 0);
        EXPECT_EQ(Tree(roll).size(), 4u);
    }
}

TEST(PhotoExportFiles, CancelStopsAfterThePictureInHand) {
    for (bool camera : {false, true}) {
        SCOPED_TRACE(camera ? "camera roll" : "library");
        TFileExport e;
        for (int k = 1; k <= 3; ++k) {
            const std::string name = "IMG_000" + std::to_string(k) + ".JPG";
            e.AddDeviceFile(k, name, name);
            AddCameraFile(e.Db, e.Root + "/Photos/Full Resolution/" + name, name);
        }
        e.Db.Cancelled = true;  // cleared by the export
        e.Db.OnProgress = [&](const std::string& name) {
            e.Progress.push_back(name);
            if (e.Progress.size() == 2)
                e.Db.Cancelled = true;
        };
        EXPECT_EQ(camera ? e.Db.ExportCameraRoll() : e.Db.Export(), 2);
        EXPECT_EQ(e.Progress, (std::vector<std::string>{"IMG_0001.JPG", "IMG_0002.JPG"}));
    }
}

TEST(PhotoExportFiles, NamesFromTheDeviceStayInsideTheDestination) {
    TFileExport e;
    e.Db.Destination = e.Out + "dest/";
    fs::create_directories(e.Db.Destination);
    const std::string dest = e.Db.Destination;
    // Photo Database paths: a control character, and ".." as the last part.
    e.AddDeviceFile(1, "IMG\x01.JPG", "control");
    AddFilePhoto(e.Db, 2, ":Full Resolution:..");
    // Photos.sqlite-style names are tested through the camera roll's, which come the same way.
    const std::string real = e.Root + "/DCIM/100APPLE/IMG_0001.JPG";
    WriteFile(real, "camera");
    AddCameraFile(e.Db, real, "..");
    AddCameraFile(e.Db, real, ".");
    AddCameraFile(e.Db, real, "../../escape.JPG");
    AddCameraFile(e.Db, real, "line\nbreak.JPG");
    AddCameraFile(e.Db, real, "");

    EXPECT_EQ(e.Db.Export(), 1);
    EXPECT_EQ(ReadFile(dest + "IMG_.JPG"), "control");
    EXPECT_THAT(e.Db.Log.Text(), HasSubstr(":Full Resolution:..: Error "));
    EXPECT_EQ(e.Db.ExportCameraRoll(), 5);
    EXPECT_EQ(Tree(dest),
              (std::set<std::string>{"IMG_.JPG", "Camera_Roll", "Camera_Roll/__", "Camera_Roll/_",
                                     "Camera_Roll/.._.._escape.JPG", "Camera_Roll/line_break.JPG",
                                     "Camera_Roll/Camera_5"}));
    // Nothing beside the destination.
    EXPECT_EQ(FolderNames(e.Out), (std::set<std::string>{"dest"}));
    EXPECT_EQ(FolderNames(e.Dir.Path()), (std::set<std::string>{"ipod", "out"}));
}

TEST(PhotoExportFiles, FullDestinationLeavesNoPartOfACopy) {
    TFileExport e;
    const std::string small = e.Dir / "small";
    fs::create_directories(small);
    TTmpfsMount tmpfs(small, "size=64k");
    if (!tmpfs.Mounted())
        GTEST_SKIP() << "needs root to mount a tmpfs";
    e.Db.Destination = small + "/";
    e.AddDeviceFile(1, "BIG.JPG", JunkFile(200000));
    e.AddDeviceFile(2, "SMALL.JPG", JunkFile(10000, 2));
    EXPECT_EQ(e.Db.Export(), 1);
    EXPECT_THAT(e.Db.Log.Text(), HasSubstr(":Full Resolution:BIG.JPG: Error " +
                                           std::to_string(LocalCopyCode(ENOSPC))));
    EXPECT_EQ(FolderNames(small), (std::set<std::string>{"SMALL.JPG"}));
    EXPECT_TRUE(ReadFile(small + "/SMALL.JPG") == JunkFile(10000, 2));
}

}  // namespace
}  // namespace corvane
