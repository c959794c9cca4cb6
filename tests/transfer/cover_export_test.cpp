// The covers of a music export: cover.jpg once per album folder without replacing the user's,
// and covers embedded into the copies (MP3, M4A, FLAC) that carry none.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "fixtures/ArtworkDbFiles.h"
#include "fixtures/AudioFiles.h"
#include "fixtures/DeviceSessions.h"
#include "fixtures/ITunesDbBuilder.h"
#include "fixtures/TempDir.h"
#include "music/iPodMusic.h"
#include "photo/ImageCodecs.h"
#include "transfer/CoverExport.h"
#include "transfer/CoverTags.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using namespace testing;

struct TSong {
    const char* File;
    std::string Bytes;
    const char* Album;
    uint64_t Dbid;
    uint32_t Link;
};

// Album A: two songs sharing the red cover by dbid; album B: one found by link (blue); album C
// has no cover.
void WriteIpod(const std::string& root) {
    const std::vector<TSong> songs = {
        {"A1.mp3", SilentMp3("One", "X"), "A", 7001, 0},
        {"A2.m4a", SilentM4a("Two", "X"), "A", 7001, 0},
        {"B1.flac", SilentFlac("Three", "X"), "B", 0, 101},
        {"C1.mp3", SilentMp3("Four", "X"), "C", 0, 0},
    };
    TITunesDbBuilder db;
    uint32_t id = 1;
    for (const TSong& song : songs) {
        WriteFile(root + "/iPod_Control/Music/F00/" + song.File, song.Bytes);
        TITunesDbTrack track;
        track.Id = id++;
        track.Title = song.File;
        track.Artist = "X";
        track.Album = song.Album;
        track.Location = std::string(":iPod_Control:Music:F00:") + song.File;
        track.Size = static_cast<uint32_t>(song.Bytes.size());
        track.Dbid = song.Dbid;
        track.ArtworkLink = song.Link;
        db.AddTrack(track);
    }
    db.AddPlaylist({.Name = "iPod", .IsMaster = true, .TrackIds = db.AllTrackIds()});
    WriteFile(root + "/iPod_Control/iTunes/iTunesDB", db.Build());
    WriteArtworkFiles(root + "/iPod_Control/Artwork",
                      {{.ImageId = 100, .SongId = 7001, .Colour = {255, 0, 0}},
                       {.ImageId = 101, .SongId = 0, .Colour = {0, 0, 255}}});
}

TRgb CentreOf(const std::string& jpegFile) {
    const std::string bytes = ReadFile(jpegFile);
    TBitmap picture;
    EXPECT_TRUE(DecodeJpeg(std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()),
                           1, picture));
    return picture.Empty() ? TRgb{} : picture.Pixel(picture.Width() / 2, picture.Height() / 2);
}

TEST(CoverExport, OneCoverFilePerAlbumFolderAndEmbeddedIntoCopiesWithout) {
    TTempDir root;
    WriteIpod(root / "ipod");
    auto device = DiskDevice(root / "ipod");
    TIpodMusicDb music(*device);
    ASSERT_TRUE(music.Load(true));
    std::string dest = root / "out";
    ASSERT_TRUE(music.PrepareDestination(dest));
    music.NamingScheme = 0;
    // The user's own cover of album B stays as it is.
    WriteFile(root / "out/X/B/cover.jpg", "mine");
    ASSERT_EQ(music.Export(), 4);

    TCoverOutcome outcome = ExportCovers(music, {.CoverFiles = true, .EmbedCovers = true});
    EXPECT_EQ(outcome.Files, 1);
    EXPECT_EQ(outcome.Embedded, 3);
    const TRgb red = CentreOf(root / "out/X/A/cover.jpg");
    EXPECT_GT(red.R, 240);
    EXPECT_LT(red.B, 15);
    EXPECT_EQ(ReadFile(root / "out/X/B/cover.jpg"), "mine");
    EXPECT_FALSE(fs::exists(root / "out/X/C/cover.jpg"));
    for (const TTrackItem& track : music.Tracks) {
        SCOPED_TRACE(track.Title);
        EXPECT_EQ(tags::HasEmbeddedCover(track.DestPath), track.Cover >= 0);
    }
    EXPECT_NE(music.Log.Text().find("Covers: 1 cover.jpg files, 3 copies with an embedded cover"),
              std::string::npos);

    // Again: every copy carries its cover and every folder its file; nothing is written.
    const auto before = Tree(root / "out");
    outcome = ExportCovers(music, {.CoverFiles = true, .EmbedCovers = true});
    EXPECT_EQ(outcome.Files, 0);
    EXPECT_EQ(outcome.Embedded, 0);
    EXPECT_EQ(Tree(root / "out"), before);
}

TEST(CoverExport, FlatNamingWritesNoCoverFileAndSaysWhy) {
    TTempDir root;
    WriteIpod(root / "ipod");
    auto device = DiskDevice(root / "ipod");
    TIpodMusicDb music(*device);
    ASSERT_TRUE(music.Load(true));
    std::string dest = root / "out";
    ASSERT_TRUE(music.PrepareDestination(dest));
    music.NamingScheme = 1;
    ASSERT_EQ(music.Export(), 4);
    EXPECT_EQ(ExportCovers(music, {.CoverFiles = true}).Files, 0);
    EXPECT_FALSE(fs::exists(root / "out/cover.jpg"));
    EXPECT_NE(music.Log.Text().find("only into album folders"), std::string::npos);
}

}  // namespace
}  // namespace corvane
