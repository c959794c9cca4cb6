// Books that a mobile device keeps as folders: exported as one archive, never over another
// file, the copied folder sent to the trash, and nothing half-made left behind.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <zip.h>

#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <thread>

#include "device/CopyResultText.h"
#include "device/DeviceFolder.h"
#include "device/SimulatedDevice.h"
#include "device/iPodDev.h"
#include "fixtures/DeviceSessions.h"
#include "fixtures/TempDir.h"
#include "music/iPodMusic.h"
#include "platform/PlatformTestSupport.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using namespace testing;

struct TEntry {
    std::string Name;
    bool Stored = false;
    std::string Content;
    bool operator==(const TEntry&) const = default;
};

std::vector<TEntry> ReadArchive(const std::string& path) {
    std::vector<TEntry> entries;
    int error = 0;
    zip_t* archive = zip_open(path.c_str(), ZIP_RDONLY, &error);
    if (!archive)
        return entries;
    for (zip_int64_t i = 0; i < zip_get_num_entries(archive, 0); ++i) {
        auto index = static_cast<zip_uint64_t>(i);
        zip_stat_t info;
        zip_stat_index(archive, index, 0, &info);
        TEntry entry{info.name, info.comp_method == ZIP_CM_STORE, std::string(info.size, '\0')};
        if (zip_file_t* file = zip_fopen_index(archive, index, 0)) {
            zip_fread(file, entry.Content.data(), info.size);
            zip_fclose(file);
        }
        entries.push_back(entry);
    }
    zip_discard(archive);
    return entries;
}

ino_t Inode(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 ? info.st_ino : 0;
}

const std::string kContainer = "<container/>";
const std::string kOpf = std::string(2000, 'o');

// root/phone is served as a mobile device, root/dest is the destination and root/data the
// user's data folder, whose trash takes the copied book folders.
class BookExportTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(FPhone);
        fs::create_directories(FDest);
        WriteFile(FPhone + "/Books/Novel.epub/mimetype", "application/epub+zip");
        WriteFile(FPhone + "/Books/Novel.epub/META-INF/container.xml", kContainer);
        WriteFile(FPhone + "/Books/Novel.epub/OEBPS/content.opf", kOpf);
    }

    void Open(TSimulatedFaults faults = {}) {
        TSimulatedDeviceOptions simulated;
        simulated.Root = FPhone;
        simulated.Faults = faults;
        TSimulatedDevice device = MakeSimulatedDevice(simulated);
        FControl = device.Control;
        TDeviceSessionOptions options;
        options.LoadLibrary = [&device] { return std::move(device.Library); };
        options.VolumeRule = nullptr;
        options.WatchMounts = false;
        FDevice = std::make_unique<TIpodDevice>(nullptr, options);
        FControl->WaitIdle();
        ASSERT_TRUE(FDevice->IsIos());
        FMusic = std::make_unique<TIpodMusicDb>(*FDevice);
        FMusic->DestFolder = FDest + "/";
    }

    TTrackItem& Add(const std::string& title, const std::string& location,
                    TMediaKind kind = mkBook) {
        TTrackItem& track = FMusic->Tracks.Add();
        track.SetReaderDefaults();
        track.Title = title;
        track.Location = location;
        track.Kind = kind;
        ++FMusic->Tracks.CheckedCount;
        return track;
    }

    size_t Trashed() {
        std::error_code error;
        auto it = fs::directory_iterator(FData + "/Trash/files", error);
        return error ? 0 : static_cast<size_t>(std::distance(it, fs::directory_iterator()));
    }

    TTempDir FRoot;
    std::string FPhone = FRoot / "phone";
    std::string FDest = FRoot / "dest";
    std::string FData = FRoot / "data";
    TScopedEnv FDataHome{"XDG_DATA_HOME", FData.c_str()};
    std::shared_ptr<TSimulatedDeviceControl> FControl;
    std::unique_ptr<TIpodDevice> FDevice;
    std::unique_ptr<TIpodMusicDb> FMusic;
};

TEST_F(BookExportTest, AFolderBecomesOneArchiveAndASecondExportKeepsTheFirst) {
    Open();
    TTrackItem& book = Add("Novel", "Books/Novel.epub");
    FMusic->NamingScheme = 2;  // books keep their title whatever the scheme
    EXPECT_EQ(FMusic->Export(), 1);
    std::string archive = FDest + "/Novel.epub";
    EXPECT_EQ(book.DestPath, archive);
    EXPECT_EQ(book.TransferState, 2);
    EXPECT_EQ(FolderNames(FDest), (std::set<std::string>{"Novel.epub"}));
    EXPECT_EQ(ReadArchive(archive),
              (std::vector<TEntry>{{"mimetype", true, "application/epub+zip"},
                                   {"META-INF/container.xml", false, kContainer},
                                   {"OEBPS/content.opf", false, kOpf}}));
    EXPECT_EQ(Trashed(), 0u);  // the copy that was packed is the export's own: gone for good
    ino_t inode = Inode(archive);
    std::string bytes = ReadFile(archive);

    EXPECT_EQ(FMusic->Export(), 1);
    EXPECT_EQ(book.DestPath, archive);
    EXPECT_EQ(FolderNames(FDest), (std::set<std::string>{"Novel.epub"}));
    EXPECT_EQ(ReadFile(archive), bytes);
    EXPECT_EQ(Inode(archive), inode);  // the same file, not a new one of the same bytes
    EXPECT_EQ(Trashed(), 0u);
    EXPECT_EQ(FMusic->Log.Text(), "");
}

TEST_F(BookExportTest, TakenNamesStayAndTheArchiveTakesTheNextFree) {
    WriteFile(FPhone + "/Books/Story/chapter.xhtml", "chapter");
    WriteFile(FPhone + "/Books/Plain.pdf", "a pdf");
    Open();
    WriteFile(FDest + "/Novel.epub", "another book");
    WriteFile(FDest + "/Novel.zip", "an archive of the user's");
    fs::create_directories(FDest + "/Novel");  // the copy folder's name is taken as well
    TTrackItem& novel = Add("Novel", "Books/Novel.epub");
    TTrackItem& story = Add("Story", "Books/Story");  // no extension: an electronic book
    TTrackItem& plain = Add("Plain", "Books/Plain.pdf");
    EXPECT_EQ(FMusic->Export(), 3);
    EXPECT_EQ(novel.DestPath, FDest + "/Novel_1.epub");
    EXPECT_EQ(story.DestPath, FDest + "/Story.epub");
    EXPECT_EQ(plain.DestPath, FDest + "/Plain.pdf");  // a book kept as a file is copied as one
    EXPECT_EQ(plain.TransferState, 2);
    EXPECT_EQ(ReadFile(FDest + "/Novel.epub"), "another book");
    EXPECT_EQ(ReadFile(FDest + "/Novel.zip"), "an archive of the user's");
    EXPECT_TRUE(fs::is_empty(FDest + "/Novel"));
    EXPECT_EQ(ReadArchive(story.DestPath),
              (std::vector<TEntry>{{"chapter.xhtml", false, "chapter"}}));
    EXPECT_EQ(FolderNames(FDest),
              (std::set<std::string>{"Novel", "Novel.epub", "Novel.zip", "Novel_1.epub",
                                     "Story.epub", "Plain.pdf"}));
}

TEST_F(BookExportTest, ADeviceGoneMidBookLeavesNothing) {
    WriteFile(FPhone + "/Books/Novel.epub/OEBPS/big.xhtml", std::string(3 << 20, 'x'));
    TSimulatedFaults faults;
    faults.GoneAfterBytes = 2 << 20;
    Open(faults);
    TTrackItem& book = Add("Novel", "Books/Novel.epub");
    EXPECT_EQ(FMusic->Export(), 0);
    EXPECT_EQ(book.TransferState, 0);
    EXPECT_EQ(book.DestPath, "");
    EXPECT_EQ(FMusic->Log.Text(), "\r\nNovel: " + CopyFailureText(kCopyDeviceFailed));
    EXPECT_TRUE(FolderNames(FDest).empty());
    EXPECT_EQ(Trashed(), 1u);  // the half-made copy, for the user to look at
    FControl->WaitIdle();
}

TEST_F(BookExportTest, ABookWithoutAPathCopiesNothing) {
    Open();
    Add("Root", "");
    Add("Slash", "/");
    EXPECT_EQ(FMusic->Export(), 0);
    EXPECT_EQ(FMusic->Log.Text(), "\r\nRoot: " + CopyFailureText(kCopyDeviceFailed) +
                                      "\r\nSlash: " + CopyFailureText(kCopyDeviceFailed));
    EXPECT_TRUE(FolderNames(FDest).empty());
}

TEST_F(BookExportTest, OnlyFoldersBelowTheDestinationGoToTheTrash) {
    Open();
    TTempDir outside;
    fs::create_directories(FDest + "/inner");
    fs::create_directory_symlink(outside.Path(), FDest + "/link");
    EXPECT_FALSE(FMusic->RemoveCopiedFolder(outside.Path() + "/"));
    EXPECT_FALSE(FMusic->RemoveCopiedFolder(FDest + "/"));
    EXPECT_FALSE(FMusic->RemoveCopiedFolder(FDest + "/inner/.."));
    EXPECT_FALSE(FMusic->RemoveCopiedFolder(FDest + "/link/"));  // leads outside
    EXPECT_FALSE(FMusic->RemoveCopiedFolder(FDest + "/missing/"));
    EXPECT_TRUE(fs::exists(outside.Path()));
    EXPECT_TRUE(FMusic->RemoveCopiedFolder(FDest + "/inner/"));
    EXPECT_FALSE(fs::exists(FDest + "/inner"));
    EXPECT_EQ(Trashed(), 1u);
    EXPECT_EQ(TIpodMusicDb::BookExtension("Books/Story"), ".epub");
    EXPECT_EQ(TIpodMusicDb::BookExtension("Books/Guide.pdf"), ".pdf");
    EXPECT_EQ(TIpodMusicDb::BookExtension("Books/v1.0/Story"), ".epub");
}

TEST_F(BookExportTest, PackingThatDoesNotFitLeavesNoFile) {
    std::mt19937 random(7);
    std::string noise(300000, '\0');
    for (char& c : noise)
        c = static_cast<char>(random());
    WriteFile(FPhone + "/Books/Novel.epub/OEBPS/noise.bin", noise);
    TTmpfsMount tmpfs(FDest, "size=512k");
    if (!tmpfs.Mounted())
        GTEST_SKIP() << "needs root to mount a tmpfs";
    Open();
    TTrackItem& book = Add("Novel", "Books/Novel.epub");
    EXPECT_EQ(FMusic->Export(), 0);
    EXPECT_EQ(book.TransferState, 0);
    EXPECT_EQ(FMusic->Log.Text(), "\r\nNovel: " + CopyFailureText(kCopyLocalError + ENOSPC));
    // The copy that could not be packed is removed, not kept in any trash.
    EXPECT_TRUE(FolderNames(FDest).empty());
    EXPECT_EQ(Trashed(), 0u);
}

TEST_F(BookExportTest, TwoExportsOfOneBookAtOnceBothSucceed) {
    Open();
    std::unique_ptr<TIpodDevice> otherDevice = MobileDevice(FPhone);
    TIpodMusicDb other(*otherDevice);
    other.DestFolder = FDest + "/";
    for (TIpodMusicDb* music : {FMusic.get(), &other}) {
        TTrackItem& track = music->Tracks.Add();
        track.SetReaderDefaults();
        track.Title = "Novel";
        track.Location = "Books/Novel.epub";
        track.Kind = mkBook;
        ++music->Tracks.CheckedCount;
    }
    for (int round = 0; round < 10; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        int copiedHere = 0;
        std::thread thread([&] { copiedHere = other.Export(); });
        const int copied = FMusic->Export();
        thread.join();
        EXPECT_EQ(copied, 1) << FMusic->Log.Text();
        EXPECT_EQ(copiedHere, 1) << other.Log.Text();
        // One archive: the second found the first of the same size and kept it.
        EXPECT_EQ(FolderNames(FDest), (std::set<std::string>{"Novel.epub"}));
    }
    EXPECT_EQ(Trashed(), 0u);
}

// A destination filled with whatever the export's names could collide with, songs and books
// mixed: nothing that was there changes, nor the device, and no folder copy or temporary
// archive stays behind.
TEST_F(BookExportTest, CollidingDestinationsKeepEverythingThatWasThere) {
    WriteFile(FPhone + "/Books/Story/chapter.xhtml", "chapter");
    WriteFile(FPhone + "/Books/Plain.pdf", "a pdf");
    WriteFile(FPhone + "/iTunes_Control/Music/F00/A.mp3", "song");
    Open();
    static const std::vector<std::string> names = {
        "Novel",        "Novel_1",           "Novel.epub", "Novel_1.epub",
        "Novel.zip",    ".Novel.zip.part-0", "Story",      "Story.epub",
        "Story_1.epub", "Plain.pdf",         "Plain1.pdf", "Song.mp3",
        "Song1.mp3",    "Novel_1_1.epub"};
    struct TBook {
        const char* Title;
        const char* Location;
        TMediaKind Kind;
    } items[] = {{"Novel", "Books/Novel.epub", mkBook},
                 {"Story", "Books/Story", mkBook},
                 {"Plain", "Books/Plain.pdf", mkBook},
                 {"Song", "/iTunes_Control/Music/F00/A.mp3", mkMusic}};
    auto deviceBefore = Tree(FPhone);
    for (uint32_t seed = 1; seed <= 60; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 random(seed);
        fs::remove_all(FDest);
        fs::create_directories(FDest);
        fs::remove_all(FData);
        for (const std::string& name : names) {
            std::string path = FDest + "/" + name;
            switch (random() % 5) {
                case 0:
                    WriteFile(path, std::string(random() % 3, 'p'));
                    break;
                case 1:
                    fs::create_directories(path);
                    break;
                case 2:
                    fs::create_symlink(FRoot / "nowhere", path);
                    break;
                default:
                    break;  // free
            }
        }
        auto destBefore = Tree(FDest);
        FMusic->Tracks.Clear();
        for (const TBook& item : items) {
            if (random() % 3 != 0)
                Add(item.Title, item.Location, item.Kind);
        }
        for (int run = 0; run < 2; ++run) {
            int copied = FMusic->Export();
            int marked = 0;
            for (const TTrackItem& track : FMusic->Tracks) {
                if (track.TransferState == 0)
                    continue;
                ++marked;
                EXPECT_TRUE(fs::is_regular_file(track.DestPath)) << track.DestPath;
            }
            EXPECT_EQ(copied, marked);
        }
        auto destAfter = Tree(FDest);
        for (const auto& [path, entry] : destBefore) {
            auto after = destAfter.find(path);
            ASSERT_NE(after, destAfter.end()) << path;
            EXPECT_EQ(after->second, entry) << path;
        }
        for (const auto& [path, entry] : destAfter) {
            if (destBefore.count(path) == 0) {
                EXPECT_EQ(entry.rfind("f:", 0), 0u) << path;  // new files only, no folders
                EXPECT_EQ(path.find(".part"), std::string::npos) << path;
            }
        }
        EXPECT_EQ(Tree(FPhone), deviceBefore);
    }
}

}  // namespace
}  // namespace corvane
