// Album-art formats by id, and the link from tracks to their covers.
#include "music/ArtworkIndex.h"

#include <algorithm>

#include "music/iPodMusic.h"

namespace corvane {
namespace {

using enum TArtworkPixels;

// Artwork formats of the iPods (16-bit pixels, little-endian) and of the early mobile devices
// (5-5-5). Sizes are those of the stored picture.
constexpr TArtworkFormat kFormats[] = {
    {1016, 140, 140, Rgb565Le}, {1017, 56, 56, Rgb565Le},   {1027, 100, 100, Rgb565Le},
    {1028, 100, 100, Rgb565Le}, {1029, 200, 200, Rgb565Le}, {1031, 42, 42, Rgb565Le},
    {1055, 128, 128, Rgb565Le}, {1060, 320, 320, Rgb565Le}, {1061, 56, 56, Rgb565Le},
    {1068, 128, 128, Rgb565Le}, {1071, 240, 240, Rgb565Le}, {1074, 50, 50, Rgb565Le},
    {1078, 80, 80, Rgb565Le},   {1084, 240, 240, Rgb565Le}, {3001, 256, 256, Rgb555Le},
    {3002, 128, 128, Rgb555Le}, {3003, 64, 64, Rgb555Le},   {3005, 320, 320, Rgb555Le},
    {3006, 56, 55, Rgb555Le},   {3007, 88, 88, Rgb555Le},
};

}  // namespace

std::string FirstFileOfFormat(uint32_t formatId) {
    // Appended piece by piece: GCC 12 at -O3 warns falsely about "F" + std::to_string(...).
    std::string name = "F";
    name += std::to_string(formatId);
    name += "_1.ithmb";
    return name;
}

std::optional<TArtworkFormat> DefaultArtworkFormat(uint32_t formatId) {
    for (const TArtworkFormat& format : kFormats) {
        if (format.Id == formatId)
            return format;
    }
    return std::nullopt;
}

TArtworkFormat TArtworkIndex::FormatOf(const TArtworkRecord& record) const {
    if (ModelFormats) {
        if (std::optional<TArtworkFormat> format = ModelFormats(record.FormatId))
            return *format;
    }
    if (std::optional<TArtworkFormat> format = DefaultArtworkFormat(record.FormatId))
        return *format;
    // An id nobody told us about: the record's own size, and the pixels by bytes per pixel.
    TArtworkFormat format;
    format.Id = record.FormatId;
    format.Width = record.Width + record.HorizontalPadding;
    format.Height = record.Height + record.VerticalPadding;
    const uint64_t pixels =
        uint64_t{static_cast<uint32_t>(format.Width)} * static_cast<uint32_t>(format.Height);
    if (pixels > 0 && record.Size == pixels * 3 / 2)
        format.Pixels = I420;
    else
        format.Pixels = MobileDevice ? Rgb555Le : Rgb565Le;
    return format;
}

const TArtworkRecord* TArtworkIndex::LargestRecord(int image) const {
    if (image < 0 || static_cast<size_t>(image) >= Images.size())
        return nullptr;
    const TArtworkRecord* best = nullptr;
    uint64_t bestPixels = 0;
    for (const TArtworkRecord& record : Images[static_cast<size_t>(image)].Records) {
        const TArtworkFormat format = FormatOf(record);
        const uint64_t width = record.Width > 0 ? record.Width : std::max(format.Width, 0);
        const uint64_t height = record.Height > 0 ? record.Height : std::max(format.Height, 0);
        if (best == nullptr || width * height > bestPixels) {
            best = &record;
            bestPixels = width * height;
        }
    }
    return best;
}

int TArtworkIndex::Link(TTrackList& tracks) const {
    // First image in list order for each key, as every lookup of the library keeps it.
    std::unordered_map<uint32_t, int> byImageId;
    std::unordered_map<uint64_t, int> bySongId;
    byImageId.reserve(Images.size());
    bySongId.reserve(Images.size());
    for (size_t i = 0; i < Images.size(); ++i) {
        byImageId.try_emplace(Images[i].ImageId, static_cast<int>(i));
        if (Images[i].SongId != 0)
            bySongId.try_emplace(Images[i].SongId, static_cast<int>(i));
    }
    int linked = 0;
    // Each track lies in its own block, where the processor does not look ahead: asked for a
    // few tracks early, the walk does not wait on every one.
    constexpr int kPrefetchAhead = 8;
    for (int i = 0; i < tracks.Count(); ++i) {
        if (i + kPrefetchAhead < tracks.Count())
            __builtin_prefetch(&tracks.Items(i + kPrefetchAhead).PersistentId, 1);
        TTrackItem& track = tracks.Items(i);
        track.Cover = -1;
        if (track.ArtworkLink != 0) {
            if (auto found = byImageId.find(track.ArtworkLink); found != byImageId.end())
                track.Cover = found->second;
        }
        if (track.Cover < 0 && track.PersistentId != 0) {
            if (auto found = bySongId.find(track.PersistentId); found != bySongId.end())
                track.Cover = found->second;
        }
        if (track.Cover >= 0)
            ++linked;
    }
    return linked;
}

}  // namespace corvane
