// The Photo Database of older devices: a tree of tagged chunks that lists the photos of the
// library (where each one's picture records lie in the .ithmb files) and its albums. Every chunk
// is checked against the end of the chunk that holds it, so damage ends the affected list with a
// log line and what was read before it stays.
#include <algorithm>
#include <cstring>
#include <numeric>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/ByteReader.h"
#include "base/MhChunk.h"
#include "base/Text.h"
#include "device/IpodModels.h"
#include "device/iPodDev.h"
#include "photo/iPodPhoto.h"

namespace corvane {

namespace {

// Bytes of each chunk that are read: they must lie inside the data for the chunk to be read.
constexpr size_t kMhfdFields = 28;
constexpr size_t kListFields = 12;  // mhli, mhla
constexpr size_t kMhiiFields = 52;
constexpr size_t kMhniFields = 36;
constexpr size_t kStringFields = 12;  // string body: byte count, 8 bytes, then the text

// Where an image entry keeps its picture's original date, and the seconds from 1904-01-01 to
// 1970-01-01.
constexpr size_t kMhiiOriginalDate = 40;
constexpr int64_t kMacEpochOffset = 2082844800;
constexpr TChunkRule kSection{
    .Tag = "section", .Fields = 16, .Parent = "the file", .MayClip = true};
constexpr TChunkRule kImage{
    .Tag = "mhii", .Fields = kMhiiFields, .Parent = "its section", .MayClip = true};
constexpr TChunkRule kAlbum{.Tag = "album", .Fields = 64, .Parent = "its section", .MayClip = true};
// Any album item: tag, header length, total length; a member (mhia) up to its image id.
constexpr TChunkRule kAlbumItem{.Tag = "album item", .Fields = 12, .Parent = "its album"};
constexpr uint32_t kMhiaFields = 20;
// A data object: tag, header length, total length, type.
constexpr TChunkRule kObject{.Tag = "mhod", .Fields = 16, .Parent = "its album"};

constexpr uint32_t kImageListSection = 1;
constexpr uint32_t kAlbumListSection = 2;

constexpr uint16_t kUtf8String = 1;
constexpr uint16_t kPictureContainer = 2;
constexpr uint16_t kUtf16String = 3;
constexpr uint16_t kFullResolution = 5;

// A full size kept as a file of its own beats every record format in the survey.
constexpr int32_t kSeparateFileWidth = 2042;
// The survey's starting preview width: a reference this wide or wider is no preview.
constexpr int32_t kNoPreviewWidth = 1024;
// Both readers stop at two references: the full-size one and the preview.
constexpr int kWantedReferences = 2;

uint32_t U32(const TByteReader& data, size_t offset) {
    return data.ReadU32(offset).value_or(0);
}
uint16_t U16(const TByteReader& data, size_t offset) {
    return data.ReadU16(offset).value_or(0);
}

bool IsSeparateFileFormat(uint32_t id) {
    return id == 4006 || id == 4005 || id == 4036;
}

bool IsPreferredPreview(uint32_t id) {
    return id == 1036 || id == 1066 || id == 1032 || id == 3004 || id == 3113;
}

constexpr std::string_view kSource = "Photo Database";

// The end of the "mhod" at position when it can be read whole: its tag, its fields, and a total
// length that covers them and stays inside data. Anything else counts as a wrong tag; a zero
// length can therefore never hold a walk in place.
// The callers log the failure in their own words.
std::optional<size_t> ObjectEnd(const TByteReader& data, size_t position) {
    if (!data.TagIs(position, "mhod"))
        return std::nullopt;
    auto object = ReadChunk(data, position, kObject, nullptr);
    if (!object)
        return std::nullopt;
    return object->End;
}

// N of ":Thumbs:F1019_N.ithmb": the text between the first "_" and the first "." as a file
// number; 1 when it is not one.
int32_t FileIndexOf(const std::string& name) {
    size_t underscore = name.find('_');
    size_t dot = name.find('.');
    if (underscore == std::string::npos || dot == std::string::npos || dot < underscore)
        return 1;
    auto number = ParseInt64(std::string_view(name).substr(underscore + 1, dot - underscore - 1));
    // Files are numbered from 1; anything else is no file number.
    if (!number || *number < 1 || *number > INT32_MAX)
        return 1;
    return static_cast<int32_t>(*number);
}

// One album chunk (which ends where album ends): its name, its further objects, its items.
void ReadAlbum(TIpodPhotoDb& db, const TByteReader& album, size_t position, TChunkDamage& damage) {
    size_t child = position + U32(album, position + 4);
    std::string name;
    uint32_t nameLength = db.ReadString(album, child, name);
    if (nameLength == 0)
        return;
    TPhotoAlbumItem& item = db.Albums.Add();
    item.Name = std::move(name);
    // Count follows Members, which only the membership step fills; MemberIds wait for it.
    item.Count = 0;
    child += nameLength;
    while (album.TagIs(child, "mhod")) {
        auto object = ReadChunk(album, child, kObject, &damage);
        // Where the items begin is unknown after a damaged object.
        if (!object)
            return;
        child = object->End;
    }
    const TChunkList items{
        .Tag = "album", .Offset = position, .Count = U32(album, position + 16), .What = "items"};
    WalkChunks(album, child, items, kAlbumItem, damage, [&](const TChunk& chunk) {
        // Another kind of item is passed over by its length.
        if (!chunk.Data.TagIs(chunk.Position, "mhia"))
            return true;
        if (chunk.U32(8) < kMhiaFields) {
            damage.TooShort(kAlbumItem.Tag, chunk.Position, chunk.U32(8));
            return false;
        }
        item.MemberIds.push_back(chunk.U32(16));
        return true;
    });
}

}  // namespace

bool TIpodPhotoDb::LoadPhotoDatabase() {
    TMemoryStream stream;
    if (!Device.ReadPhotoDatabase(stream)) {
        const std::string reason = Device.Log.Text();
        AddLog("Read DB fail: " +
               (reason.empty() ? std::string("the device has no Photo Database") : reason));
        return false;
    }
    return ReadPhotoDatabaseBytes(TByteReader(stream.Data(), stream.Size()));
}

bool TIpodPhotoDb::ReadPhotoDatabaseBytes(const TByteReader& file) {
    if (!file.Has(0, kMhfdFields) || !file.TagIs(0, "mhfd")) {
        AddLog("MHFD Err");
        return false;
    }
    bool imagesRead = false;
    TChunkDamage damage(Log, kSource);
    const TChunkList sections{
        .Tag = "mhfd",
        .Offset = 0,
        .Count = static_cast<uint64_t>(std::max(file.ReadI32(20).value_or(0), 0)),
        .What = "sections"};
    WalkChunks(file, U32(file, 4), sections, kSection, damage, [&](const TChunk& section) {
        uint32_t type = section.U32(12);
        if (type == kImageListSection) {
            imagesRead = ReadImageList(section.Data, section.Body());
            return imagesRead;
        }
        if (type == kAlbumListSection)
            return ReadAlbumList(section.Data, section.Body());
        return true;
    });
    damage.Finish();
    // However the walk ended, the albums are matched against the photos that stayed: an album
    // read before a failure must never point at photos that are gone. The preview cell follows
    // the formats the survey chose.
    BuildAlbumMembership();
    SetThumbSize();
    return imagesRead;
}

bool TIpodPhotoDb::ReadImageList(const TByteReader& data, size_t offset) {
    Photos.Clear();
    if (!data.Has(offset, kListFields) || !data.TagIs(offset, "mhli")) {
        AddLog("MHLI Err");
        return false;
    }
    uint32_t count = U32(data, offset + 8);
    if (count == 0)
        return false;
    size_t position = offset + U32(data, offset + 4);
    // The formats come from the first entry that shows both a full size and a preview. Some
    // devices' first entries only name a full-size file (their records all have size 0); a
    // library whose entries all do is still a list of files, shown without stored previews.
    bool surveyed = false;
    bool fullFilesOnly = false;
    size_t probe = position;
    for (uint32_t i = 0; i < count && !surveyed; ++i) {
        const size_t logBefore = Log.Text().size();
        surveyed = SurveyFormats(data, probe);
        if (surveyed)
            break;
        fullFilesOnly |= SeparateFiles;
        auto entry = data.Has(probe, kMhiiFields) && data.TagIs(probe, "mhii")
                         ? ReadChunk(data, probe, kImage, nullptr)
                         : std::nullopt;
        // A damaged entry ends the survey as it ends the walk; its line is logged once.
        if (!entry || entry->Clipped || Log.Text().size() != logBefore)
            break;
        probe = entry->End;
    }
    if (!surveyed) {
        if (!fullFilesOnly)
            return false;
        SeparateFiles = true;
        FullFormat = {};
        ThumbFormat = {};
        FullFormat.FileCount = 1;
        ThumbFormat.FileCount = 1;
    }
    // Every entry moves the walk on by at least its fields, and one that cannot be read (the
    // data ended before the count did) stops it.
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t length = ReadImage(data, position);
        if (length == 0)
            break;
        position += length;
    }
    return true;
}

bool TIpodPhotoDb::SurveyFormats(const TByteReader& data, size_t offset) {
    if (!data.Has(offset, kMhiiFields) || !data.TagIs(offset, "mhii")) {
        AddLog("Get info: MHII err");
        return false;
    }
    auto chunk = ReadChunk(data, offset, kImage, nullptr);
    if (!chunk) {
        // Only a refused entry is reported here: ReadImage reads this entry again and reports
        // a cut one, which must be said once.
        TChunkDamage damage(Log, kSource);
        ReadChunk(data, offset, kImage, &damage);
        return false;
    }
    const TByteReader& entry = chunk->Data;
    FullFormat.ByName = false;
    ThumbFormat.ByName = false;
    CellFormat = {};
    SeparateFiles = false;
    std::vector<TIthmbFormat> stored;

    int32_t bestFullWidth = 0;
    int32_t smallestPreviewWidth = kNoPreviewWidth;
    bool preferredPreview = false;
    uint32_t children = U32(entry, offset + 12);
    size_t child = offset + U32(entry, offset + 4);
    for (uint32_t k = 0; k < children; ++k) {
        auto childEnd = ObjectEnd(entry, child);
        if (!childEnd) {
            AddLog("Get info: MHOD");
            return false;
        }
        uint16_t type = U16(entry, child + 12);
        if (type == kFullResolution) {
            SeparateFiles = true;
            FullFormat.Id = 0;
            FullFormat.SlotSize = 0;
            FullFormat.Width = 0;
            FullFormat.Height = 0;
            bestFullWidth = kSeparateFileWidth;
        } else if (type == kPictureContainer) {
            TByteReader object = entry.Prefix(*childEnd);
            size_t ref = child + U32(entry, child + 4);
            if (!object.Has(ref, kMhniFields) || !object.TagIs(ref, "mhni")) {
                AddLog("Get info: MHNI");
                return false;
            }
            auto id = static_cast<int32_t>(U32(object, ref + 16));
            auto size = static_cast<int32_t>(U32(object, ref + 24));
            int32_t rows = U16(object, ref + 28);
            int32_t columns = U16(object, ref + 30);
            int32_t height = U16(object, ref + 32);
            int32_t width = U16(object, ref + 34);
            // A database that leaves a record's size open: the device's model tells it.
            if (width == 0 && height == 0) {
                if (const TIpodModel* model = Device.Model()) {
                    if (auto known = FindFormat(model->PhotoFormats(), id)) {
                        width = known->Width;
                        height = known->Height;
                    }
                }
            }

            if (width > 0 && height > 0 && !IsSeparateFileFormat(static_cast<uint32_t>(id)))
                stored.push_back({.Id = id,
                                  .SlotSize = size,
                                  .Width = width + columns,
                                  .Height = height + rows,
                                  .FileCount = 1,
                                  .ByName = false,
                                  .FileName = {}});
            if (IsSeparateFileFormat(static_cast<uint32_t>(id))) {
                SeparateFiles = true;
                FullFormat.Id = id;
                FullFormat.SlotSize = 0;
                FullFormat.Width = 0;
                FullFormat.Height = 0;
                bestFullWidth = kSeparateFileWidth;
            } else if (width > bestFullWidth) {
                bestFullWidth = width;
                FullFormat.SlotSize = size;
                FullFormat.Width = width + columns;
                FullFormat.Height = height + rows;
                FullFormat.Id = id;
            }

            if (!preferredPreview) {
                if (IsPreferredPreview(static_cast<uint32_t>(id))) {
                    preferredPreview = true;
                    smallestPreviewWidth = 1;
                    ThumbFormat.SlotSize = size;
                    ThumbFormat.Id = id;
                } else if (width > 0 && width < smallestPreviewWidth) {
                    smallestPreviewWidth = width;
                    ThumbFormat.SlotSize = size;
                    ThumbFormat.Width = width + columns;
                    ThumbFormat.Height = height + rows;
                    ThumbFormat.Id = id;
                }
            }
        }
        child = *childEnd;
    }
    FullFormat.FileCount = 1;
    ThumbFormat.FileCount = 1;
    bool found = bestFullWidth > 0 && smallestPreviewWidth < kNoPreviewWidth;
    if (found) {
        SetFormatGeometry(ThumbFormat);
        SetFormatGeometry(FullFormat);
        if (PreviewScale > 1)
            ChooseDensePreview(stored);
    }
    return found;
}

void TIpodPhotoDb::ChooseDensePreview(const std::vector<TIthmbFormat>& formats) {
    // The cell in points, as the preview format sets it.
    SetThumbSize();
    const int64_t wantWidth = int64_t{Photos.ThumbWidth} * PreviewScale;
    const int64_t wantHeight = int64_t{Photos.ThumbHeight} * PreviewScale;
    std::optional<TIthmbFormat> best;
    bool bestFills = false;
    for (const TIthmbFormat& candidate : formats) {
        TIthmbFormat format = candidate;
        SetFormatGeometry(format);
        // Only 16-bit pixels in the plain order are read as previews; the full-size format is
        // the export's, and a record larger than its format allows is damage.
        const bool readable = format.Id != 1019 && format.Id != 1023 && format.Id != 1067 &&
                              format.Id != 1081 && format.Id != FullFormat.Id &&
                              format.SlotSize > 0 &&
                              static_cast<uint32_t>(format.SlotSize) <= MaxRecordBytes(format.Id);
        if (!readable || format.Width <= ThumbFormat.Width || format.Height <= ThumbFormat.Height)
            continue;
        // Near enough to fill the cell at the screen's density (a few per cent are scaled).
        const bool fills =
            format.Width * 10 >= wantWidth * 9 && format.Height * 10 >= wantHeight * 9;
        const int64_t area = int64_t{format.Width} * format.Height;
        const int64_t bestArea = best ? int64_t{best->Width} * best->Height : 0;
        // The smallest that fills it, else the largest of those that do not.
        if (!best || (fills && !bestFills) ||
            (fills == bestFills && (fills ? area < bestArea : area > bestArea))) {
            best = format;
            bestFills = fills;
        }
    }
    if (!best)
        return;
    CellFormat = ThumbFormat;
    ThumbFormat = *best;
}

uint32_t TIpodPhotoDb::ReadImage(const TByteReader& data, size_t offset) {
    if (!data.Has(offset, kMhiiFields) || !data.TagIs(offset, "mhii")) {
        AddLog("MHII Err");
        return 0;
    }
    uint32_t length = U32(data, offset + 8);
    TChunkDamage damage(Log, kSource);
    auto chunk = ReadChunk(data, offset, kImage, &damage);
    if (!chunk)
        return 0;
    const TByteReader& entry = chunk->Data;

    TPhotoItem& photo = Photos.Add();
    photo.ImageId = U32(entry, offset + 16);
    photo.Name = std::to_string(photo.ImageId);
    photo.Checked = true;
    ++Photos.CheckedCount;
    photo.AlbumIndex = 0;
    // The picture's original date, in seconds since 1904; 0 when the database has none.
    if (const uint32_t created = U32(entry, offset + kMhiiOriginalDate); created != 0)
        photo.DateTaken = int64_t{created} - kMacEpochOffset;

    int found = 0;
    uint32_t children = U32(entry, offset + 12);
    size_t child = offset + U32(entry, offset + 4);
    for (uint32_t k = 0; k < children && found < kWantedReferences; ++k) {
        auto childEnd = ObjectEnd(entry, child);
        if (!childEnd) {
            // The photo stays as far as it was filled.
            AddLog("MHOD photo err");
            return length;
        }
        uint16_t type = U16(entry, child + 12);
        size_t body = child + U32(entry, child + 4);
        if (!ReadImageName(entry.Prefix(*childEnd), body, type, found))
            break;
        child = *childEnd;
    }
    // A full-size file is a photo even without a preview record.
    const TPhotoItem& last = Photos.Items(Photos.Count() - 1);
    if (found < kWantedReferences && !(SeparateFiles && !last.FilePath.empty()))
        Photos.RemoveLast();
    return length;
}

bool TIpodPhotoDb::ReadImageName(const TByteReader& data, size_t offset, uint16_t type,
                                 int& found) {
    if (type == kUtf8String)
        return true;
    if (!data.Has(offset, kMhniFields) || !data.TagIs(offset, "mhni")) {
        AddLog("MHNI error");
        return false;
    }
    if (Photos.Count() == 0)
        return false;
    TPhotoItem& photo = Photos.Items(Photos.Count() - 1);
    size_t child = offset + U32(data, offset + 4);
    std::string name;
    if (type == kFullResolution) {
        // A path that says nothing names no file.
        if (ReadString(data, child, name) > 0 && !name.empty()) {
            photo.FilePath = std::move(name);
            ++found;
        }
        return true;
    }
    auto format = static_cast<int32_t>(U32(data, offset + 16));
    if (format == FullFormat.Id && ReadString(data, child, name) > 0) {
        if (IsSeparateFileFormat(static_cast<uint32_t>(format))) {
            photo.FilePath = std::move(name);
        } else {
            photo.FullOffset = static_cast<int32_t>(U32(data, offset + 20));
            photo.FullSize = static_cast<int32_t>(U32(data, offset + 24));
            photo.FileIndex = FileIndexOf(name);
            FullFormat.FileCount = std::max(FullFormat.FileCount, photo.FileIndex);
        }
        ++found;
        return true;
    }
    if (format == ThumbFormat.Id) {
        photo.ThumbOffset = static_cast<int32_t>(U32(data, offset + 20));
        ++found;
    }
    return true;
}

uint32_t TIpodPhotoDb::ReadString(const TByteReader& data, size_t offset, std::string& text) {
    auto end = ObjectEnd(data, offset);
    if (!end)
        return 0;
    auto length = static_cast<uint32_t>(*end - offset);
    uint16_t type = U16(data, offset + 12);
    if (type != kUtf8String && type != kUtf16String)
        return length;
    TByteReader object = data.Prefix(*end);
    size_t body = offset + U32(data, offset + 4);
    if (!object.Has(body, kStringFields))
        return 0;
    auto bytes = object.Bytes(body + kStringFields, U32(object, body));
    if (!bytes)
        return 0;
    // The text ends at its first zero, as a terminated string would.
    if (type == kUtf8String) {
        const auto* chars = reinterpret_cast<const char*>(bytes->data());
        text.assign(chars, strnlen(chars, bytes->size()));
    } else {
        size_t units = bytes->size();
        for (size_t i = 0; i + 1 < bytes->size(); i += 2) {
            if ((*bytes)[i] == 0 && (*bytes)[i + 1] == 0) {
                units = i;
                break;
            }
        }
        text = Utf16LeToUtf8(bytes->data(), units);
    }
    return length;
}

bool TIpodPhotoDb::ReadAlbumList(const TByteReader& data, size_t offset) {
    if (!data.Has(offset, kListFields) || !data.TagIs(offset, "mhla")) {
        AddLog("MHLA Err");
        return false;
    }
    Albums.Clear();
    TChunkDamage damage(Log, kSource);
    const TChunkList albums{
        .Tag = "mhla", .Offset = offset, .Count = U32(data, offset + 8), .What = "albums"};
    WalkChunks(data, offset + U32(data, offset + 4), albums, kAlbum, damage,
               [&](const TChunk& album) {
                   ReadAlbum(*this, album.Data, album.Position, damage);
                   return true;
               });
    damage.Finish();
    return true;
}

void TIpodPhotoDb::BuildAlbumMembership() {
    if (Albums.Count() == 0)
        return;
    TPhotoAlbumItem& library = Albums.Items(0);
    library.Members.resize(static_cast<size_t>(Photos.Count()));
    std::iota(library.Members.begin(), library.Members.end(), 0);
    library.Count = Photos.Count();

    auto firstIndex = Photos.FirstIndexByImageId();
    for (int a = 1; a < Albums.Count(); ++a) {
        TPhotoAlbumItem& album = Albums.Items(a);
        album.Members.clear();
        // An id that names no photo (one that was not read, or was dropped) is left out, so
        // that every entry is a photo the browser can show.
        for (uint32_t id : album.MemberIds) {
            auto found = firstIndex.find(id);
            if (found == firstIndex.end())
                continue;
            album.Members.push_back(found->second);
            Photos.Items(found->second).AlbumIndex = a;
        }
        album.Count = static_cast<int32_t>(album.Members.size());
    }
}

}  // namespace corvane
