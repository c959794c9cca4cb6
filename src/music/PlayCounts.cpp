#include "music/PlayCounts.h"

#include <algorithm>
#include <bit>
#include <cmath>

#include "base/ByteReader.h"
#include "base/Text.h"
#include "music/XmlPlist.h"

namespace corvane {
namespace {

// "Play Counts": mhdp header, then fixed-length entries.
constexpr size_t kPlayCountsHeaderFields = 16;
constexpr uint32_t kMinPlayCountsHeader = 0x60;
constexpr uint32_t kMinPlayCountsEntry = 0x0c;
constexpr uint32_t kEntryWithRating = 0x10;
constexpr uint32_t kEntryWithSkips = 0x1c;

// iTunesStats: 2nd-generation shuffles write 3-byte fields, the later ones 4-byte fields.
constexpr size_t kOldStatsStart = 6;
constexpr uint32_t kOldStatsMinEntry = 18;
constexpr size_t kNewStatsStart = 8;
constexpr uint32_t kNewStatsMinEntry = 32;

uint8_t Rating(uint64_t value) {
    return static_cast<uint8_t>(std::min<uint64_t>(value, 100));
}

std::string Announces(uint64_t count, std::string_view what, size_t size) {
    return "announces " + std::to_string(count) + " " + std::string(what) + ", more than its " +
           std::to_string(size) + " bytes hold";
}

uint32_t U24(const TByteReader& data, size_t offset) {
    auto low = data.ReadU16(offset);
    auto high = data.ReadU8(offset + 2);
    return low && high ? (uint32_t{*high} << 16) | *low : 0;
}

// One iTunesStats form read whole; Damage set when the file is not of this form.
TPlayDeltas ReadStats(const TByteReader& data, bool oldForm) {
    TPlayDeltas result;
    const size_t start = oldForm ? kOldStatsStart : kNewStatsStart;
    const uint32_t minEntry = oldForm ? kOldStatsMinEntry : kNewStatsMinEntry;
    const uint64_t count = oldForm ? U24(data, 0) : data.ReadU32(0).value_or(0);
    if (!data.Has(0, start)) {
        result.Damage = "is too short (" + std::to_string(data.Size()) + " bytes)";
        return result;
    }
    // Every entry holds at least minEntry bytes: a count the file cannot hold is damage.
    if (count > kMaxPlayDeltas || count > data.Left(start) / minEntry) {
        result.Damage = Announces(count, "entries", data.Size());
        return result;
    }
    result.Entries.reserve(static_cast<size_t>(count));
    size_t position = start;
    for (uint64_t i = 0; i < count; ++i) {
        const uint32_t length = oldForm ? U24(data, position) : data.ReadU32(position).value_or(0);
        if (length < minEntry || !data.Has(position, length)) {
            result.Damage = "entry " + std::to_string(i) + " has a length of " +
                            std::to_string(length) + " bytes";
            result.Entries.clear();
            return result;
        }
        TPlayDelta& entry = result.Entries.emplace_back();
        if (oldForm) {
            entry.BookmarkMs = U24(data, position + 3);
            entry.Plays = U24(data, position + 12);
            entry.Skips = U24(data, position + 15);
        } else {
            entry.BookmarkMs = data.ReadU32(position + 4).value_or(0);
            entry.Plays = data.ReadU32(position + 8).value_or(0);
            entry.LastPlayedMac = data.ReadU32(position + 12).value_or(0);
            entry.Skips = data.ReadU32(position + 16).value_or(0);
        }
        position += length;
    }
    return result;
}

size_t StatsEnd(const TPlayDeltas& read, bool oldForm, const TByteReader& data) {
    size_t position = oldForm ? kOldStatsStart : kNewStatsStart;
    for (size_t i = 0; i < read.Entries.size(); ++i)
        position += oldForm ? U24(data, position) : data.ReadU32(position).value_or(0);
    return position;
}

std::optional<int64_t> IntegerValue(const xmlNode* node) {
    if (IsElement(node, "integer"))
        return ParseInt64(Trim(ElementText(node)));
    if (IsElement(node, "real")) {
        const std::string text = Trim(ElementText(node));
        char* end = nullptr;
        const double value = std::strtod(text.c_str(), &end);
        if (end == text.c_str() || *end != '\0' || !std::isfinite(value) || value < -9.2e18 ||
            value > 9.2e18)
            return std::nullopt;
        return static_cast<int64_t>(value);
    }
    return std::nullopt;
}

uint32_t Count(std::optional<int64_t> value) {
    return value ? static_cast<uint32_t>(std::clamp<int64_t>(*value, 0, UINT32_MAX)) : 0;
}

}  // namespace

TPlayDeltas ParsePlayCounts(std::span<const uint8_t> bytes) {
    TPlayDeltas result;
    TByteReader data(bytes);
    if (!data.Has(0, kPlayCountsHeaderFields)) {
        result.Damage = "is too short (" + std::to_string(bytes.size()) + " bytes)";
        return result;
    }
    // Written in the device's byte order: a big-endian one shows the tag reversed.
    if (!data.TagIs(0, "mhdp")) {
        if (!data.TagIs(0, "pdhm")) {
            result.Damage = "does not begin with mhdp";
            return result;
        }
        data = TByteReader(bytes, std::endian::big);
    }
    const uint32_t headerLength = data.ReadU32(4).value_or(0);
    const uint32_t entryLength = data.ReadU32(8).value_or(0);
    const uint64_t count = data.ReadU32(12).value_or(0);
    if (headerLength < kMinPlayCountsHeader || headerLength > bytes.size()) {
        result.Damage = "has a header of " + std::to_string(headerLength) + " bytes";
        return result;
    }
    if (entryLength < kMinPlayCountsEntry) {
        result.Damage = "has entries of " + std::to_string(entryLength) + " bytes";
        return result;
    }
    if (count > kMaxPlayDeltas || count > data.Left(headerLength) / entryLength) {
        result.Damage = Announces(count, "entries", bytes.size());
        return result;
    }
    result.Entries.resize(static_cast<size_t>(count));
    for (size_t i = 0; i < result.Entries.size(); ++i) {
        const size_t at = headerLength + i * entryLength;
        TPlayDelta& entry = result.Entries[i];
        entry.Plays = data.ReadU32(at).value_or(0);
        entry.LastPlayedMac = data.ReadU32(at + 4).value_or(0);
        entry.BookmarkMs = data.ReadU32(at + 8).value_or(0);
        // The device writes every track's current rating here, unrated ones as 0.
        if (entryLength >= kEntryWithRating)
            entry.Rating = Rating(data.ReadU32(at + 12).value_or(0));
        if (entryLength >= kEntryWithSkips)
            entry.Skips = data.ReadU32(at + 20).value_or(0);
    }
    return result;
}

TPlayDeltas ParseITunesStats(std::span<const uint8_t> bytes) {
    const TByteReader data(bytes);
    // Which shuffle wrote it shows in the file itself: its entries fill it exactly in one form.
    TPlayDeltas newer = ReadStats(data, false);
    TPlayDeltas older = ReadStats(data, true);
    const bool newerFits = newer.Damage.empty() && StatsEnd(newer, false, data) == bytes.size();
    const bool olderFits = older.Damage.empty() && StatsEnd(older, true, data) == bytes.size();
    if (newerFits || (!olderFits && newer.Damage.empty()))
        return newer;
    if (olderFits || older.Damage.empty())
        return older;
    return newer;
}

TPlayDeltas ParsePlayCountsPlist(std::string_view xml) {
    TPlayDeltas result;
    TXmlPlist plist(xml.data(), xml.size());
    if (!plist.Ok()) {
        result.Damage = "is not a property list (" + plist.Error() + ")";
        return result;
    }
    const xmlNode* tracks = nullptr;
    if (const xmlNode* top = plist.TopDict()) {
        for (const TPlistPair& pair : DictPairs(top).Pairs) {
            if (pair.Key == "tracks")
                tracks = pair.Value;
        }
    }
    if (!IsElement(tracks, "array")) {
        result.Damage = "has no list of tracks";
        return result;
    }
    const std::vector<const xmlNode*> entries = ChildElements(tracks);
    if (entries.size() > kMaxPlayDeltas) {
        result.Damage = "lists " + std::to_string(entries.size()) + " tracks";
        return result;
    }
    for (const xmlNode* node : entries) {
        if (!IsElement(node, "dict"))
            continue;
        TPlayDelta entry;
        bool identified = false;
        for (const TPlistPair& pair : DictPairs(node).Pairs) {
            const std::optional<int64_t> value = IntegerValue(pair.Value);
            if (pair.Key == "persistentID" && value) {
                // Written as a signed 64-bit integer.
                entry.PersistentId = static_cast<uint64_t>(*value);
                identified = true;
            } else if (pair.Key == "playCount") {
                entry.Plays = Count(value);
            } else if (pair.Key == "skipCount") {
                entry.Skips = Count(value);
            } else if (pair.Key == "playMacOSDate") {
                entry.LastPlayedMac = Count(value);
            } else if (pair.Key == "bookmarkTimeInMS") {
                entry.BookmarkMs = Count(value);
            } else if (pair.Key == "userRating" && value) {
                entry.Rating = Rating(static_cast<uint64_t>(std::max<int64_t>(*value, 0)));
            } else if (pair.Key == "deleted") {
                entry.Deleted = IsElement(pair.Value, "true");
            }
        }
        if (identified)
            result.Entries.push_back(entry);
    }
    return result;
}

}  // namespace corvane
