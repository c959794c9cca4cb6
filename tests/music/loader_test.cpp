// Which source wins when a library is loaded, which lines are logged, what survives a fallback.
#include <gtest/gtest.h>

#include <filesystem>

#include "device/DeviceFolder.h"
#include "device/SimulatedDevice.h"
#include "device/iPodDev.h"
#include "fixtures/DeviceSessions.h"
#include "fixtures/ITunesDbBuilder.h"
#include "fixtures/PlistBuilder.h"
#include "fixtures/SqliteBuilder.h"
#include "fixtures/TempDir.h"
#include "music/iPodMusic.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using namespace testing;

// An iTunesDB with two tracks in a master playlist named after the iPod.
std::string SmallITunesDb() {
    TITunesDbBuilder db;
    TITunesDbTrack a;
    a.Id = 1;
    a.Title = "Old Song";
    a.Location = ":iPod_Control:Music:F00:OLD.mp3";
    a.Size = 1000;
    db.AddTrack(a);
    TITunesDbTrack b = a;
    b.Id = 2;
    b.Title = "Older Song";
    db.AddTrack(b);
    TITunesDbPlaylist master;
    master.Name = "Kim's iPod";
    master.IsMaster = true;
    master.TrackIds = {1, 2};
    db.AddPlaylist(master);
    return db.Build();
}

void WriteMediaLibrary(const std::string& path, bool withBook) {
    TMediaLibraryBuilder library;
    library.AddTrack(MediaTrack(101, "New Song", "A.mp3"));
    if (withBook) {
        TMediaTrack book = MediaTrack(102, "A Book", "B.epub", "Books");
        book.MediaKind = 8;
        library.AddTrack(book);
    }
    library.AddPlaylist(MediaPlaylist(900, "Library"));
    library.SetPrimaryContainer(900);
    library.Write(path, TMediaLibraryEra::Ios8);
}

std::vector<std::string> Titles(const TIpodMusicDb& music) {
    std::vector<std::string> titles;
    for (const TTrackItem& track : music.Tracks)
        titles.push_back(track.Title);
    return titles;
}

TEST(MusicLoad, MobileMediaLibraryWinsAndItsStagedCopiesGo) {
    TTempDir root;
    fs::create_directories(root / "iTunes_Control/iTunes");
    WriteMediaLibrary(root / "iTunes_Control/iTunes/MediaLibrary.sqlitedb", true);
    WriteFile(root / "iTunes_Control/iTunes/iTunesDB", SmallITunesDb());
    WriteFile(root / "Books/Books.plist", TBooksPlist().Add({"Plist Book", "A", "P.epub"}).Xml());
    WriteFile(root / "Recordings/Memo 1.m4a", "m");
    auto device = MobileDevice(root.Path());
    ASSERT_TRUE(device->IsIos());
    TIpodMusicDb music(*device);
    EXPECT_TRUE(music.Load(true));
    // The database has a book, so the books list is not read; the memo is added.
    EXPECT_EQ(Titles(music), (std::vector<std::string>{"New Song", "A Book", "Memo 1"}));
    EXPECT_EQ(music.Log.Text(), "");
    EXPECT_FALSE(fs::exists(device->WorkFile()));
    EXPECT_EQ(music.Tracks.CheckedCount, 3);
}

TEST(MusicLoad, BooksListFillsInWhatTheDatabaseLacks) {
    TTempDir root;
    fs::create_directories(root / "iTunes_Control/iTunes");
    WriteMediaLibrary(root / "iTunes_Control/iTunes/MediaLibrary.sqlitedb", false);
    WriteFile(root / "Books/Books.plist", TBooksPlist().Add({"Plist Book", "A", "P.pdf"}).Xml());
    WriteFile(root / "Books/P.pdf", "pdf");
    auto device = MobileDevice(root.Path());
    TIpodMusicDb music(*device);
    EXPECT_TRUE(music.Load(true));
    EXPECT_EQ(Titles(music), (std::vector<std::string>{"New Song", "Plist Book"}));
}

TEST(MusicLoad, WithoutRecordingsTheMobileDeviceSaysOnceWhyThereAreNoVoiceMemos) {
    TTempDir root;
    fs::create_directories(root / "iTunes_Control/iTunes");
    WriteMediaLibrary(root / "iTunes_Control/iTunes/MediaLibrary.sqlitedb", true);
    auto device = MobileDevice(root.Path());
    TIpodMusicDb music(*device);
    EXPECT_TRUE(music.Load(true));
    EXPECT_EQ(Titles(music), (std::vector<std::string>{"New Song", "A Book"}));
    EXPECT_EQ(music.Log.Text(),
              "\r\nNo Recordings folder: voice memos of iOS 12 and later are kept where the USB "
              "file service cannot reach them");
}

TEST(MusicLoad, DiskModeIpodFallsBackToITunesDbAndTakesItsName) {
    TTempDir root;
    auto device = DiskDevice(root.Path());
    WriteFile(root / "iPod_Control/iTunes/iTunesDB", SmallITunesDb());
    WriteFile(root / "Recordings/Memo 1.m4a", "m");
    TIpodMusicDb music(*device);
    EXPECT_TRUE(music.Load(true));
    // The memo listed first is replaced by the iTunesDB's track list.
    EXPECT_EQ(Titles(music), (std::vector<std::string>{"Old Song", "Older Song"}));
    EXPECT_EQ(music.Log.Text().rfind("\r\nitdb, ", 0), 0u);
    EXPECT_EQ(music.Log.Text().find("iTunesDb, "), std::string::npos);
    EXPECT_EQ(device->DisplayName(), "Kim's iPod");
}

TEST(MusicLoad, NothingReadableLogsBothLinesInPreferenceOrder) {
    for (bool preferNew : {true, false}) {
        SCOPED_TRACE(preferNew ? "new database preferred" : "iTunesDB preferred");
        TTempDir root;
        auto device = DiskDevice(root.Path());
        WriteFile(root / "Recordings/Memo 1.m4a", "m");
        TIpodMusicDb music(*device);
        EXPECT_FALSE(music.Load(preferNew));
        std::string log = music.Log.Text();
        size_t itdb = log.find("\r\nitdb, ");
        size_t itunes = log.find("\r\niTunesDb, ");
        ASSERT_NE(itdb, std::string::npos);
        ASSERT_NE(itunes, std::string::npos);
        EXPECT_EQ(preferNew, itdb < itunes);
        EXPECT_NE(log.find("Not found: /iPod_Control/iTunes/iTunesDB"), std::string::npos);
        // Voice memos are listed on the preferred-new path only.
        EXPECT_EQ(Titles(music),
                  preferNew ? std::vector<std::string>{"Memo 1"} : std::vector<std::string>{});
        EXPECT_EQ(device->DisplayName(), "iPod");
    }
}

TEST(MusicLoad, ITunesDbFirstWhenTheNewDatabaseIsNotPreferred) {
    TTempDir root;
    auto device = DiskDevice(root.Path());
    WriteMediaLibrary(root / "iPod_Control/iTunes/MediaLibrary.sqlitedb", false);
    TIpodMusicDb fallback(*device);
    EXPECT_TRUE(fallback.Load(false));  // no iTunesDB: the SQLite path after one line
    EXPECT_EQ(Titles(fallback), (std::vector<std::string>{"New Song"}));
    EXPECT_EQ(fallback.Log.Text().rfind("\r\niTunesDb, ", 0), 0u);
    EXPECT_EQ(fallback.Log.Text().find("itdb, "), std::string::npos);

    WriteFile(root / "iPod_Control/iTunes/iTunesDB", SmallITunesDb());
    TIpodMusicDb first(*device);
    EXPECT_TRUE(first.Load(false));
    EXPECT_EQ(Titles(first), (std::vector<std::string>{"Old Song", "Older Song"}));
    EXPECT_EQ(first.Log.Text(), "");
}

TEST(MusicLoad, TrioWithoutLocationsIsNotALibrary) {
    TTempDir root;
    auto device = DiskDevice(root.Path());
    TItdbBuilder trio;
    TItdbTrack track;
    track.Pid = 7;
    track.Title = "Trio Song";
    trio.AddTrack(track);
    std::string itlp = root / "iPod_Control/iTunes/iTunes Library.itlp";
    fs::create_directories(itlp);
    trio.WriteLibrary(itlp + "/Library.itdb", TItdbEra::Ios3);
    TIpodMusicDb music(*device);
    EXPECT_FALSE(music.Load(true));
    EXPECT_EQ(Titles(music), (std::vector<std::string>{"Trio Song"}));

    WriteFile(root / "iPod_Control/iTunes/iTunesDB", SmallITunesDb());
    TIpodMusicDb replaced(*device);
    EXPECT_TRUE(replaced.Load(true));
    EXPECT_EQ(Titles(replaced), (std::vector<std::string>{"Old Song", "Older Song"}));
}

TEST(MusicLoad, AStagedCopyGoesWhenItsReadThrows) {
    TTempDir root;
    std::string itlp = root / "iTunes_Control/iTunes/iTunes Library.itlp";
    fs::create_directories(itlp);
    // SQLite refuses it at the first statement, and the reader throws.
    WriteFile(itlp + "/Library.itdb", std::string(4096, 'x'));
    auto device = MobileDevice(root.Path());
    TIpodMusicDb music(*device);
    EXPECT_FALSE(music.Load(true));
    EXPECT_NE(music.Log.Text().find("\r\nitdb, "), std::string::npos);
    for (const char* suffix : {"", "-wal", "-shm", "-journal"})
        EXPECT_FALSE(fs::exists(device->WorkFile() + suffix)) << suffix;
}

}  // namespace
}  // namespace corvane
