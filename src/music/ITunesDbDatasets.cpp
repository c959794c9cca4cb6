// The two lists of an iTunesDB the library reads: tracks (mhlt, mhit, mhod) and playlists
// (mhlp, mhyp, mhod, mhip). Every step is checked against the end of the chunk that holds it,
// so damage ends the affected list with a log line instead of reading past the data.
#include <algorithm>
#include <limits>

#include "base/ByteReader.h"
#include "base/Text.h"
#include "device/iPodDev.h"
#include "music/ITunesDbChunks.h"
#include "music/iPodMusic.h"

namespace corvane {

namespace {

constexpr size_t kListFields = 12;      // mhlt, mhlp: tag, header length, count
constexpr size_t kTrackFields = 84;     // mhit up to the play count
constexpr size_t kPlaylistFields = 20;  // mhyp up to the item count
constexpr size_t kItemFields = 12;      // any item: tag, header length, total length
constexpr uint32_t kMhipFields = 28;    // mhip up to the track identifier
constexpr uint32_t kObjectFields = 16;  // mhod: tag, header length, total length, type
constexpr uint32_t kStringHeader = 40;  // mhod with a string: the string begins here
constexpr uint32_t kFirstNonString = 15;

enum TObjectType : uint32_t {
    otTitle = 1,
    otLocation = 2,
    otAlbum = 3,
    otArtist = 4,
    otGenre = 5,
    otSmartPrefs = 50,
};

uint32_t U32(const TByteReader& data, size_t offset) {
    return data.ReadU32(offset).value_or(0);
}

// Where a list's header lies; logs when it does not fit in its data set.
bool ListHeaderFits(const TByteReader& data, size_t position, const char* tag,
                    TITunesDbDamage& damage) {
    if (data.Has(position, kListFields))
        return true;
    damage.Add(RunsPastText(tag, position, "its data set"));
    return false;
}

}  // namespace

uint32_t TIpodMusicDb::ReadDataObject(const TByteReader& data, size_t position, uint32_t& type,
                                      std::string& text, std::string& damage) {
    type = 0;
    damage.clear();
    if (!data.Has(position, 4)) {
        damage = RunsPastText("mhod", position, "its parent");
        return 0;
    }
    if (!data.TagIs(position, "mhod"))
        return 0;
    auto extent = data.Has(position, kObjectFields) ? data.ReadU32(position + 8) : std::nullopt;
    if (!extent) {
        damage = RunsPastText("mhod", position, "its parent");
        return 0;
    }
    uint32_t length = *extent;
    if (length == 0) {
        damage = ZeroLengthText("mhod", position);
        return 0;
    }
    if (length < kObjectFields) {
        damage = TooShortText("mhod", position, length);
        return 0;
    }
    // An object must lie inside its parent: overlapping objects could otherwise make one large
    // string be converted again for every small step.
    if (length > data.Left(position)) {
        damage = RunsPastText("mhod", position, "its parent");
        return 0;
    }
    uint32_t objectType = U32(data, position + 12);
    if (objectType < kFirstNonString) {
        uint32_t bytes = length >= kStringHeader ? U32(data, position + 28) : 0;
        if (length < kStringHeader || bytes > length - kStringHeader) {
            damage = RunsPastText("string of mhod", position, "its object");
            return 0;
        }
        const uint8_t* chars = data.Data() + position + kStringHeader;
        size_t end = bytes;  // up to the first U+0000
        for (size_t i = 0; i + 1 < bytes; i += 2) {
            if (chars[i] == 0 && chars[i + 1] == 0) {
                end = i;
                break;
            }
        }
        text = Utf16LeToUtf8(chars, end);
    }
    type = objectType;
    return length;
}

bool TIpodMusicDb::ReadTrackDataset(const TByteReader& data, size_t datasetStart,
                                    uint32_t headerLength) {
    TITunesDbDamage damage(*this);
    size_t list = datasetStart + headerLength;
    if (!ListHeaderFits(data, list, "mhlt", damage))
        return false;
    if (!data.TagIs(list, "mhlt"))
        return false;
    Tracks.Clear();
    int32_t count = data.ReadI32(list + 8).value_or(0);
    size_t position = list + U32(data, list + 4);
    for (int32_t i = 0; i < count; ++i) {
        if (data.Left(position) == 0) {
            damage.Add(FewerText("mhlt", list, count, "tracks", i));
            break;
        }
        auto extent = CheckChunk(data, position, "mhit", kTrackFields, kTrackFields, "its data set",
                                 true, damage);
        if (!extent)
            break;
        TByteReader trackData = data.Prefix(extent->End);

        TTrackItem& track = Tracks.Add();
        track.SetReaderDefaults();
        track.Pid = U32(data, position + 16);
        // The scale the library takes is 0..100; a larger byte is damage, not a better rating.
        track.Rating = std::min<uint8_t>(data.ReadU8(position + 31).value_or(0), 100);
        track.FileSize = U32(data, position + 36);
        track.DurationMs = U32(data, position + 40);
        track.PlayCount = static_cast<int32_t>(
            std::min<uint32_t>(U32(data, position + 80), std::numeric_limits<int32_t>::max()));
        TotalSize += track.FileSize;

        // A name of blanks only is read as no name, as the SQLite readers do, so that every
        // database gives the same list and exports fall back to the same placeholder.
        int32_t objects = data.ReadI32(position + 12).value_or(0);
        size_t object = position + U32(data, position + 4);
        std::string text;
        std::string problem;
        for (int32_t k = 0; k < objects; ++k) {
            if (trackData.Left(object) == 0) {
                damage.Add(FewerText("mhit", position, objects, "data objects", k));
                break;
            }
            uint32_t type = 0;
            uint32_t length = ReadDataObject(trackData, object, type, text, problem);
            // A chunk that is not an mhod stops the objects: reading it again for every
            // remaining announced object could only find the same chunk.
            if (length == 0) {
                if (!problem.empty())
                    damage.Add(problem);
                break;
            }
            object += length;
            switch (type) {
                case otTitle:
                    track.Title = NameText(std::move(text));
                    break;
                case otLocation:
                    track.Location = std::move(text);
                    break;
                case otAlbum:
                    track.Album = NameText(std::move(text));
                    break;
                case otArtist:
                    track.Artist = NameText(std::move(text));
                    break;
                case otGenre:
                    track.Genre = NameText(std::move(text));
                    break;
                default:
                    break;
            }
            text.clear();
        }

        track.Kind = KindOfExtension(KindExtension(track.Location));
        Tracks.CheckedCount += 1;
        Tracks.CheckedSize += track.FileSize;
        track.DurationText = DurationText(track.DurationMs);
        track.SizeText = TIpodDevice::FormatSize(track.FileSize);
        if (extent->Clipped)
            break;
        position = extent->End;
    }
    damage.Finish();
    return true;
}

bool TIpodMusicDb::ReadPlaylistDataset(const TByteReader& data, size_t datasetStart,
                                       uint32_t headerLength) {
    TITunesDbDamage damage(*this);
    size_t list = datasetStart + headerLength;
    if (!ListHeaderFits(data, list, "mhlp", damage))
        return false;
    if (!data.TagIs(list, "mhlp"))
        return false;
    PlayLists.Clear();
    int32_t count = data.ReadI32(list + 8).value_or(0);
    size_t position = list + U32(data, list + 4);
    for (int32_t i = 0; i < count; ++i) {
        if (data.Left(position) == 0) {
            damage.Add(FewerText("mhlp", list, count, "playlists", i));
            break;
        }
        auto extent = CheckChunk(data, position, "mhyp", kPlaylistFields, kPlaylistFields,
                                 "its data set", true, damage);
        if (!extent)
            break;
        TByteReader playlistData = data.Prefix(extent->End);
        TPlayListItem& playlist = PlayLists.Add();

        // Objects until the first chunk that is not an mhod (normally the first mhip).
        size_t object = position + U32(data, position + 4);
        bool objectsDamaged = false;
        std::string problem;
        while (playlistData.Left(object) > 0) {
            uint32_t type = 0;
            std::string text;
            uint32_t length = ReadDataObject(playlistData, object, type, text, problem);
            if (!problem.empty()) {
                damage.Add(problem);
                objectsDamaged = true;
                break;
            }
            object += length;
            if (type == 0)
                break;
            if (type == otTitle) {
                playlist.Name = std::move(text);
            } else if (type == otSmartPrefs) {
                playlist.IsSmart = true;
            }
        }
        // The model's word for a playlist the database gives no name.
        if (playlist.Name.empty())
            playlist.Name = "Unknown";

        // Items follow the objects; after damaged objects their place is unknown.
        int32_t items = objectsDamaged ? 0 : data.ReadI32(position + 16).value_or(0);
        size_t item = object;
        for (int32_t k = 0; k < items; ++k) {
            if (playlistData.Left(item) == 0) {
                damage.Add(FewerText("mhyp", position, items, "items", k));
                break;
            }
            auto itemExtent = CheckChunk(playlistData, item, "mhip", kItemFields, kItemFields,
                                         "its playlist", false, damage);
            if (!itemExtent)
                break;
            // Another chunk in the item list is stepped over by its length.
            if (playlistData.TagIs(item, "mhip")) {
                uint32_t length = U32(playlistData, item + 8);
                if (length < kMhipFields) {
                    damage.Add(TooShortText("mhip", item, length));
                    break;
                }
                playlist.TrackPids.push_back(U32(playlistData, item + 24));
                playlist.Count += 1;
            }
            item = itemExtent->End;
        }
        if (extent->Clipped)
            break;
        position = extent->End;
    }
    damage.Finish();
    return true;
}

}  // namespace corvane
