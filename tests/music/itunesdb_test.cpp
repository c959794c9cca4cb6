#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/ByteReader.h"
#include "base/LogText.h"
#include "base/MhChunk.h"
#include "device/DeviceFolder.h"
#include "device/iPodDev.h"
#include "fixtures/ITunesDbBuilder.h"
#include "fixtures/TempDir.h"
#include "music/ITunesCdb.h"
#include "music/iPodMusic.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using testing::GetU32;
using testing::PutU32;
using testing::TITunesDbBuilder;
using testing::TITunesDbLayout;
using testing::TITunesDbObject;
using testing::TTempDir;

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// A library of a fresh device session, fed with database bytes.
class ITunesDbTest : public ::testing::Test {
protected:
    bool Read(std::string bytes, bool compressed = false) {
        TMemoryStream stream;
        stream.Write(bytes.data(), bytes.size());
        stream.Rewind();
        return FDb.ReadITunesBytes(stream, compressed);
    }
    std::string Log() const { return FDb.Log.Text(); }

    TIpodDevice FDevice{nullptr, OfflineSessionOptions()};
    TIpodMusicDb FDb{FDevice};
};

// Songs, a video, a book, a ringtone, odd text and a track id used twice.
TITunesDbBuilder Library() {
    TITunesDbBuilder db;
    db.AddTrack({.Id = 101,
                 .Title = "Morning Light",
                 .Location = ":iPod_Control:Music:F00:AAAA.mp3",
                 .Album = "Dawn",
                 .Artist = "Kestrel",
                 .Genre = "Ambient",
                 .Size = 4200000,
                 .DurationMs = 185000,
                 .Rating = 80,
                 .PlayCount = 12,
                 .TrackNumber = 3,
                 .Year = 2004,
                 .DiscNumber = 2,
                 .Objects = {TITunesDbObject::String(22, "Various")}});
    db.AddTrack({.Id = 102,
                 .Title = "Harbour",
                 .Location = ":iPod_Control:Music:F01:BBBB.M4V",
                 .Album = "   ",
                 .Artist = "  ",
                 .Size = 1610612736,
                 .DurationMs = 3723000,
                 .Rating = 100,
                 .MediaType = 2});
    db.AddTrack({.Id = 103,
                 .Title = "Field Notes",
                 .Location = ":iPod_Control:Books:CCCC.epub",
                 .Size = 900,
                 .MediaType = 8});
    db.AddTrack({.Id = 104,
                 .Title = "Chime",
                 .Location = ":iPod_Control:Ringtones:DDDD.m4r",
                 .Size = 250000,
                 .DurationMs = 30000,
                 .PlayCount = 0xFFFFFFFF,
                 .TrackNumber = 0xFFFFFFFF});
    db.AddTrack({.Id = 105, .Title = "Ünïcødé 🎵", .DurationMs = 4294967295u, .Rating = 255});
    db.AddTrack({.Id = 101, .Title = "Morning Light (copy)", .Size = 1});
    db.AddPlaylist(
        {.Name = "Kim's iPod", .Id = 9001, .IsMaster = true, .TrackIds = db.AllTrackIds()});
    db.AddPlaylist({.Name = "Road Trip", .Id = 9002, .TrackIds = {103, 101, 101, 999}});
    db.AddPlaylist({.Name = "Top Rated", .IsSmart = true, .TrackIds = {101, 102}});
    db.AddPlaylist({.TrackIds = {}});
    return db;
}

class ITunesDbFormatTest : public ITunesDbTest, public ::testing::WithParamInterface<bool> {
protected:
    bool ReadLibrary(const TITunesDbBuilder& db) {
        return GetParam() ? Read(db.BuildCompressed(), true) : Read(db.Build());
    }
};

INSTANTIATE_TEST_SUITE_P(ITunesDb, ITunesDbFormatTest, ::testing::Values(false, true),
                         [](const auto& test) { return test.param ? "iTunesCDB" : "iTunesDB"; });

TEST_P(ITunesDbFormatTest, ReadsEveryTrackWithItsFields) {
    ASSERT_TRUE(ReadLibrary(Library()));
    struct TExpected {
        int64_t Pid;
        std::string Title, Artist, Album, Genre, Location;
        int64_t FileSize;
        std::string DurationText, SizeText;
        int Rating, PlayCount;
        TMediaKind Kind;
    };
    const TExpected expected[] = {
        {101, "Morning Light", "Kestrel", "Dawn", "Ambient", ":iPod_Control:Music:F00:AAAA.mp3",
         4200000, "3:05", "4.01 MB", 80, 12, mkMusic},
        // Blank-only names are read as no name.
        {102, "Harbour", "", "", "", ":iPod_Control:Music:F01:BBBB.M4V", 1610612736, "1:02:03",
         "1.50 GB", 100, 0, mkMovie},
        {103, "Field Notes", "", "", "", ":iPod_Control:Books:CCCC.epub", 900, "0:00", "0.88 KB", 0,
         0, mkBook},
        // A play count past the signed range is held at its top.
        {104, "Chime", "", "", "", ":iPod_Control:Ringtones:DDDD.m4r", 250000, "0:30", "244.14 KB",
         0, 2147483647, mkTone},
        // No location: kind music. A rating byte past 100 is damage, held at 100.
        {105, "Ünïcødé 🎵", "", "", "", "", 0, "1193:02:47", "0.00 KB", 100, 0, mkMusic},
        {101, "Morning Light (copy)", "", "", "", "", 1, "0:00", "0.00 KB", 0, 0, mkMusic},
    };
    ASSERT_EQ(FDb.Tracks.Count(), std::size(expected));
    int64_t total = 0;
    for (size_t i = 0; i < std::size(expected); ++i) {
        SCOPED_TRACE(i);
        const TTrackItem& track = FDb.Tracks.Items(i);
        const TExpected& want = expected[i];
        EXPECT_EQ(track.Pid, want.Pid);
        EXPECT_EQ(track.Title, want.Title);
        EXPECT_EQ(track.Artist, want.Artist);
        EXPECT_EQ(track.Album, want.Album);
        EXPECT_EQ(track.Genre, want.Genre);
        EXPECT_EQ(track.Location, want.Location);
        EXPECT_EQ(track.FileSize, want.FileSize);
        EXPECT_EQ(track.DurationText, want.DurationText);
        EXPECT_EQ(track.SizeText, want.SizeText);
        EXPECT_EQ(track.Rating, want.Rating);
        EXPECT_EQ(track.PlayCount, want.PlayCount);
        EXPECT_EQ(track.Kind, want.Kind);
        EXPECT_TRUE(track.Checked);
        EXPECT_EQ(track.ITunesSourceId, -1);
        EXPECT_EQ(track.TransferState, -1);
        EXPECT_EQ(track.DestPath, "");
        total += want.FileSize;
    }
    // What naming templates use: numbers where the track has them, none from damage.
    const TTrackItem& first = FDb.Tracks.Items(0);
    EXPECT_EQ(first.TrackNumber, 3);
    EXPECT_EQ(first.Year, 2004);
    EXPECT_EQ(first.DiscNumber, 2);
    EXPECT_EQ(first.AlbumArtist, "Various");
    EXPECT_EQ(FDb.Tracks.Items(1).TrackNumber, 0);
    EXPECT_EQ(FDb.Tracks.Items(1).AlbumArtist, "");
    EXPECT_EQ(FDb.Tracks.Items(3).TrackNumber, 0);
    EXPECT_EQ(FDb.Tracks.Items(4).DurationMs, 4294967295u);
    EXPECT_EQ(FDb.Tracks.CheckedCount, 6);
    EXPECT_EQ(FDb.Tracks.CheckedSize, total);
    EXPECT_EQ(FDb.TotalSize, total);
    EXPECT_EQ(Log(), "");
}

TEST_P(ITunesDbFormatTest, ReadsPlaylistsInFileOrder) {
    ASSERT_TRUE(ReadLibrary(Library()));
    ASSERT_EQ(FDb.PlayLists.Count(), 4u);
    struct TExpected {
        std::string Name;
        bool IsSmart;
        std::vector<uint64_t> TrackPids;
    };
    const TExpected expected[] = {
        {"Kim's iPod", false, {101, 102, 103, 104, 105, 101}},
        {"Road Trip", false, {103, 101, 101, 999}},
        {"Top Rated", true, {101, 102}},
        {"Unknown", false, {}},
    };
    for (size_t i = 0; i < std::size(expected); ++i) {
        SCOPED_TRACE(i);
        const TPlayListItem& playlist = FDb.PlayLists.Items(i);
        EXPECT_EQ(playlist.Name, expected[i].Name);
        EXPECT_EQ(playlist.IsSmart, expected[i].IsSmart);
        EXPECT_EQ(playlist.TrackPids, expected[i].TrackPids);
        EXPECT_EQ(playlist.Count, static_cast<int32_t>(expected[i].TrackPids.size()));
        EXPECT_EQ(playlist.Pid, 0);  // the playlist header's identifier is not taken
        EXPECT_FALSE(playlist.IsVoiceMemos);
    }
    // An entry finds the first track with its Pid; one that matches none finds nothing.
    auto byPid = FDb.Tracks.PidIndex();
    EXPECT_EQ(FDb.Tracks.Items(byPid.at(101)).Title, "Morning Light");
    EXPECT_EQ(byPid.count(999), 0u);
}

TEST_P(ITunesDbFormatTest, AnEmptyTrackListIsARead) {
    TITunesDbBuilder db;
    db.AddPlaylist({.Name = "iPod", .IsMaster = true});
    EXPECT_TRUE(ReadLibrary(db));
    EXPECT_EQ(FDb.Tracks.Count(), 0u);
    EXPECT_EQ(FDb.PlayLists.Count(), 1u);
}

TEST_F(ITunesDbTest, TagsMatchInAnyLetterCase) {
    TITunesDbLayout at;
    std::string bytes = Library().Build(&at);
    auto retag = [&](size_t offset, const char* tag) { bytes.replace(offset, 4, tag); };
    retag(0, "MHBD");
    retag(at.TrackList, "MhLt");
    retag(at.TrackObjects[0][0], "MHOD");
    retag(at.PlaylistList, "MHLP");
    retag(at.Items[1][0], "mHiP");
    ASSERT_TRUE(Read(bytes));
    EXPECT_EQ(FDb.Tracks.Items(0).Title, "Morning Light");
    EXPECT_EQ(FDb.PlayLists.Items(1).TrackPids.front(), 103u);
}

TEST_F(ITunesDbTest, OnlyTrackAndPlaylistDataSetsAreRead) {
    // The type-3 copy of the playlists has a broken list: read as playlists, it would end the
    // walk before the tracks.
    TITunesDbLayout at;
    std::string bytes = Library().SetDatasets({0, 3, 4, 1, 7, 2}).Build(&at);
    bytes.replace(at.Datasets[1] + TITunesDbBuilder::kMhsdHeader, 4, "xxxx");
    ASSERT_TRUE(Read(bytes));
    EXPECT_EQ(FDb.Tracks.Count(), 6u);
    EXPECT_EQ(FDb.PlayLists.Count(), 4u);
}

TEST_F(ITunesDbTest, WithoutTheTypeTwoDataSetThePlaylistsComeFromTypeThree) {
    // A shuffle's database declares only data sets 4, 1 and 3.
    struct TCase {
        std::vector<uint32_t> Datasets;
        bool BreakTypeThree;
        int Playlists;
    };
    const TCase cases[] = {
        {{4, 1, 3}, false, 4},
        {{3, 1}, false, 4},
        {{1, 3}, true, 0},  // a damaged type-3 list leaves the tracks read
        {{1}, false, 0},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.Datasets));
        TITunesDbLayout at;
        std::string bytes = Library().SetDatasets(c.Datasets).Build(&at);
        if (c.BreakTypeThree) {
            bytes.replace(at.Datasets.back() + TITunesDbBuilder::kMhsdHeader, 4, "xxxx");
        }
        TIpodMusicDb db(FDevice);
        TMemoryStream stream;
        stream.Write(bytes.data(), bytes.size());
        ASSERT_TRUE(db.ReadITunesBytes(stream, false));
        EXPECT_EQ(db.Tracks.Count(), 6);
        ASSERT_EQ(db.PlayLists.Count(), c.Playlists);
        if (c.Playlists > 0) {
            EXPECT_EQ(db.PlayLists.Items(1).TrackPids.front(), 103u);
        }
    }
}

TEST_F(ITunesDbTest, ResultIsThatOfTheTrackList) {
    struct TCase {
        const char* Name;
        std::vector<uint32_t> Datasets;
        bool BreakPlaylistList;
        bool Result;
    };
    const TCase cases[] = {
        {"tracks then broken playlists", {1, 2}, true, true},
        {"broken playlists first end the walk", {2, 1}, true, false},
        {"playlists first", {2, 1}, false, true},
        {"no track list", {2}, false, false},
        {"no data set", {}, false, false},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TITunesDbLayout at;
        std::string bytes = Library().SetDatasets(c.Datasets).Build(&at);
        if (c.BreakPlaylistList)
            bytes.replace(at.PlaylistList, 4, "mhxx");
        TIpodMusicDb db(FDevice);
        TMemoryStream stream;
        stream.Write(bytes.data(), bytes.size());
        EXPECT_EQ(db.ReadITunesBytes(stream, false), c.Result);
        EXPECT_EQ(db.Log.Text(), "");
    }
}

TEST_F(ITunesDbTest, WrongDatabaseHeaderIsLogged) {
    std::string good = Library().Build();
    for (std::string bytes :
         {std::string(), std::string("mhbd"), "mhbx" + good.substr(4), good.substr(0, 23)}) {
        TIpodMusicDb db(FDevice);
        TMemoryStream stream;
        stream.Write(bytes.data(), bytes.size());
        EXPECT_FALSE(db.ReadITunesBytes(stream, false));
        EXPECT_EQ(db.Log.Text(), "\r\nMHDB incorrect");
    }
}

TEST_F(ITunesDbTest, DataObjectsKeepTheirOwnRules) {
    TITunesDbBuilder db;
    db.AddTrack({.Id = 1,
                 .Title = "Before",
                 .Objects = {
                     // Types 15 and above carry no string: stepped over by their length.
                     TITunesDbObject::Blob(52, std::string(300, 'x')),
                     TITunesDbObject::Utf16(1, std::u16string(u"Cut\0here", 8)),
                     TITunesDbObject::Utf16(3, u"lone \xD800 and \xDC00"),
                     TITunesDbObject::String(5, "Folk"),
                 }});
    db.AddTrack({.Id = 2, .Title = "Second", .Location = ":iPod_Control:Music:F00:B.m4a"});
    TITunesDbLayout at;
    std::string bytes = db.Build(&at);
    // Not an mhod where the genre should be: the track's remaining objects give nothing.
    bytes.replace(at.TrackObjects[0][4], 4, "junk");
    ASSERT_TRUE(Read(bytes));
    ASSERT_EQ(FDb.Tracks.Count(), 2u);
    const TTrackItem& first = FDb.Tracks.Items(0);
    EXPECT_EQ(first.Title, "Cut");
    EXPECT_EQ(first.Album, "lone \xEF\xBF\xBD and \xEF\xBF\xBD");
    EXPECT_EQ(first.Genre, "");
    EXPECT_EQ(FDb.Tracks.Items(1).Title, "Second");
    EXPECT_EQ(FDb.Tracks.Items(1).Kind, mkMusic);
    EXPECT_EQ(Log(), "");

    // The object reader itself: a type-15 object gives no string.
    TLogText log;
    TChunkDamage damage(log, "iTunesDB");
    TByteReader data(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    TIpodMusicDb::TDataObject object =
        TIpodMusicDb::ReadDataObject(data, at.TrackObjects[0][1], damage);
    EXPECT_EQ(object.Length, 24u + 300u);
    EXPECT_EQ(object.Type, 52u);
    EXPECT_FALSE(object.Text.has_value());
    object = TIpodMusicDb::ReadDataObject(data, at.TrackObjects[0][4], damage);
    EXPECT_EQ(object.Length, 0u);
    EXPECT_EQ(object.Type, 0u);
    EXPECT_FALSE(object.Damaged);
    damage.Finish();
    EXPECT_EQ(log.Text(), "");
}

TEST_F(ITunesDbTest, StringsEndAtTheFirstNulWhereverItLies) {
    const std::u16string text = u"0123456789abcdefghij";
    for (size_t nul :
         {size_t{0}, size_t{3}, size_t{4}, size_t{7}, size_t{8}, size_t{13}, text.size()}) {
        SCOPED_TRACE(nul);
        std::u16string title = text;
        if (nul < title.size())
            title[nul] = u'\0';
        TITunesDbBuilder db;
        db.AddTrack({.Id = 1, .Objects = {TITunesDbObject::Utf16(1, title)}});
        TIpodMusicDb read(FDevice);
        TMemoryStream stream;
        std::string bytes = db.Build();
        stream.Write(bytes.data(), bytes.size());
        ASSERT_TRUE(read.ReadITunesBytes(stream, false));
        EXPECT_EQ(read.Tracks.Items(0).Title, std::string("0123456789abcdefghij").substr(0, nul));
    }
}

TEST_F(ITunesDbTest, PlaylistItemsOfAnotherTagAreSteppedOver) {
    TITunesDbBuilder db = Library();
    TITunesDbLayout at;
    std::string bytes = db.Build(&at);
    bytes.replace(at.Items[1][1], 4, "mhxx");
    ASSERT_TRUE(Read(bytes));
    const TPlayListItem& trip = FDb.PlayLists.Items(1);
    EXPECT_EQ(trip.TrackPids, (std::vector<uint64_t>{103, 101, 999}));
    EXPECT_EQ(trip.Count, 3);
    EXPECT_EQ(FDb.PlayLists.Items(2).Name, "Top Rated");  // the walk went on in step
}

TEST_F(ITunesDbTest, SmartMarkComesFromTheObjectAlone) {
    TITunesDbBuilder db;
    // A type-50 object of any content makes a playlist smart, wherever it stands.
    db.AddPlaylist(
        {.Name = "Heavy Rotation",
         .Objects = {TITunesDbObject::Blob(50, ""), TITunesDbObject::String(1, "Late")}});
    db.AddPlaylist({.Name = "Plain"});
    db.SetDatasets({2, 1});
    ASSERT_TRUE(Read(db.Build()));
    EXPECT_TRUE(FDb.PlayLists.Items(0).IsSmart);
    EXPECT_EQ(FDb.PlayLists.Items(0).Name, "Late");  // the last type-1 object wins
    EXPECT_FALSE(FDb.PlayLists.Items(1).IsSmart);
}

// A three-track library with a master playlist and one more, and where its chunks lie.
struct TSmallDb {
    std::string Bytes;
    TITunesDbLayout At;
    TSmallDb() {
        TITunesDbBuilder db;
        for (uint32_t id = 1; id <= 3; ++id) {
            db.AddTrack({.Id = id,
                         .Title = "Track " + std::to_string(id),
                         .Location = ":iPod_Control:Music:F00:T" + std::to_string(id) + ".mp3",
                         .Size = 1000 * id});
        }
        db.AddPlaylist({.Name = "iPod", .IsMaster = true, .TrackIds = db.AllTrackIds()});
        db.AddPlaylist({.Name = "Mix", .TrackIds = {3, 1}});
        Bytes = db.Build(&At);
    }
};

struct TDamageCase {
    const char* Name;
    // Damages the bytes; returns the text the log must hold ("" for no damage line).
    std::function<std::string(std::string&, const TITunesDbLayout&)> Damage;
    bool Result;
    size_t Tracks;
    size_t Playlists;
    int32_t SecondPlaylistCount = -1;  // checked when not -1
};

std::string At(const char* tag, size_t offset) {
    return std::string(tag) + " at " + std::to_string(offset);
}

// Each case is a damage that a device, a crash or a writer's fault can leave; none may read
// out of bounds, loop without end or allocate by a count it cannot back with data.
const TDamageCase kDamageCases[] = {
    {"FileCutInsideSecondTrackHeader",
     [](std::string& b, const TITunesDbLayout& at) {
         b.resize(at.Tracks[1] + 40);
         return At("mhit", at.Tracks[1]) + " runs past the end of its data set";
     },
     true, 1, 0},
    {"FileCutInsideAString",
     [](std::string& b, const TITunesDbLayout& at) {
         b.resize(at.TrackObjects[1][0] + 45);
         return At("mhod", at.TrackObjects[1][0]) + " runs past the end of its parent";
     },
     true, 2, 0},
    {"FileCutInsidePlaylistItems",
     [](std::string& b, const TITunesDbLayout& at) {
         b.resize(at.Items[1][0] + 10);
         return At("mhip", at.Items[1][0]) + " runs past the end of its playlist";
     },
     true, 3, 2, 0},
    {"DataSetLongerThanFileStillReadsWhatIsThere",
     [](std::string& b, const TITunesDbLayout& at) {
         PutU32(b, at.Datasets[1] + 8, 0x7FFFFFFF);
         return At("mhsd", at.Datasets[1]) + " runs past the end of the file";
     },
     true, 3, 2, 2},
    {"ZeroLengthDataSet",
     [](std::string& b, const TITunesDbLayout& at) {
         PutU32(b, at.Datasets[0] + 8, 0);
         return At("mhsd", at.Datasets[0]) + " has a zero length";
     },
     false, 0, 0},
    {"ZeroLengthTrack",
     [](std::string& b, const TITunesDbLayout& at) {
         PutU32(b, at.Tracks[1] + 8, 0);
         return At("mhit", at.Tracks[1]) + " has a zero length";
     },
     true, 1, 2, 2},
    {"TrackShorterThanItsFields",
     [](std::string& b, const TITunesDbLayout& at) {
         PutU32(b, at.Tracks[0] + 8, 8);
         return At("mhit", at.Tracks[0]) + " is too short (8 bytes)";
     },
     true, 0, 2, 2},
    {"ZeroLengthTrackObject",
     [](std::string& b, const TITunesDbLayout& at) {
         PutU32(b, at.TrackObjects[0][0] + 8, 0);
         return At("mhod", at.TrackObjects[0][0]) + " has a zero length";
     },
     true, 3, 2, 2},
    {"ZeroLengthPlaylistObjectLoopedForever",
     [](std::string& b, const TITunesDbLayout& at) {
         PutU32(b, at.PlaylistObjects[1][0] + 8, 0);
         return At("mhod", at.PlaylistObjects[1][0]) + " has a zero length";
     },
     true, 3, 2, 0},
    {"ZeroLengthPlaylist",
     [](std::string& b, const TITunesDbLayout& at) {
         PutU32(b, at.Playlists[1] + 8, 0);
         return At("mhyp", at.Playlists[1]) + " has a zero length";
     },
     true, 3, 1},
    {"ZeroLengthItem",
     [](std::string& b, const TITunesDbLayout& at) {
         PutU32(b, at.Items[1][1] + 8, 0);
         return At("mhip", at.Items[1][1]) + " has a zero length";
     },
     true, 3, 2, 1},
    {"HugeDataSetCount",
     [](std::string& b, const TITunesDbLayout&) {
         PutU32(b, 20, 0xFFFFFFFF);
         return At("mhbd", 0) + " announces 4294967295 data sets, 2 found";
     },
     true, 3, 2, 2},
    {"HugeTrackCount",
     [](std::string& b, const TITunesDbLayout& at) {
         PutU32(b, at.TrackList + 8, 0x7FFFFFFF);
         return At("mhlt", at.TrackList) + " announces 2147483647 tracks, 3 found";
     },
     true, 3, 2, 2},
    {"NegativeTrackCountMeansNone",
     [](std::string& b, const TITunesDbLayout& at) {
         PutU32(b, at.TrackList + 8, 0xFFFFFFFF);
         return std::string();
     },
     true, 0, 2, 2},
    {"HugeObjectCount",
     [](std::string& b, const TITunesDbLayout& at) {
         PutU32(b, at.Tracks[0] + 12, 0x7FFFFFFF);
         return At("mhit", at.Tracks[0]) + " announces 2147483647 data objects, 2 found";
     },
     true, 3, 2, 2},
    {"HugePlaylistCount",
     [](std::string& b, const TITunesDbLayout& at) {
         PutU32(b, at.PlaylistList + 8, 0x7FFFFFFF);
         return At("mhlp", at.PlaylistList) + " announces 2147483647 playlists, 2 found";
     },
     true, 3, 2, 2},
    {"HugeItemCount",
     [](std::string& b, const TITunesDbLayout& at) {
         PutU32(b, at.Playlists[1] + 16, 0x7FFFFFFF);
         return At("mhyp", at.Playlists[1]) + " announces 2147483647 items, 2 found";
     },
     true, 3, 2, 2},
    {"HugeStringLength",
     [](std::string& b, const TITunesDbLayout& at) {
         PutU32(b, at.TrackObjects[2][0] + 28, 0xFFFFFFF0);
         return At("string of mhod", at.TrackObjects[2][0]) + " runs past the end of its object";
     },
     true, 3, 2, 2},
    {"HugeDatabaseHeaderLength",
     [](std::string& b, const TITunesDbLayout&) {
         PutU32(b, 4, 0xFFFFFFF0);
         return At("mhbd", 0) + " announces 2 data sets, 0 found";
     },
     false, 0, 0},
    {"HugeDataSetHeaderLength",
     [](std::string& b, const TITunesDbLayout& at) {
         PutU32(b, at.Datasets[0] + 4, 0xFFFFFFF0);
         return At("mhlt", at.Datasets[0] + 0xFFFFFFF0) + " runs past the end of its data set";
     },
     false, 0, 0},
    {"HugeTrackHeaderLength",
     [](std::string& b, const TITunesDbLayout& at) {
         PutU32(b, at.Tracks[0] + 4, 0xFFFFFFF0);
         return At("mhit", at.Tracks[0]) + " announces 2 data objects, 0 found";
     },
     true, 3, 2, 2},
    {"WrongTrackListTag",
     [](std::string& b, const TITunesDbLayout& at) {
         b.replace(at.TrackList, 4, "mhxx");
         return std::string();
     },
     false, 0, 0},
};

class ITunesDbDamageTest : public ITunesDbTest,
                           public ::testing::WithParamInterface<TDamageCase> {};

INSTANTIATE_TEST_SUITE_P(ITunesDb, ITunesDbDamageTest, ::testing::ValuesIn(kDamageCases),
                         [](const auto& test) { return std::string(test.param.Name); });

TEST_P(ITunesDbDamageTest, EndsTheAffectedListWithALogLine) {
    const TDamageCase& c = GetParam();
    TSmallDb small;
    std::string expectedLine = c.Damage(small.Bytes, small.At);
    EXPECT_EQ(Read(small.Bytes), c.Result);
    EXPECT_EQ(FDb.Tracks.Count(), c.Tracks);
    EXPECT_EQ(FDb.PlayLists.Count(), c.Playlists);
    if (c.SecondPlaylistCount >= 0 && FDb.PlayLists.Count() > 1) {
        EXPECT_EQ(FDb.PlayLists.Items(1).Count, c.SecondPlaylistCount);
        EXPECT_EQ(FDb.PlayLists.Items(1).TrackPids.size(),
                  static_cast<size_t>(c.SecondPlaylistCount));
    }
    EXPECT_EQ(FDb.Tracks.CheckedCount, static_cast<int32_t>(FDb.Tracks.Count()));
    if (expectedLine.empty()) {
        EXPECT_EQ(Log(), "");
    } else {
        EXPECT_TRUE(Contains(Log(), "\r\niTunesDB: " + expectedLine)) << Log();
    }
}

TEST_F(ITunesDbTest, ASystematicFaultLogsAFewLinesAndACount) {
    TITunesDbBuilder db;
    for (uint32_t id = 1; id <= 30; ++id)
        db.AddTrack({.Id = id, .Title = "T"});
    TITunesDbLayout at;
    std::string bytes = db.Build(&at);
    for (size_t track : at.Tracks)
        PutU32(bytes, track + 12, 2);  // one object more than held
    ASSERT_TRUE(Read(bytes));
    EXPECT_EQ(FDb.Tracks.Count(), 30u);
    EXPECT_EQ(FDb.Tracks.Items(29).Title, "T");
    std::string log = Log();
    size_t lines = 0;
    for (size_t place = log.find("announces 2 data objects, 1 found"); place != std::string::npos;
         place = log.find("announces 2 data objects, 1 found", place + 1)) {
        ++lines;
    }
    EXPECT_EQ(lines, 10u);
    EXPECT_TRUE(Contains(log, "\r\niTunesDB: 20 more damaged chunks")) << log;
}

TEST_F(ITunesDbTest, CompressedBodyFaultsFailWithALogLine) {
    TITunesDbLayout at;
    std::string good = Library().BuildCompressed(&at);
    const size_t body = at.HeaderLength;
    struct TCase {
        const char* Name;
        std::function<void(std::string&)> Damage;
        const char* Line;  // nullptr: the read succeeds
    };
    const TCase cases[] = {
        {"damaged zlib header", [&](std::string& b) { b[body + 1] ^= 0x5A; },
         "Cannot inflate iTunesCDB: the data is damaged (incorrect header check)"},
        {"damaged deflate data",
         [&](std::string& b) {
             for (size_t i = body + 2; i < b.size() - 4; ++i)
                 b[i] = static_cast<char>(0xFF);
         },
         "Cannot inflate iTunesCDB: the data is damaged ("},
        {"truncated body", [&](std::string& b) { b.resize(b.size() - 30); },
         "Cannot inflate iTunesCDB: the data ends early"},
        {"no body", [&](std::string& b) { b.resize(body); },
         "Cannot inflate iTunesCDB: the data ends early"},
        {"header longer than the file", [&](std::string& b) { PutU32(b, 4, 0x7FFFFFFF); },
         "Cannot inflate iTunesCDB: the database header is incomplete"},
        {"file shorter than a header", [&](std::string& b) { b.resize(10); },
         "Cannot inflate iTunesCDB: the database header is incomplete"},
        {"plain database read as compressed", [&](std::string& b) { b = Library().Build(); },
         "Cannot inflate iTunesCDB: the data is damaged (incorrect header check)"},
        {"bytes after the end of the zlib stream are ignored",
         [&](std::string& b) { b += "trailing"; }, nullptr},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        std::string bytes = good;
        c.Damage(bytes);
        TIpodMusicDb db(FDevice);
        TMemoryStream stream;
        stream.Write(bytes.data(), bytes.size());
        bool ok = false;
        EXPECT_NO_THROW(ok = db.ReadITunesBytes(stream, true));
        if (c.Line) {
            EXPECT_FALSE(ok);
            EXPECT_TRUE(Contains(db.Log.Text(), std::string("\r\n") + c.Line)) << db.Log.Text();
            EXPECT_EQ(db.Tracks.Count(), 0u);
        } else {
            EXPECT_TRUE(ok);
            EXPECT_EQ(db.Tracks.Count(), 6u);
        }
    }
}

TEST_F(ITunesDbTest, InflateBombIsRefusedAtTheCap) {
    std::string bytes = Library().Build().substr(0, TITunesDbBuilder::kMhbdHeader);
    bytes += testing::DeflateZeros(TIpodMusicDb::kMaxInflatedITunesDb + 1);
    ASSERT_LT(bytes.size(), size_t{1} << 20);
    EXPECT_FALSE(Read(bytes, true));
    EXPECT_EQ(Log(), "\r\nCannot inflate iTunesCDB: it inflates to more than 256 MiB");
}

// A large library's header announces more than the fixed cap, and is read whole; its body may
// not inflate past what the header announces, nor may any header raise the cap past what a
// device's library can be.
TEST_F(ITunesDbTest, HeaderAnnouncementRaisesTheCapAsFarAsItSays) {
    constexpr size_t kAnnounced = TIpodMusicDb::kMaxInflatedITunesDb + (size_t{1} << 20);
    std::string header = Library().Build().substr(0, TITunesDbBuilder::kMhbdHeader);
    PutU32(header, 8, static_cast<uint32_t>(TITunesDbBuilder::kMhbdHeader + kAnnounced));
    const struct {
        size_t Inflated;
        const char* Line;  // nullptr: inflated whole
    } cases[] = {
        {kAnnounced, nullptr},
        {kAnnounced + 1,
         "\r\nCannot inflate iTunesCDB: it inflates to more than the 269484032 bytes its header "
         "announces"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Inflated);
        std::string bytes = header + testing::DeflateZeros(c.Inflated);
        TIpodMusicDb db(FDevice);
        TInflatedITunesDb inflated;
        const bool ok = db.InflateITunesCdb(reinterpret_cast<const uint8_t*>(bytes.data()),
                                            bytes.size(), inflated);
        EXPECT_EQ(ok, c.Line == nullptr);
        EXPECT_EQ(db.Log.Text(), c.Line ? c.Line : "");
        if (ok) {
            EXPECT_EQ(inflated.Size, TITunesDbBuilder::kMhbdHeader + kAnnounced);
        }
    }
    EXPECT_EQ(TIpodMusicDb::InflateLimit(uint64_t{4} << 30), TIpodMusicDb::kLargestITunesDb);
}

TEST_F(ITunesDbTest, InflationKeepsTheHeaderAndRewinds) {
    TITunesDbLayout at;
    std::string plain = Library().Build(&at);
    std::string compressed = Library().BuildCompressed();
    TMemoryStream stream;
    stream.Write(compressed.data(), compressed.size());
    ASSERT_TRUE(FDb.InflateCompressedDatabase(stream));
    EXPECT_EQ(stream.Position(), 0u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(stream.Data()), stream.Size()), plain);
}

// The whole road from a disk-mode iPod's files.
TEST(ITunesDbDeviceTest, ReadsTheCompressedFileFirst) {
    TTempDir ipod;
    fs::create_directories(ipod / "iPod_Control/iTunes");
    TIpodDevice device(nullptr, OfflineSessionOptions({ipod.Path()}));
    ASSERT_TRUE(device.ScanDrives());

    TITunesDbBuilder one;
    one.AddTrack({.Id = 1, .Title = "Plain"});
    testing::WriteFile(ipod / "iPod_Control/iTunes/iTunesDB", one.Build());
    testing::WriteFile(ipod / "iPod_Control/iTunes/iTunesCDB", Library().BuildCompressed());
    {
        TIpodMusicDb db(device);
        EXPECT_TRUE(db.ReadITunesDatabase());
        EXPECT_EQ(db.Tracks.Count(), 6u);
        EXPECT_EQ(db.PlayLists.Items(0).Name, "Kim's iPod");
    }
    fs::remove(ipod / "iPod_Control/iTunes/iTunesCDB");
    {
        TIpodMusicDb db(device);
        EXPECT_TRUE(db.ReadITunesDatabase());
        ASSERT_EQ(db.Tracks.Count(), 1u);
        EXPECT_EQ(db.Tracks.Items(0).Title, "Plain");
    }
    fs::remove(ipod / "iPod_Control/iTunes/iTunesDB");
    {
        TIpodMusicDb db(device);
        EXPECT_FALSE(db.ReadITunesDatabase());
        EXPECT_EQ(db.Log.Text(), "");  // the device session logged what was missing
    }
}

}  // namespace
}  // namespace corvane
