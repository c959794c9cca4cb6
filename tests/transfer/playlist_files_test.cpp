// Playlist files beside a music export: what they list, how they are named, and that they
// never replace a file.
#include <gtest/gtest.h>

#include <filesystem>

#include "device/DeviceFolder.h"
#include "device/iPodDev.h"
#include "fixtures/TempDir.h"
#include "music/iPodMusic.h"
#include "platform/PlatformTestSupport.h"
#include "transfer/PlaylistFiles.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using namespace testing;

class PlaylistFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        FMusic.DestFolder = FDest.Path() + "/";
        // Copied as a file for the media library, copied not for it, and not copied at all.
        Track(1, "One", "Band", 215400, 1, "Band/Album/One.mp3");
        Track(2, "Two", "", 61000, 2, "Two.epub");
        Track(3, "Three", "Band", 1000, 0, "");
        Track(4, "Hit", "Line\nBreak", 1499, 1, "#1 Hit.mp3");
        Track(5, "Elsewhere", "Band", 1000, 1, "/somewhere/else.mp3");  // not below the folder
        Playlist("Library", {1, 2, 3, 4, 5});
    }

    void Track(int64_t pid, const std::string& title, const std::string& artist,
               uint32_t durationMs, int32_t state, const std::string& relative) {
        TTrackItem& track = FMusic.Tracks.Add();
        track.SetReaderDefaults();
        track.Pid = pid;
        track.Title = title;
        track.Artist = artist;
        track.DurationMs = durationMs;
        track.TransferState = state;
        if (!relative.empty())
            track.DestPath = relative[0] == '/' ? relative : FMusic.DestFolder + relative;
    }

    TPlayListItem& Playlist(const std::string& name, std::vector<uint64_t> pids,
                            bool smart = false) {
        TPlayListItem& playlist = FMusic.PlayLists.Add();
        playlist.Name = name;
        playlist.TrackPids = std::move(pids);
        playlist.Count = static_cast<int32_t>(playlist.TrackPids.size());
        playlist.IsSmart = smart;
        return playlist;
    }

    TTempDir FDest;
    TIpodDevice FDevice{nullptr, OfflineSessionOptions()};
    TIpodMusicDb FMusic{FDevice};
};

TEST_F(PlaylistFilesTest, ListsTheCopiedTracksByTheirRelativePaths) {
    Playlist("Road Trip", {1, 2, 1, 99, 3, 4, 5});
    Playlist("Smart", {1}, true);
    Playlist("AC/DC", {2});
    Playlist("", {1});
    Playlist("Nothing Copied", {3, 99});
    EXPECT_EQ(WritePlaylistFiles(FMusic), 3);
    EXPECT_EQ(FolderNames(FDest.Path()),
              (std::set<std::string>{"Road Trip.m3u8", "AC_DC.m3u8", "Unknown Playlist.m3u8"}));
    // A track listed twice stays twice; a path that begins with "#" is no comment.
    EXPECT_EQ(ReadFile(FDest / "Road Trip.m3u8"),
              "#EXTM3U\n"
              "#EXTINF:215,Band - One\nBand/Album/One.mp3\n"
              "#EXTINF:61,Unknown Artist - Two\nTwo.epub\n"
              "#EXTINF:215,Band - One\nBand/Album/One.mp3\n"
              "#EXTINF:1,Line Break - Hit\n./#1 Hit.mp3\n");
    EXPECT_EQ(ReadFile(FDest / "AC_DC.m3u8"),
              "#EXTM3U\n#EXTINF:61,Unknown Artist - Two\nTwo.epub\n");
    EXPECT_EQ(FMusic.Log.Text(),
              "\r\nPlaylist Road Trip: 3 tracks not copied, left out"
              "\r\nPlaylist Nothing Copied: 2 tracks not copied, left out");
}

TEST_F(PlaylistFilesTest, TakenNamesGetANumberAndASecondRunAddsNothing) {
    Playlist("Mix", {1});
    Playlist("Mix", {2});
    Playlist("M/ix", {4});  // the same safe name as well
    WriteFile(FDest / "Mix.m3u8", "the user's own list");
    fs::create_directory(FDest / "Mix2.m3u8");
    EXPECT_EQ(WritePlaylistFiles(FMusic), 3);
    EXPECT_EQ(ReadFile(FDest / "Mix.m3u8"), "the user's own list");
    EXPECT_EQ(ReadFile(FDest / "Mix1.m3u8"),
              "#EXTM3U\n#EXTINF:215,Band - One\nBand/Album/One.mp3\n");
    EXPECT_EQ(ReadFile(FDest / "Mix3.m3u8"),
              "#EXTM3U\n#EXTINF:61,Unknown Artist - Two\nTwo.epub\n");
    EXPECT_NE(ReadFile(FDest / "M_ix.m3u8"), "");
    auto names = FolderNames(FDest.Path());

    EXPECT_EQ(WritePlaylistFiles(FMusic), 3);
    EXPECT_EQ(FolderNames(FDest.Path()), names);
    EXPECT_EQ(ReadFile(FDest / "Mix3.m3u8"),
              "#EXTM3U\n#EXTINF:61,Unknown Artist - Two\nTwo.epub\n");

    // What changed since is written under the next free name, the earlier file kept.
    FMusic.Tracks.Items(0).DurationMs = 1000;
    EXPECT_EQ(WritePlaylistFiles(FMusic), 3);
    EXPECT_EQ(ReadFile(FDest / "Mix1.m3u8"),
              "#EXTM3U\n#EXTINF:215,Band - One\nBand/Album/One.mp3\n");
    EXPECT_EQ(ReadFile(FDest / "Mix4.m3u8"), "#EXTM3U\n#EXTINF:1,Band - One\nBand/Album/One.mp3\n");
}

TEST_F(PlaylistFilesTest, NoDestinationOrNoPlaylistsWriteNothing) {
    EXPECT_EQ(WritePlaylistFiles(FMusic), 0);  // only the library list
    Playlist("Mix", {1});
    FMusic.DestFolder.clear();
    EXPECT_EQ(WritePlaylistFiles(FMusic), 0);
    EXPECT_TRUE(FolderNames(FDest.Path()).empty());
}

}  // namespace
}  // namespace corvane
