// Plays, skips and ratings made on the device since its last sync, merged into the tracks that
// iTunesDB gave: "Play Counts" (or a shuffle's iTunesStats) by track position, PlayCounts.plist
// by persistent id. The device keeps the file until a sync deletes it, so it is only read.
#include <algorithm>
#include <limits>
#include <optional>
#include <span>
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

// Each track lies in its own block, where the processor does not look ahead: asked for a few
// tracks early, the walk does not wait on every one.
constexpr size_t kPrefetchAhead = 16;

// The merged and the linked fields lie together, from Rating to Cover.
void PrefetchWalkedFields(const TTrackItem& track) {
    __builtin_prefetch(&track.Rating, 1);
    __builtin_prefetch(&track.Cover, 1);
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

int TIpodMusicDb::MergePlaysSinceSync(const TArtworkIndex* covers) {
    const std::string folder = ITunesFolder(Device);
    TMemoryStream stream;
    std::string source = "Play Counts";
    TPlayDeltas deltas;
    // "Play Counts", the usual file, is read where it lies instead.
    std::optional<TPlayCountsFile> playCounts;
    bool byPosition = true;
    // False when there is nothing to merge; the covers are linked all the same.
    bool read = true;
    if (Device.ReadIfPresent(folder + source, stream)) {
        playCounts.emplace(std::span<const uint8_t>(stream.Data(), stream.Size()));
        deltas.Damage = playCounts->Damage();
    } else if (source = "iTunesStats"; Device.ReadIfPresent(folder + source, stream)) {
        deltas = ParseITunesStats({stream.Data(), stream.Size()});
    } else if (source = "PlayCounts.plist"; Device.FileExistsOnDevice(folder + source)) {
        byPosition = false;
        std::optional<std::string> xml = Device.ReadPlistXml(folder + source);
        if (xml) {
            deltas = ParsePlayCountsPlist(*xml);
        } else {
            // The device session's log says why (a binary list without a converter).
            AddLog(source + " cannot be read as a property list; it is ignored");
            read = false;
        }
    } else {
        read = false;
    }
    if (read && !deltas.Damage.empty()) {
        AddLog(source + " " + deltas.Damage + "; it is ignored");
        read = false;
    }
    if (!read) {
        deltas.Entries.clear();
        playCounts.reset();
        byPosition = true;
    }
    const size_t entries = playCounts ? playCounts->Count() : deltas.Entries.size();

    std::optional<TCoverFinder> finder;
    if (covers != nullptr)
        finder.emplace(covers->Images);
    const size_t tracks = static_cast<size_t>(Tracks.Count());
    // One walk over the tracks merges the entries that go by position and links the covers:
    // a library's tracks are read from memory once, not once for each.
    const size_t merged = byPosition ? std::min(entries, tracks) : 0;
    std::unordered_map<uint64_t, int> byId;
    if (!byPosition)
        byId.reserve(tracks);
    size_t changed = 0;
    if (merged > 0 || finder || !byPosition) {
        auto ahead = Tracks.begin();
        for (size_t i = 0; i < kPrefetchAhead && ahead != Tracks.end(); ++i)
            ++ahead;
        size_t i = 0;
        for (TTrackItem& track : Tracks) {
            if (ahead != Tracks.end())
                PrefetchWalkedFields(*ahead++);
            if (i < merged)
                changed += Apply(track, playCounts ? playCounts->Entry(i) : deltas.Entries[i],
                                 DeviceClockShift);
            else if (!byPosition && track.PersistentId != 0)
                byId.emplace(track.PersistentId, static_cast<int>(i));  // keeps the first
            if (finder)
                track.Cover = finder->CoverOf(track.ArtworkLink, track.PersistentId);
            ++i;
        }
    }
    if (!read)
        return 0;

    std::string note;
    if (byPosition) {
        // Entry i counts for the i-th track of iTunesDB.
        if (entries != tracks)
            note = " (" + EntryCount(entries) + " for " + TrackCount(tracks) + ")";
    } else {
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
