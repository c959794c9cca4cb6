// Feeds arbitrary bytes to the streaming reader of PlayCounts.plist, which newer iPods write: no
// input may crash, hang or keep more than the limit of entries. Where libxml2's document tree
// also takes a plain ASCII document, the entries must be those that walking the tree gives.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/Text.h"
#include "music/PlayCounts.h"
#include "music/XmlPlist.h"

namespace {

using corvane::TPlayDelta;

std::optional<int64_t> TreeInteger(const xmlNode* node) {
    if (corvane::IsElement(node, "integer"))
        return corvane::ParseInt64(corvane::Trim(corvane::ElementText(node)));
    if (corvane::IsElement(node, "real")) {
        const std::string text = corvane::Trim(corvane::ElementText(node));
        char* end = nullptr;
        const double value = std::strtod(text.c_str(), &end);
        if (end == text.c_str() || *end != '\0' || !std::isfinite(value) || value < -9.2e18 ||
            value > 9.2e18)
            return std::nullopt;
        return static_cast<int64_t>(value);
    }
    return std::nullopt;
}

uint32_t TreeCount(std::optional<int64_t> value) {
    return value ? static_cast<uint32_t>(std::clamp<int64_t>(*value, 0, UINT32_MAX)) : 0;
}

// The entries by the tree: nothing when the tree has no tracks array.
std::optional<std::vector<TPlayDelta>> TreeEntries(const corvane::TXmlPlist& plist) {
    const xmlNode* tracks = nullptr;
    if (const xmlNode* top = plist.TopDict()) {
        for (const corvane::TPlistPair& pair : corvane::DictPairs(top).Pairs) {
            if (pair.Key == "tracks")
                tracks = pair.Value;
        }
    }
    if (!corvane::IsElement(tracks, "array"))
        return std::nullopt;
    std::vector<TPlayDelta> entries;
    for (const xmlNode* node : corvane::ChildElements(tracks)) {
        if (!corvane::IsElement(node, "dict"))
            continue;
        TPlayDelta entry;
        bool identified = false;
        for (const corvane::TPlistPair& pair : corvane::DictPairs(node).Pairs) {
            const std::optional<int64_t> value = TreeInteger(pair.Value);
            if (pair.Key == "persistentID" && value) {
                entry.PersistentId = static_cast<uint64_t>(*value);
                identified = true;
            } else if (pair.Key == "playCount") {
                entry.Plays = TreeCount(value);
            } else if (pair.Key == "skipCount") {
                entry.Skips = TreeCount(value);
            } else if (pair.Key == "playMacOSDate") {
                entry.LastPlayedMac = TreeCount(value);
            } else if (pair.Key == "bookmarkTimeInMS") {
                entry.BookmarkMs = TreeCount(value);
            } else if (pair.Key == "userRating" && value) {
                entry.Rating = static_cast<uint8_t>(std::clamp<int64_t>(*value, 0, 100));
            } else if (pair.Key == "deleted") {
                entry.Deleted = corvane::IsElement(pair.Value, "true");
            }
        }
        if (identified)
            entries.push_back(entry);
    }
    return entries;
}

bool Same(const TPlayDelta& a, const TPlayDelta& b) {
    return a.PersistentId == b.PersistentId && a.Plays == b.Plays && a.Skips == b.Skips &&
           a.LastPlayedMac == b.LastPlayedMac && a.BookmarkMs == b.BookmarkMs &&
           a.Rating == b.Rating && a.Deleted == b.Deleted;
}

// Documents both readers take the same way: ASCII without NUL, no declared encoding (libxml2
// converts from it) and no namespaces (its tree names elements without their prefix).
bool Comparable(std::string_view xml) {
    for (char c : xml) {
        if (c == '\0' || static_cast<unsigned char>(c) >= 0x80)
            return false;
    }
    return xml.find("encoding") == std::string_view::npos &&
           xml.find("xmlns") == std::string_view::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view xml(reinterpret_cast<const char*>(data), size);
    const corvane::TPlayDeltas read = corvane::ParsePlayCountsPlist(xml);
    if (!read.Damage.empty() && !read.Entries.empty())
        __builtin_trap();
    if (read.Entries.size() > corvane::kMaxPlayDeltas)
        __builtin_trap();
    for (const TPlayDelta& entry : read.Entries) {
        if (entry.Rating && *entry.Rating > 100)
            __builtin_trap();
    }
    if (!read.Damage.empty() || !Comparable(xml))
        return 0;
    const corvane::TXmlPlist plist(xml.data(), xml.size());
    if (!plist.Ok())
        return 0;
    const std::optional<std::vector<TPlayDelta>> tree = TreeEntries(plist);
    if (!tree || tree->size() != read.Entries.size())
        __builtin_trap();
    for (size_t i = 0; i < tree->size(); ++i) {
        if (!Same((*tree)[i], read.Entries[i]))
            __builtin_trap();
    }
    return 0;
}
