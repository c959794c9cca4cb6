// Inflating the body of an iTunesCDB. The header's total length tells the inflated size, so a
// well-formed body is inflated in one call into a buffer of exactly that size (libdeflate, about
// three times zlib's pace). Anything else (a header that announces too little or nothing, a
// damaged or truncated body) goes through zlib's streaming inflater, which grows its buffer as
// the data comes and words what is wrong.
#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <string>

#include "base/ByteReader.h"
#include "music/ITunesCdb.h"
#include "music/iPodMusic.h"
#include "platform/AheadPrefaulter.h"

namespace corvane {

namespace {

constexpr size_t kMhbdFields = 24;
// Deflate turns at most 258 bytes into one match of at least 2 bits: no body inflates to more
// than about 1032 times its size.
constexpr size_t kMaxDeflateRatio = 1040;
// Where the streaming inflater starts when the header tells nothing: databases shrink to a
// tenth or less.
constexpr size_t kGuessedRatio = 16;
// Libraries shrink to between a fifth and a sixteenth; a header that announces more than this
// many times its body is believed only as the inflater fills the buffer.
constexpr uint64_t kPrefaultedRatio = 32;

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

struct TDecompressorFree {
    void operator()(libdeflate_decompressor* decompressor) const {
        libdeflate_free_decompressor(decompressor);
    }
};

const char* InflateFailure(const z_stream& stream, const char* fallback) {
    return stream.msg ? stream.msg : fallback;
}

std::string LimitText(size_t limit, uint64_t announced) {
    if (announced > TIpodMusicDb::kMaxInflatedITunesDb && limit == announced)
        return "the " + std::to_string(limit) + " bytes its header announces";
    return std::to_string(limit >> 20) + " MiB";
}

// A buffer of `size` bytes holding the header, with room for at least `body` more.
bool StartBuffer(TInflatedITunesDb& out, const uint8_t* header, size_t headerLength, size_t body) {
    out.Buffer = TPageBuffer(headerLength + body);
    if (!out.Buffer)
        return false;
    std::memcpy(out.Buffer.Data(), header, headerLength);
    out.Size = headerLength;
    return true;
}

// Doubles the room after out.Size, up to `most` bytes in all.
bool GrowBuffer(TInflatedITunesDb& out, size_t most) {
    size_t size = std::min(most, std::max(out.Buffer.Size() * 2, out.Buffer.Size() + 1));
    TPageBuffer larger(size);
    if (!larger)
        return false;
    std::memcpy(larger.Data(), out.Buffer.Data(), out.Size);
    out.Buffer = std::move(larger);
    return true;
}

}  // namespace

size_t TIpodMusicDb::InflateLimit(uint64_t announced) {
    uint64_t limit = std::max<uint64_t>(announced, kMaxInflatedITunesDb);
    return static_cast<size_t>(std::min<uint64_t>(limit, kLargestITunesDb));
}

bool TIpodMusicDb::InflateITunesCdb(const uint8_t* data, size_t size, TInflatedITunesDb& out) {
    out = TInflatedITunesDb();
    TByteReader bytes(data, size);
    const uint32_t headerLength = bytes.ReadU32(4).value_or(0);
    const uint32_t totalLength = bytes.ReadU32(8).value_or(0);
    if (!bytes.Has(0, kMhbdFields) || headerLength < kMhbdFields || headerLength > size) {
        AddLog("Cannot inflate iTunesCDB: the database header is incomplete");
        return false;
    }
    const uint8_t* body = data + headerLength;
    const size_t bodySize = size - headerLength;
    const uint64_t announced = totalLength > headerLength ? totalLength - headerLength : 0;
    const size_t limit = InflateLimit(announced);
    // No buffer larger than the body could ever fill.
    const size_t possible =
        bodySize < limit / kMaxDeflateRatio ? bodySize * kMaxDeflateRatio : limit;

    if (announced > 0 && announced <= std::min(limit, possible)) {
        std::unique_ptr<libdeflate_decompressor, TDecompressorFree> decompressor(
            libdeflate_alloc_decompressor());
        if (decompressor && StartBuffer(out, data, headerLength, announced)) {
            // A large buffer is mapped in on the other core while this one inflates, as far as a
            // body of this size could plausibly fill it.
            const auto plausible = static_cast<size_t>(
                std::min<uint64_t>(out.Buffer.Size(), uint64_t{bodySize} * kPrefaultedRatio));
            const TAheadPrefaulter prefault(out.Buffer.Data(), plausible, plausible);
            size_t used = 0;
            size_t produced = 0;
            libdeflate_result result = libdeflate_zlib_decompress_ex(
                decompressor.get(), body, bodySize, out.Buffer.Data() + headerLength, announced,
                &used, &produced);
            if (result == LIBDEFLATE_SUCCESS) {
                out.Size = headerLength + produced;
                return true;
            }
        }
        // A header that announced too little, or a damaged body: zlib says which.
    }

    TInflater inflater;
    if (!inflater.Ready()) {
        AddLog("Cannot inflate iTunesCDB: zlib could not start");
        return false;
    }
    size_t first =
        announced > 0 ? announced
                      : (bodySize < possible / kGuessedRatio ? bodySize * kGuessedRatio : possible);
    // At least 64 KiB to start, but never more than the body could fill (which may be less).
    first = std::min(std::max(first, size_t{64} << 10), possible);
    if (!StartBuffer(out, data, headerLength, first)) {
        AddLog("Cannot inflate iTunesCDB: out of memory");
        return false;
    }
    z_stream& z = inflater.Stream();
    z.next_in = const_cast<Bytef*>(body);
    size_t inputLeft = bodySize;
    for (;;) {
        if (z.avail_in == 0 && inputLeft > 0) {
            z.avail_in = static_cast<uInt>(std::min<size_t>(inputLeft, UINT_MAX));
            inputLeft -= z.avail_in;
        }
        const bool atLimit = out.Size - headerLength >= limit;
        if (out.Size == out.Buffer.Size() && !atLimit && !GrowBuffer(out, headerLength + limit)) {
            AddLog("Cannot inflate iTunesCDB: out of memory");
            return false;
        }
        // At the limit one more byte is asked for: a body that ends exactly there is whole, and
        // a bomb is refused before its bytes are kept, not after they filled the memory.
        uint8_t probe = 0;
        size_t room = atLimit ? 1 : std::min<size_t>(out.Buffer.Size() - out.Size, UINT_MAX);
        z.next_out = atLimit ? &probe : out.Buffer.Data() + out.Size;
        z.avail_out = static_cast<uInt>(room);
        int status = inflate(&z, Z_NO_FLUSH);
        if (atLimit && z.avail_out == 0) {
            AddLog("Cannot inflate iTunesCDB: it inflates to more than " +
                   LimitText(limit, announced));
            return false;
        }
        if (!atLimit)
            out.Size += room - z.avail_out;
        if (status == Z_STREAM_END)
            return true;
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
}

bool TIpodMusicDb::InflateCompressedDatabase(TMemoryStream& stream) {
    TInflatedITunesDb inflated;
    if (!InflateITunesCdb(stream.Data(), stream.Size(), inflated))
        return false;
    stream.Clear();
    stream.Write(inflated.Buffer.Data(), inflated.Size);
    stream.Seek(0);
    return true;
}

}  // namespace corvane
