// iTunesDB and iTunesCDB: fetching the bytes, inflating the compressed variant and the walk
// over the database's data sets. The track and playlist lists are in ITunesDbDatasets.cpp.
#include <zlib.h>

#include <algorithm>
#include <climits>
#include <exception>
#include <optional>
#include <vector>

#include "base/ByteReader.h"
#include "base/MhChunk.h"
#include "device/iPodDev.h"
#include "music/iPodMusic.h"

namespace corvane {

namespace {

constexpr size_t kMhbdFields = 24;
constexpr TChunkRule kDataset{.Tag = "mhsd", .Fields = 16, .Parent = "the file", .MayClip = true};
constexpr uint32_t kTrackDataset = 1;
constexpr uint32_t kPlaylistDataset = 2;
constexpr uint32_t kPodcastPlaylistDataset = 3;
// Deflate turns at most 258 bytes into one match of at least 2 bits: no body inflates to more
// than about 1032 times its size.
constexpr size_t kMaxDeflateRatio = 1040;

// One zlib inflate stream, ended however the inflation ends.
class TInflater {
public:
    TInflater() { FReady = inflateInit(&FStream) == Z_OK; }
    ~TInflater() {
        if (FReady)
            inflateEnd(&FStream);
    }
    TInflater(const TInflater&) = delete;
    TInflater& operator=(const TInflater&) = delete;

    bool Ready() const { return FReady; }
    z_stream& Stream() { return FStream; }

private:
    z_stream FStream{};
    bool FReady = false;
};

const char* InflateFailure(const z_stream& stream, const char* fallback) {
    return stream.msg ? stream.msg : fallback;
}

}  // namespace

bool TIpodMusicDb::ReadITunesDatabase() {
    TMemoryStream stream;
    bool compressed = false;
    // The device session has logged why when it fails.
    if (!Device.ReadITunesDB(stream, compressed))
        return false;
    return ReadITunesBytes(stream, compressed);
}

bool TIpodMusicDb::InflateCompressedDatabase(TMemoryStream& stream) {
    TByteReader bytes(stream.Data(), stream.Size());
    uint32_t headerLength = bytes.ReadU32(4).value_or(0);
    size_t expected = bytes.ReadU32(8).value_or(0);
    if (!bytes.Has(0, kMhbdFields) || headerLength < kMhbdFields || headerLength > stream.Size()) {
        AddLog("Cannot inflate iTunesCDB: the database header is incomplete");
        return false;
    }
    // The body is inflated from a copy because the output is written over it.
    std::vector<uint8_t> header(stream.Data(), stream.Data() + headerLength);
    std::vector<uint8_t> body(stream.Data() + headerLength, stream.Data() + stream.Size());
    stream.Clear();
    // The header's total length gives the inflated size: reserving it once spares the copies and
    // page faults of growing piece by piece. A header cannot make us reserve more than the body
    // could inflate to, nor past the cap.
    size_t possible = body.size() < kMaxInflatedITunesDb / kMaxDeflateRatio
                          ? body.size() * kMaxDeflateRatio
                          : kMaxInflatedITunesDb;
    expected = std::min({expected, headerLength + possible, headerLength + kMaxInflatedITunesDb});
    stream.Reserve(std::max<size_t>(expected, headerLength));
    stream.Write(header.data(), header.size());

    TInflater inflater;
    if (!inflater.Ready()) {
        AddLog("Cannot inflate iTunesCDB: zlib could not start");
        return false;
    }
    z_stream& z = inflater.Stream();
    z.next_in = body.data();
    size_t inputLeft = body.size();
    std::vector<uint8_t> piece(size_t{64} << 10);
    size_t inflated = 0;
    for (;;) {
        if (z.avail_in == 0 && inputLeft > 0) {
            z.avail_in = static_cast<uInt>(std::min<size_t>(inputLeft, UINT_MAX));
            inputLeft -= z.avail_in;
        }
        z.next_out = piece.data();
        z.avail_out = static_cast<uInt>(piece.size());
        int status = inflate(&z, Z_NO_FLUSH);
        size_t produced = piece.size() - z.avail_out;
        // A bomb is refused before its bytes are kept, not after they filled the memory.
        if (produced > kMaxInflatedITunesDb - inflated) {
            AddLog("Cannot inflate iTunesCDB: it inflates to more than 256 MiB");
            return false;
        }
        inflated += produced;
        stream.Write(piece.data(), produced);
        if (status == Z_STREAM_END)
            break;
        if (status != Z_OK && status != Z_BUF_ERROR) {
            AddLog(std::string("Cannot inflate iTunesCDB: the data is damaged (") +
                   InflateFailure(z, "zlib error") + ")");
            return false;
        }
        // Room for output left and no input left: the stream wants bytes the file lacks.
        if (z.avail_in == 0 && inputLeft == 0 && z.avail_out != 0) {
            AddLog("Cannot inflate iTunesCDB: the data ends early");
            return false;
        }
    }
    stream.Seek(0);
    return true;
}

bool TIpodMusicDb::ReadITunesBytes(TMemoryStream& stream, bool compressed) {
    if (compressed && !InflateCompressedDatabase(stream))
        return false;
    try {
        TByteReader file(stream.Data(), stream.Size());
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
