#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>

#include "device/DeviceFolder.h"
#include "device/SimulatedDevice.h"
#include "device/iPodDev.h"
#include "fixtures/TempDir.h"
#include "platform/PlatformTestSupport.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::TTempDir;
using testing::WriteFile;

std::unique_ptr<IMobileDeviceLibrary> NoLibrary() {
    return LoadMobileDevice("libcorvane-missing-device.so", "libcorvane-missing-plist.so");
}

TMountChange Added(const std::string& mountPoint) {
    TMountChange change;
    change.Added.push_back(TMountEntry{0, mountPoint, "vfat", "/dev/sdz1"});
    return change;
}

TMountChange Removed(const std::string& mountPoint) {
    TMountChange change;
    change.Removed.push_back(TMountEntry{0, mountPoint, "vfat", "/dev/sdz1"});
    return change;
}

TSimulatedDeviceOptions Simulated(const std::string& root, const std::string& name,
                                  bool plugged = true) {
    TSimulatedDeviceOptions options;
    options.Root = root;
    options.DeviceName = name;
    options.PluggedAtStart = plugged;
    return options;
}

// Records the reports a session makes.
struct TReports {
    std::atomic<int> Attached{0};
    std::atomic<int> Lost{0};
    TIpodDevice::TOnChange Callback() {
        return [this](bool connected) { (connected ? Attached : Lost)++; };
    }
};

// A disk-mode iPod in a temporary folder, found as an extra volume.
class DiskModeTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(FIpod / "iPod_Control/iTunes");
        TDeviceSessionOptions options;
        options.LoadLibrary = NoLibrary;
        options.VolumeRule = nullptr;
        options.WatchMounts = false;
        options.ExtraVolumes = {FOther.Path(), FIpod.Path()};
        FDevice = std::make_unique<TIpodDevice>(FReports.Callback(), options);
        ASSERT_TRUE(FDevice->ScanDrives());
    }

    TTempDir FIpod;
    TTempDir FOther;  // a removable volume without iPod_Control
    TReports FReports;
    std::unique_ptr<TIpodDevice> FDevice;
};

TEST_F(DiskModeTest, TheFirstVolumeWithITunesFolderIsServed) {
    EXPECT_TRUE(FDevice->Connected());
    EXPECT_FALSE(FDevice->IsIos());
    EXPECT_EQ(FDevice->Drive(), FIpod.Path());
    EXPECT_EQ(FReports.Attached, 1);
    EXPECT_TRUE(FDevice->NoLibrary());
    EXPECT_NE(FDevice->Log.Text().find(
                  "Cannot load the mobile-device library, requires libimobiledevice"),
              std::string::npos);
    EXPECT_EQ(FDevice->DisplayName(), "iPod");
    FDevice->SetDisplayName("Kim's iPod");
    EXPECT_EQ(FDevice->DisplayName(), "Kim's iPod");
    FDevice->SetDisplayName("Other");
    EXPECT_EQ(FDevice->DisplayName(), "Kim's iPod");
}

TEST_F(DiskModeTest, VolumeEventsAttachAndLose) {
    TTempDir second;
    fs::create_directories(second / "iPod_Control/iTunes");
    // A second iPod arriving while the first is served is ignored.
    FDevice->VolumeMessage(Added(second.Path()));
    EXPECT_EQ(FDevice->Drive(), FIpod.Path());
    // Removal of another volume changes nothing.
    FDevice->VolumeMessage(Removed(FOther.Path()));
    EXPECT_TRUE(FDevice->Connected());
    FDevice->VolumeMessage(Removed(FIpod.Path() + "/"));
    EXPECT_FALSE(FDevice->Connected());
    EXPECT_EQ(FDevice->Drive(), "");
    EXPECT_EQ(FReports.Lost, 1);
    EXPECT_NE(FDevice->Log.Text().find("\r\n[!]: Lost iPod, please connect iPod to try again"),
              std::string::npos);
    FDevice->VolumeMessage(Added(second.Path()));
    EXPECT_EQ(FDevice->Drive(), second.Path());
    EXPECT_EQ(FReports.Attached, 2);
}

TEST_F(DiskModeTest, ReadsDatabasesAndLogsWhatIsMissing) {
    TMemoryStream stream;
    bool compressed = true;
    WriteFile(FIpod / "iPod_Control/iTunes/iTunesDB", "plain");
    EXPECT_TRUE(FDevice->ReadITunesDB(stream, compressed));
    EXPECT_FALSE(compressed);
    EXPECT_EQ(stream.Size(), 5u);
    EXPECT_NE(FDevice->Log.Text().find("Not found: /iPod_Control/iTunes/iTunesCDB"),
              std::string::npos);
    WriteFile(FIpod / "iPod_Control/iTunes/iTunesCDB", "zipped!");
    EXPECT_TRUE(FDevice->ReadITunesDB(stream, compressed));
    EXPECT_TRUE(compressed);
    EXPECT_EQ(stream.Size(), 7u);
    EXPECT_EQ(stream.Position(), 0u);
    // Mapped in place instead of copied, with the same choice of file.
    TFileBytes bytes;
    EXPECT_TRUE(FDevice->ReadITunesDB(bytes, compressed));
    EXPECT_TRUE(compressed);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.Data()), bytes.Size()), "zipped!");
    fs::remove(FIpod / "iPod_Control/iTunes/iTunesCDB");
    WriteFile(FIpod / "iPod_Control/iTunes/iTunesDB", "");
    EXPECT_TRUE(FDevice->ReadITunesDB(bytes, compressed));
    EXPECT_FALSE(compressed);
    EXPECT_EQ(bytes.Size(), 0u);

    // Letter case of the volume's folders does not matter; climbing out of it is refused.
    WriteFile(FIpod / "PHOTOS/photo database", "pdb");
    EXPECT_TRUE(FDevice->ReadPhotoDatabase(stream));
    EXPECT_FALSE(
        FDevice->ReadToStream("/../" + fs::path(FOther.Path()).filename().string(), stream));
    EXPECT_EQ(FDevice->ReadImageFile("/PHOTOS/photo database", stream), pkNone);
}

TEST_F(DiskModeTest, StagingReturnsTheVolumesOwnFiles) {
    WriteFile(FIpod / "iPod_Control/iTunes/iTunes Library.itlp/Library.itdb", "db");
    EXPECT_EQ(FDevice->StageITunesFile("Library.itdb", true, ""),
              FIpod / "iPod_Control/iTunes/iTunes Library.itlp/Library.itdb");
    std::string before = FDevice->Log.Text();
    EXPECT_EQ(FDevice->StageITunesFile("MediaLibrary.sqlitedb", false, ""), "");
    EXPECT_EQ(FDevice->StagePhotoDataFile("Photos.sqlite", ""), "");
    EXPECT_EQ(FDevice->StageBooksPlist(true), "");
    EXPECT_EQ(FDevice->StageRingtonesPlist(), "");
    EXPECT_EQ(FDevice->Log.Text(), before);  // missing files on a disk-mode iPod log nothing
}

TEST_F(DiskModeTest, ThumbnailRecordsMustLieInsideTheFile) {
    WriteFile(FIpod / "Photos/Thumbs/F1019_1.ithmb", "abcdefghij");
    EXPECT_FALSE(FDevice->OpenThumbFile("F1009_1", 4));
    EXPECT_NE(FDevice->Log.Text().find("File not found: F1009_1"), std::string::npos);
    ASSERT_TRUE(FDevice->OpenThumbFile("F1019_1", 4));
    TMemoryStream stream;
    stream.Write("HDR", 3);
    EXPECT_TRUE(FDevice->ReadThumbRecord(4, stream, 6));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(stream.Data()), stream.Size()), "HDRghij");
    EXPECT_EQ(stream.Position(), 0u);
    EXPECT_FALSE(FDevice->ReadThumbRecord(4, stream, 7));
    EXPECT_FALSE(FDevice->ReadThumbRecord(0xFFFFFFFF, stream, 0));
    FDevice->CloseThumbFile();
    EXPECT_FALSE(FDevice->ReadThumbRecord(1, stream, 0));
}

TEST_F(DiskModeTest, CopyTrackFileNeverOverwrites) {
    WriteFile(FIpod / "iPod_Control/Music/F00/ABCD.mp3", "12345");
    TTempDir dest;
    const std::string location = ":iPod_Control:Music:F00:ABCD.mp3";

    std::string name = dest / "Song";
    EXPECT_EQ(FDevice->CopyTrackFile(location, name, 5), 0);
    EXPECT_EQ(name, dest / "Song.mp3");
    name = dest / "Song";  // the same track again: already there, not copied twice
    EXPECT_EQ(FDevice->CopyTrackFile(location, name, 5), 0);
    EXPECT_EQ(name, dest / "Song.mp3");
    EXPECT_FALSE(fs::exists(dest / "Song1.mp3"));

    WriteFile(dest / "Other.mp3", "different size");
    name = dest / "Other";
    EXPECT_EQ(FDevice->CopyTrackFile(location, name, 5), 0);
    EXPECT_EQ(name, dest / "Other1.mp3");
    EXPECT_EQ(ReadFile(dest / "Other.mp3"), "different size");
    EXPECT_EQ(ReadFile(dest / "Other1.mp3"), "12345");

    // A direct copy onto an existing file fails with the system's error, set apart from the
    // session's own codes, and changes nothing.
    EXPECT_EQ(FDevice->CopyDeviceFile(location, dest / "Other.mp3"), kCopyLocalError + EEXIST);
    EXPECT_EQ(ReadFile(dest / "Other.mp3"), "different size");
    EXPECT_NE(FDevice->CopyDeviceFile(":iPod_Control:..:..:etc:passwd", dest / "p"), 0);
    EXPECT_FALSE(fs::exists(dest / "p"));
    // A book on a disk-mode iPod is copied like any file (it was once left behind as code 1).
    bool isDir = true;
    name = dest / "Book";
    EXPECT_EQ(FDevice->CopyItem(location, name, isDir, 5), kCopyDone);
    EXPECT_FALSE(isDir);
    EXPECT_EQ(name, dest / "Book.mp3");
    EXPECT_EQ(ReadFile(dest / "Book.mp3"), "12345");
}

// The name a track copy has always been given: the base name, else the first numbered one,
// that is free or holds a regular file of the track's size.
std::string FirstFittingName(const std::string& base, uint64_t size) {
    for (int n = 0;; ++n) {
        const std::string name = base + (n == 0 ? "" : std::to_string(n)) + ".mp3";
        if (!fs::exists(fs::symlink_status(name)) ||
            (fs::is_regular_file(name) && fs::file_size(name) == size))
            return name;
    }
}

TEST_F(DiskModeTest, RememberedNameSearchGivesTheNamesOfAFullSearch) {
    WriteFile(FIpod / "iPod_Control/Music/F00/A.mp3", "12345");
    WriteFile(FIpod / "iPod_Control/Music/F00/B.mp3", "xy");
    WriteFile(FIpod / "iPod_Control/Music/F00/C.mp3", "seven!!");
    TTempDir dest;
    WriteFile(dest / "Song.mp3", "abc");
    WriteFile(dest / "Song1.mp3", "12345");
    WriteFile(dest / "Song2.mp3", "xy");
    fs::create_directory(dest / "Song3.mp3");
    WriteFile(dest / "Song4.mp3", "12345");
    struct TCopy {
        const char* File;
        uint64_t Size;  // as the database says, not always the file's
    } copies[] = {{"A", 5}, {"C", 7}, {"C", 7}, {"B", 2}, {"C", 9}, {"C", 9},
                  {"C", 7}, {"A", 5}, {"B", 3}, {"B", 2}, {"C", 9}};
    auto copy = [&](const TCopy& c) {
        SCOPED_TRACE(std::string(c.File) + " " + std::to_string(c.Size));
        const std::string expected = FirstFittingName(dest / "Song", c.Size);
        std::string name = dest / "Song";
        EXPECT_EQ(FDevice->CopyTrackFile(std::string(":iPod_Control:Music:F00:") + c.File + ".mp3",
                                         name, c.Size),
                  kCopyDone);
        EXPECT_EQ(name, expected);
    };
    for (const TCopy& c : copies)
        copy(c);
    // The next export starts afresh and sees a name freed in between.
    fs::remove(dest / "Song2.mp3");
    FDevice->ForgetFreeNames();
    copy({"C", 7});
    copy({"B", 2});
}

TEST_F(DiskModeTest, CheckDestination) {
    std::string folder = FIpod / "Music";
    EXPECT_FALSE(FDevice->CheckDestination(folder, 1));
    EXPECT_EQ(folder, FIpod.Path() +
                          " is your iPod.\nYou cannot transfer the files from iPod to iPod. "
                          "Please choose another folder in your computer.");

    TTempDir dest;
    folder = "relative/folder";
    EXPECT_FALSE(FDevice->CheckDestination(folder, 1));
    EXPECT_EQ(folder,
              "relative/folder hasn't enough free disk space to save all the selected "
              "items.\nPlease choose another place to try again.");

    folder = dest / "new/nested";
    EXPECT_FALSE(FDevice->CheckDestination(folder, UINT64_MAX));
    EXPECT_NE(folder.find(" hasn't enough free disk space"), std::string::npos);

    folder = dest / "new/nested";
    ASSERT_TRUE(FDevice->CheckDestination(folder, 1));
    EXPECT_EQ(folder, dest / "new/nested/");
    EXPECT_TRUE(fs::is_directory(folder));

    WriteFile(dest / "file", "x");
    folder = dest / "file/sub";
    EXPECT_FALSE(FDevice->CheckDestination(folder, 1));
    EXPECT_EQ(folder,
              "Can not create the folder: " + dest / "file/sub" + "\nPlease choose another place.");
}

TEST_F(DiskModeTest, CheckDestinationKnowsTheDeviceHoweverItIsSpelled) {
    TTempDir other;
    fs::create_directory_symlink(FIpod.Path(), other / "link");
    const std::string refusal = FIpod.Path() + " is your iPod.";
    for (const std::string& spelled :
         {other / "link/x", FIpod / "iPod_Control/../x", FIpod / "iPod_Control/iTunes"}) {
        SCOPED_TRACE(spelled);
        std::string folder = spelled;
        EXPECT_FALSE(FDevice->CheckDestination(folder, 1));
        EXPECT_EQ(folder.substr(0, refusal.size()), refusal);
    }
    EXPECT_FALSE(fs::exists(FIpod / "x"));

    // A folder next to the device, its name starting the same, is not the device.
    std::string beside = FIpod.Path() + "-copy";
    EXPECT_TRUE(FDevice->CheckDestination(beside, 1)) << beside;
    fs::remove_all(FIpod.Path() + "-copy");
}

TEST_F(DiskModeTest, CheckDestinationSeesThroughABindMountOfTheDevice) {
    TTempDir other;
    fs::create_directory(other / "mnt");
    testing::TBindMount bind(FIpod.Path(), other / "mnt");
    if (!bind.Mounted())
        GTEST_SKIP() << "needs root to bind-mount a folder";
    const auto before = testing::Tree(FIpod.Path());
    std::string folder = other / "mnt/x";
    EXPECT_FALSE(FDevice->CheckDestination(folder, 1));
    EXPECT_NE(folder.find(" is your iPod."), std::string::npos) << folder;
    EXPECT_EQ(testing::Tree(FIpod.Path()), before);
}

TEST_F(DiskModeTest, DevicePathsNeverLeaveTheDeviceThroughALink) {
    TTempDir outside;
    WriteFile(outside / "secret.mp3", "outside bytes");
    WriteFile(FIpod / "iPod_Control/Music/F00/REAL.mp3", "device bytes");
    fs::create_symlink(outside / "secret.mp3", FIpod / "iPod_Control/Music/F00/OUT.mp3");
    fs::create_directory_symlink(outside.Path(), FIpod / "iPod_Control/Music/F01");
    fs::create_symlink("REAL.mp3", FIpod / "iPod_Control/Music/F00/SAME.mp3");
    fs::create_symlink("LOOP.mp3", FIpod / "iPod_Control/Music/F00/LOOP.mp3");
    TTempDir dest;
    struct TCase {
        const char* Location;
        bool Copied;
    } cases[] = {
        {":iPod_Control:Music:F00:OUT.mp3", false},
        {":iPod_Control:Music:F01:secret.mp3", false},
        {":iPod_Control:Music:F00:LOOP.mp3", false},
        {":iPod_Control:Music:F00:SAME.mp3", true},  // a link within the device is fine
    };
    int n = 0;
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Location);
        const std::string target = dest / std::to_string(++n);
        EXPECT_EQ(FDevice->CopyDeviceFile(c.Location, target) == kCopyDone, c.Copied);
        EXPECT_EQ(fs::exists(target), c.Copied);
        TMemoryStream stream;
        EXPECT_EQ(FDevice->ReadToStream(FDevice->LocationToPath(c.Location), stream), c.Copied);
        if (c.Copied) {
            EXPECT_EQ(ReadFile(target), "device bytes");
        }
    }
}

TEST_F(DiskModeTest, ADatabaseTooLargeToBeRealIsNamedAsSuch) {
    const std::string db = FIpod / "iPod_Control/iTunes/iTunesDB";
    WriteFile(db, "");
    fs::resize_file(db, uint64_t{3} << 29);  // 1.5 GB, sparse
    TMemoryStream stream;
    bool compressed = true;
    EXPECT_FALSE(FDevice->ReadITunesDB(stream, compressed));
    EXPECT_EQ(stream.Size(), 0u);
    const std::string log = FDevice->Log.Text();
    EXPECT_NE(log.find("/iPod_Control/iTunes/iTunesDB: 1.50 GB is too large to be a real "
                       "database or picture"),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find("iPod not found"), std::string::npos) << log;
    FDevice->Log.Clear();
    TFileBytes bytes;
    EXPECT_FALSE(FDevice->ReadITunesDB(bytes, compressed));
    EXPECT_EQ(bytes.Size(), 0u);
    EXPECT_NE(FDevice->Log.Text().find("iTunesDB: 1.50 GB is too large to be a real database"),
              std::string::npos)
        << FDevice->Log.Text();
}

TEST_F(DiskModeTest, CameraAndVoiceMemoListings) {
    for (const char* name :
         {"DCIM/100APPLE/IMG_0001.JPG", "DCIM/100APPLE/IMG_0001.THM", "DCIM/100APPLE/X.dat",
          "DCIM/101APPLE/MOV_0002.MOV", "Recordings/Memo 1.m4a", "Recordings/b.M4A",
          "Recordings/c.mp3", "Recordings/.hidden.m4a"}) {
        WriteFile(FIpod / name, "x");
    }
    EXPECT_TRUE(FDevice->HasDcim());
    EXPECT_EQ(FDevice->DcimPath(), FIpod / "DCIM/");
    std::vector<std::string> camera{"stale"};
    EXPECT_EQ(FDevice->ListCameraFiles(camera), 2);
    std::sort(camera.begin(), camera.end());
    EXPECT_EQ(camera, (std::vector<std::string>{FIpod / "DCIM/100APPLE/IMG_0001.JPG",
                                                FIpod / "DCIM/101APPLE/MOV_0002.MOV"}));
    std::vector<std::string> memos;
    EXPECT_EQ(FDevice->ListVoiceMemos(memos), 2);
    EXPECT_EQ(memos, (std::vector<std::string>{"Memo 1.m4a", "b.M4A"}));

    TTempDir dest;
    EXPECT_EQ(FDevice->CopyFileFrom(camera[0], dest / "IMG_0001.JPG"), 0);
    EXPECT_EQ(ReadFile(dest / "IMG_0001.JPG"), "x");
}

TEST(FormatSize, TwoDecimalsInTheRightUnit) {
    struct {
        int64_t bytes;
        const char* text;
    } cases[] = {
        {0, "0.00 KB"},       {1536, "1.50 KB"},          {1048575, "1024.00 KB"},
        {1048576, "1.00 MB"}, {1073741824, "1024.00 MB"}, {1073741825, "1.00 GB"},
        {-2048, "-2.00 KB"},  {5368709120, "5.00 GB"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TIpodDevice::FormatSize(c.bytes), c.text) << c.bytes;
}

// A mobile device served by the simulated library.
class MobileTest : public ::testing::Test {
protected:
    void Open(TSimulatedDeviceOptions options = {}) {
        options.Root = FRoot.Path();
        TSimulatedDevice simulated = MakeSimulatedDevice(options);
        FControl = simulated.Control;
        TDeviceSessionOptions session;
        session.LoadLibrary = [&simulated] { return std::move(simulated.Library); };
        session.VolumeRule = nullptr;
        session.WatchMounts = false;
        session.ServedFolder = FRoot.Path();
        FDevice = std::make_unique<TIpodDevice>(FReports.Callback(), session);
        FControl->WaitIdle();
    }

    TTempDir FRoot;
    TReports FReports;
    std::shared_ptr<TSimulatedDeviceControl> FControl;
    std::unique_ptr<TIpodDevice> FDevice;
};

TEST_F(MobileTest, TheServedFolderIsNoDestination) {
    Open();
    TTempDir other;
    fs::create_directory_symlink(FRoot.Path(), other / "link");
    for (const std::string& spelled : {FRoot / "x", other / "link/DCIM/../x"}) {
        SCOPED_TRACE(spelled);
        std::string folder = spelled;
        EXPECT_FALSE(FDevice->CheckDestination(folder, 1));
        EXPECT_EQ(folder, FRoot.Path() +
                              " is the folder of your iPhone, iPod touch or iPad.\nYou cannot "
                              "transfer the files from the device into itself. Please choose "
                              "another folder in your computer.");
    }
    EXPECT_FALSE(fs::exists(FRoot / "x"));
    std::string elsewhere = other / "x";
    EXPECT_TRUE(FDevice->CheckDestination(elsewhere, 1)) << elsewhere;
}

TEST_F(MobileTest, WholeFileReadsHaveTheDiskModeLimit) {
    const std::string db = FRoot / "iTunes_Control/iTunes/iTunesDB";
    WriteFile(db, "");
    fs::resize_file(db, uint64_t{3} << 29);  // 1.5 GB, sparse
    Open();
    TMemoryStream stream;
    EXPECT_FALSE(FDevice->ReadToStream("/iTunes_Control/iTunes/iTunesDB", stream));
    EXPECT_EQ(stream.Size(), 0u);
    EXPECT_NE(FDevice->Log.Text().find("iTunesDB: 1.50 GB is too large to be a real database"),
              std::string::npos)
        << FDevice->Log.Text();
}

TEST_F(MobileTest, AttachAndLoss) {
    Open();
    EXPECT_TRUE(FDevice->Connected());
    EXPECT_TRUE(FDevice->IsIos());
    EXPECT_FALSE(FDevice->NoLibrary());
    EXPECT_EQ(FReports.Attached, 1);
    EXPECT_EQ(FDevice->DisplayName(), "Demo iPhone");
    FControl->Unplug();
    FControl->WaitIdle();
    EXPECT_FALSE(FDevice->Connected());
    EXPECT_EQ(FReports.Lost, 1);
}

TEST_F(MobileTest, ADeviceWithoutANameIsAnIDevice) {
    Open(Simulated("", ""));
    EXPECT_EQ(FDevice->DisplayName(), "iDevice");
}

TEST_F(MobileTest, StagesADatabaseWithItsWriteAheadLog) {
    WriteFile(FRoot / "iTunes_Control/iTunes/MediaLibrary.sqlitedb", "db");
    WriteFile(FRoot / "iTunes_Control/iTunes/MediaLibrary.sqlitedb-wal", "wal");
    Open();
    std::string db = FDevice->StageITunesFile("MediaLibrary.sqlitedb", false, "");
    std::string wal = FDevice->StageITunesFile("MediaLibrary.sqlitedb-wal", false, "-wal");
    EXPECT_EQ(db, FDevice->WorkFile());
    EXPECT_EQ(wal, FDevice->WorkFile() + "-wal");
    EXPECT_EQ(ReadFile(db), "db");
    EXPECT_EQ(ReadFile(wal), "wal");
    // Staging again replaces our own earlier copy.
    EXPECT_EQ(FDevice->StageITunesFile("MediaLibrary.sqlitedb-wal", false, ""), db);
    EXPECT_EQ(ReadFile(db), "wal");

    EXPECT_EQ(FDevice->StageITunesFile("Library.itdb", true, ""), "");
    EXPECT_NE(FDevice->Log.Text().find("\r\nCopy itdb failed: "), std::string::npos);
    EXPECT_EQ(FDevice->StagePhotoDataFile("Photos.sqlite", ""), "");
    EXPECT_NE(FDevice->Log.Text().find("\r\nCopy photodb failed: "), std::string::npos);

    std::string workFile = FDevice->WorkFile();
    FDevice.reset();
    EXPECT_FALSE(fs::exists(workFile));
    EXPECT_FALSE(fs::exists(workFile + "-wal"));
}

TEST_F(MobileTest, PropertyListsAlreadyInXmlAreReturnedAsCopied) {
    std::string xml = "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict/></plist>";
    WriteFile(FRoot / "iTunes_Control/iTunes/Ringtones.plist", xml);
    Open();
    std::string staged = FDevice->StageRingtonesPlist();
    EXPECT_EQ(staged, FDevice->WorkFile());
    EXPECT_EQ(ReadFile(staged), xml);
    EXPECT_EQ(FDevice->StageBooksPlist(false), "");
    EXPECT_NE(FDevice->Log.Text().find("\r\nCopy bookplist failed: "), std::string::npos);
    EXPECT_EQ(FDevice->StageBooksPlist(true), "");
    EXPECT_NE(FDevice->Log.Text().find("\r\nCopy puchased bookplist failed: "), std::string::npos);
}

TEST_F(MobileTest, ThumbnailRecordsFromEitherFolder) {
    WriteFile(FRoot / "PhotoData/Thumbnails/3141", "0123456789");
    Open();
    ASSERT_TRUE(FDevice->OpenThumbFile("3141", 2));
    TMemoryStream stream;
    EXPECT_TRUE(FDevice->ReadThumbRecord(5, stream, 5));  // larger than the record size given
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(stream.Data()), stream.Size()), "56789");
    TMemoryStream past;
    EXPECT_FALSE(FDevice->ReadThumbRecord(5, past, 8));
    EXPECT_NE(FDevice->Log.Text().find("\r\nIos: "), std::string::npos);
    FDevice->CloseThumbFile();
    EXPECT_FALSE(FDevice->OpenThumbFile("2718", 2));
}

TEST_F(MobileTest, CopyDirectoryPicksAFreeFolderAndStaysInside) {
    WriteFile(FRoot / "Books/Novel.epub/mimetype", "application/epub+zip");
    WriteFile(FRoot / "Books/Novel.epub/OEBPS/content.opf", "opf");
    WriteFile(FRoot / "Books/Novel.epub/...", "dots only");
    Open();
    TTempDir dest;
    fs::create_directories(dest / "Book");
    fs::create_directories(dest / "Book_1");
    std::string destDir = dest / "Book";
    bool isDir = false;
    // A name made only of dots is refused (5); the rest is copied.
    EXPECT_EQ(FDevice->CopyItem("/Books/Novel.epub", destDir, isDir, 0), kCopyFolderFailed);
    EXPECT_TRUE(isDir);
    EXPECT_EQ(destDir, dest / "Book_2/");
    EXPECT_EQ(ReadFile(dest / "Book_2/OEBPS/content.opf"), "opf");
    EXPECT_EQ(ReadFile(dest / "Book_2/mimetype"), "application/epub+zip");
    EXPECT_FALSE(fs::exists(dest / "Book_2/..."));

    std::string empty = dest / "Empty";
    fs::create_directories(FRoot / "Books/Empty.epub");
    EXPECT_EQ(FDevice->CopyDirectory("/Books/Empty.epub/", empty), kCopyDeviceFailed);
}

TEST_F(MobileTest, CopiesKeepTheDevicesModificationTime) {
    // 2015-04-01 10:00:00.25 UTC, to the nanosecond the file service reports.
    const auto time =
        std::chrono::file_clock::from_sys(std::chrono::sys_time<std::chrono::nanoseconds>(
            std::chrono::nanoseconds(int64_t{1427882400} * 1000000000 + 250000000)));
    WriteFile(FRoot / "iTunes_Control/Music/F00/ABCD.mp3", "song");
    WriteFile(FRoot / "Books/Novel.epub/mimetype", "application/epub+zip");
    fs::last_write_time(FRoot / "iTunes_Control/Music/F00/ABCD.mp3", time);
    fs::last_write_time(FRoot / "Books/Novel.epub/mimetype", time);
    Open();
    TTempDir dest;
    ASSERT_EQ(FDevice->CopyFileFrom("/iTunes_Control/Music/F00/ABCD.mp3", dest / "song.mp3"),
              kCopyDone);
    EXPECT_EQ(fs::last_write_time(dest / "song.mp3"), time);
    std::string book = dest / "Novel";
    bool isDir = false;
    ASSERT_EQ(FDevice->CopyItem("/Books/Novel.epub", book, isDir, 0), kCopyDone);
    EXPECT_EQ(fs::last_write_time(dest / "Novel/mimetype"), time);
}

TEST_F(MobileTest, CameraAndVoiceMemoListings) {
    for (const char* name :
         {"DCIM/100APPLE/IMG_0001.JPG", "DCIM/100APPLE/IMG_0001.THM", "DCIM/100APPLE/X.dat",
          "DCIM/101APPLE/MOV_0002.MOV", "Recordings/Memo 1.m4a", "Recordings/notes.txt"}) {
        WriteFile(FRoot / name, "x");
    }
    Open();
    std::vector<std::string> camera;
    EXPECT_EQ(FDevice->ListCameraFiles(camera), 2);
    EXPECT_EQ(camera, (std::vector<std::string>{"/DCIM/100APPLE/IMG_0001.JPG",
                                                "/DCIM/101APPLE/MOV_0002.MOV"}));
    std::vector<std::string> memos{"earlier"};
    EXPECT_EQ(FDevice->ListVoiceMemos(memos), 1);
    EXPECT_EQ(memos, (std::vector<std::string>{"earlier", "Memo 1.m4a"}));
    EXPECT_EQ(FDevice->DeviceFileSize(":Recordings:Memo 1.m4a"), 1u);
    TTempDir dest;
    std::string base = dest / "Memo";
    EXPECT_EQ(FDevice->CopyTrackFile(":Recordings:Memo 1.m4a", base, 1), 0);
    EXPECT_EQ(base, dest / "Memo.m4a");
}

TEST_F(MobileTest, AMobileDeviceIsIgnoredWhileADiskModeIPodIsServed) {
    TTempDir ipod;
    fs::create_directories(ipod / "iPod_Control/iTunes");
    TSimulatedDeviceOptions options = Simulated(FRoot.Path(), "Demo iPhone", false);
    TSimulatedDevice simulated = MakeSimulatedDevice(options);
    TDeviceSessionOptions session;
    session.LoadLibrary = [&simulated] { return std::move(simulated.Library); };
    session.ExtraVolumes = {ipod.Path()};
    session.VolumeRule = nullptr;
    session.WatchMounts = false;
    TIpodDevice device(FReports.Callback(), session);
    ASSERT_TRUE(device.ScanDrives());
    simulated.Control->Plug();
    simulated.Control->WaitIdle();
    EXPECT_FALSE(device.IsIos());
    EXPECT_EQ(FReports.Attached, 1);
}

TEST_F(MobileTest, OnDemandTheLibraryIsLoadedOnlyWhenNoDiskModeIPodAnswers) {
    for (bool withIpod : {true, false}) {
        SCOPED_TRACE(withIpod ? "a disk-mode iPod" : "no disk-mode iPod");
        TTempDir ipod;
        fs::create_directories(ipod / "iPod_Control/iTunes");
        TSimulatedDevice simulated = MakeSimulatedDevice(Simulated(FRoot.Path(), "Demo iPhone"));
        int loads = 0;
        TDeviceSessionOptions session;
        session.LoadLibrary = [&] {
            ++loads;
            return std::move(simulated.Library);
        };
        if (withIpod)
            session.ExtraVolumes = {ipod.Path()};
        session.VolumeRule = nullptr;
        session.WatchMounts = false;
        session.MobileOnDemand = true;
        TReports reports;
        TIpodDevice device(reports.Callback(), session);
        EXPECT_EQ(loads, 0);
        EXPECT_EQ(device.ScanDrives(), withIpod);
        simulated.Control->WaitIdle();
        EXPECT_EQ(loads, withIpod ? 0 : 1);
        EXPECT_TRUE(device.Connected());
        EXPECT_EQ(device.IsIos(), !withIpod);
        EXPECT_FALSE(device.NoLibrary());
        EXPECT_EQ(reports.Attached, 1);
    }
}

TEST(DeviceFolder, ClassifiesByTopFolders) {
    TTempDir disk, mobile, none;
    fs::create_directories(disk / "iPod_Control/iTunes");
    fs::create_directories(mobile / "PhotoData");
    EXPECT_EQ(ClassifyDeviceFolder(disk.Path()), TDeviceFolderKind::DiskMode);
    EXPECT_EQ(ClassifyDeviceFolder(mobile.Path()), TDeviceFolderKind::Mobile);
    EXPECT_EQ(ClassifyDeviceFolder(none.Path()), TDeviceFolderKind::NotADevice);
    EXPECT_EQ(ClassifyDeviceFolder(none / "missing"), TDeviceFolderKind::NotADevice);
}

}  // namespace
}  // namespace corvane
