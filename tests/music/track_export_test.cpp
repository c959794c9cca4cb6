// The music export: marks, progress, the free-name rule, failures and their log lines, the
// retry after a transient error, and that nothing outside the destination or already in it is
// ever written.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <random>

#include "device/CopyResultText.h"
#include "device/DeviceFolder.h"
#include "device/SimulatedDevice.h"
#include "device/iPodDev.h"
#include "fixtures/ITunesDbBuilder.h"
#include "fixtures/TempDir.h"
#include "music/iPodMusic.h"
#include "platform/PlatformTestSupport.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using namespace testing;

struct TSong {
    std::string Title;
    std::string Artist;
    std::string Album;
    std::string File;     // below iPod_Control/Music/F00; empty: no file on the device
    std::string Content;  // also the size the database gives
};

TSong Song(const std::string& title, const std::string& file, const std::string& content,
           const std::string& artist = "Band", const std::string& album = "Album") {
    return TSong{title, artist, album, file, content};
}

// root/ipod is a disk-mode iPod whose iTunesDB lists the songs; root/dest is the destination.
class DiskExportTest : public ::testing::Test {
protected:
    void Load(const std::vector<TSong>& songs) {
        fs::create_directories(FIpod + "/iPod_Control/iTunes");
        fs::create_directories(FDest);
        TITunesDbBuilder db;
        for (size_t i = 0; i < songs.size(); ++i) {
            const TSong& song = songs[i];
            std::string file =
                song.File.empty() ? "MISSING" + std::to_string(i) + ".mp3" : song.File;
            if (!song.File.empty())
                WriteFile(FIpod + "/iPod_Control/Music/F00/" + song.File, song.Content);
            TITunesDbTrack track;
            track.Id = static_cast<uint32_t>(i + 1);
            track.Title = song.Title;
            track.Artist = song.Artist;
            track.Album = song.Album;
            track.Location = ":iPod_Control:Music:F00:" + file;
            track.Size = static_cast<uint32_t>(song.Content.size());
            db.AddTrack(track);
        }
        TITunesDbPlaylist master;
        master.Name = "iPod";
        master.IsMaster = true;
        master.TrackIds = db.AllTrackIds();
        db.AddPlaylist(master);
        WriteFile(FIpod + "/iPod_Control/iTunes/iTunesDB", db.Build());
        if (!FDevice) {
            FDevice = std::make_unique<TIpodDevice>(nullptr, OfflineSessionOptions({FIpod}));
            ASSERT_TRUE(FDevice->ScanDrives());
        }
        FMusic = std::make_unique<TIpodMusicDb>(*FDevice);
        ASSERT_TRUE(FMusic->Load(true));
        ASSERT_EQ(FMusic->Tracks.Count(), songs.size());
        FMusic->Log.Clear();
        FMusic->DestFolder = FDest + "/";
        FMusic->OnRetryWait = [] {};
    }

    TTrackItem& Track(size_t index) { return FMusic->Tracks.Items(index); }

    TTempDir FRoot;
    std::string FIpod = FRoot / "ipod";
    std::string FDest = FRoot / "dest";
    std::unique_ptr<TIpodDevice> FDevice;
    std::unique_ptr<TIpodMusicDb> FMusic;
};

TEST_F(DiskExportTest, CopiesCheckedTracksMarksThemAndReportsProgress) {
    Load({Song("Intro", "A.mp3", "aaaa", "AC/DC"), Song("Skipped", "B.mp3", "bb"),
          Song("Outro?", "C.m4a", "cccccc", "")});
    FMusic->Tracks.Uncheck(1);
    Track(1).DestPath = "earlier";
    Track(1).TransferState = 1;
    FMusic->NamingScheme = 2;
    std::vector<std::string> progress;
    FMusic->OnProgress = [&](const std::string& text) { progress.push_back(text); };

    EXPECT_EQ(FMusic->Export(), 2);
    EXPECT_EQ(progress, (std::vector<std::string>{"1/2  Intro", "2/2  Outro?"}));
    EXPECT_EQ(Track(0).DestPath, FDest + "/AC_DC - Intro.mp3");
    EXPECT_EQ(Track(2).DestPath, FDest + "/Unknown Artist - Outro_.m4a");
    EXPECT_EQ(ReadFile(Track(0).DestPath), "aaaa");
    EXPECT_EQ(ReadFile(Track(2).DestPath), "cccccc");
    EXPECT_EQ(Track(0).TransferState, 1);
    EXPECT_EQ(Track(2).TransferState, 1);
    // Unchecked tracks keep what an earlier run gave them.
    EXPECT_EQ(Track(1).DestPath, "earlier");
    EXPECT_EQ(Track(1).TransferState, 1);
    EXPECT_EQ(FolderNames(FDest).size(), 2u);
    EXPECT_EQ(FMusic->Log.Text(), "");
}

TEST_F(DiskExportTest, TheDestinationFolderIsRequired) {
    Load({Song("Song", "A.mp3", "a")});
    FMusic->DestFolder = FDest;  // without its trailing "/"
    EXPECT_EQ(FMusic->Export(), 1);
    EXPECT_EQ(Track(0).DestPath, FDest + "/Song.mp3");
    // Without one, nothing goes to the working folder or anywhere else.
    Track(0).TransferState = -1;
    FMusic->DestFolder.clear();
    fs::path working = fs::current_path();
    fs::current_path(FRoot.Path());
    EXPECT_EQ(FMusic->Export(), 0);
    fs::current_path(working);
    EXPECT_EQ(Track(0).TransferState, -1);
    EXPECT_EQ(FolderNames(FRoot.Path()), (std::set<std::string>{"dest", "ipod"}));
}

TEST_F(DiskExportTest, ExportingTwiceIntoTheSameFolderCopiesNothingNew) {
    Load({Song("One", "A.mp3", "aaaa"), Song("Two", "B.mp3", "bb", "Other", ""),
          Song("One", "C.mp3", "cccccc")});  // a second "One" of another size
    FMusic->NamingScheme = 0;
    EXPECT_EQ(FMusic->Export(), 3);
    EXPECT_EQ(Track(0).DestPath, FDest + "/Band/Album/One.mp3");
    EXPECT_EQ(Track(1).DestPath, FDest + "/Other/Unknown Album/Two.mp3");
    EXPECT_EQ(Track(2).DestPath, FDest + "/Band/Album/One1.mp3");
    auto before = Tree(FDest);
    std::vector<std::string> paths;
    for (const TTrackItem& track : FMusic->Tracks)
        paths.push_back(track.DestPath);

    EXPECT_EQ(FMusic->Export(), 3);
    EXPECT_EQ(Tree(FDest), before);
    for (size_t i = 0; i < paths.size(); ++i) {
        EXPECT_EQ(Track(i).DestPath, paths[i]);
        EXPECT_EQ(Track(i).TransferState, 1);
    }
}

TEST_F(DiskExportTest, TakenNamesGetTheNextNumberAndStayUntouched) {
    Load({Song("Song", "A.mp3", "12345")});
    WriteFile(FDest + "/Song.mp3", "another file");
    fs::create_directories(FDest + "/Song1.mp3");  // a folder takes a name as well
    WriteFile(FDest + "/Song2.mp3", "and a third");
    EXPECT_EQ(FMusic->Export(), 1);
    EXPECT_EQ(Track(0).DestPath, FDest + "/Song3.mp3");
    EXPECT_EQ(ReadFile(FDest + "/Song.mp3"), "another file");
    EXPECT_EQ(ReadFile(FDest + "/Song2.mp3"), "and a third");
    EXPECT_EQ(ReadFile(FDest + "/Song3.mp3"), "12345");

    // A numbered name holding a file of the track's size is taken as the earlier copy.
    fs::remove(FDest + "/Song3.mp3");
    WriteFile(FDest + "/Song2.mp3", "54321");
    EXPECT_EQ(FMusic->Export(), 1);
    EXPECT_EQ(Track(0).DestPath, FDest + "/Song2.mp3");
    EXPECT_FALSE(fs::exists(FDest + "/Song3.mp3"));
}

TEST_F(DiskExportTest, FailuresAreMarkedAndTheFirstFortyLogged) {
    std::vector<TSong> songs;
    for (int i = 0; i < 45; ++i)
        songs.push_back(Song("Lost " + std::to_string(i), "", "x"));
    songs.push_back(Song("Found", "F.mp3", "f"));
    Load(songs);
    int calls = 0;
    FMusic->OnProgress = [&](const std::string&) { ++calls; };
    EXPECT_EQ(FMusic->Export(), 1);
    EXPECT_EQ(calls, 46);
    EXPECT_EQ(FMusic->ExportFailures, 45);
    std::string expected;
    for (int i = 0; i < 40; ++i) {
        // A missing source reads as the local error ENOENT, apart from the session's code 2.
        expected +=
            "\r\nLost " + std::to_string(i) + ": " + CopyFailureText(kCopyLocalError + ENOENT);
    }
    EXPECT_EQ(FMusic->Log.Text(), expected);
    for (int i = 0; i < 45; ++i) {
        EXPECT_EQ(Track(i).TransferState, 0);
        EXPECT_EQ(Track(i).DestPath, "");
    }
    EXPECT_EQ(Track(45).TransferState, 1);
}

TEST_F(DiskExportTest, FoldersThatCannotBeMadeShareTheLimitAndTheMark) {
    std::vector<TSong> songs;
    for (int i = 0; i < 42; ++i)
        songs.push_back(Song("T" + std::to_string(i), "A.mp3", "a", "Blocked"));
    Load(songs);
    WriteFile(FDest + "/Blocked", "a file where the artist folder goes");
    FMusic->NamingScheme = 0;
    EXPECT_EQ(FMusic->Export(), 0);
    std::string log = FMusic->Log.Text();
    size_t entries = 0;
    for (size_t at = log.find("[X] Copy stopped at: "); at != std::string::npos;
         at = log.find("[X] Copy stopped at: ", at + 1)) {
        ++entries;
    }
    EXPECT_EQ(entries, 40u);
    EXPECT_EQ(log.find("could not"), std::string::npos);
    EXPECT_EQ(Track(41).TransferState, 0);
}

TEST_F(DiskExportTest, CancelStopsBeforeTheTrackAfterTheOneThatNoticed) {
    Load({Song("A", "A.mp3", "a"), Song("B", "B.mp3", "b"), Song("C", "C.mp3", "c")});
    FMusic->Cancelled = true;  // left from an earlier run: cleared at the start
    FMusic->OnProgress = [&](const std::string& text) {
        if (text.rfind("2/", 0) == 0)
            FMusic->Cancelled = true;  // as the worker does when asked to stop
    };
    EXPECT_EQ(FMusic->Export(), 2);
    EXPECT_EQ(Track(1).TransferState, 1);
    EXPECT_EQ(Track(2).TransferState, -1);
    EXPECT_EQ(FolderNames(FDest), (std::set<std::string>{"A.mp3", "B.mp3"}));
    FMusic->OnProgress = nullptr;
    EXPECT_EQ(FMusic->Export(), 3);
    EXPECT_FALSE(FMusic->Cancelled);
}

TEST_F(DiskExportTest, TheTransientErrorGetsOneRetryAndOthersNone) {
    Load({Song("Flaky", "FLAKY.mp3", "ok"), Song("Gone", "", "x")});
    // Reading this process's memory at offset 0 fails with EIO, as a failing disk does. It is
    // mounted over the track's file: a link to it would lead out of the device, never followed.
    std::string flaky = FIpod + "/iPod_Control/Music/F00/FLAKY.mp3";
    auto memory = std::make_unique<TBindMount>("/proc/self/mem", flaky);
    if (!memory->Mounted())
        GTEST_SKIP() << "needs root to mount over a file";
    int waits = 0;
    FMusic->OnRetryWait = [&] {
        ++waits;
        memory.reset();
        fs::remove(flaky);
        WriteFile(flaky, "ok");  // the disk has recovered by the second try
    };
    EXPECT_EQ(FMusic->Export(), 1);
    EXPECT_EQ(waits, 1);  // the missing track is not retried
    EXPECT_EQ(Track(0).TransferState, 1);
    EXPECT_EQ(ReadFile(FDest + "/Flaky.mp3"), "ok");

    memory = std::make_unique<TBindMount>("/proc/self/mem", flaky);
    ASSERT_TRUE(memory->Mounted());
    WriteFile(FDest + "/Flaky.mp3", "changed");  // no longer the same size
    waits = 0;
    FMusic->OnRetryWait = [&] { ++waits; };
    FMusic->Log.Clear();
    EXPECT_EQ(FMusic->Export(), 0);
    EXPECT_EQ(waits, 1);
    EXPECT_EQ(FMusic->Log.Text(), "\r\nFlaky: " + CopyFailureText(kCopyLocalError + EIO) +
                                      "\r\nGone: " + CopyFailureText(kCopyLocalError + ENOENT));
    EXPECT_EQ(FolderNames(FDest), (std::set<std::string>{"Flaky.mp3"}));
}

TEST_F(DiskExportTest, NamesFromTheDeviceNeverLeaveTheDestination) {
    const std::string hostile[] = {"..",       ".",        "...",           "../../escape",
                                   "/etc/x",   "a\\..\\b", "nul\0name",     "line\nbreak",
                                   "\x01\x02", "..\\..",   "trailing dot.", ""};
    std::vector<TSong> songs;
    for (const std::string& title : hostile) {
        std::string text = title == "nul\0name" ? std::string("nul\0name", 8) : title;
        songs.push_back(Song(text, "S" + std::to_string(songs.size()), "data", text, text));
    }
    Load(songs);
    WriteFile(FRoot / "sentinel", "outside");
    auto ipodBefore = Tree(FIpod);
    for (uint8_t scheme = 0; scheme <= 7; ++scheme) {
        FMusic->NamingScheme = scheme;
        EXPECT_EQ(FMusic->Export(), static_cast<int>(songs.size())) << int(scheme);
        for (const TTrackItem& track : FMusic->Tracks) {
            std::string real = RealPath(track.DestPath);
            EXPECT_EQ(real.rfind(RealPath(FDest) + "/", 0), 0u) << track.DestPath;
            EXPECT_EQ(ReadFile(real), "data");
        }
    }
    EXPECT_EQ(FolderNames(FRoot.Path()), (std::set<std::string>{"dest", "ipod", "sentinel"}));
    EXPECT_EQ(ReadFile(FRoot / "sentinel"), "outside");
    EXPECT_EQ(Tree(FIpod), ipodBefore);
}

TEST_F(DiskExportTest, TheSameSizeRuleHoldsPastFourGiB) {
    Load({Song("Big", "BIG.mp3", "small on the device")});
    const int64_t big = (int64_t{1} << 32) + 5;
    Track(0).FileSize = big;  // what the database says
    // A file of 5 bytes has the size a 32-bit comparison would see: it is another file.
    WriteFile(FDest + "/Big.mp3", "12345");
    // A sparse file of the full size is the earlier copy.
    std::string sparse = FDest + "/Big1.mp3";
    WriteFile(sparse, "");
    fs::resize_file(sparse, static_cast<uintmax_t>(big));
    EXPECT_EQ(FMusic->Export(), 1);
    EXPECT_EQ(Track(0).DestPath, sparse);
    EXPECT_EQ(fs::file_size(sparse), static_cast<uintmax_t>(big));
    EXPECT_EQ(ReadFile(FDest + "/Big.mp3"), "12345");
    EXPECT_EQ(FolderNames(FDest), (std::set<std::string>{"Big.mp3", "Big1.mp3"}));
}

class FullDiskExportTest : public DiskExportTest {
protected:
    void SetUp() override {
        fs::create_directories(FDest);
        FTmpfs.emplace(FDest, "size=64k");
        if (!FTmpfs->Mounted())
            GTEST_SKIP() << "needs root to mount a tmpfs";
    }
    void TearDown() override { FTmpfs.reset(); }
    std::optional<TTmpfsMount> FTmpfs;
};

TEST_F(FullDiskExportTest, ACopyThatDoesNotFitLeavesNoFile) {
    Load({Song("Large", "L.mp3", std::string(1 << 20, 'L')), Song("Small", "S.mp3", "small")});
    EXPECT_EQ(FMusic->Export(), 1);
    EXPECT_EQ(FMusic->Log.Text(), "\r\nLarge: " + CopyFailureText(kCopyLocalError + ENOSPC));
    EXPECT_EQ(Track(0).TransferState, 0);
    EXPECT_EQ(FolderNames(FDest), (std::set<std::string>{"Small.mp3"}));
}

TEST(MobileExport, ADeviceThatGoesAwayMidFileLeavesNoFile) {
    TTempDir root;
    std::string phone = root / "phone";
    std::string dest = root / "dest";
    fs::create_directories(dest);
    WriteFile(phone + "/iTunes_Control/Music/F00/A.mp3", std::string(3 << 20, 'a'));
    WriteFile(phone + "/iTunes_Control/Music/F00/B.mp3", "b");
    TSimulatedDeviceOptions simulated;
    simulated.Root = phone;
    simulated.Faults.GoneAfterBytes = 2 << 20;
    TSimulatedDevice device = MakeSimulatedDevice(simulated);
    TDeviceSessionOptions options;
    options.LoadLibrary = [&device] { return std::move(device.Library); };
    options.VolumeRule = nullptr;
    options.WatchMounts = false;
    TIpodDevice session(nullptr, options);
    device.Control->WaitIdle();
    ASSERT_TRUE(session.IsIos());

    TIpodMusicDb music(session);
    for (const char* name : {"B", "A"}) {
        TTrackItem& track = music.Tracks.Add();
        track.SetReaderDefaults();
        track.Title = name;
        track.Location = std::string("/iTunes_Control/Music/F00/") + name + ".mp3";
        ++music.Tracks.CheckedCount;
    }
    music.DestFolder = dest + "/";
    EXPECT_EQ(music.Export(), 1);
    EXPECT_EQ(music.Log.Text(), "\r\nA: " + CopyFailureText(kCopyDeviceFailed));
    EXPECT_EQ(music.Tracks.Items(1).TransferState, 0);
    EXPECT_EQ(FolderNames(dest), (std::set<std::string>{"B.mp3"}));
    device.Control->WaitIdle();
}

// A destination filled with files, folders and links whose names collide with what the export
// writes: after any export, whatever was there before is unchanged, the device too, and every
// track marked copied points at its own bytes inside the destination.
class CollidingDestinationTest : public DiskExportTest {
protected:
    std::string FOutside = FRoot / "outside";

    static std::string Pick(std::mt19937& random, const std::vector<std::string>& pool) {
        return pool[std::uniform_int_distribution<size_t>(0, pool.size() - 1)(random)];
    }
    static size_t Below(std::mt19937& random, size_t limit) {
        return std::uniform_int_distribution<size_t>(0, limit - 1)(random);
    }

    void Fill(std::mt19937& random) {
        static const std::vector<std::string> leaves = {
            "Song",          "__",           "A_B",
            "Band",          "Unknown Name", "Live",
            "Band - Song",   "Song - Band",  "Live - Band - Song",
            "Unknown Artist"};
        static const std::vector<std::string> suffixes = {"", "", "1", "2"};
        static const std::vector<std::string> exts = {".mp3", ".mp3", ".m4a", ""};
        static const std::vector<std::string> folders = {"", "", "Band/", "Band/Live/",
                                                         "Unknown Artist/Unknown Album/"};
        static const std::vector<std::string> artistFolders = {"Band",
                                                               "Unknown Artist",
                                                               "__",
                                                               "Song",
                                                               "Band/Live",
                                                               "Band/Unknown Album",
                                                               "Unknown Artist/Unknown Album",
                                                               "__/Live"};
        size_t count = Below(random, 9);
        for (size_t i = 0; i < count; ++i) {
            // A third of the entries take the place of scheme 0's artist and album folders.
            std::string path =
                FDest + "/" +
                (Below(random, 3) == 0 ? Pick(random, artistFolders)
                                       : Pick(random, folders) + Pick(random, leaves) +
                                             Pick(random, suffixes) + Pick(random, exts));
            std::error_code error;
            fs::create_directories(fs::path(path).parent_path(), error);
            if (error || fs::exists(fs::symlink_status(path)))
                continue;  // a file or link already holds a folder's place
            switch (Below(random, 6)) {
                case 0:
                    fs::create_directories(path);
                    break;
                case 1:
                    fs::create_symlink(FOutside + "/file", path);
                    break;
                case 2:
                    fs::create_directory_symlink(FOutside, path);
                    break;
                case 3:
                    fs::create_symlink(FOutside + "/nowhere", path);
                    break;
                default:
                    WriteFile(path, std::string(Below(random, 8), 'p'));  // sizes meet tracks'
                    break;
            }
        }
    }
};

TEST_F(CollidingDestinationTest, NothingThatWasThereChanges) {
    static const std::vector<std::string> titles = {"Song", "..", "A/B", "Song1", "", "Band"};
    static const std::vector<std::string> artists = {"", "Band", "..", "Song"};
    static const std::vector<std::string> albums = {"", "Live", "Band"};
    for (uint32_t seed = 1; seed <= 300; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 random(seed);
        for (const std::string& folder : {FIpod + "/iPod_Control/Music", FDest, FOutside})
            fs::remove_all(folder);
        fs::create_directories(FOutside);
        WriteFile(FOutside + "/file", "outside");
        std::vector<TSong> songs;
        size_t tracks = 1 + Below(random, 6);
        for (size_t i = 0; i < tracks; ++i) {
            std::string file = "T" + std::to_string(i) + (Below(random, 3) ? ".mp3" : ".m4a");
            songs.push_back(Song(Pick(random, titles), file,
                                 std::string(Below(random, 8), static_cast<char>('a' + i)),
                                 Pick(random, artists), Pick(random, albums)));
        }
        Load(songs);
        if (::testing::Test::HasFatalFailure())
            return;
        Fill(random);
        auto destBefore = Tree(FDest);
        auto ipodBefore = Tree(FIpod);
        auto outsideBefore = Tree(FOutside);
        // Scheme 0 makes folders, where most can go wrong: a third of the cases use it.
        FMusic->NamingScheme = static_cast<uint8_t>(Below(random, 3) == 0 ? 0 : Below(random, 10));
        int runs = 1 + static_cast<int>(Below(random, 2));
        for (int run = 0; run < runs; ++run) {
            int copied = FMusic->Export();
            int marked = 0;
            for (size_t i = 0; i < tracks; ++i) {
                const TTrackItem& track = Track(i);
                if (track.TransferState != 1)
                    continue;
                ++marked;
                ASSERT_EQ(track.DestPath.rfind(FDest + "/", 0), 0u) << track.DestPath;
                struct stat info;
                ASSERT_EQ(lstat(track.DestPath.c_str(), &info), 0) << track.DestPath;
                // The track's own bytes, or a file of its size (an earlier copy, or one of
                // another track of that size and name) taken for it.
                EXPECT_EQ(fs::file_size(track.DestPath), songs[i].Content.size());
                if (destBefore.count(track.DestPath.substr(FDest.size() + 1)) == 0) {
                    EXPECT_TRUE(S_ISREG(info.st_mode));
                    std::string content = ReadFile(track.DestPath);
                    EXPECT_TRUE(std::any_of(songs.begin(), songs.end(), [&](const TSong& song) {
                        return song.Content == content;
                    })) << track.DestPath;
                }
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
            EXPECT_EQ(path.find(".part-"), std::string::npos) << path;
            if (destBefore.count(path) == 0) {
                EXPECT_TRUE(entry == "d" || entry.rfind("f:", 0) == 0) << path;
            }
        }
        EXPECT_EQ(Tree(FIpod), ipodBefore);
        EXPECT_EQ(Tree(FOutside), outsideBefore);
    }
}

}  // namespace
}  // namespace corvane

namespace corvane {
namespace {

TEST(ExportDestination, ProposesTheMusicFolderAndAcceptsAChosenOne) {
    TTempDir dir;
    TScopedEnv home("HOME", dir.Path().c_str());
    TScopedEnv config("XDG_CONFIG_HOME", (dir / "config").c_str());
    TIpodDevice device(nullptr, OfflineSessionOptions());
    TIpodMusicDb music(device);
    // The user's own music folder, even beside a media player's folder of its own.
    fs::create_directories(dir / "Music/iTunes/iTunes Media");
    EXPECT_EQ(music.DefaultDestination(), dir / "Music/");
    fs::create_directories(dir / "Tunes");
    WriteFile(dir / "config/user-dirs.dirs", "XDG_MUSIC_DIR=\"$HOME/Tunes\"\n");
    EXPECT_EQ(music.DefaultDestination(), dir / "Tunes/");

    music.Tracks.CheckedSize = -5;  // a damaged sum needs no room rather than all of it
    std::string folder = dir / "out/new";
    ASSERT_TRUE(music.PrepareDestination(folder));
    EXPECT_EQ(folder, dir / "out/new/");
    EXPECT_EQ(music.DestFolder, folder);
    EXPECT_TRUE(fs::is_directory(folder));

    WriteFile(dir / "file", "x");
    folder = dir / "file/sub";
    EXPECT_FALSE(music.PrepareDestination(folder));
    EXPECT_EQ(folder,
              "Can not create the folder: " + dir / "file/sub" + "\nPlease choose another place.");
    EXPECT_EQ(music.DestFolder, dir / "out/new/");
}

}  // namespace
}  // namespace corvane
