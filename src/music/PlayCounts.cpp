#include "music/PlayCounts.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "base/ByteReader.h"
#include "base/Text.h"
#include "music/XmlPullReader.h"

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

// The number in an <integer> or <real> element's text; nothing for any other element.
std::string_view TrimView(std::string_view text) {
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ')
        text.remove_prefix(1);
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ')
        text.remove_suffix(1);
    return text;
}

std::optional<int64_t> IntegerValue(std::string_view element, std::string_view text) {
    if (element == "integer")
        return ParseInt64(TrimView(text));
    if (element == "real") {
        const std::string number = Trim(text);
        char* end = nullptr;
        const double value = std::strtod(number.c_str(), &end);
        if (end == number.c_str() || *end != '\0' || !std::isfinite(value) || value < -9.2e18 ||
            value > 9.2e18)
            return std::nullopt;
        return static_cast<int64_t>(value);
    }
    return std::nullopt;
}

uint32_t Count(std::optional<int64_t> value) {
    return value ? static_cast<uint32_t>(std::clamp<int64_t>(*value, 0, UINT32_MAX)) : 0;
}

// PlayCounts.plist read as it streams by: the top dictionary's "tracks" array of one dictionary
// per track. Dictionaries pair a <key> with the element after it, up to the first place where
// their children stop alternating so; the whole document must be well-formed all the same.
class TPlayCountsPlistWalk {
public:
    explicit TPlayCountsPlistWalk(std::string_view xml) : FReader(xml) {}

    TPlayDeltas Read() {
        TPlayDeltas result;
        const bool read = ReadDocument();
        // Read to the end: a fault anywhere makes the whole file damaged.
        TXmlEvent event = read ? FReader.Next() : TXmlEvent::Error;
        while (event != TXmlEvent::Done && event != TXmlEvent::Error)
            event = FReader.Next();
        if (event == TXmlEvent::Error) {
            result.Damage = "is not a property list (" + FReader.Error() + ")";
        } else if (!FHasTracks) {
            result.Damage = "has no list of tracks";
        } else if (FListed > kMaxPlayDeltas) {
            result.Damage = "lists " + std::to_string(FListed) + " tracks";
        } else {
            result.Entries = std::move(FEntries);
        }
        return result;
    }

private:
    // The root and its first child element, which holds the tracks when it is a <dict>.
    bool ReadDocument() {
        if (!Until(TXmlEvent::Start))
            return false;
        const size_t root = FReader.Depth();
        for (;;) {
            const TXmlEvent event = FReader.Next();
            if (event == TXmlEvent::Error || event == TXmlEvent::Done)
                return false;
            if (event == TXmlEvent::End && FReader.Depth() < root)
                return true;
            if (event != TXmlEvent::Start)
                continue;
            if (FReader.Name() != "dict")
                return Skip();
            return ReadDict(
                [this](const std::string& key) { return key == "tracks" ? ReadTracks() : Skip(); });
        }
    }

    bool Until(TXmlEvent wanted) {
        for (;;) {
            const TXmlEvent event = FReader.Next();
            if (event == wanted)
                return true;
            if (event == TXmlEvent::Error || event == TXmlEvent::Done)
                return false;
        }
    }

    // After an element's Start: on to its End, passing over all it holds.
    bool Skip() {
        const size_t depth = FReader.Depth();
        for (;;) {
            const TXmlEvent event = FReader.Next();
            if (event == TXmlEvent::Error || event == TXmlEvent::Done)
                return false;
            if (event == TXmlEvent::End && FReader.Depth() < depth)
                return true;
        }
    }

    // After an element's Start: the text directly inside it, on to its End.
    bool ReadText(std::string& text) {
        text.clear();
        const size_t depth = FReader.Depth();
        for (;;) {
            const TXmlEvent event = FReader.Next();
            if (event == TXmlEvent::Error || event == TXmlEvent::Done)
                return false;
            if (event == TXmlEvent::Text && FReader.Depth() == depth)
                text.append(FReader.Text());
            if (event == TXmlEvent::End && FReader.Depth() < depth)
                return true;
        }
    }

    // After a <dict>'s Start: value(key) at the Start of each element that follows a key; it
    // reads that element to its End.
    template <typename TValue>
    bool ReadDict(TValue&& value) {
        const size_t depth = FReader.Depth();
        bool pairing = true;
        bool haveKey = false;
        for (;;) {
            const TXmlEvent event = FReader.Next();
            if (event == TXmlEvent::Error || event == TXmlEvent::Done)
                return false;
            if (event == TXmlEvent::End && FReader.Depth() < depth)
                return true;
            if (event != TXmlEvent::Start)
                continue;
            const bool isKey = FReader.Name() == "key";
            if (pairing && !haveKey && isKey) {
                if (!ReadText(FKey))
                    return false;
                haveKey = true;
                continue;
            }
            if (pairing && haveKey && !isKey) {
                haveKey = false;
                if (!value(FKey))
                    return false;
                continue;
            }
            pairing = false;
            if (!Skip())
                return false;
        }
    }

    // After the Start of the "tracks" value: a later "tracks" replaces an earlier one.
    bool ReadTracks() {
        FHasTracks = FReader.Name() == "array";
        FEntries.clear();
        FListed = 0;
        if (!FHasTracks)
            return Skip();
        const size_t depth = FReader.Depth();
        for (;;) {
            const TXmlEvent event = FReader.Next();
            if (event == TXmlEvent::Error || event == TXmlEvent::Done)
                return false;
            if (event == TXmlEvent::End && FReader.Depth() < depth)
                return true;
            if (event != TXmlEvent::Start)
                continue;
            // Past the limit the list is damage: its entries are only counted.
            const bool keep = ++FListed <= kMaxPlayDeltas && FReader.Name() == "dict";
            if (!(keep ? ReadTrack() : Skip()))
                return false;
        }
    }

    bool ReadTrack() {
        TPlayDelta entry;
        bool identified = false;
        const bool read = ReadDict([&](const std::string& key) {
            const std::string_view element = FReader.Name();
            const bool isTrue = element == "true";
            if (!ReadText(FText))
                return false;
            const std::optional<int64_t> value = IntegerValue(element, FText);
            if (key == "persistentID" && value) {
                // Written as a signed 64-bit integer.
                entry.PersistentId = static_cast<uint64_t>(*value);
                identified = true;
            } else if (key == "playCount") {
                entry.Plays = Count(value);
            } else if (key == "skipCount") {
                entry.Skips = Count(value);
            } else if (key == "playMacOSDate") {
                entry.LastPlayedMac = Count(value);
            } else if (key == "bookmarkTimeInMS") {
                entry.BookmarkMs = Count(value);
            } else if (key == "userRating" && value) {
                entry.Rating = Rating(static_cast<uint64_t>(std::max<int64_t>(*value, 0)));
            } else if (key == "deleted") {
                entry.Deleted = isTrue;
            }
            return true;
        });
        if (read && identified)
            FEntries.push_back(entry);
        return read;
    }

    TXmlPullReader FReader;
    std::string FKey;
    std::string FText;
    std::vector<TPlayDelta> FEntries;
    size_t FListed = 0;
    bool FHasTracks = false;
};

}  // namespace

TPlayCountsFile::TPlayCountsFile(std::span<const uint8_t> bytes) : FBytes(bytes) {
    TByteReader data(bytes);
    if (!data.Has(0, kPlayCountsHeaderFields)) {
        FDamage = "is too short (" + std::to_string(bytes.size()) + " bytes)";
        return;
    }
    // Written in the device's byte order: a big-endian one shows the tag reversed.
    if (!data.TagIs(0, "mhdp")) {
        if (!data.TagIs(0, "pdhm")) {
            FDamage = "does not begin with mhdp";
            return;
        }
        FBigEndian = true;
        data = TByteReader(bytes, std::endian::big);
    }
    const uint32_t headerLength = data.ReadU32(4).value_or(0);
    const uint32_t entryLength = data.ReadU32(8).value_or(0);
    const uint64_t count = data.ReadU32(12).value_or(0);
    if (headerLength < kMinPlayCountsHeader || headerLength > bytes.size()) {
        FDamage = "has a header of " + std::to_string(headerLength) + " bytes";
        return;
    }
    if (entryLength < kMinPlayCountsEntry) {
        FDamage = "has entries of " + std::to_string(entryLength) + " bytes";
        return;
    }
    if (count > kMaxPlayDeltas || count > data.Left(headerLength) / entryLength) {
        FDamage = Announces(count, "entries", bytes.size());
        return;
    }
    FHeaderLength = headerLength;
    FEntryLength = entryLength;
    FCount = static_cast<size_t>(count);
}

// Every entry lies inside the bytes: the constructor checked the count against them.
uint32_t TPlayCountsFile::U32(size_t offset) const {
    uint32_t value;
    std::memcpy(&value, FBytes.data() + offset, sizeof value);
    const bool swap = FBigEndian == (std::endian::native == std::endian::little);
    return swap ? __builtin_bswap32(value) : value;
}

TPlayDelta TPlayCountsFile::Entry(size_t index) const {
    const size_t at = FHeaderLength + index * FEntryLength;
    TPlayDelta entry;
    entry.Plays = U32(at);
    entry.LastPlayedMac = U32(at + 4);
    entry.BookmarkMs = U32(at + 8);
    // The device writes every track's current rating here, unrated ones as 0.
    if (FEntryLength >= kEntryWithRating)
        entry.Rating = Rating(U32(at + 12));
    if (FEntryLength >= kEntryWithSkips)
        entry.Skips = U32(at + 20);
    return entry;
}

TPlayDeltas ParsePlayCounts(std::span<const uint8_t> bytes) {
    TPlayDeltas result;
    const TPlayCountsFile file(bytes);
    result.Damage = file.Damage();
    result.Entries.reserve(file.Count());
    for (size_t i = 0; i < file.Count(); ++i)
        result.Entries.push_back(file.Entry(i));
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
    return TPlayCountsPlistWalk(xml).Read();
}

}  // namespace corvane
