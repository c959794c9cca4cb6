// Reading Photos.sqlite built from the real layouts: entity numbers, albums, photos, membership,
// the preview file and offsets, and which layouts end in an SQLite error.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <limits>

#include "device/DeviceFolder.h"
#include "device/iPodDev.h"
#include "fixtures/ModernPhotoLibrary.h"
#include "fixtures/PhotosSqliteBuilder.h"
#include "fixtures/SqliteBuilder.h"
#include "fixtures/TempDir.h"
#include "music/SQLiteWrap.h"
#include "photo/iPodPhoto.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using namespace testing;

// A disk-mode device folder with the preview files named; the reader is run on its
// PhotoData/Photos.sqlite.
class TSqliteLibrary {
public:
    explicit TSqliteLibrary(std::vector<std::string> previewFiles = {"3309.ithmb"}) {
        fs::create_directories(FRoot / "iPod_Control/iTunes");
        fs::create_directories(FRoot / "PhotoData/Thumbnails");
        for (const std::string& name : previewFiles)
            WriteFile(FRoot / ("PhotoData/Thumbnails/" + name), "records");
        Device = std::make_unique<TIpodDevice>(nullptr, OfflineSessionOptions({FRoot.Path()}));
        Device->ScanDrives();
        Photos = std::make_unique<TIpodPhotoDb>(*Device, true);
    }
    std::string DbPath() const { return FRoot / "PhotoData/Photos.sqlite"; }
    const TTempDir& Root() const { return FRoot; }
    bool Read(const TPhotosSqliteBuilder& builder) {
        builder.Write(DbPath());
        return Photos->LoadPhotosSqlite(DbPath());
    }

private:
    TTempDir FRoot;

public:
    std::unique_ptr<TIpodDevice> Device;
    std::unique_ptr<TIpodPhotoDb> Photos;
};

std::vector<uint32_t> ImageIds(const TIpodPhotoDb& db) {
    std::vector<uint32_t> ids;
    for (int i = 0; i < db.Photos.Count(); ++i)
        ids.push_back(db.Photos.Items(i).ImageId);
    return ids;
}

std::vector<std::string> AlbumNames(const TIpodPhotoDb& db) {
    std::vector<std::string> names;
    for (int i = 0; i < db.Albums.Count(); ++i)
        names.push_back(db.Albums.Items(i).Name);
    return names;
}

std::vector<std::vector<int32_t>> AlbumMembers(const TIpodPhotoDb& db) {
    std::vector<std::vector<int32_t>> members;
    for (int i = 0; i < db.Albums.Count(); ++i) {
        const TPhotoAlbumItem& album = db.Albums.Items(i);
        EXPECT_EQ(album.Count, static_cast<int32_t>(album.Members.size())) << album.Name;
        members.push_back(album.Members);
    }
    return members;
}

TPhotosAsset OnEntity(TPhotosAsset asset, int64_t ent) {
    asset.Ent = ent;
    return asset;
}

TPhotosAlbum OnEntity(TPhotosAlbum album, int64_t ent) {
    album.Ent = ent;
    return album;
}

// Five assets, of which the camera shot and the one of another entity are not photos of the
// library, and albums of every kind the album query meets.
TPhotosSqliteBuilder TypicalLibrary(TPhotosEra era) {
    TPhotosSqliteBuilder b(era);
    b.AddAsset(PhotosAsset(101, 2, "DCIM/100APPLE", "IMG_0001.JPG"));
    TPhotosAsset cloud = PhotosAsset(102, 0, "DCIM/100APPLE", "IMG_0002.JPG");
    cloud.SavedAssetType = 6;
    b.AddAsset(cloud);
    TPhotosAsset camera = PhotosAsset(103, 1, "DCIM/100APPLE", "IMG_0003.JPG");
    camera.SavedAssetType = 3;
    b.AddAsset(camera);
    b.AddAsset(OnEntity(PhotosAsset(104, 3, "DCIM/100APPLE", "IMG_0004.JPG"), 99));
    b.AddAsset(PhotosAsset(105, 4, "DCIM/101APPLE", "IMG_0105.PNG"));

    b.AddAlbum(PhotosAlbum(0, "Key zero"));                 // Z_PK 0: no album
    b.AddAlbum(PhotosAlbum(5, "Trip", {101, 103, 105}));    // 103 is not listed
    b.AddAlbum(PhotosAlbum(6, std::nullopt, {102}, 1550));  // untitled, synced
    b.AddAlbum(PhotosAlbum(7, "Family", {101}, 1550));      // 101 again
    b.AddAlbum(PhotosAlbum(8, "", {}));                     // untitled, empty
    b.AddAlbum(OnEntity(PhotosAlbum(9, "Elsewhere", {}, 1550), 99));
    b.AddAlbum(PhotosAlbum(10, "Shared", {101}, 1505));
    b.AddAlbum(OnEntity(PhotosAlbum(11, "Any entity", {}, 2), 99));  // kind 2 needs no entity
    return b;
}

TEST(PhotosSqlite, ReadsPhotosAlbumsAndMembershipOfTheZGenericAssetLayouts) {
    for (TPhotosEra era : {TPhotosEra::Ios11, TPhotosEra::Ios13}) {
        SCOPED_TRACE(SchemaName(era));
        TSqliteLibrary library;
        ASSERT_TRUE(library.Read(TypicalLibrary(era)));
        const TIpodPhotoDb& db = *library.Photos;

        EXPECT_TRUE(db.SeparateFiles);
        EXPECT_EQ(ImageIds(db), (std::vector<uint32_t>{101, 102, 105}));
        const TPhotoItem& first = db.Photos.Items(0);
        EXPECT_EQ(first.Name, "101");
        EXPECT_TRUE(first.Checked);
        EXPECT_EQ(first.FilePath, "DCIM/100APPLE/IMG_0001.JPG");
        EXPECT_EQ(first.ThumbOffset, 2 * 8220);
        EXPECT_EQ(first.FileIndex, 0);
        EXPECT_EQ(first.FullOffset, 0);
        EXPECT_EQ(first.FullSize, 0);
        EXPECT_EQ(db.Photos.Items(1).ThumbOffset, 0);
        EXPECT_EQ(db.Photos.Items(2).FilePath, "DCIM/101APPLE/IMG_0105.PNG");
        EXPECT_EQ(db.Photos.CheckedCount, 3);
        EXPECT_EQ(db.Photos.CheckedSize, 0);

        // Titled albums do not advance the counter of untitled ones.
        EXPECT_EQ(AlbumNames(db),
                  (std::vector<std::string>{"Pictures", "Trip", "Photo Album 1", "Family",
                                            "Photo Album 2", "Any entity"}));
        EXPECT_EQ(db.Albums.Items(0).AlbumId, 0);
        EXPECT_EQ(db.Albums.Items(1).AlbumId, 5);
        EXPECT_EQ(AlbumMembers(db),
                  (std::vector<std::vector<int32_t>>{{0, 1, 2}, {0, 2}, {1}, {0}, {}, {}}));
        // A photo in two albums goes with the later one.
        EXPECT_EQ(db.Photos.Items(0).AlbumIndex, 3);
        EXPECT_EQ(db.Photos.Items(1).AlbumIndex, 2);
        EXPECT_EQ(db.Photos.Items(2).AlbumIndex, 1);
        EXPECT_EQ(db.Log.Text(), "");
    }
}

TEST(PhotosSqlite, ZAssetLibrariesOfEveryReleaseListWhatThePhotosAppShows) {
    for (TPhotosEra era : kAssetEras) {
        SCOPED_TRACE(EraName(era));
        TSqliteLibrary library;
        WriteModernLibrary(library.Root().Path());
        ASSERT_TRUE(library.Read(ModernLibrary(era)));
        const TIpodPhotoDb& db = *library.Photos;

        // In the order taken; trashed and foreign-entity rows are gone, camera shots stay.
        EXPECT_EQ(ImageIds(db),
                  (std::vector<uint32_t>{201, 202, 203, 204, 206, 207, 208, 209, 210}));
        EXPECT_EQ(AlbumNames(db),
                  (std::vector<std::string>{"Pictures", "Family", "Trip", "Shared", "Hidden"}));
        // Members in album order; the hidden asset only in "Hidden".
        EXPECT_EQ(AlbumMembers(db), (std::vector<std::vector<int32_t>>{
                                        {0, 1, 2, 4, 5, 6, 7, 8}, {0}, {6, 0, 1}, {7}, {3}}));
        EXPECT_EQ(db.Photos.Items(0).AlbumIndex, 2);  // the later album
        EXPECT_EQ(db.Photos.Items(3).AlbumIndex, 4);

        std::vector<bool> local;
        std::vector<TPhotoKind> kinds;
        for (int i = 0; i < db.Photos.Count(); ++i) {
            const TPhotoItem& photo = db.Photos.Items(i);
            local.push_back(photo.Local);
            kinds.push_back(photo.Kind);
            EXPECT_EQ(photo.Checked, photo.Local) << photo.ImageId;
            EXPECT_EQ(photo.Hidden, photo.ImageId == 204) << photo.ImageId;
        }
        EXPECT_EQ(local,
                  (std::vector<bool>{true, true, true, true, false, false, true, true, true}));
        using enum TPhotoKind;
        EXPECT_EQ(kinds, (std::vector<TPhotoKind>{Photo, Live, Video, Photo, Photo, Photo, Photo,
                                                  Photo, Photo}));
        EXPECT_EQ(db.Photos.CheckedCount, 7);
        EXPECT_EQ(db.CloudOnlyCount, 2);

        const TPhotoItem& live = db.Photos.Items(1);
        EXPECT_EQ(live.FilePath, "DCIM/100APPLE/IMG_0002.HEIC");
        EXPECT_EQ(live.LiveVideoPath, "DCIM/100APPLE/IMG_0002.mov");
        EXPECT_EQ(db.Photos.Items(2).EditedPath,
                  "PhotoData/Mutations/DCIM/100APPLE/IMG_0003/Adjustments/FullSizeRender.mov");
        EXPECT_EQ(db.Photos.Items(6).EditedPath,
                  "PhotoData/Mutations/DCIM/100APPLE/IMG_0008/Adjustments/FullSizeRender.jpg");
        EXPECT_EQ(db.Photos.Items(0).EditedPath, "");
        // 2017-10-18 06:16:41 UTC: 530000201 whole seconds after 2001.
        EXPECT_EQ(db.Photos.Items(0).DateTaken, int64_t{978307200 + 530000201});
        EXPECT_EQ(db.Log.Text(),
                  "\r\nPhotos.sqlite: 2 photos are only in iCloud (not on the device)");
        EXPECT_EQ(db.CloudOnlyText(), "2 photos are only in iCloud and were not copied");
    }
}

TEST(PhotosSqlite, TheJoinTableOfAReleaseNotSeenYetIsFoundByItsEntities) {
    TSqliteLibrary library;
    WriteModernLibrary(library.Root().Path());
    TPhotosSqliteBuilder b = ModernLibrary(TPhotosEra::Ios18);
    b.Entities = {41, 3, 3};
    // An empty join table of the parent entity "GenericAlbum" (40) must not be taken.
    b.ExtraJoinTables = {{40, 3}};
    ASSERT_TRUE(library.Read(b));
    EXPECT_EQ(AlbumNames(*library.Photos),
              (std::vector<std::string>{"Pictures", "Family", "Trip", "Shared", "Hidden"}));
    EXPECT_EQ(library.Photos->Albums.Items(2).Members, (std::vector<int32_t>{6, 0, 1}));
}

TEST(PhotosSqlite, WithoutAJoinTableTheAlbumsAreEmptyAndSaySo) {
    TSqliteLibrary library;
    WriteModernLibrary(library.Root().Path());
    TPhotosSqliteBuilder b = ModernLibrary(TPhotosEra::Ios16);
    b.PrimaryKeys = std::vector<TPhotosPrimaryKey>{{3, "Asset"}};  // no album entity named
    ASSERT_TRUE(library.Read(b));
    EXPECT_EQ(library.Photos->Photos.Count(), 9);
    EXPECT_EQ(library.Photos->Albums.Items(1).Count, 0);
    EXPECT_THAT(library.Photos->Log.Text(),
                ::testing::HasSubstr("no table joins albums and assets"));
}

TEST(PhotosSqlite, EmptyDatabaseHasAlbumZeroOnly) {
    TSqliteLibrary library;
    ASSERT_TRUE(library.Read(TPhotosSqliteBuilder(TPhotosEra::Ios11)));
    EXPECT_EQ(AlbumNames(*library.Photos), (std::vector<std::string>{"Pictures"}));
    EXPECT_EQ(library.Photos->Albums.Items(0).Count, 0);
    EXPECT_EQ(library.Photos->Photos.Count(), 0);
}

TEST(PhotosSqlite, EntityNumbersFromPrimaryKeyWinOverAFixedSetsJoinTable) {
    TSqliteLibrary library;
    TPhotosSqliteBuilder b(TPhotosEra::Ios11);  // 20, 27, 28
    // Names in any letter case; reading stops once all three are known, so the later "Album"
    // row does not count.
    b.PrimaryKeys = {{20, "ALBUM"}, {27, "generateasset"}, {28, "Asset"}, {99, "Album"}};
    b.ExtraJoinTables = {{6, 11}};
    b.AddAsset(PhotosAsset(101, 0, "DCIM/100APPLE", "IMG_0001.JPG"));
    b.AddAsset(OnEntity(PhotosAsset(102, 1, "DCIM/100APPLE", "IMG_0002.JPG"), 12));
    b.AddAlbum(PhotosAlbum(7, "Synced", {101}, 1550));
    b.AddAlbum(OnEntity(PhotosAlbum(8, "Fixed set's", {}, 1550), 6));
    b.AddAlbum(OnEntity(PhotosAlbum(9, "Late row's", {}, 1550), 99));
    ASSERT_TRUE(library.Read(b));
    EXPECT_EQ(ImageIds(*library.Photos), (std::vector<uint32_t>{101}));
    EXPECT_EQ(AlbumNames(*library.Photos), (std::vector<std::string>{"Pictures", "Synced"}));
    EXPECT_EQ(AlbumMembers(*library.Photos), (std::vector<std::vector<int32_t>>{{0}, {0}}));
}

TEST(PhotosSqlite, TheParentEntityNameDevicesUseCountsLikeTheOldOne) {
    TSqliteLibrary library;
    TPhotosSqliteBuilder b(TPhotosEra::Ios11);  // 20, 27, 28; no fixed set's join table
    b.PrimaryKeys = {{19, "GenericAlbum"}, {20, "Album"}, {27, "GenericAsset"}, {28, "Asset"}};
    b.AddAsset(PhotosAsset(101, 0, "DCIM/100APPLE", "IMG_0001.JPG"));
    b.AddAlbum(PhotosAlbum(7, "Trip", {101}));
    ASSERT_TRUE(library.Read(b));
    EXPECT_EQ(ImageIds(*library.Photos), (std::vector<uint32_t>{101}));
    EXPECT_EQ(AlbumMembers(*library.Photos), (std::vector<std::vector<int32_t>>{{0}, {0}}));
}

struct TFixedSetCase {
    TPhotosEntities Set;
    std::vector<std::pair<int64_t, int64_t>> OtherJoinTables;
};

TEST(PhotosSqlite, WithoutGenerateAssetAllThreeNumbersComeFromTheFirstJoinTableThatExists) {
    const TFixedSetCase cases[] = {
        {{6, 11, 12}, {}},  {{6, 11, 12}, {{8, 14}}}, {{8, 14, 15}, {{11, 17}}},
        {{11, 17, 18}, {}}, {{16, 23, 24}, {}},  // none of the three tables: Z_16ASSETS is not
                                                 // looked for
    };
    for (const TFixedSetCase& c : cases) {
        SCOPED_TRACE("album entity " + std::to_string(c.Set.Album));
        TSqliteLibrary library;
        TPhotosSqliteBuilder b(TPhotosEra::Ios11);
        b.Entities = c.Set;
        b.ExtraJoinTables = c.OtherJoinTables;
        // Album and Asset are named, with other numbers; the fixed set replaces them too.
        b.PrimaryKeys = PhotosPrimaryKeys({20, 27, 28}, false);
        b.AddAsset(PhotosAsset(101, 0, "DCIM/100APPLE", "IMG_0001.JPG"));
        b.AddAsset(OnEntity(PhotosAsset(102, 1, "DCIM/100APPLE", "IMG_0002.JPG"), 28));
        // With the first set the membership statement must read exactly
        // SELECT Z_11ASSETS FROM Z_6ASSETS WHERE Z_6ALBUMS=7: the join table has no other names.
        b.AddAlbum(PhotosAlbum(7, "Synced", {101, 102}, 1550));
        b.AddAlbum(OnEntity(PhotosAlbum(8, "Named entity's", {}, 1550), 20));
        ASSERT_TRUE(library.Read(b));
        EXPECT_EQ(ImageIds(*library.Photos), (std::vector<uint32_t>{101}));
        EXPECT_EQ(AlbumNames(*library.Photos), (std::vector<std::string>{"Pictures", "Synced"}));
        EXPECT_EQ(AlbumMembers(*library.Photos), (std::vector<std::vector<int32_t>>{{0}, {0}}));
    }
}

TEST(PhotosSqlite, PreviewOffsetsAreIndexTimesSlotSizeAndDamagedIndexesGetNone) {
    struct TCase {
        std::optional<int64_t> Index;
        int32_t Offset;
    };
    const int32_t maxIndex = std::numeric_limits<int32_t>::max() / 8220;  // 261251
    const TCase cases[] = {
        {0, 0},
        {3, 3 * 8220},
        {std::nullopt, 0},
        {(int64_t{1} << 32) + 3, 3 * 8220},  // the low 32 bits count
        {maxIndex, maxIndex * 8220},
        {maxIndex + 1, -1},  // past the 32-bit offsets
        {std::numeric_limits<int32_t>::max(), -1},
        {-1, -1},
    };
    TSqliteLibrary library;
    TPhotosSqliteBuilder b(TPhotosEra::Ios11);
    for (size_t i = 0; i < std::size(cases); ++i) {
        TPhotosAsset asset = PhotosAsset(static_cast<int64_t>(i + 1), 0, "D", "F.JPG");
        asset.ThumbnailIndex = cases[i].Index;
        b.AddAsset(asset);
    }
    ASSERT_TRUE(library.Read(b));
    ASSERT_EQ(library.Photos->Photos.Count(), static_cast<int>(std::size(cases)));
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(library.Photos->Photos.Items(static_cast<int>(i)).ThumbOffset, cases[i].Offset)
            << "case " << i;
    EXPECT_EQ(library.Photos->Log.Text(),
              "\r\nPhotos.sqlite: 3 photos have a preview index out "
              "of range");
}

TEST(PhotosSqlite, PreviewFileIsTheFirstOfTheKnownNamesThatExists) {
    struct TCase {
        std::vector<std::string> Present;
        std::string Chosen;
        int32_t Id;
        int32_t SlotSize;
    };
    const TCase cases[] = {
        {{"79x79.ithmb", "120x120.ithmb"}, "120x120.ithmb", 4031, 28828},
        {{"64x64.ithmb", "4031.ithmb"}, "4031.ithmb", 4031, 28828},
        {{"79x79.ithmb", "3309.ithmb"}, "3309.ithmb", 3309, 8220},
        {{"79x79.ithmb", "64x64.ithmb"}, "64x64.ithmb", 3309, 8220},
        {{"79x79.ithmb", "other.ithmb"}, "79x79.ithmb", 3011, 12668},
        {{"other.ithmb"}, "", 3011, 0},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Chosen);
        TSqliteLibrary library(c.Present);
        EXPECT_EQ(library.Photos->ChooseSqliteThumbFile(), !c.Chosen.empty());
        const TIthmbFormat& format = library.Photos->ThumbFormat;
        EXPECT_TRUE(format.ByName);
        EXPECT_EQ(format.FileName, c.Chosen);
        EXPECT_EQ(format.Id, c.Id);
        EXPECT_EQ(format.SlotSize, c.SlotSize);
    }
}

TEST(PhotosSqlite, WithoutAPreviewFilePhotosAreStillListed) {
    TSqliteLibrary library(std::vector<std::string>{});
    TPhotosSqliteBuilder b(TPhotosEra::Ios11);
    b.AddAsset(PhotosAsset(101, 5, "DCIM/100APPLE", "IMG_0001.JPG"));
    ASSERT_TRUE(library.Read(b));
    ASSERT_EQ(library.Photos->Photos.Count(), 1);
    EXPECT_EQ(library.Photos->Photos.Items(0).ThumbOffset, 0);
    EXPECT_EQ(library.Photos->ThumbFormat.Width, 0);
}

TEST(PhotosSqlite, SqlErrorsAreRaised) {
    {
        SCOPED_TRACE("a join table without the asset column named");
        TSqliteLibrary library;
        TPhotosSqliteBuilder b(TPhotosEra::Ios11);  // Z_20ASSETS holds Z_27ASSETS only
        b.Entities = {20, 99, 28};
        b.AddAsset(PhotosAsset(101, 0, "DCIM/100APPLE", "IMG_0001.JPG"));
        EXPECT_THROW(library.Read(b), ESQLiteException);
        EXPECT_EQ(library.Photos->Photos.Count(), 1);
    }
    {
        SCOPED_TRACE("not a database");
        TSqliteLibrary library;
        WriteFile(library.DbPath(), std::string(4096, 'x'));
        EXPECT_THROW(library.Photos->LoadPhotosSqlite(library.DbPath()), ESQLiteException);
    }
    {
        SCOPED_TRACE("no Z_PRIMARYKEY");
        TSqliteLibrary library;
        TPhotosSqliteBuilder(TPhotosEra::Ios11).Write(library.DbPath());
        ExecSql(library.DbPath(), "DROP TABLE Z_PRIMARYKEY");
        EXPECT_THROW(library.Photos->LoadPhotosSqlite(library.DbPath()), ESQLiteException);
    }
}

}  // namespace
}  // namespace corvane
