#include "music/OnTheGo.h"

#include "base/ByteReader.h"
#include "base/Text.h"
#include "music/XmlPlist.h"

namespace corvane {
namespace {

constexpr size_t kHeaderFields = 16;
constexpr uint32_t kMinHeader = 0x14;
constexpr uint32_t kMinEntry = 4;
constexpr size_t kMaxIdLength = 32;

}  // namespace

TOnTheGoFile ParseOnTheGoFile(std::span<const uint8_t> bytes) {
    TOnTheGoFile result;
    const TByteReader data(bytes);
    if (!data.Has(0, kHeaderFields)) {
        result.Damage = "is too short (" + std::to_string(bytes.size()) + " bytes)";
        return result;
    }
    if (!data.TagIs(0, "mhpo")) {
        result.Damage = "does not begin with mhpo";
        return result;
    }
    const uint32_t headerLength = data.ReadU32(4).value_or(0);
    const uint32_t entryLength = data.ReadU32(8).value_or(0);
    const uint64_t count = data.ReadU32(12).value_or(0);
    if (headerLength < kMinHeader || headerLength > bytes.size()) {
        result.Damage = "has a header of " + std::to_string(headerLength) + " bytes";
        return result;
    }
    if (entryLength < kMinEntry) {
        result.Damage = "has entries of " + std::to_string(entryLength) + " bytes";
        return result;
    }
    if (count > kMaxOnTheGoEntries || count > data.Left(headerLength) / entryLength) {
        result.Damage = "announces " + std::to_string(count) + " entries, more than its " +
                        std::to_string(bytes.size()) + " bytes hold";
        return result;
    }
    result.TrackIndexes.reserve(static_cast<size_t>(count));
    for (size_t i = 0; i < count; ++i)
        result.TrackIndexes.push_back(data.ReadU32(headerLength + i * entryLength).value_or(0));
    return result;
}

TDevicePlaylist ParseDevicePlaylist(std::string_view xml) {
    TDevicePlaylist result;
    TXmlPlist plist(xml.data(), xml.size());
    const xmlNode* top = plist.Ok() ? plist.TopDict() : nullptr;
    if (top == nullptr) {
        result.Damage =
            plist.Ok() ? "is not a dictionary" : "is not a property list (" + plist.Error() + ")";
        return result;
    }
    bool identified = false;
    for (const TPlistPair& pair : DictPairs(top).Pairs) {
        const std::string text = Trim(ElementText(pair.Value));
        if (pair.Key == "playlistPersistentID" && IsElement(pair.Value, "integer")) {
            if (auto id = ParseInt64(text)) {
                result.PersistentId = static_cast<uint64_t>(*id);
                identified = true;
            }
        } else if (pair.Key == "savedIndex" && IsElement(pair.Value, "integer")) {
            result.SavedIndex = ParseInt64(text).value_or(0);
        } else if (pair.Key == "name" && IsElement(pair.Value, "string")) {
            result.Name = text;
        } else if (pair.Key == "playlistDeleted") {
            result.Deleted = IsElement(pair.Value, "true");
        } else if (pair.Key == "trackPersistentIds" && IsElement(pair.Value, "array")) {
            const std::vector<const xmlNode*> ids = ChildElements(pair.Value);
            if (ids.size() > kMaxOnTheGoEntries) {
                result.Damage = "lists " + std::to_string(ids.size()) + " tracks";
                return result;
            }
            for (const xmlNode* id : ids) {
                if (auto value =
                        IsElement(id, "integer") ? ParseInt64(Trim(ElementText(id))) : std::nullopt)
                    result.TrackPersistentIds.push_back(static_cast<uint64_t>(*value));
            }
        }
    }
    if (!identified)
        result.Damage = "has no playlistPersistentID";
    return result;
}

bool IsDevicePlaylistFileName(std::string_view name) {
    constexpr std::string_view kPrefix = "Playlist_";
    constexpr std::string_view kSuffix = ".plist";
    if (name.size() <= kPrefix.size() + kSuffix.size() || !StartsWithText(name, kPrefix) ||
        !EndsWithText(name, kSuffix))
        return false;
    const std::string_view id =
        name.substr(kPrefix.size(), name.size() - kPrefix.size() - kSuffix.size());
    if (id.size() > kMaxIdLength)
        return false;
    for (char c : id) {
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')))
            return false;
    }
    return true;
}

}  // namespace corvane
