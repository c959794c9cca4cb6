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

namespace {

// Over keys sorted with their image index: among equal keys the first in list order comes first.
template <typename TKey>
int FindKey(const std::vector<std::pair<TKey, int32_t>>& keys, TKey key) {
    auto found = std::lower_bound(keys.begin(), keys.end(), std::pair<TKey, int32_t>{key, -1},
                                  [](const auto& a, const auto& b) { return a.first < b.first; });
    return found != keys.end() && found->first == key ? found->second : -1;
}

}  // namespace

TCoverFinder::TCoverFinder(const std::vector<TArtworkImage>& images) : FImages(images) {
    if (images.empty())
        return;
    uint32_t first = UINT32_MAX;
    uint32_t last = 0;
    for (const TArtworkImage& image : images) {
        first = std::min(first, image.ImageId);
        last = std::max(last, image.ImageId);
    }
    // Writers number covers one after another: a table by id then costs a few bytes a cover.
    const uint64_t range = uint64_t{last} - first + 1;
    if (range <= 4 * uint64_t{images.size()} + 1024) {
        FFirstId = first;
        FImageTable.assign(static_cast<size_t>(range), -1);
        for (size_t i = images.size(); i-- > 0;)
            FImageTable[images[i].ImageId - first] = static_cast<int32_t>(i);
        return;
    }
    FImageIds.reserve(images.size());
    for (size_t i = 0; i < images.size(); ++i)
        FImageIds.emplace_back(images[i].ImageId, static_cast<int32_t>(i));
    std::sort(FImageIds.begin(), FImageIds.end());
}

int TCoverFinder::ByImageId(uint32_t imageId) const {
    if (!FImageTable.empty()) {
        const uint64_t at = uint64_t{imageId} - FFirstId;
        return imageId >= FFirstId && at < FImageTable.size() ? FImageTable[at] : -1;
    }
    return FindKey(FImageIds, imageId);
}

int TCoverFinder::BySongId(uint64_t songId) {
    if (!FSongIdsMade) {
        FSongIdsMade = true;
        for (size_t i = 0; i < FImages.size(); ++i) {
            if (FImages[i].SongId != 0)
                FSongIds.emplace_back(FImages[i].SongId, static_cast<int32_t>(i));
        }
        std::sort(FSongIds.begin(), FSongIds.end());
    }
    return FindKey(FSongIds, songId);
}

int TCoverFinder::CoverOf(uint32_t artworkLink, uint64_t persistentId) {
    int cover = artworkLink != 0 ? ByImageId(artworkLink) : -1;
    if (cover < 0 && persistentId != 0)
        cover = BySongId(persistentId);
    return cover;
}

int TArtworkIndex::Link(TTrackList& tracks) const {
    TCoverFinder covers(Images);
    int linked = 0;
    // Each track lies in its own block, where the processor does not look ahead: asked for a
    // few tracks early, the walk does not wait on every one.
    constexpr int kPrefetchAhead = 8;
    for (int i = 0; i < tracks.Count(); ++i) {
        if (i + kPrefetchAhead < tracks.Count())
            __builtin_prefetch(&tracks.Items(i + kPrefetchAhead).PersistentId, 1);
        TTrackItem& track = tracks.Items(i);
        track.Cover = covers.CoverOf(track.ArtworkLink, track.PersistentId);
        if (track.Cover >= 0)
            ++linked;
    }
    return linked;
}

}  // namespace corvane
