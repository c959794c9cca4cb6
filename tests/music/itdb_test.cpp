#include <gtest/gtest.h>

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
using testing::ItdbPlaylist;
using testing::ItdbTrack;
using testing::TItdbBuilder;
using testing::TItdbEra;
using testing::TTempDir;

std::vector<uint64_t> Pids(std::initializer_list<int64_t> pids) {
    return std::vector<uint64_t>(pids.begin(), pids.end());
}

// The counters agree with the Checked flags.
void ExpectCountersHold(const TTrackList& tracks) {
    int32_t count = 0;
    int64_t size = 0;
    for (const TTrackItem& track : tracks) {
        if (!track.Checked)
            continue;
        ++count;
        size += track.FileSize;
    }
    EXPECT_EQ(tracks.CheckedCount, count);
    EXPECT_EQ(tracks.CheckedSize, size);
}

// Every location rule once, a track without a location row, one without stats, and playlists
// of every kind, the device-name playlist last in table order.
TItdbBuilder StandardTrio() {
    TItdbBuilder trio;
    trio.AddBaseLocation(5, "iTunes_Control/Music");
    trio.AddBaseLocation(7, std::nullopt);
    testing::TItdbTrack& song = trio.AddTrack(ItdbTrack(1, "Song", "F01/X.mp3"));
    song.Artist = "Artist";
    song.Album = "Album";
    song.Genre = "Rock";
    song.DurationMs = 61000.5;
    song.FileSize = 4000;
    song.Rating = 60;
    song.PlayCount = 3;
    song.TrackNumber = 9;
    song.DiscNumber = 2;
    song.Year = 1987;
    song.AlbumArtist = "Various";
    testing::TItdbTrack& movie = trio.AddTrack(ItdbTrack(2, "Movie", "F02/M.m4v"));
    movie.BaseLocationId = 5;
    movie.Genre = "Jazz";
    movie.FileSize = 90000;
    testing::TItdbTrack& raw = trio.AddTrack(ItdbTrack(3, "Raw", "Music/F01/Y.mp3"));
    raw.BaseLocationId = 0;
    raw.Genre = "Rock";
    raw.HasStats = false;
    trio.AddTrack(ItdbTrack(4, "Unknown base", "F01/Z.mp3")).BaseLocationId = 9;
    trio.AddTrack(ItdbTrack(5, "Folder", "")).Location = std::nullopt;
    testing::TItdbTrack& nowhere = trio.AddTrack(ItdbTrack(6, "Pathless base", ""));
    nowhere.Location = std::nullopt;
    nowhere.BaseLocationId = 7;
    nowhere.FileSize = 11;
    trio.AddTrack(ItdbTrack(7, "No location", "")).HasLocation = false;
    trio.AddTrack(ItdbTrack(8, "Book", "F03/B.epub")).FileSize = 300;
    trio.AddTrack(ItdbTrack(9, "Tone", "F03/T.m4r")).FileSize = 20;
    trio.AddPlaylist(ItdbPlaylist(99, "Kim's iPod", {1, 2}));
    trio.SetPrimaryContainer(99);
    trio.AddPlaylist(ItdbPlaylist(10, "Mix", {2, 1, 2, 777}));
    trio.AddPlaylist(ItdbPlaylist(11, std::nullopt, {3}));
    trio.AddPlaylist(ItdbPlaylist(12, "Smart", {1})).MediaKinds = 0;
    trio.AddPlaylist(ItdbPlaylist(13, "Empty"));
    return trio;
}

class ItdbTest : public ::testing::Test {
protected:
    // The three readers in the loader's order.
    int ReadTrio(const TItdbBuilder& trio, TItdbEra era) {
        trio.Write(FDir.Path(), era);
        int added = FMusic.ReadItdbLibrary(FDir / "Library.itdb");
        EXPECT_TRUE(FMusic.ReadItdbLocations(FDir / "Locations.itdb"));
        EXPECT_TRUE(FMusic.ReadItdbStats(FDir / "Dynamic.itdb"));
        return added;
    }

    TTempDir FDir;
    TIpodDevice FDevice{nullptr, OfflineSessionOptions()};
    TIpodMusicDb FMusic{FDevice};
};

class ItdbEraTest : public ItdbTest, public ::testing::WithParamInterface<TItdbEra> {};

TEST_P(ItdbEraTest, ReadsTheTrioInOrder) {
    TItdbBuilder trio = StandardTrio();
    trio.Write(FDir.Path(), GetParam());
    FMusic.NeedBooks = true;
    FMusic.NeedRingtones = true;

    ASSERT_EQ(FMusic.ReadItdbLibrary(FDir / "Library.itdb"), 9);
    ASSERT_EQ(FMusic.Tracks.Count(), 9u);
    const TTrackItem& song = FMusic.Tracks.Items(0);
    EXPECT_EQ(song.Pid, 1);
    EXPECT_EQ(song.Title, "Song");
    EXPECT_EQ(song.Artist, "Artist");
    EXPECT_EQ(song.Album, "Album");
    EXPECT_EQ(song.Genre, "Rock");
    EXPECT_EQ(song.DurationMs, 61000u);
    EXPECT_EQ(song.DurationText, "1:01");
    EXPECT_EQ(song.TrackNumber, 9);
    EXPECT_EQ(song.DiscNumber, 2);
    EXPECT_EQ(song.Year, 1987);
    EXPECT_EQ(song.AlbumArtist, "Various");
    EXPECT_EQ(FMusic.Tracks.Items(1).TrackNumber, 0);
    EXPECT_EQ(song.ITunesSourceId, -1);
    EXPECT_EQ(song.TransferState, -1);
    EXPECT_EQ(FMusic.Tracks.Items(1).Genre, "Jazz");
    EXPECT_EQ(FMusic.Tracks.Items(2).Genre, "Rock");
    EXPECT_EQ(FMusic.Tracks.Items(3).Genre, "");
    ExpectCountersHold(FMusic.Tracks);  // all checked, sizes still to come

    ASSERT_EQ(FMusic.PlayLists.Count(), 5u);
    EXPECT_EQ(FMusic.PlayLists.Items(0).Name, "Kim's iPod");
    EXPECT_EQ(FMusic.PlayLists.Items(0).Count, 0);
    EXPECT_EQ(FMusic.PlayLists.Items(1).Name, "Mix");
    EXPECT_EQ(FMusic.PlayLists.Items(1).TrackPids, Pids({2, 1, 2, 777}));
    EXPECT_EQ(FMusic.PlayLists.Items(1).Count, 4);
    EXPECT_FALSE(FMusic.PlayLists.Items(1).IsSmart);
    EXPECT_EQ(FMusic.PlayLists.Items(2).Name, "Unknown");
    EXPECT_EQ(FMusic.PlayLists.Items(2).TrackPids, Pids({3}));
    EXPECT_TRUE(FMusic.PlayLists.Items(3).IsSmart);
    EXPECT_EQ(FMusic.PlayLists.Items(4).Count, 0);

    ASSERT_TRUE(FMusic.ReadItdbLocations(FDir / "Locations.itdb"));
    struct TExpected {
        const char* Location;
        TMediaKind Kind;
        bool Checked;
    };
    const TExpected expected[] = {
        {"iTunes_Control/Music/F01/X.mp3", mkMusic, true},
        {"iTunes_Control/Music/F02/M.m4v", mkMovie, true},
        {"Music/F01/Y.mp3", mkMusic, true},
        {"/F01/Z.mp3", mkMusic, true},
        {"iTunes_Control/Music/", mkMusic, true},  // a NULL location names the base folder
        {"", mkMusic, false},                      // no base path and no location: no file
        {"", mkMusic, false},                      // no location row
        {"iTunes_Control/Music/F03/B.epub", mkBook, true},
        {"iTunes_Control/Music/F03/T.m4r", mkTone, true},
    };
    for (size_t i = 0; i < std::size(expected); ++i) {
        SCOPED_TRACE(i);
        const TTrackItem& track = FMusic.Tracks.Items(i);
        EXPECT_EQ(track.Location, expected[i].Location);
        EXPECT_EQ(track.Kind, expected[i].Kind);
        EXPECT_EQ(track.Checked, expected[i].Checked);
    }
    EXPECT_EQ(FMusic.Tracks.Items(0).SizeText, TIpodDevice::FormatSize(4000));
    EXPECT_EQ(FMusic.Tracks.Items(6).FileSize, 0);
    EXPECT_EQ(FMusic.TotalSize, 4000 + 90000 + 11 + 300 + 20);
    EXPECT_EQ(FMusic.Tracks.CheckedCount, 7);
    ExpectCountersHold(FMusic.Tracks);
    EXPECT_FALSE(FMusic.NeedBooks);
    EXPECT_FALSE(FMusic.NeedRingtones);
    EXPECT_NE(FMusic.Log.Text().find("2 tracks without a file"), std::string::npos);

    ASSERT_TRUE(FMusic.ReadItdbStats(FDir / "Dynamic.itdb"));
    EXPECT_EQ(song.Rating, 60);
    EXPECT_EQ(song.PlayCount, 3);
    EXPECT_EQ(FMusic.Tracks.Items(2).Rating, 0);  // no stats row
    EXPECT_EQ(FMusic.Tracks.Items(2).PlayCount, 0);
    ExpectCountersHold(FMusic.Tracks);
}

INSTANTIATE_TEST_SUITE_P(Eras, ItdbEraTest,
                         ::testing::Values(TItdbEra::Ios3, TItdbEra::Ios3PostProcessed,
                                           TItdbEra::Ios4),
                         [](const auto& test) {
                             switch (test.param) {
                                 case TItdbEra::Ios3:
                                     return "Ios3";
                                 case TItdbEra::Ios3PostProcessed:
                                     return "Ios3PostProcessed";
                                 case TItdbEra::Ios4:
                                     return "Ios4";
                             }
                             return "Unknown";
                         });

// ---------------------------------------------------------------------------------------------

TEST_F(ItdbTest, GenresAreFoundByTheirId) {
    TItdbBuilder trio;
    trio.AddTrack(ItdbTrack(1, "A", "A.mp3")).Genre = "Rock";
    trio.AddTrack(ItdbTrack(2, "B", "B.mp3")).Genre = "Pop";
    trio.AddTrack(ItdbTrack(3, "C", "C.mp3")).GenreId = 3;  // no such genre
    trio.AddTrack(ItdbTrack(4, "D", "D.mp3")).GenreId = int64_t{1} << 40;
    trio.AddTrack(ItdbTrack(5, "E", "E.mp3"));
    trio.AddTrack(ItdbTrack(6, "F", "F.mp3")).GenreId = 2;
    trio.Write(FDir.Path(), TItdbEra::Ios4);
    // Ids need not follow each other, and a name sorting first must not shift the others.
    ExecSql(FDir / "Library.itdb",
            "UPDATE item SET genre_id = -5 WHERE pid = 5;"
            "INSERT INTO genre_map (id, genre) VALUES (7, 'Ambient');"
            "UPDATE item SET genre_id = 7 WHERE pid = 6;");
    ASSERT_EQ(FMusic.ReadItdbLibrary(FDir / "Library.itdb"), 6);
    const char* genres[] = {"Rock", "Pop", "", "", "", "Ambient"};
    for (size_t i = 0; i < 6; ++i)
        EXPECT_EQ(FMusic.Tracks.Items(i).Genre, genres[i]) << i;
    EXPECT_NE(FMusic.Log.Text().find("3 tracks with an unknown genre"), std::string::npos);
}

TEST_F(ItdbTest, ExtraAndStrayLocationRowsCountOnce) {
    TItdbBuilder trio;
    trio.AddTrack(ItdbTrack(1, "A", "F00/A.mp3")).FileSize = 100;
    trio.AddLocationRow(1, 1, "F00/A-other.m4v", 1, 5000);  // a second sub_id of the track
    trio.AddLocationRow(555, 0, "F00/GONE.mp3", 1, 7000);   // no such track
    ReadTrio(trio, TItdbEra::Ios3);
    const TTrackItem& track = FMusic.Tracks.Items(0);
    EXPECT_EQ(track.Location, "iTunes_Control/Music/F00/A.mp3");
    EXPECT_EQ(track.FileSize, 100);
    EXPECT_EQ(FMusic.TotalSize, 100);
    EXPECT_EQ(FMusic.Tracks.CheckedCount, 1);
    ExpectCountersHold(FMusic.Tracks);
    EXPECT_NE(FMusic.Log.Text().find("1 locations of unknown tracks"), std::string::npos);
    EXPECT_NE(FMusic.Log.Text().find("1 further locations ignored"), std::string::npos);
}

TEST_F(ItdbTest, RowsGoToTheFirstTrackWithThePid) {
    // A track already in the list carries the same pid as one of the library.
    TTrackItem& earlier = FMusic.Tracks.Add();
    earlier.SetReaderDefaults();
    earlier.Pid = 2;
    earlier.Location = "Recordings/memo.m4a";
    FMusic.Tracks.CheckedCount = 1;
    TItdbBuilder trio;
    trio.AddTrack(ItdbTrack(1, "A", "F00/A.mp3")).Rating = 20;
    testing::TItdbTrack& twin = trio.AddTrack(ItdbTrack(2, "B", "F00/B.mp3"));
    twin.Rating = 40;
    twin.FileSize = 70;
    ASSERT_EQ(ReadTrio(trio, TItdbEra::Ios4), 2);
    ASSERT_EQ(FMusic.Tracks.Count(), 3u);
    EXPECT_EQ(FMusic.Tracks.Items(0).Location, "iTunes_Control/Music/F00/B.mp3");
    EXPECT_EQ(FMusic.Tracks.Items(0).Rating, 40);
    EXPECT_EQ(FMusic.Tracks.Items(0).FileSize, 70);
    EXPECT_EQ(FMusic.Tracks.Items(1).Rating, 20);
    // The library's own pid-2 track got nothing, so it has no file to copy.
    EXPECT_EQ(FMusic.Tracks.Items(2).Rating, 0);
    EXPECT_FALSE(FMusic.Tracks.Items(2).Checked);
    EXPECT_TRUE(FMusic.Tracks.Items(0).Checked);
    ExpectCountersHold(FMusic.Tracks);
}

TEST_F(ItdbTest, BlankNamesBecomeEmpty) {
    TItdbBuilder trio;
    testing::TItdbTrack& blank = trio.AddTrack(ItdbTrack(1, "  ", "A.mp3"));
    blank.Artist = "\t";
    blank.Album = " \r\n";
    blank.Genre = "   ";
    testing::TItdbTrack& kept = trio.AddTrack(ItdbTrack(2, " x ", "B.mp3"));
    kept.Artist = std::nullopt;
    ReadTrio(trio, TItdbEra::Ios3);
    EXPECT_EQ(FMusic.Tracks.Items(0).Title, "");
    EXPECT_EQ(FMusic.Tracks.Items(0).Artist, "");
    EXPECT_EQ(FMusic.Tracks.Items(0).Album, "");
    EXPECT_EQ(FMusic.Tracks.Items(0).Genre, "");
    EXPECT_EQ(FMusic.Tracks.Items(1).Title, " x ");
    EXPECT_EQ(FMusic.Tracks.Items(1).Artist, "");
}

TEST_F(ItdbTest, MissingEntriesTableKeepsPlaylists) {
    StandardTrio().Write(FDir.Path(), TItdbEra::Ios3);
    ExecSql(FDir / "Library.itdb", "DROP TABLE item_to_container");
    ASSERT_EQ(FMusic.ReadItdbLibrary(FDir / "Library.itdb"), 9);
    ASSERT_EQ(FMusic.PlayLists.Count(), 5u);
    EXPECT_EQ(FMusic.PlayLists.Items(1).Count, 0);
    EXPECT_NE(FMusic.Log.Text().find("no such table: item_to_container"), std::string::npos);
}

TEST_F(ItdbTest, MissingColumnsRaise) {
    struct TCase {
        const char* Sql;
        std::function<void(TIpodMusicDb&, const std::string&)> Read;
        const char* Message;
    };
    const TCase cases[] = {
        {"CREATE TABLE item (pid INTEGER, title TEXT, artist TEXT, album TEXT, genre_id INTEGER)",
         [](TIpodMusicDb& music, const std::string& path) { music.ReadItdbLibrary(path); },
         "Field not found in dataset: total_time_ms"},
        {"CREATE TABLE base_location (id INTEGER, path TEXT);"
         "CREATE TABLE location (item_pid INTEGER, base_location_id INTEGER, location TEXT)",
         [](TIpodMusicDb& music, const std::string& path) { music.ReadItdbLocations(path); },
         "Field not found in dataset: file_size"},
        {"CREATE TABLE item_stats (item_pid INTEGER, play_count_user INTEGER)",
         [](TIpodMusicDb& music, const std::string& path) { music.ReadItdbStats(path); },
         "Field not found in dataset: user_rating"},
        {"CREATE TABLE other (x)",
         [](TIpodMusicDb& music, const std::string& path) { music.ReadItdbStats(path); },
         "Error executing SQL.\r\nError [1]: SQL error or missing database.\r\n"
         "\"SELECT * FROM item_stats\": no such table: item_stats"},
    };
    int n = 0;
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Sql);
        std::string path = FDir / ("case" + std::to_string(n++) + ".itdb");
        ExecSql(path, c.Sql);
        try {
            c.Read(FMusic, path);
            ADD_FAILURE() << "no exception";
        } catch (const ESQLiteException& error) {
            EXPECT_EQ(std::string(error.what()), c.Message);
        }
    }
}

// A disk-mode device's trio is read where it lies and left as it was.
TEST(ItdbDiskModeTest, DeviceFilesAreNotChanged) {
    TTempDir ipod;
    std::string itlp = ipod / "iPod_Control/iTunes/iTunes Library.itlp";
    StandardTrio().Write(itlp, TItdbEra::Ios4);
    auto snapshot = [&] {
        std::map<std::string, std::string> files;
        for (const auto& entry : fs::directory_iterator(itlp)) {
            files[entry.path().string()] = testing::ReadFile(entry.path().string());
        }
        return files;
    };
    auto before = snapshot();
    TIpodDevice device(nullptr, OfflineSessionOptions({ipod.Path()}));
    ASSERT_TRUE(device.ScanDrives());
    TIpodMusicDb music(device);
    ASSERT_EQ(music.ReadItdbLibrary(device.StageITunesFile("Library.itdb", true, "")), 9);
    EXPECT_TRUE(music.ReadItdbLocations(device.StageITunesFile("Locations.itdb", true, "")));
    EXPECT_TRUE(music.ReadItdbStats(device.StageITunesFile("Dynamic.itdb", true, "")));
    EXPECT_EQ(music.Tracks.Items(0).Rating, 60);
    EXPECT_EQ(snapshot(), before);
}

}  // namespace
}  // namespace corvane
