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

// "Play Counts" read in place: the header is checked once, an entry decoded when asked for,
// so a merge walks the file's bytes beside the tracks without a copy of its own.
class TPlayCountsFile {
public:
    explicit TPlayCountsFile(std::span<const uint8_t> bytes);
    // Why the file is to be ignored; empty when its entries can be read.
    const std::string& Damage() const { return FDamage; }
    size_t Count() const { return FCount; }
    // Entry index < Count().
    TPlayDelta Entry(size_t index) const;

private:
    uint32_t U32(size_t offset) const;

    std::span<const uint8_t> FBytes;
    bool FBigEndian = false;
    uint32_t FHeaderLength = 0;
    uint32_t FEntryLength = 0;
    size_t FCount = 0;
    std::string FDamage;
};

// The same, every entry read.
TPlayDeltas ParsePlayCounts(std::span<const uint8_t> bytes);
TPlayDeltas ParseITunesStats(std::span<const uint8_t> bytes);
TPlayDeltas ParsePlayCountsPlist(std::string_view xml);

}  // namespace corvane
