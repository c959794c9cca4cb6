// ArtworkDB: the iPod's index of album art, a tree of the same tagged chunks as the Photo
// Database. Its image list names, per cover, the song it belongs to and one record per format
// in the F<format>_<n>.ithmb files; its file list gives each format's record size.
#include <algorithm>
#include <array>
#include <cstring>
#include <span>
#include <string>
#include <string_view>

#include "base/ByteReader.h"
#include "base/MhChunk.h"
#include "base/Text.h"
#include "music/ArtworkIndex.h"

namespace corvane {
namespace {

constexpr std::string_view kSource = "ArtworkDB";

constexpr size_t kMhfdFields = 24;  // up to the number of sections
constexpr size_t kListFields = 12;  // mhli, mhlf: tag, header length, count
constexpr TChunkRule kSection{
    .Tag = "section", .Fields = 16, .Parent = "the file", .MayClip = true};
// mhii up to the song id.
constexpr TChunkRule kImage{.Tag = "mhii", .Fields = 28, .Parent = "its section", .MayClip = true};
// mhif up to the record size.
constexpr TChunkRule kFileFormat{.Tag = "mhif", .Fields = 24, .Parent = "its section"};
// mhod: tag, header length, total length, type.
constexpr TChunkRule kObject{.Tag = "mhod", .Fields = 16, .Parent = "its image"};
// mhni up to the width.
constexpr TChunkRule kRecord{.Tag = "mhni", .Fields = 36, .Parent = "its object"};
constexpr size_t kStringFields = 12;  // string body: byte count, encoding, zero, then the text

constexpr uint32_t kImageListSection = 1;
constexpr uint32_t kFileListSection = 3;
constexpr uint16_t kPictureContainer = 2;
constexpr uint16_t kUtf16String = 3;
// A cover has one record per format of its model; a few more allow for odd writers.
constexpr size_t kMaxRecordsPerImage = 16;

uint32_t U32(const TByteReader& data, size_t offset) {
    return data.ReadU32(offset).value_or(0);
}

// ":F1028_1.ithmb" -> "F1028_1.ithmb". A name that could reach another folder names no file.
std::string ThumbFileName(const std::string& stored) {
    const size_t colon = stored.find_last_of(':');
    std::string name = colon == std::string::npos ? stored : stored.substr(colon + 1);
    if (name.empty() || name.find('/') != std::string::npos ||
        name.find('\\') != std::string::npos || name.find_first_not_of('.') == std::string::npos)
        return {};
    return name;
}

// The file names of the last few string objects read, with the bytes they were made from: the
// records of one format name the same file, thousands of times in a large library.
class TNameCache {
public:
    const std::string* Find(std::span<const uint8_t> bytes, bool utf8) const {
        for (const TEntry& entry : FEntries) {
            if (entry.Used && entry.Utf8 == utf8 && entry.Bytes.size() == bytes.size() &&
                std::equal(bytes.begin(), bytes.end(), entry.Bytes.begin()))
                return &entry.FileName;
        }
        return nullptr;
    }
    const std::string& Add(std::span<const uint8_t> bytes, bool utf8, std::string fileName) {
        TEntry& entry = FEntries[FNext];
        FNext = (FNext + 1) % FEntries.size();
        entry = {true, bytes, utf8, std::move(fileName)};
        return entry.FileName;
    }

private:
    struct TEntry {
        bool Used = false;
        std::span<const uint8_t> Bytes{};  // inside the ArtworkDB being read
        bool Utf8 = false;
        std::string FileName{};
    };
    // A few formats per model, each in one file mostly.
    std::array<TEntry, 8> FEntries{};
    size_t FNext = 0;
};

// The .ithmb file named by the type-3 string object at position (UTF-16LE, or UTF-8 when its
// encoding says 1); empty when it is not one, does not fit or names no usable file.
std::string_view ReadFileName(const TByteReader& data, size_t position, TNameCache& cache) {
    if (!data.TagIs(position, "mhod"))
        return {};
    auto object = ReadChunk(data, position, kObject, nullptr);
    if (!object || object->U16(12) != kUtf16String)
        return {};
    const size_t body = object->Body();
    if (!object->Data.Has(body, kStringFields))
        return {};
    auto bytes = object->Data.Bytes(body + kStringFields, U32(object->Data, body));
    if (!bytes)
        return {};
    const bool utf8 = U32(object->Data, body + 4) == 1;
    if (const std::string* known = cache.Find(*bytes, utf8))
        return *known;
    std::string text;
    if (utf8) {
        const auto* chars = reinterpret_cast<const char*>(bytes->data());
        text.assign(chars, strnlen(chars, bytes->size()));
    } else {
        text = Utf16LeToUtf8(bytes->data(), bytes->size() & ~size_t{1});
    }
    return cache.Add(*bytes, utf8, ThumbFileName(text));
}

// The mhni inside a picture container object, read into record (filled in place: a large
// library has thousands); false when it cannot be read.
bool ReadRecord(const TChunk& object, TChunkDamage& damage, TNameCache& names,
                TArtworkRecord& record) {
    const size_t position = object.Body();
    if (!object.Data.TagIs(position, "mhni"))
        return false;
    auto ref = ReadChunk(object.Data, position, kRecord, &damage);
    if (!ref)
        return false;
    record.FormatId = ref->U32(16);
    record.Offset = ref->U32(20);
    record.Size = ref->U32(24);
    record.VerticalPadding = ref->U16(28);
    record.HorizontalPadding = ref->U16(30);
    record.Height = ref->U16(32);
    record.Width = ref->U16(34);
    record.FileName = ReadFileName(ref->Data, ref->Body(), names);
    // Without a usable name the record lies in the format's first file.
    if (record.FileName.empty())
        record.FileName = FirstFileOfFormat(record.FormatId);
    return true;
}

void ReadImage(const TChunk& chunk, TArtworkIndex& index, TChunkDamage& damage, TNameCache& names) {
    TArtworkImage& image = index.Images.emplace_back();
    image.ImageId = chunk.U32(16);
    image.SongId = chunk.Data.ReadU64(chunk.Position + 20).value_or(0);
    const TChunkList objects{
        .Tag = "mhii", .Offset = chunk.Position, .Count = chunk.U32(12), .What = "objects"};
    image.Records.reserve(std::min<size_t>(objects.Count, kMaxRecordsPerImage));
    // Records past the limit are still read, for what they tell of damage.
    TArtworkRecord spare;
    WalkChunks(chunk.Data, chunk.Body(), objects, kObject, damage, [&](const TChunk& object) {
        if (!object.Data.TagIs(object.Position, "mhod"))
            return false;
        if (object.U16(12) == kPictureContainer) {
            const bool room = image.Records.size() < kMaxRecordsPerImage;
            if (!ReadRecord(object, damage, names, room ? image.Records.emplace_back() : spare) &&
                room)
                image.Records.pop_back();
        }
        return true;
    });
    if (image.Records.empty())
        index.Images.pop_back();
}

}  // namespace

bool TArtworkIndex::ReadArtworkDb(const TByteReader& file, TLogText& log) {
    Images.clear();
    FileFormats.clear();
    if (!file.Has(0, kMhfdFields) || !file.TagIs(0, "mhfd")) {
        log.AddLog("ArtworkDB: no mhfd header");
        return false;
    }
    TChunkDamage damage(log, kSource);
    TNameCache names;
    const TChunkList sections{
        .Tag = "mhfd",
        .Offset = 0,
        .Count = static_cast<uint64_t>(std::max(file.ReadI32(20).value_or(0), 0)),
        .What = "sections"};
    WalkChunks(file, U32(file, 4), sections, kSection, damage, [&](const TChunk& section) {
        const uint32_t type = section.U32(12);
        if (type != kImageListSection && type != kFileListSection)
            return true;
        const size_t list = section.Body();
        const char* tag = type == kImageListSection ? "mhli" : "mhlf";
        if (!section.Data.Has(list, kListFields) || !section.Data.TagIs(list, tag)) {
            damage.RunsPast(tag, list, "its section");
            return true;
        }
        const TChunkList members{.Tag = tag,
                                 .Offset = list,
                                 .Count = U32(section.Data, list + 8),
                                 .What = type == kImageListSection ? "images" : "formats"};
        const size_t first = list + U32(section.Data, list + 4);
        if (type == kImageListSection) {
            // Each image is at least an mhii's fields long: the count reserves no more.
            Images.reserve(
                Images.size() +
                std::min<size_t>(members.Count, section.Data.Left(first) / kImage.Fields));
            WalkChunks(section.Data, first, members, kImage, damage, [&](const TChunk& chunk) {
                if (chunk.Data.TagIs(chunk.Position, "mhii"))
                    ReadImage(chunk, *this, damage, names);
                return true;
            });
        } else {
            WalkChunks(section.Data, first, members, kFileFormat, damage, [&](const TChunk& chunk) {
                if (chunk.Data.TagIs(chunk.Position, "mhif"))
                    FileFormats.try_emplace(chunk.U32(16), chunk.U32(20));
                return true;
            });
        }
        return true;
    });
    damage.Finish();
    return true;
}

}  // namespace corvane
