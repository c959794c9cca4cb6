// The files in which an iPod counts what happened on it since its last sync: "Play Counts"
// (one entry per track, by position in the iTunesDB track list), iTunesStats of the shuffles
// (the same, in their own layout) and PlayCounts.plist of the newer models (by persistent id).
// Reading only: TIpodMusicDb merges them into its tracks (SinceLastSync.cpp).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

struct TPlayDelta {
    uint32_t Plays = 0;               // plays since the last sync
    uint32_t Skips = 0;               // skips since the last sync
    uint32_t LastPlayedMac = 0;       // Mac time of the device's clock; 0 = none
    uint32_t BookmarkMs = 0;          // 0 = none
    std::optional<uint8_t> Rating{};  // 0..100, when the entry holds one
    uint64_t PersistentId = 0;        // the track it belongs to (PlayCounts.plist only)
    bool Deleted = false;             // the track was deleted on the device (PlayCounts.plist)
};

struct TPlayDeltas {
    std::vector<TPlayDelta> Entries;
    std::string Damage;  // why the file was ignored; empty when it was read
};

// More entries than any iPod holds tracks: a larger count is damage, not a library.
constexpr size_t kMaxPlayDeltas = size_t{1} << 20;

TPlayDeltas ParsePlayCounts(std::span<const uint8_t> bytes);
TPlayDeltas ParseITunesStats(std::span<const uint8_t> bytes);
TPlayDeltas ParsePlayCountsPlist(std::string_view xml);

}  // namespace corvane
