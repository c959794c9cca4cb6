// Plays, skips and ratings made on the iPod since its last sync: every form of the file the
// device keeps them in, merged into what iTunesDB says when the library is loaded.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "device/DeviceClock.h"
#include "device/DeviceFolder.h"
#include "device/iPodDev.h"
#include "fixtures/ArtworkDbFiles.h"
#include "fixtures/DeviceSessions.h"
#include "fixtures/ITunesDbBuilder.h"
#include "fixtures/IpodExtrasBuilder.h"
#include "fixtures/TempDir.h"
#include "music/iPodMusic.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using namespace testing;

constexpr int64_t kBefore = 1600000000;  // 2020-09-13T12:26:40Z, played before the last sync
constexpr int64_t kSince = 1700000000;   // 2023-11-14T22:13:20Z, played on the device since
// The Preferences of a video iPod whose clock runs at UTC+1 (minutes from UTC-8).
constexpr int16_t kUtcPlusOneVideo = 540;
constexpr int32_t kShift = 3600;

struct TTrackState {
    int32_t Plays;
    int32_t Skips;
    uint8_t Rating;
    int64_t LastPlayed;
    uint32_t BookmarkMs;
    bool operator==(const TTrackState&) const = default;
};

std::ostream& operator<<(std::ostream& out, const TTrackState& s) {
    return out << "{plays " << s.Plays << ", skips " << s.Skips << ", rating " << int{s.Rating}
               << ", last " << s.LastPlayed << ", bookmark " << s.BookmarkMs << "}";
}

// What iTunesDB says of its three tracks.
const std::vector<TTrackState> kSynced = {
    {5, 1, 60, kBefore, 0},
    {0, 0, 80, 0, 0},
    {2, 0, 0, kBefore, 0},
};

// Three tracks with persistent ids 0x1111, 0x2222 and 0x3333, with a device clock at UTC+1.
class SinceLastSyncTest : public ::testing::Test {
protected:
    void SetUp() override {
        TITunesDbBuilder db;
        for (uint32_t i = 0; i < kSynced.size(); ++i) {
            TITunesDbTrack track;
            track.Id = i + 1;
            track.Title = "Song " + std::to_string(i + 1);
            track.Location = ":iPod_Control:Music:F00:S" + std::to_string(i + 1) + ".mp3";
            track.PlayCount = static_cast<uint32_t>(kSynced[i].Plays);
            track.SkipCount = static_cast<uint32_t>(kSynced[i].Skips);
            track.Rating = kSynced[i].Rating;
            track.LastPlayedMac =
                kSynced[i].LastPlayed ? MacTime(kSynced[i].LastPlayed + kShift) : 0;
            track.Dbid = 0x1111 * (i + 1);
            db.AddTrack(track);
        }
        db.AddPlaylist({.Name = "iPod", .IsMaster = true, .TrackIds = db.AllTrackIds()});
        WriteFile(FRoot / "iPod_Control/iTunes/iTunesDB", db.Build());
        WriteFile(FRoot / "iPod_Control/Device/Preferences",
                  PreferencesFile(2924, kUtcPlusOneVideo));
    }

    void Write(const std::string& name, const std::string& bytes) {
        WriteFile(FRoot / ("iPod_Control/iTunes/" + name), bytes);
    }

    // Loads the library as the music view does, and checks the device was left as it was.
    std::vector<TTrackState> Load() {
        const auto before = Tree(FRoot.Path());
        auto device = DiskDevice(FRoot.Path());
        TIpodMusicDb music(*device);
        EXPECT_TRUE(music.Load(true));
        EXPECT_EQ(Tree(FRoot.Path()), before);
        FLog = music.Log.Text();
        std::vector<TTrackState> states;
        FCovers.clear();
        for (const TTrackItem& track : music.Tracks) {
            states.push_back({track.PlayCount, track.SkipCount, track.Rating, track.LastPlayed,
                              track.BookmarkMs});
            FCovers.push_back(track.Cover);
        }
        return states;
    }

    bool Logged(const std::string& text) const { return FLog.find(text) != std::string::npos; }

    TTempDir FRoot;
    std::string FLog;
    std::vector<int32_t> FCovers;
};

// The device played the first track twice and rated it 5 stars, and cleared the second's
// rating; the third has no entry.
const std::vector<TPlayCountEntry> kPlayed = {
    {.Plays = 2,
     .LastPlayedMac = MacTime(kSince + kShift),
     .BookmarkMs = 1500,
     .Rating = 100,
     .Skips = 3},
    {.Rating = 0},
};

struct TLengthCase {
    uint32_t EntryLength;
    bool BigEndian;
};

class PlayCountsLength : public SinceLastSyncTest,
                         public ::testing::WithParamInterface<TLengthCase> {};

TEST_P(PlayCountsLength, MergesWhatTheEntryHolds) {
    const TLengthCase c = GetParam();
    Write("Play Counts", PlayCountsFile(kPlayed, c.EntryLength, c.BigEndian));
    const bool rated = c.EntryLength >= 0x10;
    const bool skips = c.EntryLength >= 0x1c;
    const std::vector<TTrackState> expected = {
        {7, skips ? 4 : 1, uint8_t(rated ? 100 : 60), kSince, 1500},
        {0, 0, uint8_t(rated ? 0 : 80), 0, 0},
        kSynced[2],
    };
    EXPECT_EQ(Load(), expected);
    EXPECT_TRUE(
        Logged("Play Counts: " + std::string(rated ? "2 tracks" : "1 track") +
               " changed by plays and ratings since the last sync (2 entries for 3 tracks)"))
        << FLog;
}

INSTANTIATE_TEST_SUITE_P(SinceLastSync, PlayCountsLength,
                         ::testing::Values(TLengthCase{0x0c, false}, TLengthCase{0x10, false},
                                           TLengthCase{0x14, false}, TLengthCase{0x1c, false},
                                           TLengthCase{0x24, false}, TLengthCase{0x1c, true}),
                         [](const auto& test) {
                             return "Entry" + std::to_string(test.param.EntryLength) +
                                    (test.param.BigEndian ? "BigEndian" : "");
                         });

TEST_F(SinceLastSyncTest, DamagedFilesAreIgnoredWithALogLine) {
    std::string wrongTag = PlayCountsFile(kPlayed, 0x1c);
    wrongTag.replace(0, 4, "mhdq");
    std::string shortHeader = PlayCountsFile(kPlayed, 0x1c);
    shortHeader[4] = 0x40;
    std::string shortEntries = PlayCountsFile(kPlayed, 0x1c);
    shortEntries[8] = 0x08;
    std::string tooMany = PlayCountsFile(kPlayed, 0x1c);
    tooMany[12] = 3;  // one more entry than the file holds
    const std::pair<std::string, std::string> cases[] = {
        {"", "is too short (0 bytes)"},           {"mhdp\x60", "is too short (5 bytes)"},
        {wrongTag, "does not begin with mhdp"},   {shortHeader, "has a header of 64 bytes"},
        {shortEntries, "has entries of 8 bytes"}, {tooMany, "announces 3 entries"},
    };
    for (const auto& [bytes, why] : cases) {
        SCOPED_TRACE(why);
        Write("Play Counts", bytes);
        EXPECT_EQ(Load(), kSynced);
        EXPECT_TRUE(Logged("Play Counts " + why)) << FLog;
        EXPECT_TRUE(Logged("; it is ignored")) << FLog;
    }
}

TEST_F(SinceLastSyncTest, ShufflesITunesStatsInBothLayouts) {
    const std::vector<TPlayCountEntry> played = {
        {.Plays = 2, .LastPlayedMac = MacTime(kSince + kShift), .BookmarkMs = 700, .Skips = 3},
        {.Skips = 1},
        {},
    };
    // The older shuffles keep no time; neither layout holds a rating.
    Write("iTunesStats", ITunesStatsFile(played, true));
    EXPECT_EQ(Load(),
              (std::vector<TTrackState>{{7, 4, 60, kBefore, 700}, {0, 1, 80, 0, 0}, kSynced[2]}));
    EXPECT_TRUE(Logged("iTunesStats: 2 tracks changed")) << FLog;

    Write("iTunesStats", ITunesStatsFile(played, false));
    EXPECT_EQ(Load(),
              (std::vector<TTrackState>{{7, 4, 60, kSince, 700}, {0, 1, 80, 0, 0}, kSynced[2]}));

    std::string cut = ITunesStatsFile(played, false);
    cut.resize(cut.size() - 1);
    Write("iTunesStats", cut);
    EXPECT_EQ(Load(), kSynced);
    EXPECT_TRUE(
        Logged("iTunesStats announces 3 entries, more than its 103 bytes hold; it is ignored"))
        << FLog;
}

// One walk merges the entries and links the covers: tracks past the last entry get theirs too.
TEST_F(SinceLastSyncTest, CoversAreLinkedBesideAndPastTheEntries) {
    Write("Play Counts", PlayCountsFile(kPlayed, 0x1c));
    WriteFile(FRoot / "iPod_Control/Artwork/ArtworkDB",
              BuildArtworkDb({{.ImageId = 7, .SongId = 0x3333}, {.ImageId = 8, .SongId = 0x1111}}));
    const std::vector<TTrackState> states = Load();
    EXPECT_EQ(states[0].Plays, 7);
    EXPECT_EQ(states[1].Rating, 0);
    EXPECT_EQ(FCovers, (std::vector<int32_t>{1, -1, 0}));

    // Without plays to merge, the walk still links.
    fs::remove(FRoot / "iPod_Control/iTunes/Play Counts");
    EXPECT_EQ(Load(), kSynced);
    EXPECT_EQ(FCovers, (std::vector<int32_t>{1, -1, 0}));
}

TEST_F(SinceLastSyncTest, PlayCountsPlistMatchesByPersistentId) {
    const std::vector<TPlayCountsPlistEntry> entries = {
        {.PersistentId = 0x2222,
         .Counts = {.Plays = 4, .LastPlayedMac = MacTime(kSince + kShift), .Skips = 2},
         .UserRating = 40},
        {.PersistentId = 0x9999, .Counts = {.Plays = 9}},
        {.PersistentId = 0x3333, .Counts = {.Plays = 9}, .Deleted = true},
        {.PersistentId = 0x1111, .UserRating = 0},  // unrated on the device since
    };
    Write("PlayCounts.plist", PlayCountsPlist(entries));
    EXPECT_EQ(Load(),
              (std::vector<TTrackState>{{5, 1, 0, kBefore, 0}, {4, 2, 40, kSince, 0}, kSynced[2]}));
    EXPECT_TRUE(
        Logged("PlayCounts.plist: 2 tracks changed by plays and ratings since the last "
               "sync (1 entry names no track) (1 track deleted on the device)"))
        << FLog;

    Write("PlayCounts.plist", "<plist><dict><key>tracks</key><string>x</string></dict></plist>");
    EXPECT_EQ(Load(), kSynced);
    EXPECT_TRUE(Logged("PlayCounts.plist has no list of tracks; it is ignored")) << FLog;
}

TEST_F(SinceLastSyncTest, BinaryPlayCountsPlistNeedsTheConverter) {
    Write("PlayCounts.plist",
          PlayCountsPlist({{.PersistentId = 0x1111, .Counts = {.Plays = 1}}}, true));
    // The offline session has no platform library to convert it.
    EXPECT_EQ(Load(), kSynced);
    EXPECT_TRUE(Logged("PlayCounts.plist cannot be read as a property list; it is ignored"))
        << FLog;

    TDeviceSessionOptions options = OfflineSessionOptions({FRoot.Path()});
    options.LoadLibrary = [] { return LoadMobileDevice(); };
    TIpodDevice device(nullptr, options);
    if (device.NoLibrary())
        GTEST_SKIP() << "the platform library is not installed";
    ASSERT_TRUE(device.ScanDrives());
    TIpodMusicDb music(device);
    ASSERT_TRUE(music.Load(true));
    EXPECT_EQ(music.Tracks.Items(0).PlayCount, 6);
    EXPECT_FALSE(fs::exists(device.WorkFile() + "-plist"));
}

TEST(DeviceClock, PreferencesGiveTheZoneOfEachLayout) {
    struct TCase {
        size_t Size;
        int16_t Zone;
        std::optional<int32_t> Shift;
    };
    const TCase cases[] = {
        {2892, 0x19, 0},         // fourth generation: UTC
        {2892, 0x19 + 2, 3600},  // UTC+1
        {2892, 0x19 + 3, 7200},  // UTC+1 with daylight saving
        {2892, 0x19 - 10, -5 * 3600},
        {2892, 49, std::nullopt},  // past the last zone
        {2924, 480, 0},            // video: minutes from UTC-8
        {2924, 0, -8 * 3600},
        {2924, 2000, std::nullopt},  // more than 14 hours
        {2952, 0x4f, std::nullopt},  // a city, unless the zone database is installed
        {2956, 0x4f, std::nullopt},  // the same on later classics
        {1234, 0x19, std::nullopt},  // a layout nobody knows
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.Size) + "/" + std::to_string(c.Zone));
        const std::string bytes = PreferencesFile(c.Size, c.Zone);
        const auto shift = ClockShiftFromPreferences(
            {reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()});
        if (c.Size >= 2952 && c.Size <= 2956 && ZoneOffsetNow("Europe/London")) {
            EXPECT_EQ(shift, ZoneOffsetNow("Europe/London"));  // London
            continue;
        }
        EXPECT_EQ(shift, c.Shift);
    }
    EXPECT_EQ(MacTimeToUnix(0, 3600), 0);
    EXPECT_EQ(MacTimeToUnix(MacTime(kSince), -3600), kSince + 3600);
}

}  // namespace
}  // namespace corvane
