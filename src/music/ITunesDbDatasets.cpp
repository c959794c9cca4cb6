// The two lists of an iTunesDB the library reads: tracks (mhlt, mhit, mhod) and playlists
// (mhlp, mhyp, mhod, mhip). Every step is checked against the end of the chunk that holds it,
// so damage ends the affected list with a log line instead of reading past the data.
#include <algorithm>
#include <cstring>
#include <limits>

#include "base/ByteReader.h"
#include "base/MhChunk.h"
#include "base/Text.h"
#include "device/DeviceClock.h"
#include "device/iPodDev.h"
#include "music/iPodMusic.h"

namespace corvane {

namespace {

constexpr size_t kListFields = 12;  // mhlt, mhlp: tag, header length, count
// mhit up to the play count.
constexpr TChunkRule kTrack{.Tag = "mhit", .Fields = 84, .Parent = "its data set", .MayClip = true};
constexpr size_t kMhitArtworkLink = 352;
// mhyp up to the item count.
constexpr TChunkRule kPlaylist{
    .Tag = "mhyp", .Fields = 20, .Parent = "its data set", .MayClip = true};
// Any item of a playlist: tag, header length, total length.
constexpr TChunkRule kItem{.Tag = "mhip", .Fields = 12, .Parent = "its playlist"};
constexpr uint32_t kMhipFields = 28;  // mhip up to the track identifier
// mhod: tag, header length, total length, type.
constexpr TChunkRule kObject{.Tag = "mhod", .Fields = 16, .Parent = "its parent"};
constexpr uint32_t kStringHeader = 40;  // mhod with a string: the string begins here
constexpr uint32_t kFirstNonString = 15;

enum TObjectType : uint32_t {
    otTitle = 1,
    otLocation = 2,
    otAlbum = 3,
    otArtist = 4,
    otGenre = 5,
    otAlbumArtist = 22,  // a string, although past the first non-string type
    otSmartPrefs = 50,
};

uint32_t U32(const TByteReader& data, size_t offset) {
    return data.ReadU32(offset).value_or(0);
}

// A track, disc or year field; a value no tag would hold is damage and reads as none.
int32_t Number(const TByteReader& data, size_t offset) {
    const uint32_t value = U32(data, offset);
    return value <= 99999 ? static_cast<int32_t>(value) : 0;
}

// A header field that older databases' shorter headers do not have: 0 unless the header
// (header length at chunk + 4) holds all of it.
template <typename T>
T HeaderField(const TChunk& chunk, size_t field) {
    if (chunk.U32(4) < field + sizeof(T))
        return 0;
    if constexpr (sizeof(T) == 8) {
        return chunk.Data.ReadU64(chunk.Position + field).value_or(0);
    } else {
        return chunk.Data.ReadU32(chunk.Position + field).value_or(0);
    }
}

// A count of a list header; a negative one announces nothing.
uint64_t Announced(const TByteReader& data, size_t offset) {
    return static_cast<uint64_t>(std::max(data.ReadI32(offset).value_or(0), 0));
}

// Where a list's header lies; logs when it does not fit in its data set.
bool ListHeaderFits(const TByteReader& data, size_t position, const char* tag,
                    TChunkDamage& damage) {
    if (data.Has(position, kListFields))
        return true;
    damage.RunsPast(tag, position, "its data set");
    return false;
}

}  // namespace

TIpodMusicDb::TDataObjectPlace TIpodMusicDb::LocateDataObject(const TByteReader& data,
                                                              size_t position,
                                                              TChunkDamage& damage) {
    if (!data.Has(position, 4)) {
        damage.RunsPast(kObject.Tag, position, kObject.Parent);
        return {.Damaged = true};
    }
    if (!data.TagIs(position, "mhod"))
        return {};
    // An object must lie inside its parent: overlapping objects could otherwise make one large
    // string be converted again for every small step.
    auto object = ReadChunk(data, position, kObject, &damage);
    if (!object)
        return {.Damaged = true};
    auto length = static_cast<uint32_t>(object->End - position);
    uint32_t type = object->U32(12);
    TDataObjectPlace result{.Length = length, .Type = type};
    if (type < kFirstNonString || type == otAlbumArtist) {
        uint32_t bytes = length >= kStringHeader ? object->U32(28) : 0;
        if (length < kStringHeader || bytes > length - kStringHeader) {
            damage.RunsPast("string of mhod", position, "its object");
            return {.Damaged = true};
        }
        const uint8_t* chars = data.Data() + position + kStringHeader;
        size_t end = bytes;  // up to the first U+0000
        size_t i = 0;
        // Four units at a time while none of them is U+0000 (the test is exact either way).
        for (uint64_t four; i + 8 <= bytes; i += 8) {
            std::memcpy(&four, chars + i, sizeof four);
            if (((four - 0x0001000100010001ULL) & ~four & 0x8000800080008000ULL) != 0)
                break;
        }
        for (; i + 1 < bytes; i += 2) {
            if (chars[i] == 0 && chars[i + 1] == 0) {
                end = i;
                break;
            }
        }
        result.Chars = chars;
        result.CharBytes = end;
    }
    return result;
}

TIpodMusicDb::TDataObject TIpodMusicDb::ReadDataObject(const TByteReader& data, size_t position,
                                                       TChunkDamage& damage) {
    const TDataObjectPlace place = LocateDataObject(data, position, damage);
    TDataObject result{.Length = place.Length, .Type = place.Type, .Damaged = place.Damaged};
    if (place.Chars != nullptr)
        result.Text = Utf16LeToUtf8(place.Chars, place.CharBytes);
    return result;
}

bool TIpodMusicDb::ReadTrackDataset(const TByteReader& data, size_t datasetStart,
                                    uint32_t headerLength) {
    TChunkDamage damage(Log, "iTunesDB");
    size_t list = datasetStart + headerLength;
    if (!ListHeaderFits(data, list, "mhlt", damage))
        return false;
    if (!data.TagIs(list, "mhlt"))
        return false;
    Tracks.Clear();
    Artwork.Clear();  // covers of the tracks that go
    const TChunkList tracks{
        .Tag = "mhlt", .Offset = list, .Count = Announced(data, list + 8), .What = "tracks"};
    // Room for the announced tracks, no more than the rest of the data set could hold.
    const size_t first = list + U32(data, list + 4);
    Tracks.Reserve(
        static_cast<size_t>(std::min<uint64_t>(tracks.Count, data.Left(first) / kTrack.Fields)));
    WalkChunks(data, first, tracks, kTrack, damage, [&](const TChunk& chunk) {
        const size_t position = chunk.Position;
        const TByteReader& trackData = chunk.Data;

        TTrackItem& track = Tracks.Add();
        track.SetReaderDefaults();
        track.Pid = U32(data, position + 16);
        // The scale the library takes is 0..100; a larger byte is damage, not a better rating.
        track.Rating = std::min<uint8_t>(data.ReadU8(position + 31).value_or(0), 100);
        track.FileSize = U32(data, position + 36);
        track.DurationMs = U32(data, position + 40);
        track.PlayCount = static_cast<int32_t>(
            std::min<uint32_t>(U32(data, position + 80), std::numeric_limits<int32_t>::max()));
        track.TrackNumber = Number(data, position + 44);
        track.Year = Number(data, position + 52);
        track.DiscNumber = Number(data, position + 92);
        TotalSize += track.FileSize;
        track.LastPlayed = MacTimeToUnix(HeaderField<uint32_t>(chunk, 88), DeviceClockShift);
        track.BookmarkMs = HeaderField<uint32_t>(chunk, 108);
        track.PersistentId = HeaderField<uint64_t>(chunk, 112);
        track.SkipCount = static_cast<int32_t>(std::min<uint32_t>(
            HeaderField<uint32_t>(chunk, 156), std::numeric_limits<int32_t>::max()));
        // What finds the track's cover, with the PersistentId.
        track.ArtworkLink = HeaderField<uint32_t>(chunk, kMhitArtworkLink);

        // A name of blanks only is read as no name, as the SQLite readers do, so that every
        // database gives the same list and exports fall back to the same placeholder.
        int32_t objects = data.ReadI32(position + 12).value_or(0);
        size_t object = position + U32(data, position + 4);
        for (int32_t k = 0; k < objects; ++k) {
            if (trackData.Left(object) == 0) {
                damage.Fewer("mhit", position, objects, "data objects", k);
                break;
            }
            const TDataObjectPlace read = LocateDataObject(trackData, object, damage);
            // A chunk that is not an mhod stops the objects: reading it again for every
            // remaining announced object could only find the same chunk.
            if (read.Length == 0)
                break;
            object += read.Length;
            std::string* field = nullptr;
            switch (read.Type) {
                case otTitle:
                    field = &track.Title;
                    break;
                case otLocation:
                    field = &track.Location;
                    break;
                case otAlbum:
                    field = &track.Album;
                    break;
                case otArtist:
                    field = &track.Artist;
                    break;
                case otGenre:
                    field = &track.Genre;
                    break;
                case otAlbumArtist:
                    field = &track.AlbumArtist;
                    break;
                default:
                    break;
            }
            if (field == nullptr)
                continue;
            // Converted in place: a library's strings are not built and moved one by one.
            AssignUtf16LeAsUtf8(*field, read.Chars, read.CharBytes);
            if (read.Type != otLocation && IsBlankName(*field))
                std::string().swap(*field);
        }

        track.Kind = KindOfExtension(KindExtension(track.Location));
        Tracks.CheckedCount += 1;
        Tracks.CheckedSize += track.FileSize;
        track.DurationText = DurationText(track.DurationMs);
        track.SizeText = TIpodDevice::FormatSize(track.FileSize);
        return true;
    });
    Tracks.EndReserve();
    damage.Finish();
    return true;
}

bool TIpodMusicDb::ReadPlaylistDataset(const TByteReader& data, size_t datasetStart,
                                       uint32_t headerLength) {
    TChunkDamage damage(Log, "iTunesDB");
    size_t list = datasetStart + headerLength;
    if (!ListHeaderFits(data, list, "mhlp", damage))
        return false;
    if (!data.TagIs(list, "mhlp"))
        return false;
    PlayLists.Clear();
    const TChunkList playlists{
        .Tag = "mhlp", .Offset = list, .Count = Announced(data, list + 8), .What = "playlists"};
    WalkChunks(
        data, list + U32(data, list + 4), playlists, kPlaylist, damage, [&](const TChunk& chunk) {
            const size_t position = chunk.Position;
            const TByteReader& playlistData = chunk.Data;
            TPlayListItem& playlist = PlayLists.Add();
            playlist.PersistentId = HeaderField<uint64_t>(chunk, 28);

            // Objects until the first chunk that is not an mhod (normally the first mhip).
            size_t object = position + U32(data, position + 4);
            bool objectsDamaged = false;
            while (playlistData.Left(object) > 0) {
                TDataObject read = ReadDataObject(playlistData, object, damage);
                if (read.Damaged) {
                    objectsDamaged = true;
                    break;
                }
                object += read.Length;
                if (read.Type == 0)
                    break;
                if (read.Type == otTitle) {
                    playlist.Name = std::move(read.Text).value_or(std::string());
                } else if (read.Type == otSmartPrefs) {
                    playlist.IsSmart = true;
                }
            }
            // The model's word for a playlist the database gives no name.
            if (playlist.Name.empty())
                playlist.Name = "Unknown";

            // Items follow the objects; after damaged objects their place is unknown.
            const TChunkList items{.Tag = "mhyp",
                                   .Offset = position,
                                   .Count = objectsDamaged ? 0 : Announced(data, position + 16),
                                   .What = "items"};
            WalkChunks(playlistData, object, items, kItem, damage, [&](const TChunk& item) {
                // Another chunk in the item list is stepped over by its length.
                if (!item.Data.TagIs(item.Position, "mhip"))
                    return true;
                if (item.U32(8) < kMhipFields) {
                    damage.TooShort("mhip", item.Position, item.U32(8));
                    return false;
                }
                playlist.TrackPids.push_back(item.U32(24));
                playlist.Count += 1;
                return true;
            });
            return true;
        });
    damage.Finish();
    return true;
}

}  // namespace corvane
