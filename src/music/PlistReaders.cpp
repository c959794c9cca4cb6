// Ringtones and books from the device's property lists (staged as local XML files by the
// device session), and voice memos from the listing of the recordings folder.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <exception>
#include <functional>
#include <optional>

#include "base/Text.h"
#include "device/iPodDev.h"
#include "music/XmlPlist.h"
#include "music/iPodMusic.h"
#include "platform/LocalFiles.h"
#include "platform/StagedCopy.h"

namespace corvane {

namespace {

// Real lists hold kilobytes; a staged file far larger than that is not one of them.
constexpr uint64_t kMaxPlistBytes = 64u << 20;
// More entries than any device carries: past it a list is taken as damaged.
constexpr size_t kMaxEntries = 100000;
// A tone plays 30 seconds at most; without a usable "Total Time" the list shows that.
constexpr uint32_t kDefaultToneMs = 30000;

const char* kRingtonesList = "Ringtones.plist";

const char* BooksList(bool purchased) {
    return purchased ? "Purchases.plist" : "Books.plist";
}

// Where the list's Path values are relative to, as a location below the file service's root.
const char* BooksFolder(bool purchased) {
    return purchased ? "Books/Purchases/" : "Books/";
}

TTrackItem& AddListTrack(TTrackList& tracks, TMediaKind kind) {
    TTrackItem& track = tracks.Add();
    track.SetReaderDefaults();
    track.Kind = kind;
    ++tracks.CheckedCount;
    tracks.CheckedSize += track.FileSize;
    return track;
}

bool IsSeparator(char c) {
    return c == '/' || c == '\\' || c == ':';
}

bool OnlyDots(std::string_view part) {
    return !part.empty() && part.find_first_not_of('.') == std::string_view::npos;
}

// A ringtone key names one file of the ringtone folder: no separator of any path form the
// copy operations accept.
bool IsPlainFileName(std::string_view name) {
    for (char c : name) {
        if (IsSeparator(c))
            return false;
    }
    return !name.empty() && !OnlyDots(name);
}

// A book path must name something below the books folder: at least one component and none
// made only of dots (which would reach the folder itself or above it).
bool IsPathBelow(std::string_view path) {
    bool named = false;
    size_t start = 0;
    for (size_t i = 0; i <= path.size(); ++i) {
        if (i < path.size() && !IsSeparator(path[i]))
            continue;
        std::string_view part = path.substr(start, i - start);
        if (OnlyDots(part))
            return false;
        named = named || !part.empty();
        start = i + 1;
    }
    return named;
}

// "Total Time": integer milliseconds from some writers, real seconds from others. Nothing when
// the value is neither or does not fit a track's length.
std::optional<uint32_t> TotalTimeMs(const xmlNode* value) {
    std::string text = Trim(ElementText(value));
    if (IsElement(value, "integer")) {
        std::optional<int64_t> ms = ParseInt64(text);
        if (!ms || *ms <= 0 || *ms > int64_t{UINT32_MAX})
            return std::nullopt;
        return static_cast<uint32_t>(*ms);
    }
    if (IsElement(value, "real")) {
        std::string_view digits = text;
        if (!digits.empty() && digits.front() == '+')
            digits.remove_prefix(1);
        double seconds = 0;
        auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), seconds);
        if (digits.empty() || error != std::errc() || end != digits.data() + digits.size()) {
            return std::nullopt;
        }
        double ms = std::round(seconds * 1000.0);
        if (!std::isfinite(ms) || ms <= 0 || ms > double{UINT32_MAX})
            return std::nullopt;
        return static_cast<uint32_t>(ms);
    }
    return std::nullopt;
}

// A size a list gives for its file ("Size" or "File Size", in bytes); nothing when it gives
// none a file could have.
std::optional<int64_t> ListedSize(const TPlistPair& property) {
    if (!SameText(property.Key, "Size") && !SameText(property.Key, "File Size"))
        return std::nullopt;
    if (!IsElement(property.Value, "integer"))
        return std::nullopt;
    std::optional<int64_t> size = ParseInt64(Trim(ElementText(property.Value)));
    return size && *size > 0 ? size : std::nullopt;
}

// The value that follows key in the top dictionary; null when the pairs end before it.
const xmlNode* TopValue(const TPlistDict& top, const char* key) {
    for (const TPlistPair& pair : top.Pairs) {
        if (SameText(pair.Key, key))
            return pair.Value;
    }
    return nullptr;
}

// The value of key in a list's top dictionary when it is a <kind> element; null, with a log
// line saying what is wrong, otherwise. Both lists have one such key holding all entries.
const xmlNode* ListValue(TIpodMusicDb& db, const TXmlPlist& plist, const std::string& list,
                         const char* key, const char* kind, const char* kindText) {
    if (!plist.Ok()) {
        db.AddLog(list + ": not an XML document (" + plist.Error() + ")");
        return nullptr;
    }
    if (plist.TopDict() == nullptr) {
        db.AddLog(list + ": not a property list");
        return nullptr;
    }
    TPlistDict top = DictPairs(plist.TopDict());
    const xmlNode* value = TopValue(top, key);
    if (value == nullptr) {
        db.AddLog(list + (top.Damaged ? ": damaged top dictionary"
                                      : ": no \"" + std::string(key) + "\" key"));
        return nullptr;
    }
    if (!IsElement(value, kind)) {
        db.AddLog(list + ": \"" + key + "\" is not " + kindText);
        return nullptr;
    }
    return value;
}

// Reads a staged list and hands its bytes to walk; the staged copy of a mobile device is ours
// and goes once it is read, whatever happened.
void ReadStagedList(TIpodMusicDb& db, const std::string& path, const char* list,
                    const std::function<void(const std::string&)>& walk) {
    const TStagedCopy staged(path, db.Device.IsIos());
    try {
        std::optional<uint64_t> size = FileSize(path);
        if (size && *size > kMaxPlistBytes) {
            db.AddLog(std::string(list) + ": too large (" + std::to_string(*size) + " bytes)");
        } else if (std::optional<std::string> data = size ? ReadLocalFile(path) : std::nullopt) {
            walk(*data);
        } else {
            db.AddLog(std::string(list) + ": cannot read the staged copy");
        }
    } catch (const std::exception& error) {
        db.AddLog(std::string(list) + ": " + error.what());
    }
}

}  // namespace

void TIpodMusicDb::ReadRingtones() {
    std::string path = Device.StageRingtonesPlist();
    if (path.empty())
        return;
    ReadStagedList(*this, path, kRingtonesList,
                   [this](const std::string& xml) { ReadRingtonesXml(xml); });
}

void TIpodMusicDb::ReadBooks(bool purchased) {
    std::string path = Device.StageBooksPlist(purchased);
    if (path.empty())
        return;
    ReadStagedList(*this, path, BooksList(purchased),
                   [this, purchased](const std::string& xml) { ReadBooksXml(xml, purchased); });
}

int TIpodMusicDb::ReadRingtonesXml(const std::string& xml) {
    const std::string list = kRingtonesList;
    int added = 0;
    try {
        TXmlPlist plist(xml.data(), xml.size());
        const xmlNode* tones = ListValue(*this, plist, list, "Ringtones", "dict", "a dictionary");
        if (tones == nullptr)
            return 0;
        TPlistDict files = DictPairs(tones);
        int badTimes = 0;
        int badNames = 0;
        for (const TPlistPair& file : files.Pairs) {
            if (!SameText(KindExtension(file.Key), ".m4r"))
                continue;
            if (!IsPlainFileName(file.Key)) {
                ++badNames;
                continue;
            }
            if (static_cast<size_t>(added) == kMaxEntries) {
                AddLog(list + ": more than " + std::to_string(kMaxEntries) + " ringtones");
                break;
            }
            TPlistDict properties;
            if (IsElement(file.Value, "dict"))
                properties = DictPairs(file.Value);
            if (properties.Damaged) {
                AddLog(list + ": damaged entry " + file.Key);
                break;
            }
            TTrackItem& track = AddListTrack(Tracks, mkTone);
            ++added;
            track.Location = "/iTunes_Control/Ringtones/" + file.Key;
            track.DurationMs = kDefaultToneMs;
            std::optional<int64_t> size;
            for (const TPlistPair& property : properties.Pairs) {
                if (SameText(property.Key, "Name")) {
                    track.Title = ElementText(property.Value);
                } else if (SameText(property.Key, "Album")) {
                    track.Album = ElementText(property.Value);
                } else if (SameText(property.Key, "Artist")) {
                    track.Artist = ElementText(property.Value);
                } else if (SameText(property.Key, "Genre")) {
                    track.Genre = ElementText(property.Value);
                } else if (std::optional<int64_t> listed = ListedSize(property)) {
                    size = listed;
                } else if (SameText(property.Key, "Total Time")) {
                    if (std::optional<uint32_t> ms = TotalTimeMs(property.Value)) {
                        track.DurationMs = *ms;
                    } else {
                        ++badTimes;
                    }
                }
            }
            track.DurationText = DurationText(track.DurationMs);
            if (size)
                SetTrackSize(track, *size);
        }
        if (files.Damaged)
            AddLog(list + ": damaged \"Ringtones\" dictionary");
        if (badNames > 0) {
            AddLog(list + ": " + std::to_string(badNames) + " file names with a folder skipped");
        }
        if (badTimes > 0) {
            AddLog(list + ": " + std::to_string(badTimes) + " unusable \"Total Time\" values");
        }
    } catch (const std::exception& error) {
        AddLog(list + ": " + error.what());
    }
    return added;
}

int TIpodMusicDb::ReadBooksXml(const std::string& xml, bool purchased) {
    const std::string list = BooksList(purchased);
    int added = 0;
    try {
        TXmlPlist plist(xml.data(), xml.size());
        const xmlNode* books = ListValue(*this, plist, list, "Books", "array", "an array");
        if (books == nullptr)
            return 0;
        int badPaths = 0;
        for (const xmlNode* entry : ChildElements(books)) {
            // Fewer than three children cannot carry a name and a path: skipped, as ever.
            if (!IsElement(entry, "dict") ||
                xmlChildElementCount(const_cast<xmlNode*>(entry)) < 3) {
                continue;
            }
            if (static_cast<size_t>(added) == kMaxEntries) {
                AddLog(list + ": more than " + std::to_string(kMaxEntries) + " books");
                break;
            }
            TPlistDict properties = DictPairs(entry);
            if (properties.Damaged) {
                AddLog(list + ": damaged entry after " + std::to_string(added) + " books");
                break;
            }
            std::optional<std::string> path;
            std::string title;
            std::string artist;
            std::optional<int64_t> size;
            for (const TPlistPair& property : properties.Pairs) {
                if (std::optional<int64_t> listed = ListedSize(property)) {
                    size = listed;
                } else if (SameText(property.Key, "Name")) {
                    title = ElementText(property.Value);
                } else if (SameText(property.Key, "Path")) {
                    path = ElementText(property.Value);
                } else if (SameText(property.Key, "Artist")) {
                    artist = ElementText(property.Value);
                }
            }
            // Without a path below the books folder the copy would take the whole folder,
            // or the device's root.
            if (!path || !IsPathBelow(*path)) {
                ++badPaths;
                continue;
            }
            TTrackItem& track = AddListTrack(Tracks, mkBook);
            ++added;
            track.Title = std::move(title);
            track.Artist = std::move(artist);
            track.Location = BooksFolder(purchased) + *path;
            if (size)
                SetTrackSize(track, *size);
        }
        if (badPaths > 0) {
            AddLog(list + ": " + std::to_string(badPaths) + " books without a usable path skipped");
        }
    } catch (const std::exception& error) {
        AddLog(list + ": " + error.what());
    }
    return added;
}

int TIpodMusicDb::ReadVoiceMemos() {
    if (Device.IsIos() && !Device.DirectoryExistsOnDevice("/Recordings/")) {
        AddLog(
            "No Recordings folder: voice memos of iOS 12 and later are kept where the USB file "
            "service cannot reach them");
        return 0;
    }
    std::vector<std::string> names;
    int listed = Device.ListVoiceMemos(names);
    for (const std::string& name : names) {
        TTrackItem& track = AddListTrack(Tracks, mkVoiceMemo);
        track.Album = "Voice memo";
        track.Genre = "m4a";
        size_t dot = name.find('.');
        track.Title = dot == std::string::npos ? std::string() : name.substr(0, dot);
        // Each in the form the copy operations of its kind of device take: a path below the
        // file service's root, or a colon location below the volume's mount root.
        track.Location = Device.IsIos() ? "Recordings/" + name : ":Recordings:" + name;
    }
    return listed;
}

void TIpodMusicDb::SizeListedItems() {
    for (TTrackItem& track : Tracks) {
        const bool listed =
            track.Kind == mkBook || track.Kind == mkTone || track.Kind == mkVoiceMemo;
        if (listed && track.FileSize == 0 && !track.Location.empty())
            if (const uint64_t size = Device.ItemSize(track.Location); size > 0)
                SetTrackSize(track, static_cast<int64_t>(std::min<uint64_t>(size, INT64_MAX)));
    }
}

}  // namespace corvane
