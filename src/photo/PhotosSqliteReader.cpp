// The photo library of a newer device from its Photos.sqlite: the assets are files of their own,
// their previews are records of one by-name thumbnail file, and albums list their assets through
// a join table named after the entity numbers that Z_PRIMARYKEY gives.
#include <cstdint>
#include <limits>
#include <string>

#include "base/Text.h"
#include "device/iPodDev.h"
#include "music/SQLiteWrap.h"
#include "photo/iPodPhoto.h"

namespace corvane {

namespace {

// Entity numbers of the three kinds of rows the reader needs.
struct TEntities {
    int32_t Album = -1;
    int32_t GenerateAsset = -1;
    int32_t Asset = -1;
};

// Numbers of releases whose Z_PRIMARYKEY does not name all three, told apart by the first of
// these join tables that exists.
struct TFixedSet {
    const char* JoinTable;
    TEntities Entities;
};
constexpr TFixedSet kFixedSets[] = {
    {"Z_6ASSETS", {6, 11, 12}},
    {"Z_8ASSETS", {8, 14, 15}},
    {"Z_11ASSETS", {11, 17, 18}},
};
constexpr TEntities kLastFixedSet{16, 23, 24};

// Preview files by name, best first.
constexpr const char* kThumbFiles[] = {"3309.ithmb", "4031.ithmb", "64x64.ithmb", "120x120.ithmb",
                                       "79x79.ithmb"};

// The database's integers are used by their low 32 bits.
int32_t Low32(int64_t value) {
    return static_cast<int32_t>(value);
}

TEntities ReadEntities(TSQLiteDatabase& db) {
    TEntities found;
    for (TSQLiteTable rows = db.GetTable("SELECT Z_ENT,Z_NAME FROM Z_PRIMARYKEY"); !rows.Eof();
         rows.Next()) {
        const std::string name = rows.FieldAsString(1);
        const int32_t entity = Low32(rows.FieldAsInteger(0));
        if (SameText(name, "Album")) {
            found.Album = entity;
        } else if (SameText(name, "Asset")) {
            found.Asset = entity;
        } else if (SameText(name, "GenerateAsset") || SameText(name, "GenericAsset")) {
            // Devices name the parent entity of assets "GenericAsset"; without it the
            // fixed sets below would guess the numbers and find no photos.
            found.GenerateAsset = entity;
        }
        if (found.Album > 0 && found.Asset > 0 && found.GenerateAsset > 0)
            break;
    }
    if (found.Album >= 0 && found.Asset >= 0 && found.GenerateAsset >= 0)
        return found;
    // One number missing makes all three suspect: they come from one release's set.
    for (const TFixedSet& set : kFixedSets) {
        if (db.TableExists(set.JoinTable))
            return set.Entities;
    }
    return kLastFixedSet;
}

// Byte offset of a preview record, or -1 when the row's index puts it outside the 32-bit
// offsets a photo carries (a damaged row).
int32_t PreviewOffset(int32_t index, int32_t slotSize) {
    const int64_t offset = static_cast<int64_t>(index) * slotSize;
    if (index < 0 || offset < 0 || offset > std::numeric_limits<int32_t>::max())
        return -1;
    return static_cast<int32_t>(offset);
}

void ReadAlbums(TIpodPhotoDb& library, TSQLiteDatabase& db, int32_t album) {
    // Without brackets SQL reads the condition as (entity and kind 1550) or kind 2.
    const std::string sql =
        "SELECT Z_PK,ZTITLE FROM ZGENERICALBUM WHERE Z_ENT=" + std::to_string(album) +
        " AND ZKIND=1550 OR ZKIND=2";
    int untitled = 0;
    for (TSQLiteTable rows = db.GetTable(sql); !rows.Eof(); rows.Next()) {
        const int32_t id = Low32(rows.FieldAsInteger(0));
        if (id == 0)
            continue;
        TPhotoAlbumItem& item = library.Albums.Add();
        item.AlbumId = id;
        item.Count = 0;
        item.Name = rows.FieldAsString(1);
        if (item.Name.empty())
            item.Name = "Photo Album " + std::to_string(++untitled);
    }
}

void ReadAssets(TIpodPhotoDb& library, TSQLiteDatabase& db, int32_t asset) {
    const std::string sql =
        "SELECT Z_PK,ZTHUMBNAILINDEX,ZDIRECTORY,ZFILENAME FROM ZGENERICASSET WHERE Z_ENT=" +
        std::to_string(asset) + " AND ZSAVEDASSETTYPE<>3";
    int badPreviews = 0;
    for (TSQLiteTable rows = db.GetTable(sql); !rows.Eof(); rows.Next()) {
        TPhotoItem& photo = library.Photos.Add();
        photo.Checked = true;
        photo.ImageId = static_cast<uint32_t>(rows.FieldAsInteger(0));
        photo.Name = std::to_string(photo.ImageId);
        photo.ThumbOffset =
            PreviewOffset(Low32(rows.FieldAsInteger(1)), library.ThumbFormat.SlotSize);
        if (photo.ThumbOffset < 0)
            ++badPreviews;
        photo.FilePath = rows.FieldAsString(2) + "/" + rows.FieldAsString(3);
        photo.AlbumIndex = 0;
        ++library.Photos.CheckedCount;
    }
    if (badPreviews > 0) {
        library.AddLog("Photos.sqlite: " + std::to_string(badPreviews) +
                       " photos have a preview index out of range");
    }
}

void ReadMembership(TIpodPhotoDb& library, TSQLiteDatabase& db, const TEntities& entities) {
    const std::string album = std::to_string(entities.Album);
    const std::string prefix = "SELECT Z_" + std::to_string(entities.GenerateAsset) +
                               "ASSETS FROM Z_" + album + "ASSETS WHERE Z_" + album + "ALBUMS=";
    const auto firstPhoto = library.Photos.FirstIndexByImageId();
    for (int k = 0; k < library.Albums.Count(); ++k) {
        TPhotoAlbumItem& item = library.Albums.Items(k);
        for (TSQLiteTable rows = db.GetTable(prefix + std::to_string(item.AlbumId)); !rows.Eof();
             rows.Next()) {
            // Rows naming assets that were not listed (camera shots among them) add nothing.
            auto found = firstPhoto.find(static_cast<uint32_t>(rows.FieldAsInteger(0)));
            if (found == firstPhoto.end())
                continue;
            item.Members.push_back(found->second);
            item.Count = static_cast<int32_t>(item.Members.size());
            library.Photos.Items(found->second).AlbumIndex = k;
        }
    }
}

}  // namespace

bool TIpodPhotoDb::ChooseSqliteThumbFile() {
    ThumbFormat.ByName = true;
    CellFormat = {};
    for (const char* name : kThumbFiles) {
        if (Device.FileExistsOnDevice(std::string("PhotoData/Thumbnails/") + name)) {
            ThumbFormat.FileName = name;
            SetFormatGeometry(ThumbFormat);
            return true;
        }
    }
    ThumbFormat.FileName.clear();
    SetFormatGeometry(ThumbFormat);
    return false;
}

bool TIpodPhotoDb::LoadPhotosSqlite(const std::string& fileName) {
    SeparateFiles = true;
    // Our staged copy may take SQLite's housekeeping; the device's own file never does.
    const bool stagedCopy =
        Device.IsIos() && !Device.WorkFile().empty() && fileName == Device.WorkFile();
    TSQLiteDatabase db(fileName, stagedCopy ? TSQLiteOpen::ReadWrite : TSQLiteOpen::ReadOnly);
    if (db.CompanionsSkipped())
        AddLog("Photos.sqlite: the changes in its -wal file could not be read");

    ChooseSqliteThumbFile();
    SetThumbSize();

    TPhotoAlbumItem& all = Albums.Add();
    all.Name = "Pictures";
    all.AlbumId = 0;
    all.Count = 0;
    const int allIndex = Albums.Count() - 1;

    if (db.TableExists("ZASSET")) {
        ReadAssetLibrary(db);
        // The library shows every asset but the hidden ones.
        TPhotoAlbumItem& library = Albums.Items(allIndex);
        for (int i = 0; i < Photos.Count(); ++i)
            if (!Photos.Items(i).Hidden)
                library.Members.push_back(i);
        library.Count = static_cast<int32_t>(library.Members.size());
        return true;
    }

    const TEntities entities = ReadEntities(db);
    ReadAlbums(*this, db, entities.Album);
    ReadAssets(*this, db, entities.Asset);

    TPhotoAlbumItem& whole = Albums.Items(allIndex);
    whole.Members.resize(static_cast<size_t>(Photos.Count()));
    for (int i = 0; i < Photos.Count(); ++i)
        whole.Members[static_cast<size_t>(i)] = i;
    whole.Count = Photos.Count();

    ReadMembership(*this, db, entities);
    return true;
}

}  // namespace corvane
