// iTunesDB and iTunesCDB: fetching the bytes and the walk over the database's data sets. The
// inflation is in ITunesCdbInflate.cpp, the track and playlist lists in ITunesDbDatasets.cpp.
#include <exception>
#include <optional>
#include <vector>

#include "base/ByteReader.h"
#include "base/MhChunk.h"
#include "device/FileBytes.h"
#include "device/iPodDev.h"
#include "music/ITunesCdb.h"
#include "music/iPodMusic.h"

namespace corvane {

namespace {

constexpr size_t kMhbdFields = 24;
constexpr TChunkRule kDataset{.Tag = "mhsd", .Fields = 16, .Parent = "the file", .MayClip = true};
constexpr uint32_t kTrackDataset = 1;
constexpr uint32_t kPlaylistDataset = 2;
constexpr uint32_t kPodcastPlaylistDataset = 3;

}  // namespace

bool TIpodMusicDb::ReadITunesDatabase() {
    TFileBytes bytes;
    bool compressed = false;
    // The device session has logged why when it fails.
    if (!Device.ReadITunesDB(bytes, compressed))
        return false;
    return ReadITunesBytes(bytes.Data(), bytes.Size(), compressed);
}

bool TIpodMusicDb::ReadITunesBytes(TMemoryStream& stream, bool compressed) {
    return ReadITunesBytes(stream.Data(), stream.Size(), compressed);
}

bool TIpodMusicDb::ReadITunesBytes(const uint8_t* data, size_t size, bool compressed) {
    if (!compressed)
        return WalkITunesDatabase(TByteReader(data, size));
    TInflatedITunesDb inflated;
    if (!InflateITunesCdb(data, size, inflated))
        return false;
    return WalkITunesDatabase(inflated.Reader());
}

bool TIpodMusicDb::WalkITunesDatabase(const TByteReader& file) {
    try {
        if (!file.Has(0, kMhbdFields) || !file.TagIs(0, "mhbd")) {
            AddLog("MHDB incorrect");
            return false;
        }
        uint32_t headerLength = file.ReadU32(4).value_or(0);
        uint32_t datasetCount = file.ReadU32(20).value_or(0);
        TChunkDamage damage(Log, "iTunesDB");
        bool result = false;
        bool playlistsSeen = false;
        std::optional<TChunk> podcastPlaylists;
        const TChunkList datasets{
            .Tag = "mhbd", .Offset = 0, .Count = datasetCount, .What = "data sets"};
        WalkChunks(file, headerLength, datasets, kDataset, damage, [&](const TChunk& dataset) {
            uint32_t datasetHeader = dataset.U32(4);
            uint32_t type = dataset.U32(12);
            if (type == kTrackDataset) {
                result = ReadTrackDataset(dataset.Data, dataset.Position, datasetHeader);
                return result;
            }
            // A failed playlist list ends the walk; the result stays that of the tracks.
            if (type == kPlaylistDataset) {
                playlistsSeen = true;
                return ReadPlaylistDataset(dataset.Data, dataset.Position, datasetHeader);
            }
            if (type == kPodcastPlaylistDataset && !podcastPlaylists)
                podcastPlaylists = dataset;
            return true;
        });
        // A shuffle's database may keep its playlists only in the type-3 data set, which holds
        // the same lists.
        if (result && !playlistsSeen && podcastPlaylists) {
            ReadPlaylistDataset(podcastPlaylists->Data, podcastPlaylists->Position,
                                podcastPlaylists->U32(4));
        }
        damage.Finish();
        return result;
    } catch (const std::exception&) {
        // What was read before stays in the lists; the loader counts the read as failed.
        AddLog("Exception on reading iTunesDb" + Device.Log.Text());
        return false;
    }
}

}  // namespace corvane
