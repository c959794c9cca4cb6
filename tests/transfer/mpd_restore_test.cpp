// The restore into a private MPD server: what lands in its database, its stickers and its
// stored playlists, what a second run finds there, and what it refuses.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <mpd/client.h>

#include "device/iPodDev.h"
#include "fixtures/AudioDevice.h"
#include "fixtures/AudioFiles.h"
#include "fixtures/DeviceSessions.h"
#include "fixtures/MpdServer.h"
#include "fixtures/TempDir.h"
#include "music/iPodMusic.h"
#include "transfer/LibraryTargets.h"
#include "transfer/MpdConnection.h"
#include "transfer/MpdLibrary.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using namespace testing;

const std::string kSlash = "\xE2\x88\x95";  // how a "/" in a playlist name is stored

struct TConnectionFree {
    void operator()(mpd_connection* connection) const { mpd_connection_free(connection); }
};

class MpdRestoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (TMpdServer::Binary().empty())
            GTEST_SKIP() << "mpd is not installed (./dev.sh deps installs it): the restore "
                            "into MPD is not tested on this machine";
        FServer = std::make_unique<TMpdServer>(FRoot / "mpd");
        ASSERT_TRUE(FServer->Started()) << FServer->Error();
        TITunesDbBuilder db = AudioSongs(
            FIpod, {
                       {"A.mp3", SilentMp3("Intro", "Band"), "Intro", "Band", 60, 5},
                       {"B.mp3", SilentMp3("Ballad", "Band", 14), "Ballad", "Band", 25, 0},
                       {"C.mp3", SilentMp3("Coda", "Other"), "Coda", "Other", 0, 12},
                   });
        db.AddPlaylist({.Name = "Road/Trip", .Id = 11, .TrackIds = {3, 1}});
        db.AddPlaylist({.Name = "Favourites", .Id = 12, .TrackIds = {2, 3, 1}});
        db.AddPlaylist({.Name = "Recent", .Id = 13, .IsSmart = true, .TrackIds = {1}});
        db.AddPlaylist({.Name = "Gone", .Id = 14, .TrackIds = {77}});  // nothing to restore
        WriteAudioDatabase(FIpod, db);
        FDevice = DiskDevice(FIpod);
        FMusic = std::make_unique<TIpodMusicDb>(*FDevice);
        ASSERT_TRUE(FMusic->Load(true));
        ASSERT_EQ(FMusic->Tracks.Count(), 3);
        for (int i = 0; i < FMusic->Tracks.Count(); ++i)
            FMusic->Tracks.Check(i);
    }

    // Copies every track into dest (artist and album folders), then restores.
    int ExportAndRestore(const std::string& dest) {
        fs::create_directories(dest);
        std::string folder = dest;
        EXPECT_TRUE(FMusic->PrepareDestination(folder)) << folder;
        FMusic->NamingScheme = 0;
        EXPECT_EQ(FMusic->Export(), 3);
        return Restore();
    }

    int Restore() {
        FMusic->Log.Clear();
        return FMusic->RestoreToITunes(RestoreHooksFor(TLibraryTarget::Mpd, *FMusic));
    }

    std::string UriOf(const std::string& title) const {
        for (const TTrackItem& track : FMusic->Tracks) {
            if (track.Title == title)
                return fs::path(track.DestPath).lexically_relative(FServer->MusicDir()).string();
        }
        return {};
    }

    std::map<std::string, std::string> Stickers(const std::string& uri) const {
        std::unique_ptr<mpd_connection, TConnectionFree> connection(
            mpd_connection_new(FServer->Socket().c_str(), 0, 5000));
        std::map<std::string, std::string> stickers;
        if (!mpd_send_sticker_list(connection.get(), "song", uri.c_str()))
            return stickers;
        while (mpd_pair* pair = mpd_recv_sticker(connection.get())) {
            stickers[pair->name] = pair->value;
            mpd_return_sticker(connection.get(), pair);
        }
        mpd_response_finish(connection.get());
        return stickers;
    }

    static std::vector<std::string> Uris(const std::vector<mpd::TMpdSong>& songs) {
        std::vector<std::string> uris;
        for (const mpd::TMpdSong& song : songs)
            uris.push_back(song.Uri);
        return uris;
    }

    static std::vector<std::string> Sorted(std::vector<std::string> items) {
        std::sort(items.begin(), items.end());
        return items;
    }

    void ExpectLibraryAsRestored() {
        mpd::TMpdConnection server;
        EXPECT_EQ(Sorted(server.ListFiles("")),
                  Sorted({UriOf("Intro"), UriOf("Ballad"), UriOf("Coda")}));
        // 0..100 becomes 0..10, a half step rounding up; no value, no sticker.
        EXPECT_EQ(Stickers(UriOf("Intro")),
                  (std::map<std::string, std::string>{{"rating", "6"}, {"playCount", "5"}}));
        EXPECT_EQ(Stickers(UriOf("Ballad")), (std::map<std::string, std::string>{{"rating", "3"}}));
        EXPECT_EQ(Stickers(UriOf("Coda")),
                  (std::map<std::string, std::string>{{"playCount", "12"}}));
        // Smart playlists stay on the device; one with nothing to hold is not stored.
        EXPECT_EQ(Sorted(server.StoredPlaylists()),
                  (std::vector<std::string>{"Favourites", "Road" + kSlash + "Trip"}));
        EXPECT_EQ(Uris(server.PlaylistSongs("Road" + kSlash + "Trip")),
                  (std::vector<std::string>{UriOf("Coda"), UriOf("Intro")}));
        EXPECT_EQ(Uris(server.PlaylistSongs("Favourites")),
                  (std::vector<std::string>{UriOf("Ballad"), UriOf("Coda"), UriOf("Intro")}));
    }

    TTempDir FRoot;
    std::string FIpod = FRoot / "ipod";
    std::unique_ptr<TMpdServer> FServer;
    std::unique_ptr<TIpodDevice> FDevice;
    std::unique_ptr<TIpodMusicDb> FMusic;
};

TEST_F(MpdRestoreTest, AddsTracksStickersAndPlaylistsAndASecondRunAddsNothing) {
    // Below a folder MPD does not know yet, in artist and album folders of their own.
    EXPECT_EQ(ExportAndRestore(FServer->MusicDir() + "/iPod"), 3);
    // Each copy counts as added (the run's own update brought them in, so none is taken for
    // one the library had), and "Gone" counts without being stored.
    EXPECT_NE(FMusic->Log.Text().find("\r\nSync done: 3, 3, 0. Pl: 3\r\n"), std::string::npos)
        << FMusic->Log.Text();
    for (const TTrackItem& track : FMusic->Tracks) {
        EXPECT_EQ(track.TransferState, 1) << track.Title;
        EXPECT_NE(track.ITunesSourceId, -1) << track.Title;
    }
    ASSERT_EQ(UriOf("Intro").rfind("iPod/", 0), 0u) << UriOf("Intro");
    ExpectLibraryAsRestored();

    EXPECT_EQ(Restore(), 3);
    EXPECT_EQ(FMusic->Log.Text(), "\r\nSync begin...\r\nSync done: 3, 0, 3. Pl: 3\r\n");
    ExpectLibraryAsRestored();
}

// The ids a run hands out name its songs and stored playlists; a later run (a new table)
// never takes an earlier run's ids for its own objects.
TEST_F(MpdRestoreTest, IdsNameTheRunsSongsAndPlaylistsOnly) {
    ExportAndRestore(FServer->MusicDir() + "/iPod");
    const TTrackItem& intro = FMusic->Tracks.Items(0);
    std::shared_ptr<itunes::IiTunes> run = mpd::CreateMpdLibrary(FMusic->DestFolder, {});
    EXPECT_EQ(run->GetITObjectByID(intro.ITunesSourceId, intro.ITunesPlaylistId,
                                   intro.ITunesTrackId, intro.ITunesDatabaseId),
              nullptr);
    std::shared_ptr<itunes::IITTrack> found = run->LibraryPlaylist()->Tracks()->ItemByName("Intro");
    ASSERT_NE(found, nullptr);
    itunes::TITObjectIDs ids = found->GetITObjectIDs();
    std::shared_ptr<itunes::IITObject> song =
        run->GetITObjectByID(ids.SourceID, ids.PlaylistID, ids.TrackID, ids.DatabaseID);
    ASSERT_NE(song, nullptr);
    EXPECT_EQ(song->Name(), "Intro");

    std::shared_ptr<itunes::IITPlaylistCollection> playlists = run->LibrarySource()->Playlists();
    ASSERT_EQ(playlists->Count(), 2);
    for (int i = 1; i <= 2; ++i) {
        ids = playlists->Item(i)->GetITObjectIDs();
        std::shared_ptr<itunes::IITObject> playlist =
            run->GetITObjectByID(ids.SourceID, ids.PlaylistID, ids.TrackID, ids.DatabaseID);
        ASSERT_NE(playlist, nullptr);
        EXPECT_EQ(playlist->Name(), playlists->Item(i)->Name());
    }
}

TEST_F(MpdRestoreTest, CopiesOutsideTheMusicDirectoryAreRefusedAndMarkedBlue) {
    EXPECT_EQ(ExportAndRestore(FRoot / "elsewhere"), 0);
    const std::string log = FMusic->Log.Text();
    EXPECT_NE(log.find("MPD knows only files below its music directory " + FServer->MusicDir()),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find("MPD knows only"), log.rfind("MPD knows only"));  // one line, not three
    EXPECT_NE(log.find("\r\nSync done: 0, 0, 0. Pl: 3\r\n"), std::string::npos) << log;
    for (const TTrackItem& track : FMusic->Tracks)
        EXPECT_EQ(track.TransferState, 2) << track.Title;
    mpd::TMpdConnection server;
    EXPECT_TRUE(server.ListFiles("").empty());
    EXPECT_TRUE(server.StoredPlaylists().empty());
}

TEST_F(MpdRestoreTest, TheTargetWorksOnlyWhileAServerAnswers) {
    EXPECT_EQ(LibraryTargetUnavailable(TLibraryTarget::Mpd), "");
    const std::string missing = FRoot / "no-server-here";
    TScopedEnv host("MPD_HOST", missing);
    EXPECT_EQ(LibraryTargetUnavailable(TLibraryTarget::Mpd)
                  .rfind("No MPD server answers at " + missing + " (", 0),
              0u);
    EXPECT_EQ(LibraryTargetUnavailable(TLibraryTarget::Tags), "");
}

// A server reached over TCP on this machine does not tell its music directory; its
// configuration file does.
TEST(MpdConfiguration, NamesTheMusicDirectory) {
    struct TCase {
        std::string Config;
        std::string Folder;
    };
    for (const TCase& c : {
             TCase{"music_directory \"/srv/music\"\n", "/srv/music"},
             TCase{"# music_directory \"/old\"\n\tmusic_directory\t\"~/Music\"\n",
                   "/home/kim/Music"},
             TCase{"music_directory_x \"/no\"\nport \"6600\"\n", ""},
             TCase{"music_directory \"unterminated\n", ""},
             TCase{"", ""},
         }) {
        EXPECT_EQ(mpd::ConfiguredMusicDirectory(c.Config, "/home/kim"), c.Folder) << c.Config;
    }
}

TEST(MpdPlaylistNames, AreMadeSafeForStoring) {
    struct TCase {
        std::string Device;
        std::string Stored;
    };
    for (const TCase& c :
         {TCase{"Road/Trip", "Road" + kSlash + "Trip"}, TCase{"Two\nLines\r", "Two Lines"},
          TCase{" / ", kSlash}, TCase{"", "Playlist"}, TCase{"\t", "Playlist"},
          TCase{"Plain name", "Plain name"}}) {
        EXPECT_EQ(mpd::SafePlaylistName(c.Device), c.Stored) << c.Device;
    }
}

}  // namespace
}  // namespace corvane
