// The restore into the media library, against the in-memory library: what is added, found,
// refused and rebuilt, which lines are logged, and how stops and failed calls end a run.
#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "device/DeviceFolder.h"
#include "device/iPodDev.h"
#include "fixtures/MemoryMediaLibrary.h"
#include "fixtures/TempDir.h"
#include "music/iPodMusic.h"
#include "transfer/iTunesLib_TLB.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using testing::TLibraryCall;
using testing::TMemoryMediaLibrary;
using testing::TMemoryPlaylist;
using testing::TMemoryTrack;
using testing::TTempDir;
using testing::WriteFile;

// The whole log of a run: each line after CR LF, as the library log writes them.
std::string RunLog(std::initializer_list<std::string> lines) {
    std::string text;
    for (const std::string& line : lines)
        text += "\r\n" + line;
    return text;
}

std::string Summary(const std::string& counts) {
    return "Sync done: " + counts + "\r\n";
}

const std::string kSyncBegin = "Sync begin...";

TMemoryTrack LibraryTrack(const std::string& name, const std::string& artist,
                          const std::string& location, int kind = itunes::ITTrackKindFile) {
    TMemoryTrack track;
    track.Name = name;
    track.Artist = artist;
    track.Location = location;
    track.Kind = kind;
    return track;
}

TMemoryPlaylist LibraryPlaylist(const std::string& name, bool smart = false, bool folder = false,
                                std::vector<size_t> entries = {}) {
    TMemoryPlaylist playlist;
    playlist.Name = name;
    playlist.Smart = smart;
    playlist.SpecialKind = folder ? itunes::ITUserPlaylistSpecialKindFolder : 0;
    playlist.Entries = std::move(entries);
    return playlist;
}

void ExpectIds(const TTrackItem& track, const itunes::TITObjectIDs& ids) {
    EXPECT_EQ(track.ITunesSourceId, ids.SourceID);
    EXPECT_EQ(track.ITunesPlaylistId, ids.PlaylistID);
    EXPECT_EQ(track.ITunesTrackId, ids.TrackID);
    EXPECT_EQ(track.ITunesDatabaseId, ids.DatabaseID);
}

// A device library, the copies the export made of it, and an in-memory media library.
class TRestoreBench {
public:
    // A track the export copied: checked, state 1, a file of `size` bytes named after the pid,
    // whose tags give the library the track's title and artist.
    TTrackItem& Copied(const std::string& title, const std::string& artist, int64_t pid,
                       size_t size = 100) {
        TTrackItem& track = Music.Tracks.Add();
        track.SetReaderDefaults();
        track.Title = title;
        track.Artist = artist;
        track.Pid = pid;
        track.FileSize = static_cast<int64_t>(size);
        track.TransferState = 1;
        track.DestPath = WriteFile(Dir / (std::to_string(pid) + ".mp3"), std::string(size, 'x'));
        Library.Tag(track.DestPath, title, artist);
        return track;
    }

    // A device playlist; the device's library playlist comes first.
    TPlayListItem& Playlist(const std::string& name, std::vector<uint64_t> pids,
                            bool smart = false) {
        if (Music.PlayLists.Empty())
            Music.PlayLists.Add().Name = "Kim's iPod";
        TPlayListItem& list = Music.PlayLists.Add();
        list.Name = name;
        list.Count = static_cast<int32_t>(pids.size());
        list.TrackPids = std::move(pids);
        list.IsSmart = smart;
        return list;
    }

    int Restore(int maxAddPolls = 3000) {
        TIpodMusicDb::TRestoreHooks hooks;
        hooks.CreateApp = Library.Factory();
        hooks.Wait = [this](int ms) {
            Waits.push_back(ms);
            if (OnWait)
                OnWait(ms);
        };
        hooks.MaxAddPolls = maxAddPolls;
        return Music.RestoreToITunes(hooks);
    }

    std::string Log() const { return Music.Log.Text(); }

    TTempDir Dir;
    TIpodDevice Device{nullptr, OfflineSessionOptions()};
    TIpodMusicDb Music{Device};
    TMemoryMediaLibrary Library;
    std::vector<int> Waits;
    std::function<void(int)> OnWait;
};

class ITunesRestoreTest : public ::testing::Test, protected TRestoreBench {};

TEST_F(ITunesRestoreTest, AddsCopiedTracksWithRatingPlayCountAndIds) {
    TTrackItem& rated = Copied("Intro", "Band", 1);
    rated.Rating = 60;
    rated.PlayCount = 5;
    TTrackItem& plain = Copied("Outro", "", 2);
    TTrackItem& unchecked = Copied("Unchecked", "Band", 3);
    unchecked.Checked = false;
    TTrackItem& failed = Copied("Failed", "Band", 4);
    failed.TransferState = 0;
    TTrackItem& book = Copied("Book", "Band", 5);
    book.TransferState = 2;
    Copied("Unmarked", "Band", 6).TransferState = -1;

    EXPECT_EQ(Restore(), 2);

    EXPECT_EQ(Log(), RunLog({kSyncBegin, Summary("2, 2, 0. Pl: 0")}));
    EXPECT_TRUE(Library.Minimized());
    ASSERT_EQ(Library.Tracks().size(), 2u);
    EXPECT_EQ(Library.Tracks()[0].Name, "Intro");
    EXPECT_EQ(Library.Tracks()[0].Location, rated.DestPath);
    EXPECT_EQ(Library.Tracks()[0].Rating, 60);
    EXPECT_EQ(Library.Tracks()[0].PlayedCount, 5);
    EXPECT_EQ(Library.Tracks()[1].Name, "Outro");
    // An unrated, unplayed track leaves the library's values alone.
    EXPECT_EQ(Library.Calls(TLibraryCall::Rating), 1);
    EXPECT_EQ(Library.Calls(TLibraryCall::PlayedCount), 1);
    ExpectIds(rated, Library.IdsOf(0));
    ExpectIds(plain, Library.IdsOf(1));
    for (const TTrackItem* other : {&unchecked, &failed, &book})
        EXPECT_EQ(other->ITunesSourceId, -1);
    EXPECT_EQ(rated.TransferState, 1);
    // Each add is polled until it finishes, 200 ms apart.
    EXPECT_EQ(Waits, std::vector<int>(6, 200));
    EXPECT_EQ(Library.Calls(TLibraryCall::InProgress), 8);
}

TEST_F(ITunesRestoreTest, RestoringTheSameExportTwiceAddsNothing) {
    Copied("One", "Band", 1);
    Copied("Two", "band", 2);
    Copied("Three", "", 3);
    Playlist("Road", {1, 2});
    Playlist("Home", {3, 1});

    EXPECT_EQ(Restore(), 3);
    EXPECT_EQ(Log(), RunLog({kSyncBegin, Summary("3, 3, 0. Pl: 2")}));
    const std::vector<std::string> names = Library.PlaylistNames();
    EXPECT_EQ(names, (std::vector<std::string>{"Library", "Road", "Home"}));
    EXPECT_EQ(Library.EntryNames("Road"), (std::vector<std::string>{"One", "Two"}));
    EXPECT_EQ(Library.EntryNames("Home"), (std::vector<std::string>{"Three", "One"}));

    Music.Log.Clear();
    EXPECT_EQ(Restore(), 3);
    EXPECT_EQ(Log(), RunLog({kSyncBegin, Summary("3, 0, 3. Pl: 2")}));
    EXPECT_EQ(Library.Tracks().size(), 3u);
    EXPECT_EQ(Library.Calls(TLibraryCall::AddFile), 3);
    EXPECT_EQ(Library.Calls(TLibraryCall::AddTrack), 4);
    EXPECT_EQ(Library.PlaylistNames(), names);
    EXPECT_EQ(Library.EntryNames("Road"), (std::vector<std::string>{"One", "Two"}));
    for (size_t i = 0; i < 3; ++i)
        ExpectIds(Music.Tracks.Items(i), Library.IdsOf(i));
}

// The library holds a track titled like the device track; is it taken for the same one?
TEST(ITunesRestoreMatch, FindsAnEqualTrackAndAddsAnyOther) {
    enum TFile { SameSize, OtherSize, NoLocation, Missing };
    struct TCase {
        const char* Name;
        std::string LibraryArtist;
        std::string DeviceArtist;
        int Kind;
        TFile File;
        size_t DeviceSize;
        bool Found;
    };
    auto c = [](const char* name, std::string libraryArtist, std::string deviceArtist, int kind,
                TFile file, size_t deviceSize, bool found) {
        return TCase{name, libraryArtist, deviceArtist, kind, file, deviceSize, found};
    };
    const int file = itunes::ITTrackKindFile;
    const TCase cases[] = {
        c("equal, artist in other case", "the band", "The Band", file, SameSize, 100, true),
        c("two empty artists", "", "", file, SameSize, 100, true),
        c("another artist", "Other", "The Band", file, SameSize, 100, false),
        c("empty against an artist", "", "The Band", file, SameSize, 100, false),
        c("another file size", "The Band", "The Band", file, OtherSize, 100, false),
        c("not a file track", "The Band", "The Band", 3, SameSize, 100, false),
        c("file track without location", "The Band", "The Band", file, NoLocation, 100, false),
        // A missing file measures 0 bytes; it must not pass for a track of unknown size.
        c("file gone, size unknown", "The Band", "The Band", file, Missing, 0, false),
    };
    for (const TCase& test : cases) {
        SCOPED_TRACE(test.Name);
        TRestoreBench bench;
        std::string location;
        if (test.File == SameSize)
            location = WriteFile(bench.Dir / "lib/song.mp3", std::string(test.DeviceSize, 'y'));
        if (test.File == OtherSize)
            location = WriteFile(bench.Dir / "lib/song.mp3", std::string(99, 'y'));
        if (test.File == Missing)
            location = bench.Dir / "lib/gone.mp3";
        bench.Library.AddTrack(LibraryTrack("Song", test.LibraryArtist, location, test.Kind));
        TTrackItem& track = bench.Copied("Song", test.DeviceArtist, 1, test.DeviceSize);

        EXPECT_EQ(bench.Restore(), 1);

        if (test.Found) {
            EXPECT_EQ(bench.Log(), RunLog({kSyncBegin, Summary("1, 0, 1. Pl: 0")}));
            EXPECT_EQ(bench.Library.Tracks().size(), 1u);
            ExpectIds(track, bench.Library.IdsOf(0));
        } else {
            EXPECT_EQ(bench.Log(), RunLog({kSyncBegin, Summary("1, 1, 0. Pl: 0")}));
            EXPECT_EQ(bench.Library.Tracks().size(), 2u);
            ExpectIds(track, bench.Library.IdsOf(1));
        }
    }
}

TEST_F(ITunesRestoreTest, RefusedFileTurnsToStateTwoAndEmptyAddCountsNothing) {
    TTrackItem& refused = Copied("Refused", "Band", 1);
    Library.Refuse(refused.DestPath);
    TTrackItem& gone = Copied("Gone", "Band", 2);
    fs::remove(gone.DestPath);
    TTrackItem& empty = Copied("Nothing added", "Band", 3);
    Library.AddsNothing(empty.DestPath);
    TTrackItem& fine = Copied("Fine", "Band", 4);

    EXPECT_EQ(Restore(), 1);

    EXPECT_EQ(Log(), RunLog({kSyncBegin, Summary("1, 1, 0. Pl: 0")}));
    EXPECT_EQ(refused.TransferState, 2);
    EXPECT_EQ(gone.TransferState, 2);
    EXPECT_EQ(empty.TransferState, 1);
    EXPECT_EQ(fine.TransferState, 1);
    for (const TTrackItem* track : {&refused, &gone, &empty})
        EXPECT_EQ(track->ITunesSourceId, -1);
    EXPECT_EQ(Waits, (std::vector<int>{100, 100, 200, 200, 200, 200, 200, 200}));
}

TEST_F(ITunesRestoreTest, RebuildsOrdinaryPlaylistsWithTheirNames) {
    // Restored in an earlier run: this run did not copy it, but it keeps its ids.
    size_t earlier = Library.AddTrack(LibraryTrack("Five", "Band", ""));
    TTrackItem& five = Copied("Five", "Band", 5);
    five.TransferState = 0;
    const itunes::TITObjectIDs ids = Library.IdsOf(earlier);
    five.ITunesSourceId = ids.SourceID;
    five.ITunesPlaylistId = ids.PlaylistID;
    five.ITunesTrackId = ids.TrackID;
    five.ITunesDatabaseId = ids.DatabaseID;
    Copied("One", "Band", 1);
    Copied("Two", "Band", 2);
    TTrackItem& unchecked = Copied("Three", "Band", 3);
    unchecked.Checked = false;
    Copied("Four", "Band", 4).TransferState = 0;  // never reached the library
    Playlist("Road", {2, 99, 1, 3, 4, 5, 1});
    Playlist("Recent", {1, 2}, /*smart=*/true);
    Playlist("Empty", {});
    Music.PlayLists.Items(0).TrackPids = {1, 2, 3, 4, 5};

    EXPECT_EQ(Restore(), 2);

    EXPECT_EQ(Log(), RunLog({kSyncBegin, Summary("2, 2, 0. Pl: 2")}));
    // Neither the device's library playlist nor its smart playlist is restored.
    EXPECT_EQ(Library.PlaylistNames(), (std::vector<std::string>{"Library", "Road", "Empty"}));
    EXPECT_EQ(Library.EntryNames("Road"), (std::vector<std::string>{"Two", "One", "Five"}));
    EXPECT_EQ(Library.Playlists()[1].Kind, itunes::ITPlaylistKindUser);
}

TEST_F(ITunesRestoreTest, FillsTheFirstOrdinaryPlaylistOfTheName) {
    size_t one = Library.AddTrack(LibraryTrack("One", "Band", ""));
    Library.AddPlaylist(LibraryPlaylist("Mix", false, /*folder=*/true));
    Library.AddPlaylist(LibraryPlaylist("mix", /*smart=*/true));
    Library.AddPlaylist(LibraryPlaylist("MIX", false, false, {one}));
    Library.AddPlaylist(LibraryPlaylist("Party", false, /*folder=*/true));
    TTrackItem& device = Copied("One", "Band", 1);
    device.TransferState = 0;
    device.ITunesSourceId = Library.IdsOf(one).SourceID;
    device.ITunesPlaylistId = Library.IdsOf(one).PlaylistID;
    device.ITunesTrackId = Library.IdsOf(one).TrackID;
    device.ITunesDatabaseId = Library.IdsOf(one).DatabaseID;
    Copied("Two", "Band", 2);
    Playlist("Mix", {1, 2});
    Playlist("Party", {2});
    Playlist("library", {1});  // the library's own playlist is no user playlist

    EXPECT_EQ(Restore(), 1);

    EXPECT_EQ(Log(), RunLog({kSyncBegin, Summary("1, 1, 0. Pl: 3")}));
    const auto& playlists = Library.Playlists();
    ASSERT_EQ(playlists.size(), 7u);
    EXPECT_TRUE(playlists[1].Entries.empty());
    EXPECT_TRUE(playlists[2].Entries.empty());
    EXPECT_EQ(Library.EntryNames("MIX"), (std::vector<std::string>{"One", "Two"}));
    EXPECT_TRUE(playlists[4].Entries.empty());
    EXPECT_EQ(playlists[5].Name, "Party");
    EXPECT_EQ(playlists[5].SpecialKind, 0);
    EXPECT_FALSE(playlists[5].Smart);
    EXPECT_EQ(playlists[5].Entries, (std::vector<size_t>{1}));
    EXPECT_EQ(playlists[6].Name, "library");
    EXPECT_EQ(playlists[6].Entries, (std::vector<size_t>{0}));
}

TEST_F(ITunesRestoreTest, SecondTrackOfATitleInAPlaylistIsTakenAsPresent) {
    Copied("Intro", "First Band", 1);
    Copied("Intro", "Second Band", 2);
    Playlist("Both", {1, 2});

    EXPECT_EQ(Restore(), 2);

    EXPECT_EQ(Log(), RunLog({kSyncBegin, Summary("2, 2, 0. Pl: 1")}));
    const TMemoryPlaylist& both = Library.Playlists().at(1);
    ASSERT_EQ(both.Entries.size(), 1u);
    EXPECT_EQ(Library.Tracks()[both.Entries[0]].Artist, "First Band");
}

TEST_F(ITunesRestoreTest, StopRequestBeforeTheFirstTrackStillConnectsAndSummarises) {
    Copied("One", "Band", 1);
    Playlist("Road", {1});
    Music.Cancelled = true;

    EXPECT_EQ(Restore(), 0);

    EXPECT_EQ(Log(), RunLog({kSyncBegin, Summary("0, 0, 0. Pl: 0")}));
    EXPECT_TRUE(Library.Minimized());
    EXPECT_TRUE(Library.Tracks().empty());
    EXPECT_EQ(Library.PlaylistNames().size(), 1u);
}

TEST_F(ITunesRestoreTest, StopRequestBetweenTracksEndsBeforeThePlaylists) {
    Copied("One", "Band", 1);
    Copied("Two", "Band", 2);
    Playlist("Road", {1, 2});
    OnWait = [this](int) { Music.Cancelled = true; };

    EXPECT_EQ(Restore(), 1);

    EXPECT_EQ(Log(), RunLog({kSyncBegin, Summary("1, 1, 0. Pl: 0")}));
    EXPECT_EQ(Library.Tracks().size(), 1u);
    EXPECT_EQ(Library.Calls(TLibraryCall::LibrarySource), 0);
}

TEST_F(ITunesRestoreTest, StopRequestDuringPlaylistEntriesEndsTheRun) {
    Copied("One", "Band", 1);
    Copied("Two", "Band", 2);
    Playlist("First", {1, 2});
    Playlist("Second", {1, 2});
    Playlist("Third", {1});
    Library.Fail(TLibraryCall::AddTrack, 2, 1);
    OnWait = [this](int ms) {
        if (ms == 100)
            Music.Cancelled = true;
    };

    EXPECT_EQ(Restore(), 2);

    // The playlist whose entry failed counts; the next one sees the request at its first entry.
    EXPECT_EQ(Log(), RunLog({kSyncBegin, Summary("2, 2, 0. Pl: 1")}));
    EXPECT_EQ(Library.EntryNames("First"), (std::vector<std::string>{"One"}));
    EXPECT_TRUE(Library.EntryNames("Second").empty());
    EXPECT_EQ(Library.PlaylistNames(), (std::vector<std::string>{"Library", "First", "Second"}));
}

TEST(ITunesRestoreConnect, FailureToConnectLogsTheErrorAndReturnsZero) {
    struct TCase {
        std::function<void(TRestoreBench&)> Setup;
        std::string Error;
    };
    auto fail = [](TLibraryCall call) {
        return [call](TRestoreBench& bench) { bench.Library.Fail(call); };
    };
    const TCase cases[] = {
        {fail(TLibraryCall::Create), "Create failed"},
        {fail(TLibraryCall::Windows), "Windows failed"},
        {fail(TLibraryCall::WindowByName), "Windows.ItemByName failed"},
        {fail(TLibraryCall::Minimized), "Minimized failed"},
        {[](TRestoreBench& bench) { bench.Library.Options().WindowName = "Player"; },
         "The window \"iTunes\" is not available"},
    };
    for (const TCase& test : cases) {
        SCOPED_TRACE(test.Error);
        TRestoreBench bench;
        TTrackItem& track = bench.Copied("One", "Band", 1);
        bench.Playlist("Road", {1});
        test.Setup(bench);

        EXPECT_EQ(bench.Restore(), 0);

        EXPECT_EQ(bench.Log(), RunLog({kSyncBegin, "[X]iTunes error: " + test.Error}));
        EXPECT_TRUE(bench.Library.Tracks().empty());
        EXPECT_EQ(track.TransferState, 1);
        EXPECT_EQ(track.ITunesSourceId, -1);
    }
}

TEST_F(ITunesRestoreTest, NoBackendOnThisPlatformTakesTheITunesErrorPath) {
    Copied("One", "Band", 1);

    EXPECT_EQ(Music.RestoreToITunes(), 0);
    EXPECT_EQ(Log(), RunLog({kSyncBegin,
                             "[X]iTunes error: No media-library automation backend "
                             "is available on this system"}));

    Music.Log.Clear();
    TIpodMusicDb::TRestoreHooks hooks;
    hooks.CreateApp = [] { return std::shared_ptr<itunes::IiTunes>(); };
    EXPECT_EQ(Music.RestoreToITunes(hooks), 0);
    EXPECT_EQ(Log(),
              RunLog({kSyncBegin, "[X]iTunes error: The application object is not available"}));
}

// A failed call on one track costs that track only, after a 100 ms pause.
TEST(ITunesRestoreErrors, ErrorOnOneTrackSkipsIt) {
    struct TCase {
        TLibraryCall Call;
        int Result;
        bool FirstAdded;   // the library took the first file
        bool FirstHasIds;  // the device track got the library's ids
    };
    const TCase cases[] = {
        {TLibraryCall::TrackByName, 1, false, false},   {TLibraryCall::AddFile, 1, false, false},
        {TLibraryCall::InProgress, 1, false, false},    {TLibraryCall::AddedTracks, 1, true, false},
        {TLibraryCall::GetITObjectIDs, 2, true, false}, {TLibraryCall::Rating, 2, true, true},
    };
    for (const TCase& test : cases) {
        SCOPED_TRACE(static_cast<int>(test.Call));
        TRestoreBench bench;
        bench.Library.Options().PollsUntilDone = 0;
        TTrackItem& first = bench.Copied("One", "Band", 1);
        first.Rating = 40;
        first.PlayCount = 3;
        TTrackItem& second = bench.Copied("Two", "Band", 2);
        bench.Library.Fail(test.Call, 1, 1);

        EXPECT_EQ(bench.Restore(), test.Result);

        EXPECT_EQ(bench.Log(),
                  RunLog({kSyncBegin, Summary(std::to_string(test.Result) + ", " +
                                              std::to_string(test.Result) + ", 0. Pl: 0")}));
        EXPECT_EQ(bench.Waits, std::vector<int>{100});
        EXPECT_EQ(first.TransferState, 1);
        EXPECT_EQ(first.ITunesSourceId != -1, test.FirstHasIds);
        ASSERT_EQ(bench.Library.Tracks().size(), test.FirstAdded ? 2u : 1u);
        EXPECT_EQ(bench.Library.Tracks().back().Name, "Two");
        EXPECT_NE(second.ITunesSourceId, -1);
        // The played count is set after the rating, so a failed rating leaves it unset.
        if (test.FirstAdded) {
            EXPECT_EQ(bench.Library.Tracks()[0].PlayedCount, 0);
        }
    }
}

TEST(ITunesRestoreErrors, OtherErrorsLogTheVersionAndEndWithTheSummary) {
    struct TCase {
        const char* Name;
        std::function<void(TMemoryMediaLibrary&)> Setup;
        std::string Error;
        int Result;
        std::string Counts;
    };
    const TCase cases[] = {
        {"library playlist",
         [](TMemoryMediaLibrary& library) { library.Fail(TLibraryCall::LibraryPlaylist); },
         "LibraryPlaylist failed\r\nVer: 12.13.0 (memory)", 0, "0, 0, 0. Pl: 0"},
        {"playlist collection",
         [](TMemoryMediaLibrary& library) { library.Fail(TLibraryCall::Playlists); },
         "Playlists failed\r\nVer: 12.13.0 (memory)", 2, "2, 2, 0. Pl: 0"},
        {"second playlist creation",
         [](TMemoryMediaLibrary& library) { library.Fail(TLibraryCall::CreatePlaylist, 2); },
         "CreatePlaylist failed\r\nVer: 12.13.0 (memory)", 2, "2, 2, 0. Pl: 1"},
        {"playlist names",
         [](TMemoryMediaLibrary& library) {
             library.AddPlaylist(LibraryPlaylist("Other"));
             library.Fail(TLibraryCall::Name);
         },
         "Name failed\r\nVer: 12.13.0 (memory)", 2, "2, 2, 0. Pl: 0"},
        // A library that cannot tell its version still gets the error line and the summary.
        {"version too",
         [](TMemoryMediaLibrary& library) {
             library.Fail(TLibraryCall::LibrarySource);
             library.Fail(TLibraryCall::Version);
         },
         "LibrarySource failed\r\nVer: ", 2, "2, 2, 0. Pl: 0"},
    };
    for (const TCase& test : cases) {
        SCOPED_TRACE(test.Name);
        TRestoreBench bench;
        bench.Library.Options().PollsUntilDone = 0;
        bench.Copied("One", "Band", 1);
        bench.Copied("Two", "Band", 2);
        bench.Playlist("Road", {1, 2});
        bench.Playlist("Home", {2});
        bench.Playlist("Work", {1});
        test.Setup(bench.Library);

        EXPECT_EQ(bench.Restore(), test.Result);

        EXPECT_EQ(bench.Log(),
                  RunLog({kSyncBegin, "[X]Sync error: " + test.Error, Summary(test.Counts)}));
    }
}

TEST_F(ITunesRestoreTest, EntryErrorEndsOnlyThatPlaylist) {
    Copied("One", "Band", 1);
    Copied("Two", "Band", 2);
    Copied("Three", "Band", 3);
    Playlist("First", {1, 2, 3});
    Playlist("Second", {3, 2});
    Library.Options().PollsUntilDone = 0;
    Library.Fail(TLibraryCall::AddTrack, 2, 1);

    EXPECT_EQ(Restore(), 3);

    EXPECT_EQ(Log(), RunLog({kSyncBegin, Summary("3, 3, 0. Pl: 2")}));
    EXPECT_EQ(Library.EntryNames("First"), (std::vector<std::string>{"One"}));
    EXPECT_EQ(Library.EntryNames("Second"), (std::vector<std::string>{"Three", "Two"}));
    EXPECT_EQ(Waits, std::vector<int>{100});
}

TEST_F(ITunesRestoreTest, IdsTheLibraryNoLongerKnowsCostOnlyTheirEntry) {
    TTrackItem& removed = Copied("Removed", "Band", 1);
    removed.TransferState = 0;
    removed.ITunesSourceId = TMemoryMediaLibrary::kSourceId;
    removed.ITunesPlaylistId = TMemoryMediaLibrary::kLibraryPlaylistId;
    removed.ITunesTrackId = 50;
    removed.ITunesDatabaseId = TMemoryMediaLibrary::kDatabaseIdBase + 50;
    Copied("Two", "Band", 2);
    Playlist("Road", {1, 2});

    EXPECT_EQ(Restore(), 1);

    EXPECT_EQ(Log(), RunLog({kSyncBegin, Summary("1, 1, 0. Pl: 1")}));
    EXPECT_EQ(Library.EntryNames("Road"), (std::vector<std::string>{"Two"}));
}

TEST_F(ITunesRestoreTest, PlaylistTheLibraryCannotCreateIsNotCounted) {
    Library.AddPlaylist(LibraryPlaylist("Known"));
    Copied("One", "Band", 1);
    Playlist("New", {1});
    Playlist("Known", {1});
    Library.Options().CreateGivesNothing = true;

    EXPECT_EQ(Restore(), 1);

    EXPECT_EQ(Log(), RunLog({kSyncBegin, Summary("1, 1, 0. Pl: 1")}));
    EXPECT_EQ(Library.EntryNames("Known"), (std::vector<std::string>{"One"}));
}

TEST_F(ITunesRestoreTest, AddThatNeverFinishesIsGivenUp) {
    Library.Options().PollsUntilDone = INT_MAX;
    TTrackItem& stuck = Copied("Stuck", "Band", 1);

    EXPECT_EQ(Restore(/*maxAddPolls=*/5), 0);

    EXPECT_EQ(Log(), RunLog({kSyncBegin, Summary("0, 0, 0. Pl: 0")}));
    EXPECT_EQ(Waits, (std::vector<int>{200, 200, 200, 200, 200, 100}));
    EXPECT_EQ(stuck.TransferState, 1);
    EXPECT_EQ(stuck.ITunesSourceId, -1);
}

}  // namespace
}  // namespace corvane
