// Feeds arbitrary bytes to the iTunesDB reader, once as a plain iTunesDB and once as an
// iTunesCDB: the database comes from the device, so no input may crash, hang, read past the
// data or grow memory without bound, and what is read must be a whole model.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "device/DeviceFolder.h"
#include "device/iPodDev.h"
#include "music/iPodMusic.h"

namespace {

// Well-formed UTF-8 without encoded surrogates: what the UTF-16 conversion must give.
bool IsUtf8(const std::string& text) {
    size_t i = 0;
    while (i < text.size()) {
        auto lead = static_cast<unsigned char>(text[i]);
        size_t extra = 0;
        if (lead >= 0x80) {
            if ((lead & 0xE0) == 0xC0) {
                extra = 1;
            } else if ((lead & 0xF0) == 0xE0) {
                extra = 2;
            } else if ((lead & 0xF8) == 0xF0) {
                extra = 3;
            } else {
                return false;
            }
        }
        if (extra > text.size() - i - 1)
            return false;
        for (size_t k = 1; k <= extra; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
                return false;
        }
        if (lead == 0xED && static_cast<unsigned char>(text[i + 1]) >= 0xA0)
            return false;
        i += extra + 1;
    }
    return true;
}

void Check(const corvane::TIpodMusicDb& db) {
    int64_t checkedSize = 0;
    for (const corvane::TTrackItem& track : db.Tracks) {
        if (!track.Checked || track.Rating > 100 || track.PlayCount < 0)
            __builtin_trap();
        if (track.DurationText.empty() || track.SizeText.empty())
            __builtin_trap();
        for (const std::string* text :
             {&track.Title, &track.Artist, &track.Album, &track.Genre, &track.Location}) {
            if (!IsUtf8(*text))
                __builtin_trap();
        }
        checkedSize += track.FileSize;
    }
    if (db.Tracks.CheckedCount != static_cast<int32_t>(db.Tracks.Count()))
        __builtin_trap();
    if (db.Tracks.CheckedSize != checkedSize || db.TotalSize < checkedSize)
        __builtin_trap();
    for (const corvane::TPlayListItem& playlist : db.PlayLists) {
        if (playlist.Count != static_cast<int32_t>(playlist.TrackPids.size()))
            __builtin_trap();
        if (playlist.Name.empty() || !IsUtf8(playlist.Name))
            __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // One session for the whole run: the reader needs a library, not a device.
    static corvane::TIpodDevice device([](bool) {}, corvane::OfflineSessionOptions());
    for (bool compressed : {false, true}) {
        corvane::TIpodMusicDb db(device);
        corvane::TMemoryStream stream;
        stream.Write(data, size);
        stream.Rewind();
        db.ReadITunesBytes(stream, compressed);
        Check(db);
    }
    return 0;
}
