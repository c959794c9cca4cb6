// Plays, skips and ratings made on the device since its last sync, merged into the tracks that
// iTunesDB gave: "Play Counts" (or a shuffle's iTunesStats) by track position, PlayCounts.plist
// by persistent id. The device keeps the file until a sync deletes it, so it is only read.
#include <algorithm>
#include <limits>
#include <unordered_map>

#include "base/MemoryStream.h"
#include "device/DeviceClock.h"
#include "device/iPodDev.h"
#include "music/PlayCounts.h"
#include "music/iPodMusic.h"

namespace corvane {

namespace {

int32_t AddCount(int32_t count, uint32_t more) {
    const int64_t sum = int64_t{std::max(count, 0)} + more;
    return static_cast<int32_t>(std::min<int64_t>(sum, std::numeric_limits<int32_t>::max()));
}

// Plays and skips are added; a rating in the entry replaces the track's; a time and a bookmark
// replace the old ones when the entry has them. True when the track changed.
bool Apply(TTrackItem& track, const TPlayDelta& delta, int32_t clockShift) {
    // Fields are compared one by one and written only when they change: most entries repeat
    // the rating and nothing else, and a library of tens of thousands of tracks is loaded
    // faster when those tracks are only read.
    bool changed = false;
    auto set = [&changed](auto& field, auto value) {
        if (field != value) {
            field = value;
            changed = true;
        }
    };
    if (delta.Rating)
        set(track.Rating, *delta.Rating);
    if (delta.Plays == 0 && delta.Skips == 0 && delta.LastPlayedMac == 0 && delta.BookmarkMs == 0)
        return changed;
    set(track.PlayCount, AddCount(track.PlayCount, delta.Plays));
    set(track.SkipCount, AddCount(track.SkipCount, delta.Skips));
    if (delta.LastPlayedMac != 0)
        set(track.LastPlayed, MacTimeToUnix(delta.LastPlayedMac, clockShift));
    if (delta.BookmarkMs != 0)
        set(track.BookmarkMs, delta.BookmarkMs);
    return changed;
}

constexpr size_t kPrefetchAhead = 8;

void PrefetchMergedFields(const TTrackItem& track) {
    __builtin_prefetch(&track.Rating);
    __builtin_prefetch(&track.SkipCount);
}

std::string ITunesFolder(TIpodDevice& device) {
    return device.IsIos() ? "/iTunes_Control/iTunes/" : "/iPod_Control/iTunes/";
}

std::string TrackCount(size_t count) {
    return std::to_string(count) + (count == 1 ? " track" : " tracks");
}

std::string EntryCount(size_t count) {
    return std::to_string(count) + (count == 1 ? " entry" : " entries");
}

}  // namespace

int TIpodMusicDb::MergePlaysSinceSync() {
    const std::string folder = ITunesFolder(Device);
    TMemoryStream stream;
    std::string source = "Play Counts";
    TPlayDeltas deltas;
    bool byPosition = true;
    if (Device.ReadIfPresent(folder + source, stream)) {
        deltas = ParsePlayCounts({stream.Data(), stream.Size()});
    } else if (source = "iTunesStats"; Device.ReadIfPresent(folder + source, stream)) {
        deltas = ParseITunesStats({stream.Data(), stream.Size()});
    } else if (source = "PlayCounts.plist"; Device.FileExistsOnDevice(folder + source)) {
        byPosition = false;
        std::optional<std::string> xml = Device.ReadPlistXml(folder + source);
        if (!xml) {
            // The device session's log says why (a binary list without a converter).
            AddLog(source + " cannot be read as a property list; it is ignored");
            return 0;
        }
        deltas = ParsePlayCountsPlist(*xml);
    } else {
        return 0;
    }
    if (!deltas.Damage.empty()) {
        AddLog(source + " " + deltas.Damage + "; it is ignored");
        return 0;
    }

    size_t changed = 0;
    std::string note;
    if (byPosition) {
        // Entry i counts for the i-th track of iTunesDB.
        const size_t tracks = static_cast<size_t>(Tracks.Count());
        const size_t merged = std::min(deltas.Entries.size(), tracks);
        for (size_t i = 0; i < merged; ++i) {
            // Each track lies in its own block, where the processor does not look ahead: asked
            // for a few tracks early, the merge does not wait on every one.
            if (i + kPrefetchAhead < merged)
                PrefetchMergedFields(Tracks.Items(static_cast<int>(i + kPrefetchAhead)));
            changed +=
                Apply(Tracks.Items(static_cast<int>(i)), deltas.Entries[i], DeviceClockShift);
        }
        if (deltas.Entries.size() != tracks)
            note = " (" + EntryCount(deltas.Entries.size()) + " for " + TrackCount(tracks) + ")";
    } else {
        std::unordered_map<uint64_t, int> byId;
        byId.reserve(static_cast<size_t>(Tracks.Count()));
        for (int i = 0; i < Tracks.Count(); ++i) {
            if (Tracks.Items(i).PersistentId != 0)
                byId.emplace(Tracks.Items(i).PersistentId, i);  // keeps the first
        }
        size_t unknown = 0;
        size_t deleted = 0;
        for (const TPlayDelta& delta : deltas.Entries) {
            if (delta.Deleted) {
                ++deleted;
                continue;
            }
            auto found = byId.find(delta.PersistentId);
            if (found == byId.end()) {
                ++unknown;
                continue;
            }
            changed += Apply(Tracks.Items(found->second), delta, DeviceClockShift);
        }
        if (unknown > 0)
            note += " (" + EntryCount(unknown) + (unknown == 1 ? " names" : " name") + " no track)";
        if (deleted > 0)
            note += " (" + TrackCount(deleted) + " deleted on the device)";
    }
    AddLog(source + ": " + TrackCount(changed) +
           " changed by plays and ratings since the last sync" + note);
    return static_cast<int>(changed);
}

}  // namespace corvane
