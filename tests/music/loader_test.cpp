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

int64_t SizeOf(const TIpodMusicDb& music, const std::string& title) {
    for (const TTrackItem& track : music.Tracks)
        if (track.Title == title)
            return track.FileSize;
    ADD_FAILURE() << "no track " << title;
    return -1;
}

TEST(MusicLoad, ListedItemsTakeTheirSizeFromTheListElseFromTheDevice) {
    TTempDir root;
    fs::create_directories(root / "iTunes_Control/iTunes");
    WriteMediaLibrary(root / "iTunes_Control/iTunes/MediaLibrary.sqlitedb", false);
    TBook listed{.Name = "Listed", .Path = "L.pdf"};
    listed.More = {{"Size", TPlist(int64_t{12345})}};
    WriteFile(root / "Books/Books.plist", TBooksPlist()
                                              .Add(listed)
                                              .Add({"Folder Book", "A", "F.epub"})
                                              .Add({"File Book", "A", "P.pdf"})
                                              .Add({"Gone Book", "A", "Gone.pdf"})
                                              .Xml());
    WriteFile(root / "Books/L.pdf", "3 bytes are not what the list says");
    WriteFile(root / "Books/P.pdf", std::string(700, 'p'));
    WriteFile(root / "Books/F.epub/mimetype", std::string(20, 'm'));
    WriteFile(root / "Books/F.epub/OEBPS/one.xhtml", std::string(1000, 'x'));
    WriteFile(root / "iTunes_Control/Ringtones/ABCD.m4r", std::string(2500, 't'));
    WriteFile(root / "iTunes_Control/iTunes/Ringtones.plist",
              TRingtonesPlist().Add({.File = "ABCD.m4r", .Name = "Chime"}).Xml());
    WriteFile(root / "Recordings/Memo 1.m4a", std::string(321, 'v'));
    auto device = MobileDevice(root.Path());
    TIpodMusicDb music(*device);
    ASSERT_TRUE(music.Load(true));
    EXPECT_EQ(SizeOf(music, "Listed"), 12345);
    EXPECT_EQ(SizeOf(music, "Folder Book"), 1020);
    EXPECT_EQ(SizeOf(music, "File Book"), 700);
    EXPECT_EQ(SizeOf(music, "Gone Book"), 0);
    EXPECT_EQ(SizeOf(music, "Chime"), 2500);
    EXPECT_EQ(SizeOf(music, "Memo 1"), 321);
    int64_t checked = 0;
    for (const TTrackItem& track : music.Tracks)
        checked += track.FileSize;
    EXPECT_EQ(music.Tracks.CheckedSize, checked);
    EXPECT_EQ(music.Log.Text(), "");

    // A disk-mode iPod's book its database gives no size: the file on the volume tells.
    TTempDir disk;
    TITunesDbBuilder db;
    TITunesDbTrack book;
    book.Id = 1;
    book.Title = "Audio Book";
    book.Location = ":iPod_Control:Music:F00:BOOK.pdf";
    book.Size = 0;
    db.AddTrack(book);
    db.AddPlaylist({.Name = "iPod", .IsMaster = true, .TrackIds = {1}});
    WriteFile(disk / "iPod_Control/iTunes/iTunesDB", db.Build());
    WriteFile(disk / "iPod_Control/Music/F00/BOOK.pdf", std::string(4321, 'b'));
    auto ipod = DiskDevice(disk.Path());
    TIpodMusicDb diskMusic(*ipod);
    ASSERT_TRUE(diskMusic.Load(false));
    EXPECT_EQ(SizeOf(diskMusic, "Audio Book"), 4321);
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
