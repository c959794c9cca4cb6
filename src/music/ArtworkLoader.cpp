// Finding the covers of the tracks read: ArtworkDB beside an iTunesDB, or the artwork tables of
// MediaLibrary.sqlitedb. A missing or damaged index only leaves tracks without covers.
#include <algorithm>
#include <exception>
#include <unordered_map>

#include "base/ByteReader.h"
#include "base/MemoryStream.h"
#include "device/IpodModels.h"
#include "device/iPodDev.h"
#include "music/SQLiteWrap.h"
#include "music/iPodMusic.h"
#include "platform/LocalFiles.h"

namespace corvane {
namespace {

// Where an iPod keeps ArtworkDB and its .ithmb files; a mobile device of the iTunesDB era keeps
// them in its own control folder.
constexpr const char* kDiskArtworkFolder = "/iPod_Control/Artwork/";
constexpr const char* kMobileArtworkFolder = "/iTunes_Control/Artwork/";
// The MediaLibrary's picture files (relative_path of its artwork table) and its .ithmb files.
constexpr const char* kOriginalsFolder = "/iTunes_Control/iTunes/Artwork/Originals/";
constexpr const char* kMediaLibraryThumbFolder = "/iTunes_Control/iTunes/Artwork/";

// The item covers of the newer MediaLibrary: the best token of an item (entity type 0), else
// any token of it, each naming a picture file.
constexpr const char* kTokenSql =
    "SELECT b.entity_pid,a.relative_path FROM best_artwork_token b JOIN artwork a ON "
    "a.artwork_token=b.available_artwork_token WHERE b.entity_type=0 AND a.relative_path<>'' "
    "UNION ALL "
    "SELECT t.entity_pid,a.relative_path FROM artwork_token t JOIN artwork a ON "
    "a.artwork_token=t.artwork_token AND a.artwork_source_type=t.artwork_source_type "
    "WHERE t.entity_type=0 AND a.relative_path<>''";
// The older form: an item's cache id names one record per format in the .ithmb files.
constexpr const char* kCacheSql =
    "SELECT e.item_pid,e.artwork_cache_id,i.format_id,i.offset,i.length FROM item_extra e "
    "JOIN artwork_info i ON i.cache_id=CAST(e.artwork_cache_id AS TEXT) "
    "WHERE e.artwork_cache_id<>0 ORDER BY e.artwork_cache_id,i.format_id";

TArtworkPixels ArtworkPixels(TImagePixels pixels) {
    switch (pixels) {
        case TImagePixels::Rgb565Le:
            return TArtworkPixels::Rgb565Le;
        case TImagePixels::Rgb565Be:
        case TImagePixels::Rgb565Be90:
            return TArtworkPixels::Rgb565Be;
        case TImagePixels::Rgb555Le:
        case TImagePixels::RecRgb555Le:
            return TArtworkPixels::Rgb555Le;
        case TImagePixels::Uyvy:
            return TArtworkPixels::Uyvy;
        case TImagePixels::I420:
            return TArtworkPixels::I420;
    }
    return TArtworkPixels::Rgb565Le;
}

// The cover formats of the model SysInfo names: an ArtworkDB gives a record's format id and
// often its size, never its pixels, and some models leave the size open too.
TArtworkFormatSource ModelArtworkFormats(const TIpodModel* model) {
    if (model == nullptr || model->ArtworkFormats().empty())
        return {};
    return [formats = model->ArtworkFormats()](uint32_t id) -> std::optional<TArtworkFormat> {
        const std::optional<TImageFormat> known = FindFormat(formats, static_cast<int32_t>(id));
        if (!known)
            return std::nullopt;
        return TArtworkFormat{id, known->Width, known->Height, ArtworkPixels(known->Pixels)};
    };
}

bool HasColumn(TSQLiteDatabase& db, const std::string& table, const std::string& column) {
    TSQLiteTable rows =
        db.GetTable("SELECT 1 FROM pragma_table_info('" + table + "') WHERE name='" + column + "'");
    return !rows.Eof();
}

}  // namespace

bool TIpodMusicDb::ReadTrackArtworkDb() {
    Artwork.MobileDevice = Device.IsIos();
    const bool fromITunesDb = std::any_of(Tracks.begin(), Tracks.end(), [](const TTrackItem& t) {
        return t.PersistentId != 0 || t.ArtworkLink != 0;
    });
    if (!fromITunesDb)
        return false;
    const std::string folder = Device.IsIos() ? kMobileArtworkFolder : kDiskArtworkFolder;
    TMemoryStream stream;
    if (!Device.ReadIfPresent(folder + "ArtworkDB", stream))
        return false;
    Artwork.ReadArtworkDb(TByteReader(stream.Data(), stream.Size()), Log);
    Artwork.Folders = {folder};
    Artwork.ModelFormats = ModelArtworkFormats(Device.Model());
    return true;
}

void TIpodMusicDb::LoadArtwork() {
    Artwork.MobileDevice = Device.IsIos();
    // Covers the MediaLibrary named are linked already.
    if (!Artwork.Empty())
        return;
    if (ReadTrackArtworkDb())
        Artwork.Link(Tracks);
}

int TIpodMusicDb::ReadMediaLibraryArtwork(const std::string& fileName) {
    Artwork.Clear();
    std::unordered_map<int64_t, int> coverOfPid;
    try {
        TSQLiteDatabase db(fileName,
                           IsStagedCopy(fileName) ? TSQLiteOpen::ReadWrite : TSQLiteOpen::ReadOnly);
        if (db.TableExists("artwork") && db.TableExists("best_artwork_token") &&
            db.TableExists("artwork_token")) {
            std::unordered_map<std::string, int> byPath;
            for (TSQLiteTable rows = db.GetTable(kTokenSql); !rows.Eof(); rows.Next()) {
                const std::string relative = rows.FieldAsString(1);
                // A path that could leave the artwork folder names no picture of it.
                if (!JoinInside("x", relative))
                    continue;
                auto [found, added] = byPath.try_emplace(relative, Artwork.Images.size());
                if (added) {
                    TArtworkImage& image = Artwork.Images.emplace_back();
                    image.PictureFile = kOriginalsFolder + relative;
                }
                coverOfPid.try_emplace(rows.FieldAsInteger(0), found->second);
            }
        } else if (db.TableExists("artwork_info") &&
                   HasColumn(db, "item_extra", "artwork_cache_id")) {
            int64_t lastCache = 0;
            for (TSQLiteTable rows = db.GetTable(kCacheSql); !rows.Eof(); rows.Next()) {
                const int64_t cache = rows.FieldAsInteger(1);
                const int64_t offset = rows.FieldAsInteger(3);
                const int64_t length = rows.FieldAsInteger(4);
                if (offset < 0 || offset > UINT32_MAX || length <= 0 ||
                    length > TArtworkIndex::kMaxRecordBytes)
                    continue;
                if (Artwork.Images.empty() || cache != lastCache) {
                    Artwork.Images.emplace_back().ImageId = static_cast<uint32_t>(cache);
                    lastCache = cache;
                }
                TArtworkImage& image = Artwork.Images.back();
                const auto format = static_cast<uint32_t>(rows.FieldAsInteger(2));
                // Every item of an album names the album's records again.
                const bool known = std::any_of(
                    image.Records.begin(), image.Records.end(),
                    [&](const TArtworkRecord& record) { return record.FormatId == format; });
                if (!known) {
                    TArtworkRecord& record = image.Records.emplace_back();
                    record.FormatId = format;
                    record.FileName = FirstFileOfFormat(format);
                    record.Offset = static_cast<uint32_t>(offset);
                    record.Size = static_cast<uint32_t>(length);
                }
                coverOfPid.try_emplace(rows.FieldAsInteger(0),
                                       static_cast<int>(Artwork.Images.size() - 1));
            }
            Artwork.Folders = {kMediaLibraryThumbFolder, kMobileArtworkFolder};
        }
    } catch (const std::exception& error) {
        // Covers are an extra: the tracks stay, without them.
        AddLog(std::string("MediaLibrary: its artwork cannot be read: ") + error.what());
        Artwork.Clear();
        coverOfPid.clear();
    }
    int linked = 0;
    coverOfPid.erase(0);  // items from property lists and folders carry no pid
    for (TTrackItem& track : Tracks) {
        if (auto found = coverOfPid.find(track.Pid); found != coverOfPid.end()) {
            track.Cover = found->second;
            ++linked;
        }
    }
    return linked;
}

}  // namespace corvane
