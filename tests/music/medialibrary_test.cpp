#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "device/DeviceFolder.h"
#include "device/iPodDev.h"
#include "fixtures/SqliteBuilder.h"
#include "fixtures/TempDir.h"
#include "music/SQLiteWrap.h"
#include "music/iPodMusic.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using testing::ExecSql;
using testing::MediaPlaylist;
using testing::MediaTrack;
using testing::TMediaLibraryBuilder;
using testing::TMediaLibraryEra;
using testing::TTempDir;

constexpr int64_t kPurchasedPid = -8988823706756332861;  // real pids are often negative

std::vector<uint64_t> Pids(std::initializer_list<int64_t> pids) {
    std::vector<uint64_t> result;
    for (int64_t pid : pids)
        result.push_back(static_cast<uint64_t>(pid));
    return result;
}

// The device-name playlist first in the builder but not first in table order, a song with
// every field, a movie under a base path of the pre-iOS 8 kind, a book without a base path, a
// tone with an upper-case extension, and two items the reader must leave out.
TMediaLibraryBuilder StandardLibrary() {
    TMediaLibraryBuilder library;
    library.AddPlaylist(MediaPlaylist(900, "Kim's iPhone", {12, 13})).IsHidden = true;
    library.SetPrimaryContainer(900);
    testing::TMediaTrack& song = library.AddTrack(MediaTrack(kPurchasedPid, "Song", "ABCD.mp3"));
    song.Artist = "Artist";
    song.Album = "Album";
    song.Genre = "Rock";
    song.FileSize = 4000000;
    song.DurationMs = 183456.7;
    song.Rating = 80;
    song.PlayCount = 5;
    song.TrackNumber = 4;
    song.DiscNumber = 1;
    song.Year = 2011;
    song.AlbumArtist = "Various";
    library.AddTrack(MediaTrack(12, "Movie", "F01/MOVI.m4v", "iTunes_Control/Music")).FileSize =
        700000000;
    library.AddTrack(MediaTrack(13, "Book", "Book.epub", "")).FileSize = 300;
    library.AddTrack(MediaTrack(14, "Tone", "Tone.M4R")).FileSize = 20;
    library.AddTrack(MediaTrack(15, "No file", ""));
    library.AddTrack(MediaTrack(16, "No stats", "X.mp3")).HasStats = false;
    library.AddPlaylist(MediaPlaylist(5, "Mix", {13, kPurchasedPid, 99999, 13}));
    library.AddPlaylist(MediaPlaylist(6, "Top")).SmartLimitKind = 2;
    library.AddPlaylist(MediaPlaylist(7, "Voice Memos")).DistinguishedKind = 17;
    return library;
}

class MediaLibraryTest : public ::testing::Test {
protected:
    int Read(const TMediaLibraryBuilder& library, TMediaLibraryEra era) {
        library.Write(FPath, era);
        return FMusic.ReadMediaLibrary(FPath);
    }

    // The track of a pid: the item query gives no order of its own.
    const TTrackItem& Track(int64_t pid) {
        for (const TTrackItem& track : FMusic.Tracks) {
            if (track.Pid == pid)
                return track;
        }
        ADD_FAILURE() << "no track " << pid;
        static const TTrackItem kNone;
        return kNone;
    }

    TTempDir FDir;
    std::string FPath = FDir / "MediaLibrary.sqlitedb";
    TIpodDevice FDevice{nullptr, OfflineSessionOptions()};
    TIpodMusicDb FMusic{FDevice};
};

class MediaLibraryEraTest : public MediaLibraryTest,
                            public ::testing::WithParamInterface<TMediaLibraryEra> {};

TEST_P(MediaLibraryEraTest, ReadsTracksAndPlaylists) {
    FMusic.NeedBooks = true;
    FMusic.NeedRingtones = true;
    ASSERT_EQ(Read(StandardLibrary(), GetParam()), 4);
    ASSERT_EQ(FMusic.Tracks.Count(), 4u);

    const TTrackItem& song = Track(kPurchasedPid);
    EXPECT_EQ(song.Pid, kPurchasedPid);
    EXPECT_EQ(song.Title, "Song");
    EXPECT_EQ(song.Artist, "Artist");
    EXPECT_EQ(song.Album, "Album");
    EXPECT_EQ(song.Genre, "Rock");
    EXPECT_EQ(song.Location, "iTunes_Control/Music/F00/ABCD.mp3");
    EXPECT_EQ(song.Kind, mkMusic);
    EXPECT_EQ(song.FileSize, 4000000);
    EXPECT_EQ(song.SizeText, TIpodDevice::FormatSize(4000000));
    EXPECT_EQ(song.DurationMs, 183456u);  // total_time_ms is REAL
    EXPECT_EQ(song.DurationText, "3:03");
    EXPECT_EQ(song.Rating, 80);
    EXPECT_EQ(song.PlayCount, 5);
    EXPECT_EQ(song.TrackNumber, 4);
    EXPECT_EQ(song.DiscNumber, 1);
    EXPECT_EQ(song.Year, 2011);
    EXPECT_EQ(song.AlbumArtist, "Various");
    EXPECT_EQ(Track(12).TrackNumber, 0);
    EXPECT_EQ(Track(12).AlbumArtist, "");
    EXPECT_TRUE(song.Checked);
    EXPECT_EQ(song.ITunesSourceId, -1);
    EXPECT_EQ(song.TransferState, -1);

    const TTrackItem& movie = Track(12);
    EXPECT_EQ(movie.Location, "iTunes_Control/Music/F01/MOVI.m4v");
    EXPECT_EQ(movie.Kind, mkMovie);
    EXPECT_EQ(movie.Artist, "");
    EXPECT_EQ(movie.Album, "");
    EXPECT_EQ(movie.Genre, "");
    EXPECT_EQ(Track(13).Location, "/Book.epub");
    EXPECT_EQ(Track(13).Kind, mkBook);
    EXPECT_EQ(Track(14).Kind, mkTone);
    EXPECT_FALSE(FMusic.NeedBooks);
    EXPECT_FALSE(FMusic.NeedRingtones);

    const int64_t total = 4000000 + 700000000 + 300 + 20;
    EXPECT_EQ(FMusic.Tracks.CheckedCount, 4);
    EXPECT_EQ(FMusic.Tracks.CheckedSize, total);
    EXPECT_EQ(FMusic.TotalSize, total);

    ASSERT_EQ(FMusic.PlayLists.Count(), 4u);
    const TPlayListItem& primary = FMusic.PlayLists.Items(0);
    EXPECT_EQ(primary.Pid, 900);
    EXPECT_EQ(primary.Name, "Kim's iPhone");
    EXPECT_EQ(primary.Count, 0);  // the library playlist is never filled
    EXPECT_TRUE(primary.TrackPids.empty());
    const TPlayListItem& mix = FMusic.PlayLists.Items(1);
    EXPECT_EQ(mix.Name, "Mix");
    EXPECT_EQ(mix.TrackPids, Pids({13, kPurchasedPid, 99999, 13}));
    EXPECT_EQ(mix.Count, 4);
    EXPECT_FALSE(mix.IsSmart);
    EXPECT_FALSE(mix.IsVoiceMemos);
    EXPECT_TRUE(FMusic.PlayLists.Items(2).IsSmart);  // smart_limit_kind alone
    EXPECT_EQ(FMusic.PlayLists.Items(2).Count, 0);
    EXPECT_TRUE(FMusic.PlayLists.Items(3).IsVoiceMemos);
    EXPECT_EQ(FMusic.Log.Text(),
              "\r\nMediaLibrary: 1 item is only in the cloud (no file on the device) and not "
              "listed");
}

TEST_F(MediaLibraryTest, CloudItemsAreLeftOutAndCountedInOneLine) {
    TMediaLibraryBuilder library = StandardLibrary();
    library.AddTrack(MediaTrack(17, "Streamed", "S.m4a"));
    library.AddTrack(MediaTrack(18, "Low quality copy", "L.m4a"));
    library.Write(FPath, TMediaLibraryEra::Ios17);
    // A remote location counts only with a base location below the local ones (250).
    ExecSql(FPath,
            "UPDATE item SET remote_location_id=300 WHERE item_pid IN (14,17,18);"
            "UPDATE item SET base_location_id=200 WHERE item_pid=17;"
            "UPDATE item SET base_location_id=100 WHERE item_pid=18;");
    EXPECT_EQ(FMusic.ReadMediaLibrary(FPath), 4);
    EXPECT_EQ(Track(14).Title, "Tone");
    EXPECT_EQ(FMusic.Log.Text(),
              "\r\nMediaLibrary: 3 items are only in the cloud (no file on the device) and not "
              "listed");
}

INSTANTIATE_TEST_SUITE_P(Eras, MediaLibraryEraTest,
                         ::testing::Values(TMediaLibraryEra::PreIos8, TMediaLibraryEra::Ios8,
                                           TMediaLibraryEra::Ios17),
                         [](const auto& test) { return testing::SchemaName(test.param); });

// ---------------------------------------------------------------------------------------------
// container_items blobs

struct TBlobCase {
    const char* Name;
    std::optional<std::vector<uint8_t>> Data;  // nullopt: NULL
    std::vector<uint64_t> Expected;
    bool Logged;
};

class MediaLibraryBlobTest : public MediaLibraryTest,
                             public ::testing::WithParamInterface<TBlobCase> {};

TEST_P(MediaLibraryBlobTest, EntriesComeFromWholeEightByteValues) {
    const TBlobCase& c = GetParam();
    TMediaLibraryBuilder library;
    library.AddTrack(MediaTrack(1, "A", "A.mp3"));
    library.AddPlaylist(MediaPlaylist(1, "Library"));
    library.SetPrimaryContainer(1);
    testing::TMediaPlaylist& list = library.AddPlaylist(MediaPlaylist(2, "List"));
    list.RawItemData = c.Data;
    list.NullItemData = !c.Data;
    for (TMediaLibraryEra era : {TMediaLibraryEra::PreIos8, TMediaLibraryEra::Ios8}) {
        SCOPED_TRACE(testing::SchemaName(era));
        FMusic.Log.Clear();
        ASSERT_EQ(Read(library, era), 1);
        ASSERT_EQ(FMusic.PlayLists.Count(), 2u);
        EXPECT_EQ(FMusic.PlayLists.Items(1).TrackPids, c.Expected);
        EXPECT_EQ(FMusic.PlayLists.Items(1).Count, static_cast<int32_t>(c.Expected.size()));
        EXPECT_EQ(FMusic.Log.Text().find("partial entry") != std::string::npos, c.Logged);
    }
}

std::vector<uint8_t> WithTail(std::vector<uint8_t> data, size_t extra) {
    data.insert(data.end(), extra, 0xEE);
    return data;
}

INSTANTIATE_TEST_SUITE_P(
    Blobs, MediaLibraryBlobTest,
    ::testing::Values(TBlobCase{"TwentyBytes", WithTail(testing::PackPids({1, 2}), 4), Pids({1, 2}),
                                true},
                      TBlobCase{"Null", std::nullopt, {}, false},
                      TBlobCase{"NoBytes", std::vector<uint8_t>{}, {}, false},
                      TBlobCase{"SevenBytes", WithTail({}, 7), {}, true},
                      TBlobCase{"SignedLittleEndian",
                                std::vector<uint8_t>{0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                                     0x01, 0x02, 0, 0, 0, 0, 0, 0},
                                Pids({-2, 0x0201}), false}),
    [](const auto& test) { return std::string(test.param.Name); });

TEST_F(MediaLibraryTest, WithoutDbInfoRowTheFirstContainerTakesEntries) {
    TMediaLibraryBuilder library;
    library.AddTrack(MediaTrack(1, "A", "A.mp3"));
    library.AddPlaylist(MediaPlaylist(30, "Third", {1}));
    library.AddPlaylist(MediaPlaylist(10, "First", {1, 1}));
    library.AddPlaylist(MediaPlaylist(20, "Second"));
    ASSERT_EQ(Read(library, TMediaLibraryEra::Ios8), 1);
    ASSERT_EQ(FMusic.PlayLists.Count(), 3u);
    EXPECT_EQ(FMusic.PlayLists.Items(0).Name, "First");  // table order
    EXPECT_EQ(FMusic.PlayLists.Items(0).Count, 2);
    EXPECT_EQ(FMusic.PlayLists.Items(2).Name, "Third");
    EXPECT_EQ(FMusic.PlayLists.Items(2).Count, 1);
}

TEST_F(MediaLibraryTest, EntriesOfUnknownContainersAreIgnored) {
    TMediaLibraryBuilder library;
    library.AddTrack(MediaTrack(1, "A", "A.mp3"));
    library.AddPlaylist(MediaPlaylist(1, "Library"));
    library.AddPlaylist(MediaPlaylist(2, "List", {1}));
    library.Write(FPath, TMediaLibraryEra::Ios8);
    ExecSql(FPath, "INSERT INTO container_items VALUES (4242, x'0100000000000000')");
    ASSERT_EQ(FMusic.ReadMediaLibrary(FPath), 1);
    EXPECT_EQ(FMusic.PlayLists.Items(0).Count, 0);
    EXPECT_EQ(FMusic.PlayLists.Items(1).Count, 1);
}

TEST_F(MediaLibraryTest, IdsMatchWhenTheirTextMatches) {
    TMediaLibraryBuilder library;
    library.AddTrack(MediaTrack(1, "A", "A.mp3"));
    library.AddTrack(MediaTrack(2, "B", "B.mp3"));
    library.AddTrack(MediaTrack(3, "C", "C.mp3"));
    library.Write(FPath, TMediaLibraryEra::Ios8);
    // A lookup table whose ids are text: "5" is the text of 5, "007" is not the text of 7.
    ExecSql(FPath,
            "DROP TABLE genre; CREATE TABLE genre (genre_id TEXT, genre TEXT);"
            "INSERT INTO genre VALUES ('5', 'Five'), ('007', 'Seven'), ('x', 'Ex'), (5, 'Again');"
            "UPDATE item SET genre_id = 5 WHERE item_pid = 1;"
            "UPDATE item SET genre_id = 7 WHERE item_pid = 2;"
            "UPDATE item SET genre_id = 'x' WHERE item_pid = 3;");
    ASSERT_EQ(FMusic.ReadMediaLibrary(FPath), 3);
    EXPECT_EQ(Track(1).Genre, "Five");
    EXPECT_EQ(Track(2).Genre, "");
    EXPECT_EQ(Track(3).Genre, "Ex");
    // A repeated id keeps its first name and does not end the read.
    EXPECT_NE(FMusic.Log.Text().find("1 repeated ids in genre"), std::string::npos);
}

// ---------------------------------------------------------------------------------------------
// Schema eras: what can be read is read

TEST_F(MediaLibraryTest, MissingLookupTablesLeaveNamesEmpty) {
    StandardLibrary().Write(FPath, TMediaLibraryEra::Ios8);
    ExecSql(FPath, "DROP TABLE item_artist; DROP TABLE genre;");
    ASSERT_EQ(FMusic.ReadMediaLibrary(FPath), 4);
    EXPECT_EQ(Track(kPurchasedPid).Artist, "");
    EXPECT_EQ(Track(kPurchasedPid).Genre, "");
    EXPECT_EQ(Track(kPurchasedPid).Album, "Album");
    EXPECT_NE(FMusic.Log.Text().find("no item_artist table"), std::string::npos);
    EXPECT_EQ(FMusic.PlayLists.Count(), 4u);
}

TEST_F(MediaLibraryTest, PlainItemToContainerBeforeTheBlobs) {
    TMediaLibraryBuilder library;
    for (int64_t pid : {1, 2, 3})
        library.AddTrack(MediaTrack(pid, "T", "T.mp3"));
    library.AddPlaylist(MediaPlaylist(1, "Library"));
    library.SetPrimaryContainer(1);
    library.AddPlaylist(MediaPlaylist(2, "List"));
    library.Write(FPath, TMediaLibraryEra::PreIos8);
    // Rows written out of order: physical_order gives the order.
    ExecSql(FPath,
            "DROP TABLE container_items; CREATE TABLE item_to_container (item_pid INTEGER, "
            "container_pid INTEGER, physical_order INTEGER, shuffle_order INTEGER);"
            "INSERT INTO item_to_container VALUES (3, 2, 2, 0), (1, 2, 0, 0), (2, 2, 1, 0),"
            "(3, 1, 0, 0);");
    ASSERT_EQ(FMusic.ReadMediaLibrary(FPath), 3);
    EXPECT_EQ(FMusic.PlayLists.Items(1).TrackPids, Pids({1, 2, 3}));
    EXPECT_EQ(FMusic.PlayLists.Items(0).Count, 0);
}

TEST_F(MediaLibraryTest, VirtualItemToContainerIsNeverRead) {
    StandardLibrary().Write(FPath, TMediaLibraryEra::Ios8);
    ExecSql(FPath, "DROP TABLE container_items");
    ASSERT_EQ(FMusic.ReadMediaLibrary(FPath), 4);
    EXPECT_EQ(FMusic.PlayLists.Count(), 4u);
    EXPECT_EQ(FMusic.PlayLists.Items(1).Count, 0);
    EXPECT_NE(FMusic.Log.Text().find("no playlist entries table"), std::string::npos);
}

TEST_F(MediaLibraryTest, MissingContainerTableKeepsTheTracks) {
    StandardLibrary().Write(FPath, TMediaLibraryEra::Ios17);
    ExecSql(FPath, "DROP TABLE container");
    ASSERT_EQ(FMusic.ReadMediaLibrary(FPath), 4);
    EXPECT_TRUE(FMusic.PlayLists.Empty());
    EXPECT_NE(FMusic.Log.Text().find("no such table: container"), std::string::npos);
}

TEST_F(MediaLibraryTest, TrackListErrorsAreRaised) {
    StandardLibrary().Write(FPath, TMediaLibraryEra::Ios8);
    ExecSql(FPath, "DROP TABLE item_extra");
    try {
        FMusic.ReadMediaLibrary(FPath);
        FAIL() << "no exception";
    } catch (const ESQLiteException& error) {
        std::string text = error.what();
        EXPECT_EQ(text.rfind("Error executing SQL.\r\nError [1]: ", 0), 0u) << text;
        EXPECT_NE(text.find("no such table: item_extra"), std::string::npos);
    }
    testing::WriteFile(FPath, std::string(8192, '\x5A'));
    EXPECT_THROW(FMusic.ReadMediaLibrary(FPath), ESQLiteException);
}

// ---------------------------------------------------------------------------------------------
// Values checked against what they may be

TEST_F(MediaLibraryTest, BlankNamesAndOutOfRangeValues) {
    TMediaLibraryBuilder library;
    testing::TMediaTrack& blank = library.AddTrack(MediaTrack(1, "   ", "A.mp3"));
    blank.Artist = " \t ";
    blank.Album = "  ";
    blank.FileSize = -5;
    blank.DurationMs = -1000;
    blank.Rating = 255;
    blank.PlayCount = -3;
    testing::TMediaTrack& padded = library.AddTrack(MediaTrack(2, " Title ", "B.mp3"));
    padded.Artist = " A";
    padded.Rating = -20;
    padded.PlayCount = int64_t{1} << 40;
    ASSERT_EQ(Read(library, TMediaLibraryEra::Ios17), 2);
    const TTrackItem& first = Track(1);
    EXPECT_EQ(first.Title, "");
    EXPECT_EQ(first.Artist, "");
    EXPECT_EQ(first.Album, "");
    EXPECT_EQ(first.FileSize, 0);
    EXPECT_EQ(first.DurationMs, 0u);
    EXPECT_EQ(first.Rating, 100);
    EXPECT_EQ(first.PlayCount, 0);
    const TTrackItem& second = Track(2);
    EXPECT_EQ(second.Title, " Title ");
    EXPECT_EQ(second.Artist, " A");
    EXPECT_EQ(second.Rating, 0);
    EXPECT_EQ(second.PlayCount, INT32_MAX);
}

TEST_F(MediaLibraryTest, HugeSizesSaturateTheSums) {
    TMediaLibraryBuilder library;
    library.AddTrack(MediaTrack(1, "A", "A.mp3")).FileSize = INT64_MAX / 2 + 10;
    library.AddTrack(MediaTrack(2, "B", "B.mp3")).FileSize = INT64_MAX / 2 + 10;
    ASSERT_EQ(Read(library, TMediaLibraryEra::Ios8), 2);
    EXPECT_EQ(FMusic.TotalSize, INT64_MAX);
    EXPECT_EQ(FMusic.Tracks.CheckedSize, INT64_MAX);
    FMusic.Tracks.Uncheck(0);
    FMusic.Tracks.Check(0);
    EXPECT_EQ(FMusic.Tracks.CheckedSize, INT64_MAX);
}

// ---------------------------------------------------------------------------------------------
// A disk-mode device's own database is read in place, "-wal" and all, and never changed.

TEST(MediaLibraryDiskModeTest, WalOfTheDeviceIsReadAndNothingChanges) {
    TTempDir ipod;
    std::string itunes = ipod / "iPod_Control/iTunes";
    fs::create_directories(itunes);
    TMediaLibraryBuilder library = StandardLibrary();
    library.MarkWalStart();
    library.AddTrack(MediaTrack(40, "Late", "LATE.mp3")).FileSize = 1;
    library.AddPlaylist(MediaPlaylist(41, "Late list", {40, 12}));
    library.WriteWal(itunes + "/MediaLibrary.sqlitedb", TMediaLibraryEra::Ios8);
    std::map<std::string, std::string> before;
    for (const auto& entry : fs::directory_iterator(itunes)) {
        before[entry.path().string()] = testing::ReadFile(entry.path().string());
    }

    TIpodDevice device(nullptr, OfflineSessionOptions({ipod.Path()}));
    ASSERT_TRUE(device.ScanDrives());
    TIpodMusicDb music(device);
    std::string path = device.StageITunesFile("MediaLibrary.sqlitedb", false, "");
    ASSERT_EQ(path, itunes + "/MediaLibrary.sqlitedb");
    EXPECT_EQ(music.ReadMediaLibrary(path), 5);
    EXPECT_EQ(std::count_if(music.Tracks.begin(), music.Tracks.end(),
                            [](const TTrackItem& track) { return track.Title == "Late"; }),
              1);
    ASSERT_EQ(music.PlayLists.Count(), 5u);
    EXPECT_EQ(music.PlayLists.Items(4).TrackPids, Pids({40, 12}));

    std::map<std::string, std::string> after;
    for (const auto& entry : fs::directory_iterator(itunes)) {
        after[entry.path().string()] = testing::ReadFile(entry.path().string());
    }
    EXPECT_EQ(after, before);
}

}  // namespace
}  // namespace corvane
