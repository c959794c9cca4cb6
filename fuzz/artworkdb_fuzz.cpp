// Feeds arbitrary bytes to the ArtworkDB reader, links a few tracks to what it found, and decodes
// the same bytes as the largest record of the first cover. The index comes from the device: no
// input may crash, hang, read past the data or grow memory without bound, and every link must
// name a cover that exists.
#include <cstddef>
#include <cstdint>
#include <span>

#include "base/ByteReader.h"
#include "music/iPodMusic.h"
#include "photo/ArtworkPictures.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    corvane::TLogText log;
    corvane::TArtworkIndex index;
    index.ReadArtworkDb(corvane::TByteReader(data, size), log);

    corvane::TTrackList tracks;
    for (uint32_t i = 0; i < 4; ++i) {
        corvane::TTrackItem& track = tracks.Add();
        track.ArtworkLink = i < index.Images.size() ? index.Images[i].ImageId : 100 + i;
        track.PersistentId = i < index.Images.size() ? index.Images[i].SongId : 0;
    }
    index.Link(tracks);
    for (const corvane::TTrackItem& track : tracks) {
        if (track.Cover >= static_cast<int32_t>(index.Images.size()))
            __builtin_trap();
    }
    for (const corvane::TArtworkImage& image : index.Images) {
        if (image.Records.empty() || image.Records.size() > 16)
            __builtin_trap();
        for (const corvane::TArtworkRecord& record : image.Records) {
            if (record.FileName.empty() || record.FileName.find('/') != std::string::npos)
                __builtin_trap();
        }
    }
    if (const corvane::TArtworkRecord* record = index.LargestRecord(0)) {
        corvane::TBitmap picture;
        corvane::DecodeArtworkRecord(std::span<const uint8_t>(data, size), *record,
                                     index.FormatOf(*record), picture);
        if (!picture.Empty() && (picture.Width() > 2048 || picture.Height() > 2048))
            __builtin_trap();
    }
    return 0;
}
