// The restore of copied tracks, their ratings and play counts, and the device's playlists into
// the user's media library, through the automation interface of iTunesLib_TLB.h.
#include <exception>
#include <string>
#include <unordered_map>

#include "base/Text.h"
#include "device/iPodDev.h"
#include "music/iPodMusic.h"
#include "transfer/iTunesLib_TLB.h"

namespace corvane {
namespace {

using namespace itunes;

constexpr int kErrorPauseMs = 100;
constexpr int kPollPauseMs = 200;

// A null where an object is needed fails like a failed call.
template <class T>
std::shared_ptr<T> Need(std::shared_ptr<T> object, const char* what) {
    if (!object)
        throw EITunesError(std::string(what) + " is not available");
    return object;
}

std::shared_ptr<IiTunes> Connect(const TIpodMusicDb::TRestoreHooks& hooks) {
    if (!hooks.CreateApp)
        throw EITunesError(kNoAutomationBackend);
    std::shared_ptr<IiTunes> app = Need(hooks.CreateApp(), "The application object");
    Need(Need(app->Windows(), "The window list")->ItemByName("iTunes"), "The window \"iTunes\"")
        ->SetMinimized(true);
    return app;
}

// The version for an error line; a library that cannot tell it leaves it empty.
std::string VersionText(IiTunes& app) {
    try {
        return app.Version();
    } catch (const std::exception&) {
        return {};
    }
}

void StoreIds(TTrackItem& track, IITObject& object) {
    TITObjectIDs ids = object.GetITObjectIDs();
    track.ITunesSourceId = ids.SourceID;
    track.ITunesPlaylistId = ids.PlaylistID;
    track.ITunesTrackId = ids.TrackID;
    track.ITunesDatabaseId = ids.DatabaseID;
}

// One run over a connected library.
class TRestoreRun {
public:
    TRestoreRun(TIpodMusicDb& music, IiTunes& app, const TIpodMusicDb::TRestoreHooks& hooks)
        : FMusic(music), FApp(app), FHooks(hooks) {}

    // Both return false when the stop request ended the run.
    bool RestoreTracks();
    bool RestorePlaylists();

    int Total = 0;
    int Added = 0;
    int Existing = 0;
    int Playlists = 0;

private:
    bool FoundInLibrary(IITLibraryPlaylist& library, TTrackItem& track);
    void AddTrackFile(IITLibraryPlaylist& library, TTrackItem& track);
    std::shared_ptr<IITUserPlaylist> FindTarget(IITPlaylistCollection& playlists,
                                                const std::string& name);
    bool AddEntries(IITUserPlaylist& target, const TPlayListItem& list,
                    const std::unordered_map<int64_t, int>& byPid);
    void Pause(int milliseconds) {
        if (FHooks.Wait)
            FHooks.Wait(milliseconds);
    }

    TIpodMusicDb& FMusic;
    IiTunes& FApp;
    const TIpodMusicDb::TRestoreHooks& FHooks;
};

bool TRestoreRun::RestoreTracks() {
    std::shared_ptr<IITLibraryPlaylist> library =
        Need(FApp.LibraryPlaylist(), "The library playlist");
    for (TTrackItem& track : FMusic.Tracks) {
        if (FMusic.Cancelled)
            return false;
        if (!track.Checked || track.TransferState != 1)
            continue;
        try {
            if (!FoundInLibrary(*library, track))
                AddTrackFile(*library, track);
        } catch (const std::exception&) {
            Pause(kErrorPauseMs);
        }
    }
    return true;
}

// An equal track: same title, a file track whose file has the device track's size, and the
// same artist. A file that is gone no longer counts, whatever size the device track gives.
bool TRestoreRun::FoundInLibrary(IITLibraryPlaylist& library, TTrackItem& track) {
    std::shared_ptr<IITTrack> found =
        Need(library.Tracks(), "The library's track list")->ItemByName(track.Title);
    if (!found || found->Kind() != ITTrackKindFile)
        return false;
    auto file = std::dynamic_pointer_cast<IITFileOrCDTrack>(found);
    if (!file)
        return false;
    std::string location = file->Location();
    if (location.empty() || !SameText(found->Artist(), track.Artist))
        return false;
    if (track.FileSize < 0 ||
        !TIpodDevice::SameFileSize(location, static_cast<uint64_t>(track.FileSize)))
        return false;
    StoreIds(track, *found);
    ++Total;
    ++Existing;
    return true;
}

void TRestoreRun::AddTrackFile(IITLibraryPlaylist& library, TTrackItem& track) {
    std::shared_ptr<IITOperationStatus> status = library.AddFile(track.DestPath);
    if (!status) {
        Pause(kErrorPauseMs);
        track.TransferState = 2;  // refused: copied, but not for the library
        return;
    }
    for (int polls = 0; status->InProgress(); ++polls) {
        if (polls >= FHooks.MaxAddPolls)
            throw EITunesError("The add of " + track.DestPath + " did not finish");
        Pause(kPollPauseMs);
    }
    std::shared_ptr<IITTrackCollection> added = Need(status->Tracks(), "The added tracks");
    if (added->Count() <= 0)
        return;
    std::shared_ptr<IITTrack> first = Need(added->Item(1), "The added track");
    ++Total;
    ++Added;
    StoreIds(track, *first);
    if (track.Rating > 0)
        first->SetRating(track.Rating);
    if (track.PlayCount > 0)
        first->SetPlayedCount(track.PlayCount);
}

bool TRestoreRun::RestorePlaylists() {
    if (FMusic.Cancelled)
        return false;
    std::shared_ptr<IITPlaylistCollection> playlists =
        Need(Need(FApp.LibrarySource(), "The library source")->Playlists(),
             "The library's playlist list");
    const std::unordered_map<int64_t, int> byPid = FMusic.Tracks.PidIndex();
    // Index 0 is the device's library playlist, which the library has as its own.
    for (int i = 1; i < FMusic.PlayLists.Count(); ++i) {
        const TPlayListItem& list = FMusic.PlayLists.Items(i);
        if (list.IsSmart)
            continue;
        std::shared_ptr<IITUserPlaylist> target = FindTarget(*playlists, list.Name);
        if (!target) {
            target = std::dynamic_pointer_cast<IITUserPlaylist>(FApp.CreatePlaylist(list.Name));
            if (!target)
                continue;
        }
        if (!AddEntries(*target, list, byPid))
            return false;
        ++Playlists;
    }
    return true;
}

// The first ordinary user playlist of that name; folders and smart playlists are passed over.
std::shared_ptr<IITUserPlaylist> TRestoreRun::FindTarget(IITPlaylistCollection& playlists,
                                                         const std::string& name) {
    const int count = playlists.Count();
    for (int k = 1; k <= count; ++k) {
        std::shared_ptr<IITPlaylist> playlist = playlists.Item(k);
        if (!playlist || playlist->Kind() != ITPlaylistKindUser ||
            !SameText(playlist->Name(), name))
            continue;
        auto user = std::dynamic_pointer_cast<IITUserPlaylist>(playlist);
        if (!user || user->SpecialKind() == ITUserPlaylistSpecialKindFolder || user->Smart())
            continue;
        return user;
    }
    return nullptr;
}

// An error ends this playlist's entries; the caller still counts the playlist.
bool TRestoreRun::AddEntries(IITUserPlaylist& target, const TPlayListItem& list,
                             const std::unordered_map<int64_t, int>& byPid) {
    try {
        for (uint64_t entry : list.TrackPids) {
            if (FMusic.Cancelled)
                return false;
            auto found = byPid.find(static_cast<int64_t>(entry));
            if (found == byPid.end())
                continue;
            const TTrackItem& track = FMusic.Tracks.Items(found->second);
            if (!track.Checked || track.ITunesSourceId == -1)
                continue;
            if (Need(target.Tracks(), "The playlist's track list")->ItemByName(track.Title))
                continue;  // a track of that title is there already
            std::shared_ptr<IITObject> object =
                FApp.GetITObjectByID(track.ITunesSourceId, track.ITunesPlaylistId,
                                     track.ITunesTrackId, track.ITunesDatabaseId);
            // Ids the library no longer knows (the track was removed there since) cost this
            // entry only, not the rest of the playlist.
            if (!object)
                continue;
            target.AddTrack(object);
        }
    } catch (const std::exception&) {
        Pause(kErrorPauseMs);
    }
    return true;
}

}  // namespace

int TIpodMusicDb::RestoreToITunes() {
    return RestoreToITunes(TRestoreHooks{});
}

int TIpodMusicDb::RestoreToITunes(const TRestoreHooks& hooks) {
    AddLog("Sync begin...");
    std::shared_ptr<IiTunes> app;
    try {
        app = Connect(hooks);
    } catch (const std::exception& e) {
        AddLog("[X]" + hooks.LibraryName + " error: " + e.what());
        return 0;
    }
    TRestoreRun run(*this, *app, hooks);
    try {
        if (run.RestoreTracks() && PlayLists.Count() > 1)
            run.RestorePlaylists();
    } catch (const std::exception& e) {
        AddLog(std::string("[X]Sync error: ") + e.what() + "\r\nVer: " + VersionText(*app));
    }
    AddLog("Sync done: " + std::to_string(run.Total) + ", " + std::to_string(run.Added) + ", " +
           std::to_string(run.Existing) + ". Pl: " + std::to_string(run.Playlists) + "\r\n");
    return run.Total;
}

}  // namespace corvane
