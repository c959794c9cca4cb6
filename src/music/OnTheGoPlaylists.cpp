// The device's On-The-Go playlists, added after its own playlists: the binary OTGPlaylistInfo
// files, then the Playlist_<ID>.plist files, which may also rename, refill or delete a playlist
// of iTunesDB. Made on the device and not yet synced, they are kept like any other playlist.
#include <algorithm>
#include <limits>
#include <unordered_map>
#include <unordered_set>

#include "base/MemoryStream.h"
#include "device/iPodDev.h"
#include "music/OnTheGo.h"
#include "music/iPodMusic.h"

namespace corvane {

namespace {

// OTGPlaylistInfo, OTGPlaylistInfo_1, ... end at the first missing one; no device keeps this
// many.
constexpr int kMaxOnTheGoFiles = 1000;

std::string ITunesFolder(TIpodDevice& device) {
    return device.IsIos() ? "/iTunes_Control/iTunes/" : "/iPod_Control/iTunes/";
}

// "On-The-Go 1", "On-The-Go 2", ...: the next number whose name no playlist has yet.
class TOnTheGoNames {
public:
    explicit TOnTheGoNames(const TPlayLists& playlists) {
        for (const TPlayListItem& playlist : playlists)
            FTaken.insert(playlist.Name);
    }
    std::string Next() {
        std::string name;
        do {
            name = "On-The-Go " + std::to_string(++FNumber);
        } while (FTaken.count(name) != 0);
        FTaken.insert(name);
        return name;
    }

private:
    std::unordered_set<std::string> FTaken;
    int FNumber = 0;
};

void Fill(TPlayListItem& playlist, std::vector<uint64_t> pids) {
    playlist.TrackPids = std::move(pids);
    playlist.Count = static_cast<int32_t>(playlist.TrackPids.size());
    playlist.IsOnTheGo = true;
    playlist.IsSmart = false;
}

}  // namespace

int TIpodMusicDb::ReadOnTheGoPlaylists() {
    // Index 0 is the library playlist: a database without one leaves no place for these.
    if (PlayLists.Empty())
        return 0;
    const std::string folder = ITunesFolder(Device);
    TOnTheGoNames names(PlayLists);
    int changed = 0;

    // The binary files: entries are positions in the iTunesDB track list.
    TMemoryStream stream;
    for (int k = 0; k < kMaxOnTheGoFiles; ++k) {
        const std::string file =
            k == 0 ? "OTGPlaylistInfo" : "OTGPlaylistInfo_" + std::to_string(k);
        if (!Device.ReadIfPresent(folder + file, stream))
            break;
        const TOnTheGoFile list = ParseOnTheGoFile({stream.Data(), stream.Size()});
        if (!list.Damage.empty()) {
            AddLog(file + " " + list.Damage + "; it is ignored");
            continue;
        }
        std::vector<uint64_t> pids;
        pids.reserve(list.TrackIndexes.size());
        size_t outside = 0;
        for (uint32_t index : list.TrackIndexes) {
            const TTrackItem* track =
                index <= static_cast<uint32_t>(std::numeric_limits<int>::max())
                    ? Tracks.Find(static_cast<int>(index))
                    : nullptr;
            if (track != nullptr) {
                pids.push_back(static_cast<uint64_t>(track->Pid));
            } else {
                ++outside;
            }
        }
        if (outside > 0)
            AddLog(file + ": " + std::to_string(outside) +
                   (outside == 1 ? " entry names" : " entries name") + " no track");
        // The device always keeps the current list, empty or not; an empty one is nothing to
        // keep.
        if (pids.empty())
            continue;
        TPlayListItem& playlist = PlayLists.Add();
        playlist.Name = names.Next();
        Fill(playlist, std::move(pids));
        ++changed;
    }

    // The property-list form: entries are persistent ids, and a playlist may be one of iTunesDB.
    std::vector<std::string> files;
    Device.ListFolderFiles(folder, files);
    std::erase_if(files, [](const std::string& name) { return !IsDevicePlaylistFileName(name); });
    if (files.empty())
        return changed;
    std::sort(files.begin(), files.end());
    std::vector<TDevicePlaylist> lists;
    for (const std::string& file : files) {
        std::optional<std::string> xml = Device.ReadPlistXml(folder + file);
        TDevicePlaylist list = xml ? ParseDevicePlaylist(*xml) : TDevicePlaylist{};
        if (!xml) {
            AddLog(file + " cannot be read as a property list; it is ignored");
        } else if (!list.Damage.empty()) {
            AddLog(file + " " + list.Damage + "; it is ignored");
        } else {
            lists.push_back(std::move(list));
        }
    }
    std::stable_sort(lists.begin(), lists.end(),
                     [](const TDevicePlaylist& a, const TDevicePlaylist& b) {
                         return a.SavedIndex < b.SavedIndex;
                     });
    std::unordered_map<uint64_t, int64_t> pidOf;
    pidOf.reserve(static_cast<size_t>(Tracks.Count()));
    for (const TTrackItem& track : Tracks) {
        if (track.PersistentId != 0)
            pidOf.emplace(track.PersistentId, track.Pid);
    }
    for (TDevicePlaylist& list : lists) {
        // The library playlist (index 0) is never replaced.
        int existing = -1;
        for (int i = 1; i < PlayLists.Count() && list.PersistentId != 0; ++i) {
            if (PlayLists.Items(i).PersistentId == list.PersistentId) {
                existing = i;
                break;
            }
        }
        if (list.Deleted) {
            if (existing > 0) {
                PlayLists.Remove(existing);
                ++changed;
            }
            continue;
        }
        std::vector<uint64_t> pids;
        pids.reserve(list.TrackPersistentIds.size());
        for (uint64_t id : list.TrackPersistentIds) {
            if (auto found = pidOf.find(id); found != pidOf.end())
                pids.push_back(static_cast<uint64_t>(found->second));
        }
        TPlayListItem& playlist = existing > 0 ? PlayLists.Items(existing) : PlayLists.Add();
        // A name given on the device wins over the one the last sync wrote.
        if (!list.Name.empty()) {
            playlist.Name = list.Name;
        } else if (existing < 0) {
            playlist.Name = names.Next();
        }
        playlist.PersistentId = list.PersistentId;
        Fill(playlist, std::move(pids));
        ++changed;
    }
    return changed;
}

}  // namespace corvane
