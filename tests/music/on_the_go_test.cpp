// On-The-Go playlists made on the iPod: the binary files and the property-list form, how they
// are named and placed, and that they reach the playlist files and the restore like any other.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "device/iPodDev.h"
#include "fixtures/DeviceSessions.h"
#include "fixtures/ITunesDbBuilder.h"
#include "fixtures/IpodExtrasBuilder.h"
#include "fixtures/MemoryMediaLibrary.h"
#include "fixtures/TempDir.h"
#include "music/iPodMusic.h"
#include "transfer/PlaylistFiles.h"
#include "transfer/iTunesLib_TLB.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using namespace testing;

struct TListView {
    std::string Name;
    std::vector<uint64_t> Pids;
    bool OnTheGo;
    bool operator==(const TListView&) const = default;
};

std::ostream& operator<<(std::ostream& out, const TListView& list) {
    out << "{" << list.Name << (list.OnTheGo ? " (otg):" : ":");
    for (uint64_t pid : list.Pids)
        out << " " << pid;
    return out << "}";
}

// Four songs (track ids 11..14, persistent ids 0x100..0x400), the master playlist and two of
// the device's own: "On-The-Go 1", saved at the last sync, and "Mix" (persistent id 77).
class OnTheGoTest : public ::testing::Test {
protected:
    void SetUp() override {
        TITunesDbBuilder db;
        for (uint32_t i = 1; i <= 4; ++i) {
            const std::string file = "S" + std::to_string(i) + ".mp3";
            db.AddTrack({.Id = 10 + i,
                         .Title = "Song " + std::to_string(i),
                         .Location = ":iPod_Control:Music:F00:" + file,
                         .Size = 100 + i,
                         .Dbid = 0x100u * i});
            WriteFile(FRoot / ("iPod_Control/Music/F00/" + file), std::string(100 + i, 'x'));
        }
        db.AddPlaylist({.Name = "Kim's iPod", .IsMaster = true, .TrackIds = db.AllTrackIds()});
        db.AddPlaylist({.Name = "On-The-Go 1", .Id = 55, .TrackIds = {11}});
        db.AddPlaylist({.Name = "Mix", .Id = 77, .TrackIds = {11, 12}});
        WriteFile(FRoot / "iPod_Control/iTunes/iTunesDB", db.Build());
        FDevice = DiskDevice(FRoot.Path());
        FMusicDb = std::make_unique<TIpodMusicDb>(*FDevice);
    }

    void Write(const std::string& name, const std::string& bytes) {
        WriteFile(FRoot / ("iPod_Control/iTunes/" + name), bytes);
    }

    std::vector<TListView> Load() {
        EXPECT_TRUE(FMusic().Load(true));
        std::vector<TListView> lists;
        for (const TPlayListItem& list : FMusic().PlayLists) {
            lists.push_back({list.Name, list.TrackPids, list.IsOnTheGo});
            EXPECT_EQ(list.Count, static_cast<int32_t>(list.TrackPids.size()));
        }
        return lists;
    }

    bool Logged(const std::string& text) const {
        return FMusicDb->Log.Text().find(text) != std::string::npos;
    }

    TTempDir FRoot;
    std::unique_ptr<TIpodDevice> FDevice;
    std::unique_ptr<TIpodMusicDb> FMusicDb;
    TIpodMusicDb& FMusic() { return *FMusicDb; }
};

const TListView kMaster{"Kim's iPod", {11, 12, 13, 14}, false};
const TListView kSaved{"On-The-Go 1", {11}, false};
const TListView kMix{"Mix", {11, 12}, false};

TEST_F(OnTheGoTest, BinaryFilesFollowTheDevicesPlaylistsUnderFreeNames) {
    Write("OTGPlaylistInfo", OnTheGoFile({3, 0, 9}));  // 9 names no track
    Write("OTGPlaylistInfo_1", OnTheGoFile({}));       // the device's empty current list
    Write("OTGPlaylistInfo_2", "mhpo");
    Write("OTGPlaylistInfo_3", OnTheGoFile({1, 1}));
    Write("OTGPlaylistInfo_5", OnTheGoFile({2}));  // after a gap: not one of the set
    EXPECT_EQ(Load(), (std::vector<TListView>{kMaster,
                                              kSaved,
                                              kMix,
                                              {"On-The-Go 2", {14, 11}, true},
                                              {"On-The-Go 3", {12, 12}, true}}));
    EXPECT_TRUE(Logged("OTGPlaylistInfo: 1 entry names no track")) << FMusic().Log.Text();
    EXPECT_TRUE(Logged("OTGPlaylistInfo_2 is too short (4 bytes); it is ignored"))
        << FMusic().Log.Text();
}

TEST_F(OnTheGoTest, PlaylistFilesRenameRefillAddAndDelete) {
    // Sorted by the device's saved index, not by file name.
    Write("Playlist_B2.plist", DevicePlaylistPlist({.PersistentId = 77,
                                                    .SavedIndex = 2,
                                                    .Name = "Road Mix",
                                                    .TrackPersistentIds = {0x400, 0x999, 0x100}}));
    Write(
        "Playlist_A1.plist",
        DevicePlaylistPlist({.PersistentId = 88, .SavedIndex = 3, .TrackPersistentIds = {0x200}}));
    Write("Playlist_C3.plist",
          DevicePlaylistPlist(
              {.PersistentId = 99, .SavedIndex = 1, .Name = "Gym", .TrackPersistentIds = {0x300}}));
    Write("Playlist_D4.plist", DevicePlaylistPlist({.PersistentId = 55, .Deleted = true}));
    Write("Playlist_E5.plist", "<plist><dict><key>name</key><string>x</string></dict></plist>");
    Write("Playlist_1-2.plist", "not a name the device uses");
    EXPECT_EQ(Load(), (std::vector<TListView>{kMaster,
                                              {"Road Mix", {14, 11}, true},
                                              {"Gym", {13}, true},
                                              {"On-The-Go 2", {12}, true}}));
    EXPECT_TRUE(Logged("Playlist_E5.plist has no playlistPersistentID; it is ignored"))
        << FMusic().Log.Text();
}

TEST_F(OnTheGoTest, WrittenAsPlaylistFilesAndRestoredLikeAnyPlaylist) {
    Write("OTGPlaylistInfo", OnTheGoFile({3, 1}));
    Write("Play Counts", PlayCountsFile({{}, {.Plays = 4, .Rating = 80}, {}, {}}, 0x1c));
    Load();
    TTempDir dest;
    FMusic().DestFolder = dest.Path() + "/";
    FMusic().NamingScheme = 1;
    ASSERT_EQ(FMusic().Export(), 4);
    EXPECT_EQ(WritePlaylistFiles(FMusic()), 3);  // Mix, On-The-Go 1, On-The-Go 2
    const std::string list = ReadFile(dest / "On-The-Go 2.m3u8");
    EXPECT_LT(list.find("Song 4"), list.find("Song 2")) << list;

    TMemoryMediaLibrary library;
    for (const TTrackItem& track : FMusic().Tracks)
        library.Tag(track.DestPath, track.Title, "");
    TIpodMusicDb::TRestoreHooks hooks;
    hooks.CreateApp = library.Factory();
    hooks.Wait = [](int) {};
    EXPECT_EQ(FMusic().RestoreToITunes(hooks), 4);
    EXPECT_EQ(library.EntryNames("On-The-Go 2"), (std::vector<std::string>{"Song 4", "Song 2"}));
    // The restore sends what the device counted since its last sync.
    ASSERT_GE(library.Tracks().size(), 2u);
    EXPECT_EQ(library.Tracks()[1].Rating, 80);
    EXPECT_EQ(library.Tracks()[1].PlayedCount, 4);
}

}  // namespace
}  // namespace corvane
