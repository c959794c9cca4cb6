// The photo library of releases that keep their assets in ZASSET. Entity numbers, and with them
// the name and columns of the album-asset join table, change with nearly every release, so they
// are found in Z_PRIMARYKEY and in the tables' own columns. Only the columns the reader needs are
// named, and a column a release lacks is read as NULL.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "base/Text.h"
#include "device/iPodDev.h"
#include "music/SQLiteWrap.h"
#include "photo/iPodPhoto.h"

namespace corvane {

namespace {

// Seconds from 1970-01-01 to 2001-01-01, where the database's times begin.
constexpr int64_t kAppleEpoch = 978307200;
// Album kinds listed: user albums, albums synced from a computer, shared albums.
constexpr int64_t kUserAlbum = 2;
constexpr int64_t kSyncedAlbum = 1550;
constexpr int64_t kSharedAlbum = 1505;
// ZINTERNALRESOURCE: the resource of the original, and its state when not on the device.
constexpr int64_t kOriginalResource = 1;
constexpr int64_t kNotLocal = -1;

std::string Upper(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::string Quoted(const std::string& name) {
    std::string out = "\"";
    for (char c : name) {
        out += c;
        if (c == '"')
            out += '"';
    }
    return out + "\"";
}

// Upper-cased column names of a table; empty when there is no such table.
std::set<std::string> ColumnsOf(TSQLiteDatabase& db, const std::string& table) {
    std::set<std::string> columns;
    for (TSQLiteTable rows = db.GetTable("PRAGMA table_info(" + Quoted(table) + ")"); !rows.Eof();
         rows.Next())
        columns.insert(Upper(rows.FieldAsString(1)));
    return columns;
}

// A column by name when the table has it, else NULL, so that one statement fits every release.
class TColumnPicker {
public:
    TColumnPicker(TSQLiteDatabase& db, const std::string& table) : FColumns(ColumnsOf(db, table)) {}
    bool Has(const std::string& column) const { return FColumns.count(column) > 0; }
    std::string operator()(const std::string& column) const {
        return Has(column) ? column : std::string("NULL");
    }

private:
    std::set<std::string> FColumns;
};

// The number N of a column named prefix + N + suffix.
std::optional<int64_t> EntityOfColumn(const std::string& column, const std::string& prefix,
                                      const std::string& suffix) {
    if (column.size() <= prefix.size() + suffix.size() || column.rfind(prefix, 0) != 0 ||
        column.compare(column.size() - suffix.size(), suffix.size(), suffix) != 0)
        return std::nullopt;
    const std::string digits =
        column.substr(prefix.size(), column.size() - prefix.size() - suffix.size());
    if (digits.size() > 9 || !std::all_of(digits.begin(), digits.end(), [](char c) {
            return std::isdigit(static_cast<unsigned char>(c)) != 0;
        }))
        return std::nullopt;
    return std::stoll(digits);
}

struct TAlbumJoin {
    std::string Table;
    std::string AlbumColumn;
    std::string AssetColumn;
    std::string PositionColumn;  // empty: the table keeps no order
    int64_t AssetEntity = -1;
};

// The join table of albums and assets: of the tables Z_<n>ASSETS, the one whose album column
// maps to the entity "Album" (else "GenericAlbum") and whose asset column maps to "Asset" or
// "GenericAsset".
std::optional<TAlbumJoin> FindAlbumJoin(TSQLiteDatabase& db,
                                        const std::map<int64_t, std::string>& entities) {
    auto rankOf = [&](std::optional<int64_t> entity, const char* best, const char* second) {
        if (!entity)
            return 0;
        auto found = entities.find(*entity);
        if (found == entities.end())
            return 0;
        if (SameText(found->second, best))
            return 2;
        return SameText(found->second, second) ? 1 : 0;
    };
    std::optional<TAlbumJoin> chosen;
    int chosenRank = 0;
    std::vector<std::string> tables;
    for (TSQLiteTable rows = db.GetTable(
             "SELECT name FROM sqlite_master WHERE type='table' AND name LIKE 'Z!_%ASSETS' "
             "ESCAPE '!' ORDER BY name");
         !rows.Eof(); rows.Next())
        tables.push_back(rows.FieldAsString(0));
    for (const std::string& table : tables) {
        TAlbumJoin join;
        join.Table = table;
        int albumRank = 0;
        for (const std::string& column : ColumnsOf(db, table)) {
            if (auto entity = EntityOfColumn(column, "Z_FOK_", "ASSETS")) {
                join.PositionColumn = column;
            } else if (auto album = EntityOfColumn(column, "Z_", "ALBUMS")) {
                const int rank = rankOf(album, "Album", "GenericAlbum");
                if (rank > albumRank) {
                    albumRank = rank;
                    join.AlbumColumn = column;
                }
            } else if (auto asset = EntityOfColumn(column, "Z_", "ASSETS")) {
                if (rankOf(asset, "Asset", "GenericAsset") > 0) {
                    join.AssetColumn = column;
                    join.AssetEntity = *asset;
                }
            }
        }
        if (albumRank == 0 || join.AssetColumn.empty())
            continue;
        // The position column belongs to the asset column found.
        if (join.PositionColumn != "Z_FOK_" + join.AssetColumn.substr(2))
            join.PositionColumn.clear();
        if (albumRank > chosenRank) {
            chosenRank = albumRank;
            chosen = join;
        }
    }
    return chosen;
}

// The column is read as CAST(... AS INTEGER): whole seconds, NULL kept.
TPhotoDate DateOf(const TSQLiteTable& rows, unsigned column) {
    if (rows.FieldIsNull(column))
        return std::nullopt;
    const int64_t seconds = rows.FieldAsInteger(column);
    // Beyond a few thousand years either way the value is damage, not a date.
    if (seconds < -100000000000 || seconds > 100000000000)
        return std::nullopt;
    return seconds + kAppleEpoch;
}

// The files of the asset folders, listed once per folder: upper-cased name -> name.
class TFolderFiles {
public:
    explicit TFolderFiles(TIpodDevice& device) : FDevice(device) {}
    const std::unordered_map<std::string, std::string>& Of(const std::string& folder) {
        auto found = FFolders.find(folder);
        if (found != FFolders.end())
            return found->second;
        std::vector<std::string> names;
        FDevice.ListFolderFiles(folder, names);
        auto& files = FFolders[folder];
        for (const std::string& name : names)
            files.emplace(Upper(name), name);
        return files;
    }

private:
    TIpodDevice& FDevice;
    std::unordered_map<std::string, std::unordered_map<std::string, std::string>> FFolders;
};

std::string StemOf(const std::string& name) {
    const size_t dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

// The device's rendering of an edit, where the release keeps it.
std::string FindEditedFile(TIpodDevice& device, const std::string& directory,
                           const std::string& fileName, bool video) {
    const std::string folder =
        "PhotoData/Mutations/" + directory + "/" + StemOf(fileName) + "/Adjustments/";
    static const char* const kPictures[] = {"FullSizeRender.heic", "FullSizeRender.jpg"};
    static const char* const kVideos[] = {"FullSizeRender.mov"};
    if (video) {
        for (const char* name : kVideos)
            if (device.FileExistsOnDevice(folder + name))
                return folder + name;
        return {};
    }
    for (const char* name : kPictures)
        if (device.FileExistsOnDevice(folder + name))
            return folder + name;
    return {};
}

std::unordered_set<int64_t> NotLocalAssets(TSQLiteDatabase& db) {
    std::unordered_set<int64_t> assets;
    if (!db.TableExists("ZINTERNALRESOURCE"))
        return assets;
    const TColumnPicker column(db, "ZINTERNALRESOURCE");
    if (!column.Has("ZASSET") || !column.Has("ZLOCALAVAILABILITY"))
        return assets;
    std::string sql = "SELECT ZASSET FROM ZINTERNALRESOURCE WHERE ZLOCALAVAILABILITY=" +
                      std::to_string(kNotLocal);
    if (column.Has("ZDATASTORESUBTYPE"))
        sql += " AND ZDATASTORESUBTYPE=" + std::to_string(kOriginalResource);
    for (TSQLiteTable rows = db.GetTable(sql); !rows.Eof(); rows.Next())
        assets.insert(rows.FieldAsInteger(0));
    return assets;
}

}  // namespace

std::string TIpodPhotoDb::CloudOnlyText() const {
    if (CloudOnlyCount <= 0)
        return {};
    return CloudOnlyCount == 1
               ? "1 photo is only in iCloud and was not copied"
               : std::to_string(CloudOnlyCount) + " photos are only in iCloud and were not copied";
}

void TIpodPhotoDb::ReadAssetLibrary(TSQLiteDatabase& db) {
    std::map<int64_t, std::string> entities;
    int64_t assetEntity = -1;
    for (TSQLiteTable rows = db.GetTable("SELECT Z_ENT,Z_NAME FROM Z_PRIMARYKEY"); !rows.Eof();
         rows.Next()) {
        entities.emplace(rows.FieldAsInteger(0), rows.FieldAsString(1));
        if (SameText(rows.FieldAsString(1), "Asset"))
            assetEntity = rows.FieldAsInteger(0);
    }

    // Albums, user albums first, each group in the order the device shows them.
    const TColumnPicker albumColumn(db, "ZGENERICALBUM");
    std::string albumSql = "SELECT Z_PK,ZTITLE FROM ZGENERICALBUM WHERE ZKIND IN (" +
                           std::to_string(kUserAlbum) + "," + std::to_string(kSyncedAlbum) + "," +
                           std::to_string(kSharedAlbum) + ")";
    if (albumColumn.Has("ZTRASHEDSTATE"))
        albumSql += " AND IFNULL(ZTRASHEDSTATE,0)<>1";
    albumSql += " ORDER BY ZKIND=" + std::to_string(kSharedAlbum) + "," +
                albumColumn("Z_FOK_PARENTFOLDER") + ",Z_PK";
    std::unordered_map<int64_t, int> albumIndex;
    int untitled = 0;
    for (TSQLiteTable rows = db.GetTable(albumSql); !rows.Eof(); rows.Next()) {
        const int64_t pk = rows.FieldAsInteger(0);
        if (pk == 0 || albumIndex.count(pk) > 0)
            continue;
        TPhotoAlbumItem& album = Albums.Add();
        album.AlbumId = static_cast<int32_t>(pk);
        album.Name = rows.FieldAsString(1);
        if (album.Name.empty())
            album.Name = "Photo Album " + std::to_string(++untitled);
        albumIndex.emplace(pk, Albums.Count() - 1);
    }

    // Assets: what the library shows, in the order taken; Recently Deleted is left out.
    const TColumnPicker column(db, "ZASSET");
    const std::string created =
        column.Has("ZDATECREATED") ? "CAST(ZDATECREATED AS INTEGER)" : "NULL";
    std::string assetSql = "SELECT Z_PK,ZDIRECTORY,ZFILENAME," + column("ZKIND") + "," +
                           column("ZKINDSUBTYPE") + "," + column("ZPLAYBACKSTYLE") + "," +
                           column("ZHIDDEN") + "," + created + "," + column("ZHASADJUSTMENTS") +
                           "," + column("ZADJUSTMENTSSTATE") + "," + column("ZTHUMBNAILINDEX") +
                           " FROM ZASSET WHERE 1";
    if (assetEntity >= 0 && column.Has("Z_ENT"))
        assetSql += " AND Z_ENT=" + std::to_string(assetEntity);
    if (column.Has("ZTRASHEDSTATE"))
        assetSql += " AND IFNULL(ZTRASHEDSTATE,0)<>1";
    assetSql += " ORDER BY " + column("ZDATECREATED") + ",Z_PK";

    const std::unordered_set<int64_t> notLocal = NotLocalAssets(db);
    TFolderFiles folders(Device);
    std::unordered_map<int64_t, int> photoIndex;
    for (TSQLiteTable rows = db.GetTable(assetSql); !rows.Eof(); rows.Next()) {
        const std::string directory = rows.FieldAsString(1);
        const std::string fileName = rows.FieldAsString(2);
        if (fileName.empty())
            continue;
        const int64_t pk = rows.FieldAsInteger(0);
        TPhotoItem& photo = Photos.Add();
        photo.ImageId = static_cast<uint32_t>(pk);
        photo.Name = std::to_string(photo.ImageId);
        photo.FilePath = directory.empty() ? fileName : directory + "/" + fileName;
        if (rows.FieldAsInteger(3) == 1) {
            photo.Kind = TPhotoKind::Video;
        } else if (rows.FieldAsInteger(4) == 2 || rows.FieldAsInteger(5) == 3) {
            photo.Kind = TPhotoKind::Live;
        }
        photo.Hidden = rows.FieldAsInteger(6) == 1;
        photo.DateTaken = DateOf(rows, 7);
        const int64_t index = rows.FieldAsInteger(10);
        photo.ThumbOffset =
            index > 0 && ThumbFormat.SlotSize > 0 && index <= INT32_MAX / ThumbFormat.SlotSize
                ? static_cast<int32_t>(index) * ThumbFormat.SlotSize
                : 0;

        const auto& files = folders.Of(directory);
        photo.Local = notLocal.count(pk) == 0 && files.count(Upper(fileName)) > 0;
        if (photo.Kind == TPhotoKind::Live) {
            auto clip = files.find(Upper(StemOf(fileName)) + ".MOV");
            if (clip != files.end())
                photo.LiveVideoPath = directory + "/" + clip->second;
        }
        if (photo.Local && (rows.FieldAsInteger(8) == 1 || rows.FieldAsInteger(9) > 0))
            photo.EditedPath =
                FindEditedFile(Device, directory, fileName, photo.Kind == TPhotoKind::Video);

        photo.Checked = photo.Local;
        if (photo.Checked) {
            ++Photos.CheckedCount;
        } else {
            ++CloudOnlyCount;
        }
        photoIndex.emplace(pk, Photos.Count() - 1);
    }

    // Membership, each album in its own order; hidden assets show only in "Hidden".
    if (auto join = FindAlbumJoin(db, entities)) {
        std::string sql = "SELECT " + join->AlbumColumn + "," + join->AssetColumn + " FROM " +
                          Quoted(join->Table) + " ORDER BY " + join->AlbumColumn;
        if (!join->PositionColumn.empty())
            sql += "," + join->PositionColumn;
        sql += "," + join->AssetColumn;
        for (TSQLiteTable rows = db.GetTable(sql); !rows.Eof(); rows.Next()) {
            auto album = albumIndex.find(rows.FieldAsInteger(0));
            auto photo = photoIndex.find(rows.FieldAsInteger(1));
            if (album == albumIndex.end() || photo == photoIndex.end() ||
                Photos.Items(photo->second).Hidden)
                continue;
            TPhotoAlbumItem& item = Albums.Items(album->second);
            item.Members.push_back(photo->second);
            item.Count = static_cast<int32_t>(item.Members.size());
        }
    } else if (!albumIndex.empty()) {
        AddLog("Photos.sqlite: no table joins albums and assets; albums are shown empty");
    }
    // Album folders on export follow the later album, as on older releases.
    for (int k = 1; k < Albums.Count(); ++k)
        for (int32_t member : Albums.Items(k).Members)
            Photos.Items(member).AlbumIndex = k;

    std::vector<int32_t> hidden;
    for (int i = 0; i < Photos.Count(); ++i)
        if (Photos.Items(i).Hidden)
            hidden.push_back(i);
    if (!hidden.empty()) {
        TPhotoAlbumItem& album = Albums.Add();
        album.Name = "Hidden";
        album.AlbumId = 0;
        album.Members = hidden;
        album.Count = static_cast<int32_t>(hidden.size());
        for (int32_t member : hidden)
            Photos.Items(member).AlbumIndex = Albums.Count() - 1;
    }
    if (CloudOnlyCount > 0)
        AddLog("Photos.sqlite: " + std::to_string(CloudOnlyCount) +
               (CloudOnlyCount == 1 ? " photo is" : " photos are") +
               " only in iCloud (not on the device)");
}

}  // namespace corvane
