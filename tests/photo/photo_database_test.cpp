// The Photo Database reader: photos and where their records lie, the two formats the survey of
// the first entry chooses, albums and their members, and what damage of every kind leaves.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/ByteReader.h"
#include "device/DeviceFolder.h"
#include "device/iPodDev.h"
#include "fixtures/ITunesDbBuilder.h"
#include "fixtures/PhotoDbBuilder.h"
#include "fixtures/TempDir.h"
#include "photo/iPodPhoto.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using testing::PhotoRef;
using testing::PutU32;
using testing::TPhotoDbAlbum;
using testing::TPhotoDbBuilder;
using testing::TPhotoDbImage;
using testing::TPhotoDbLayout;
using testing::TPhotoDbObject;
using testing::TPhotoDbRef;
using testing::TTempDir;
using testing::WriteFile;

constexpr uint32_t kFullSlot = 691200;  // 1019: 720 x 480 x 2
constexpr uint32_t kTvSlot = 22880;     // 1015
constexpr uint32_t kListSlot = 2520;    // 1009: 42 x 30 x 2

// A photo as a disk-mode iPod keeps it: full size 720 x 480, a 130 x 88 picture for the TV list
// and the 42 x 30 one the browser shows; record n of each file.
std::vector<TPhotoDbRef> ClassicRefs(uint32_t n, const std::string& fullFile) {
    return {PhotoRef(1019, n * kFullSlot, kFullSlot, 720, 480, fullFile),
            PhotoRef(1015, n * kTvSlot, kTvSlot, 130, 88, ":Thumbs:F1015_1.ithmb"),
            PhotoRef(1009, n * kListSlot, kListSlot, 42, 30, ":Thumbs:F1009_1.ithmb")};
}

TPhotoDbBuilder Library() {
    TPhotoDbBuilder db;
    db.AddImage(100, ClassicRefs(0, ":Thumbs:F1019_1.ithmb"));
    db.AddImage(101, ClassicRefs(1, ":Thumbs:F1019_1.ithmb"));
    db.AddImage(102, ClassicRefs(2, ":Thumbs:F1019_2.ithmb"));
    db.AddAlbum("Photo Library", db.AllImageIds());
    TPhotoDbAlbum holiday;
    holiday.Name = "Ferien Zürich";
    holiday.MemberIds = {101, 102};
    holiday.Objects = {TPhotoDbObject::Blob(9, std::string(8, '\0'))};
    db.AddAlbum(std::move(holiday));
    db.AddAlbum("Garden", {100});
    return db;
}

std::vector<std::string> AlbumNames(const TIpodPhotoDb& db) {
    std::vector<std::string> names;
    for (int i = 0; i < db.Albums.Count(); ++i)
        names.push_back(db.Albums.Items(i).Name);
    return names;
}

std::vector<uint32_t> ImageIds(const TIpodPhotoDb& db) {
    std::vector<uint32_t> ids;
    for (int i = 0; i < db.Photos.Count(); ++i)
        ids.push_back(db.Photos.Items(i).ImageId);
    return ids;
}

// What the browser and the exporter rely on, whatever the file held.
void ExpectWholeModel(const TIpodPhotoDb& db) {
    int checked = 0;
    for (int i = 0; i < db.Photos.Count(); ++i) {
        checked += db.Photos.Items(i).Checked ? 1 : 0;
        EXPECT_GE(db.Photos.Items(i).AlbumIndex, 0);
        EXPECT_LT(db.Photos.Items(i).AlbumIndex, std::max(db.Albums.Count(), 1));
    }
    EXPECT_EQ(db.Photos.CheckedCount, checked);
    for (int a = 0; a < db.Albums.Count(); ++a) {
        const TPhotoAlbumItem& album = db.Albums.Items(a);
        ASSERT_EQ(album.Count, static_cast<int32_t>(album.Members.size())) << album.Name;
        for (int32_t member : album.Members) {
            EXPECT_GE(member, 0);
            EXPECT_LT(member, db.Photos.Count());
        }
    }
}

// A library on a disk-mode device in a temporary folder.
class PhotoDatabaseTest : public ::testing::Test {
protected:
    PhotoDatabaseTest() {
        fs::create_directories(FRoot / "iPod_Control/iTunes");
        FDevice = std::make_unique<TIpodDevice>(nullptr, OfflineSessionOptions({FRoot.Path()}));
        FDevice->ScanDrives();
        FDb = std::make_unique<TIpodPhotoDb>(*FDevice, false);
    }

    bool Load(const std::string& bytes) {
        WriteFile(FRoot / "Photos/Photo Database", bytes);
        bool result = FDb->LoadPhotoDatabase();
        ExpectWholeModel(*FDb);
        return result;
    }
    std::string Log() const { return FDb->Log.Text(); }
    const TPhotoItem& Photo(int index) const { return FDb->Photos.Items(index); }
    const TPhotoAlbumItem& Album(int index) const { return FDb->Albums.Items(index); }

    TTempDir FRoot;
    std::unique_ptr<TIpodDevice> FDevice;
    std::unique_ptr<TIpodPhotoDb> FDb;
};

TEST_F(PhotoDatabaseTest, ReadsPhotosTheirRecordsAndAlbums) {
    ASSERT_TRUE(Load(Library().Build()));
    EXPECT_EQ(Log(), "");
    ASSERT_EQ(ImageIds(*FDb), (std::vector<uint32_t>{100, 101, 102}));
    const TPhotoItem& photo = Photo(2);
    EXPECT_EQ(photo.Name, "102");
    EXPECT_TRUE(photo.Checked);
    EXPECT_EQ(photo.FullOffset, static_cast<int32_t>(2 * kFullSlot));
    EXPECT_EQ(photo.FullSize, static_cast<int32_t>(kFullSlot));
    EXPECT_EQ(photo.FileIndex, 2);
    EXPECT_EQ(photo.ThumbOffset, static_cast<int32_t>(2 * kListSlot));
    EXPECT_EQ(photo.FilePath, "");
    EXPECT_EQ(Photo(0).FileIndex, 1);

    EXPECT_FALSE(FDb->SeparateFiles);
    EXPECT_EQ(FDb->FullFormat.Id, 1019);
    EXPECT_EQ(FDb->FullFormat.SlotSize, static_cast<int32_t>(kFullSlot));
    EXPECT_EQ(FDb->FullFormat.FileCount, 2);
    EXPECT_EQ(FDb->ThumbFormat.Id, 1009);
    EXPECT_EQ(FDb->ThumbFormat.SlotSize, static_cast<int32_t>(kListSlot));
    EXPECT_EQ(FDb->ThumbFormat.FileCount, 1);
    // 1009 has no cell of its own: the cell is the picture.
    EXPECT_EQ(FDb->Photos.ThumbWidth, 42);
    EXPECT_EQ(FDb->Photos.ThumbHeight, 30);

    ASSERT_EQ(AlbumNames(*FDb),
              (std::vector<std::string>{"Photo Library", "Ferien Zürich", "Garden"}));
    EXPECT_EQ(Album(0).Members, (std::vector<int32_t>{0, 1, 2}));
    EXPECT_EQ(Album(1).Members, (std::vector<int32_t>{1, 2}));
    EXPECT_EQ(Album(1).MemberIds, (std::vector<uint32_t>{101, 102}));
    EXPECT_EQ(Album(2).Members, (std::vector<int32_t>{0}));
    EXPECT_EQ(Photo(0).AlbumIndex, 2);
    EXPECT_EQ(Photo(1).AlbumIndex, 1);

    // Every photo is ticked, but only ticks through Check count their size.
    EXPECT_EQ(FDb->Photos.CheckedCount, 3);
    EXPECT_EQ(FDb->Photos.CheckedSize, 0);
    FDb->Photos.Uncheck(1);
    FDb->Photos.Check(1);
    EXPECT_EQ(FDb->Photos.CheckedCount, 3);
    EXPECT_EQ(FDb->Photos.CheckedSize, 0);
}

TEST_F(PhotoDatabaseTest, MissingFileIsLoggedWithTheDevicesReason) {
    EXPECT_FALSE(FDb->LoadPhotoDatabase());
    EXPECT_EQ(Log(), "\r\nRead DB fail: " + FDevice->Log.Text());
    EXPECT_NE(Log().find("\r\nNot found: /Photos/Photo Database"), std::string::npos) << Log();
    EXPECT_EQ(FDb->Photos.Count(), 0);
}

struct TFormatExpect {
    int32_t Id;
    int32_t Width;
    int32_t Height;
};

struct TSurveyCase {
    std::string Name;
    std::vector<TPhotoDbObject> FirstEntry;
    bool Ok;
    TFormatExpect Full;
    TFormatExpect Thumb;
    bool Separate;
};

TPhotoDbObject Pic(uint32_t format, uint16_t width, uint16_t height) {
    return TPhotoDbObject::Picture(PhotoRef(format, 0, 4096, width, height, ":Thumbs:F_1.ithmb"));
}

TPhotoDbObject Padded(uint32_t format, uint16_t width, uint16_t height, uint16_t columns,
                      uint16_t rows) {
    TPhotoDbRef ref = PhotoRef(format, 0, 4096, width, height, ":Thumbs:F_1.ithmb");
    ref.AddedColumns = columns;
    ref.AddedRows = rows;
    return TPhotoDbObject::Picture(ref);
}

TEST_F(PhotoDatabaseTest, SurveyOfTheFirstEntryChoosesTheFormats) {
    const TSurveyCase cases[] = {
        {"widest is full size, narrowest preview",
         {Pic(1019, 720, 480), Pic(1013, 220, 176), Pic(1015, 130, 88), Pic(1009, 42, 30)},
         true,
         {1019, 720, 480},
         {1009, 42, 30},
         false},
        {"first preferred preview beats a smaller one met before",
         {Pic(1019, 720, 480), Pic(1009, 42, 30), Pic(1066, 64, 64), Pic(1036, 50, 41)},
         true,
         {1019, 720, 480},
         {1066, 64, 64},
         false},
        {"preferred preview takes the table's size",
         {Pic(1019, 720, 480), Pic(3004, 56, 56), Pic(1009, 42, 30)},
         true,
         {1019, 720, 480},
         {3004, 56, 73},
         false},
        {"zero width is no preview",
         {Pic(1019, 720, 480), Pic(7001, 0, 10), Pic(1015, 130, 88)},
         true,
         {1019, 720, 480},
         {1015, 130, 88},
         false},
        {"added rows and columns count for unknown formats",
         {Padded(7002, 700, 470, 20, 10), Padded(7003, 60, 40, 4, 1)},
         true,
         {7002, 720, 480},
         {7003, 64, 41},
         false},
        {"full size kept as a file: 4006",
         {Pic(4006, 3000, 2000), Pic(1019, 720, 480), Pic(1009, 42, 30)},
         true,
         {4006, 0, 0},
         {1009, 42, 30},
         true},
        {"full size kept as a file: 4005",
         {Pic(1009, 42, 30), Pic(4005, 0, 0)},
         true,
         {4005, 0, 0},
         {1009, 42, 30},
         true},
        {"full size kept as a file: 4036",
         {Pic(4036, 0, 0), Pic(1009, 42, 30)},
         true,
         {4036, 0, 0},
         {1009, 42, 30},
         true},
        {"full-resolution container",
         {TPhotoDbObject::FullResolution(":Full Resolution:a.jpg"), Pic(1009, 42, 30)},
         true,
         {0, 0, 0},
         {1009, 42, 30},
         true},
        {"only pictures 1024 wide or wider: no preview",
         {Pic(7004, 1024, 768), Pic(7005, 2048, 1536)},
         false,
         {7005, 2048, 1536},
         {0, 0, 0},
         false},
        {"a preferred preview without a full size",
         {Pic(1036, 0, 0)},
         false,
         {0, 0, 0},
         {1036, 0, 0},
         false},
    };
    for (const TSurveyCase& c : cases) {
        SCOPED_TRACE(c.Name);
        FDb = std::make_unique<TIpodPhotoDb>(*FDevice, false);
        TPhotoDbImage image;
        image.Id = 1;
        image.Objects = c.FirstEntry;
        EXPECT_EQ(Load(TPhotoDbBuilder().AddImage(image).Build()), c.Ok);
        EXPECT_EQ(Log(), "");
        EXPECT_EQ(FDb->SeparateFiles, c.Separate);
        EXPECT_EQ(FDb->FullFormat.Id, c.Full.Id);
        EXPECT_EQ(FDb->FullFormat.Width, c.Full.Width);
        EXPECT_EQ(FDb->FullFormat.Height, c.Full.Height);
        EXPECT_EQ(FDb->ThumbFormat.Id, c.Thumb.Id);
        EXPECT_EQ(FDb->ThumbFormat.Width, c.Thumb.Width);
        EXPECT_EQ(FDb->ThumbFormat.Height, c.Thumb.Height);
        if (!c.Ok) {
            EXPECT_EQ(FDb->Photos.Count(), 0);
        }
    }
    // A 3004 preview's picture is 56 x 73; its cell is square.
    FDb = std::make_unique<TIpodPhotoDb>(*FDevice, false);
    TPhotoDbBuilder db;
    db.AddImage(1, {PhotoRef(1019, 0, kFullSlot, 720, 480, ":Thumbs:F1019_1.ithmb"),
                    PhotoRef(3004, 0, 8176, 56, 56, ":Thumbs:F3004_1.ithmb")});
    ASSERT_TRUE(Load(db.Build()));
    EXPECT_EQ(FDb->Photos.ThumbWidth, 56);
    EXPECT_EQ(FDb->Photos.ThumbHeight, 56);
}

TEST_F(PhotoDatabaseTest, FullSizeFileNumberComesFromTheRecordFileName) {
    const std::pair<std::string, int32_t> names[] = {
        {":Thumbs:F1019_3.ithmb", 3},  {":Thumbs:F1019.ithmb", 1},    {":Thumbs:F1019_x.ithmb", 1},
        {":Thumbs:F1019_0.ithmb", 1},  {":Thumbs:F1019_-2.ithmb", 1}, {":Thumbs:F1019_2", 1},
        {":Thumbs:F1019_12.ithmb", 12}};
    TPhotoDbBuilder db;
    uint32_t id = 1;
    for (const auto& [name, index] : names)
        db.AddImage(id++, ClassicRefs(0, name));
    ASSERT_TRUE(Load(db.Build()));
    ASSERT_EQ(FDb->Photos.Count(), static_cast<int>(std::size(names)));
    for (int i = 0; i < FDb->Photos.Count(); ++i)
        EXPECT_EQ(Photo(i).FileIndex, names[i].second) << names[i].first;
    EXPECT_EQ(FDb->FullFormat.FileCount, 12);
}

TEST_F(PhotoDatabaseTest, OnePictureContainerLeavesAnEmptyLibrary) {
    // The one reference is both formats; it counts as the full size only, so no photo has two.
    TPhotoDbBuilder db;
    for (uint32_t id = 1; id <= 3; ++id)
        db.AddImage(id, {PhotoRef(1019, id * kFullSlot, kFullSlot, 720, 480, ":F1019_1.ithmb")});
    db.AddAlbum("Photo Library", db.AllImageIds());
    db.AddAlbum("Trip", {2});
    EXPECT_TRUE(Load(db.Build()));
    EXPECT_EQ(FDb->FullFormat.Id, 1019);
    EXPECT_EQ(FDb->ThumbFormat.Id, 1019);
    EXPECT_EQ(FDb->Photos.Count(), 0);
    EXPECT_EQ(FDb->Photos.CheckedCount, 0);
    ASSERT_EQ(FDb->Albums.Count(), 2);
    EXPECT_EQ(Album(0).Count, 0);
    EXPECT_EQ(Album(1).Count, 0);
}

TEST_F(PhotoDatabaseTest, PicturesKeptAsFilesOfTheirOwn) {
    const std::string path = ":Full Resolution:2006:05:01:IMG_0001.JPG";
    auto image = [](uint32_t id, TPhotoDbObject full) {
        TPhotoDbImage entry;
        entry.Id = id;
        entry.Objects = {TPhotoDbObject::String(1, "a caption, passed over"), std::move(full),
                         TPhotoDbObject::Picture(PhotoRef(1009, id * kListSlot, kListSlot, 42, 30,
                                                          ":Thumbs:F1009_1.ithmb"))};
        return entry;
    };
    TPhotoDbBuilder db;
    db.AddImage(image(1, TPhotoDbObject::FullResolution(path)));
    // The text ends at its first zero.
    db.AddImage(image(2, TPhotoDbObject::FullResolution(std::string("b.jpg\0junk", 10))));
    // A path that says nothing: no full size, the photo goes.
    db.AddImage(image(3, TPhotoDbObject::FullResolution("")));
    TPhotoDbRef nameless = PhotoRef(1, 0, 0, 0, 0, "");
    nameless.FileName.reset();
    db.AddImage(image(4, TPhotoDbObject::Container(5, nameless)));
    ASSERT_TRUE(Load(db.Build()));
    EXPECT_EQ(Log(), "");
    EXPECT_TRUE(FDb->SeparateFiles);
    EXPECT_EQ(FDb->FullFormat.Id, 0);
    ASSERT_EQ(ImageIds(*FDb), (std::vector<uint32_t>{1, 2}));
    EXPECT_EQ(Photo(0).FilePath, path);
    EXPECT_EQ(Photo(0).ThumbOffset, static_cast<int32_t>(kListSlot));
    EXPECT_EQ(Photo(1).FilePath, "b.jpg");
    EXPECT_EQ(Photo(1).FileIndex, 0);
}

TEST_F(PhotoDatabaseTest, EntriesNamingOnlyAFullSizeFileAreListedWithTheirAlbums) {
    // As real iPod touch databases have them: the first entry names the file alone, and the
    // records beside the later ones all have size 0 (and no width to be a preview).
    auto entry = [](uint32_t id, bool withRecords, std::optional<uint32_t> previewFormat) {
        TPhotoDbImage image;
        image.Id = id;
        image.Objects = {
            TPhotoDbObject::FullResolution(":Full Resolution:IMG_" + std::to_string(id) + ".JPG")};
        if (withRecords)
            image.Objects.push_back(
                TPhotoDbObject::Picture(PhotoRef(3001, 0, 0, 0, 0, ":Thumbs:F3001_1.ithmb")));
        if (previewFormat)
            image.Objects.push_back(TPhotoDbObject::Picture(
                PhotoRef(*previewFormat, 0, kListSlot, 42, 30, ":Thumbs:F1009_1.ithmb")));
        return image;
    };
    struct TCase {
        const char* Name;
        std::optional<uint32_t> LaterPreview;
        int32_t ThumbId;
    };
    const TCase cases[] = {{"no entry has a preview", std::nullopt, 0},
                           {"a later entry shows the preview format", 1009, 1009}};
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        FDb = std::make_unique<TIpodPhotoDb>(*FDevice, false);
        TPhotoDbBuilder db;
        db.AddImage(entry(1, false, std::nullopt));
        db.AddImage(entry(2, true, std::nullopt));
        db.AddImage(entry(3, true, c.LaterPreview));
        db.AddAlbum("Photo Library", db.AllImageIds());
        db.AddAlbum("Trip", {3, 1});
        ASSERT_TRUE(Load(db.Build()));
        EXPECT_EQ(Log(), "");
        EXPECT_TRUE(FDb->SeparateFiles);
        EXPECT_EQ(FDb->ThumbFormat.Id, c.ThumbId);
        ASSERT_EQ(ImageIds(*FDb), (std::vector<uint32_t>{1, 2, 3}));
        EXPECT_EQ(Photo(0).FilePath, ":Full Resolution:IMG_1.JPG");
        EXPECT_EQ(FDb->Photos.CheckedCount, 3);
        ASSERT_EQ(FDb->Albums.Count(), 2);
        EXPECT_EQ(Album(1).Members, (std::vector<int32_t>{2, 0}));
    }
}

TEST_F(PhotoDatabaseTest, FileFormatReferenceGivesThePicturePath) {
    TPhotoDbBuilder db;
    db.AddImage(7, {PhotoRef(4006, 123, 456, 1600, 1200, ":Full Resolution:x.jpg"),
                    PhotoRef(1009, 0, kListSlot, 42, 30, ":Thumbs:F1009_1.ithmb")});
    ASSERT_TRUE(Load(db.Build()));
    ASSERT_EQ(FDb->Photos.Count(), 1);
    EXPECT_EQ(Photo(0).FilePath, ":Full Resolution:x.jpg");
    EXPECT_EQ(Photo(0).FullOffset, 0);
    EXPECT_EQ(Photo(0).FullSize, 0);
    EXPECT_EQ(Photo(0).FileIndex, 0);
}

TEST_F(PhotoDatabaseTest, AlbumMembersAreThePhotosTheyName) {
    TPhotoDbBuilder db;
    db.AddImage(10, ClassicRefs(0, ":Thumbs:F1019_1.ithmb"));
    db.AddImage(11, ClassicRefs(1, ":Thumbs:F1019_1.ithmb"));
    db.AddImage(12, ClassicRefs(2, ":Thumbs:F1019_1.ithmb"));
    db.AddImage(11, ClassicRefs(3, ":Thumbs:F1019_1.ithmb"));  // an id used twice
    // Only one reference: dropped, though the albums list it.
    db.AddImage(13, {PhotoRef(1019, 0, kFullSlot, 720, 480, ":Thumbs:F1019_1.ithmb")});
    db.AddAlbum("Photo Library", {10, 11, 12, 11, 13, 999});
    db.AddAlbum("Beach", {11, 999, 12, 13});
    db.AddAlbum("Best", {12});
    TPhotoDbAlbum nameless;
    nameless.MemberIds = {10};
    db.AddAlbum(nameless);  // its first child is no object: no album
    db.AddAlbum("Last", {});
    ASSERT_TRUE(Load(db.Build()));
    ASSERT_EQ(FDb->Photos.Count(), 4);
    ASSERT_EQ(AlbumNames(*FDb),
              (std::vector<std::string>{"Photo Library", "Beach", "Best", "Last"}));
    // Album 0 is the whole library, whatever the database's first album lists.
    EXPECT_EQ(Album(0).Members, (std::vector<int32_t>{0, 1, 2, 3}));
    EXPECT_EQ(Album(0).Count, 4);
    EXPECT_EQ(Album(1).Members, (std::vector<int32_t>{1, 2}));
    EXPECT_EQ(Album(2).Members, (std::vector<int32_t>{2}));
    EXPECT_EQ(Album(3).Count, 0);
    // The later album wins; an id used twice names its first photo.
    EXPECT_EQ(Photo(2).AlbumIndex, 2);
    EXPECT_EQ(Photo(1).AlbumIndex, 1);
    EXPECT_EQ(Photo(3).AlbumIndex, 0);
    EXPECT_EQ(Photo(0).AlbumIndex, 0);
}

TEST_F(PhotoDatabaseTest, AlbumsNeedAnImageList) {
    TPhotoDbBuilder db = Library();
    db.SetSections({2, 3});
    EXPECT_FALSE(Load(db.Build()));
    EXPECT_EQ(FDb->Photos.Count(), 0);
    ASSERT_EQ(FDb->Albums.Count(), 3);
    EXPECT_EQ(Album(1).Count, 0);

    // No album list, no album 0.
    FDb = std::make_unique<TIpodPhotoDb>(*FDevice, false);
    db.SetSections({1, 3});
    EXPECT_TRUE(Load(db.Build()));
    EXPECT_EQ(FDb->Photos.Count(), 3);
    EXPECT_EQ(FDb->Albums.Count(), 0);

    // A file without sections reads nothing.
    FDb = std::make_unique<TIpodPhotoDb>(*FDevice, false);
    db.SetSections({});
    EXPECT_FALSE(Load(db.Build()));
}

using TDamage = std::function<void(std::string& bytes, const TPhotoDbLayout& at)>;

struct TDamageCase {
    std::string Name;
    TDamage Damage;
    bool Result;
    std::string Log;  // the whole log text
    std::vector<uint32_t> Photos;
    std::vector<std::string> Albums;
};

std::string At(size_t offset) {
    return std::to_string(offset);
}

void Tag(std::string& bytes, size_t offset) {
    TPhotoDbBuilder::PutTag(bytes, offset, "xxxx");
}

TEST_F(PhotoDatabaseTest, DamageEndsTheLevelWhereItIs) {
    TPhotoDbLayout at;
    const std::string intact = Library().Build(&at);
    const std::vector<uint32_t> all{100, 101, 102};
    const std::vector<std::string> albums{"Photo Library", "Ferien Zürich", "Garden"};
    const TDamageCase cases[] = {
        {"file tag", [](auto& b, auto&) { Tag(b, 0); }, false, "\r\nMHFD Err", {}, {}},
        {"file header cut", [](auto& b, auto&) { b.resize(27); }, false, "\r\nMHFD Err", {}, {}},
        {"image list tag",
         [](auto& b, auto& l) { Tag(b, l.ImageList); },
         false,
         "\r\nMHLI Err",
         {},
         {}},
        {"first entry tag",
         [](auto& b, auto& l) { Tag(b, l.Images[0]); },
         false,
         "\r\nGet info: MHII err",
         {},
         {}},
        {"first entry object tag",
         [](auto& b, auto& l) { Tag(b, l.ImageObjects[0][1]); },
         false,
         "\r\nGet info: MHOD",
         {},
         {}},
        {"first entry reference tag",
         [](auto& b, auto& l) { Tag(b, l.ImageRefs[0][2]); },
         false,
         "\r\nGet info: MHNI",
         {},
         {}},
        {"first entry length zero",
         [](auto& b, auto& l) { PutU32(b, l.Images[0] + 8, 0); },
         false,
         "\r\nPhoto Database: mhii at " + At(at.Images[0]) + " has a zero length",
         {},
         {}},
        {"later entry tag",
         [](auto& b, auto& l) { Tag(b, l.Images[2]); },
         true,
         "\r\nMHII Err",
         {100, 101},
         albums},
        {"later entry length zero",
         [](auto& b, auto& l) { PutU32(b, l.Images[1] + 8, 0); },
         true,
         "\r\nPhoto Database: mhii at " + At(at.Images[1]) + " has a zero length",
         {100},
         albums},
        // The photo stays as far as it was filled: its full size was read.
        {"later object tag", [](auto& b, auto& l) { Tag(b, l.ImageObjects[1][2]); }, true,
         "\r\nMHOD photo err", all, albums},
        {"later object length zero",
         [](auto& b, auto& l) { PutU32(b, l.ImageObjects[1][0] + 8, 0); }, true,
         "\r\nMHOD photo err", all, albums},
        {"later object past its entry",
         [](auto& b, auto& l) { PutU32(b, l.ImageObjects[1][2] + 8, 0x10000); }, true,
         "\r\nMHOD photo err", all, albums},
        {"later reference tag",
         [](auto& b, auto& l) { Tag(b, l.ImageRefs[1][0]); },
         true,
         "\r\nMHNI error",
         {100, 102},
         albums},
        // Without its file name the full-size reference does not count.
        {"file name longer than its object",
         [](auto& b, auto& l) {
             PutU32(b, l.ImageRefs[1][0] + TPhotoDbBuilder::kMhniHeader + 24, 0xFFFFFF00);
         },
         true,
         "",
         {100, 102},
         albums},
        {"more images announced than the list holds",
         [](auto& b, auto& l) { PutU32(b, l.ImageList + 8, 0xFFFFFFFF); }, true, "\r\nMHII Err",
         all, albums},
        {"last entry longer than its list",
         [](auto& b, auto& l) { PutU32(b, l.Images[2] + 8, 0x7FFFFFFF); }, true,
         "\r\nPhoto Database: mhii at " + At(at.Images[2]) + " runs past the end of its section",
         all, albums},
        {"more sections announced than the file holds", [](auto& b, auto&) { PutU32(b, 20, 1000); },
         true, "\r\nPhoto Database: mhfd at 0 announces 1000 sections, 3 found", all, albums},
        {"section length zero",
         [](auto& b, auto& l) { PutU32(b, l.Sections[0] + 8, 0); },
         false,
         "\r\nPhoto Database: section at " + At(at.Sections[0]) + " has a zero length",
         {},
         {}},
        // The albums fall inside the image section, which then ends the file.
        {"image section longer than the file",
         [](auto& b, auto& l) { PutU32(b, l.Sections[0] + 8, 0x7FFFFFFF); },
         true,
         "\r\nPhoto Database: section at " + At(at.Sections[0]) + " runs past the end of the file",
         all,
         {}},
        {"section cut by the end of the file",
         [](auto& b, auto& l) { b.resize(l.Sections[2] + 10); }, true,
         "\r\nPhoto Database: section at " + At(at.Sections[2]) + " runs past the end of the file",
         all, albums},
        {"album list tag",
         [](auto& b, auto& l) { Tag(b, l.AlbumList); },
         true,
         "\r\nMHLA Err",
         all,
         {}},
        {"more albums announced than the list holds",
         [](auto& b, auto& l) { PutU32(b, l.AlbumList + 8, 1000); }, true,
         "\r\nPhoto Database: mhla at " + At(at.AlbumList) + " announces 1000 albums, 3 found", all,
         albums},
        {"album length zero",
         [](auto& b, auto& l) { PutU32(b, l.Albums[1] + 8, 0); },
         true,
         "\r\nPhoto Database: album at " + At(at.Albums[1]) + " has a zero length",
         all,
         {"Photo Library"}},
        {"album name tag",
         [](auto& b, auto& l) { Tag(b, l.AlbumObjects[1][0]); },
         true,
         "",
         all,
         {"Photo Library", "Garden"}},
        {"album name longer than its object",
         [](auto& b, auto& l) { PutU32(b, l.AlbumObjects[1][0] + 24, 5000); },
         true,
         "",
         all,
         {"Photo Library", "Garden"}},
    };
    for (const TDamageCase& c : cases) {
        SCOPED_TRACE(c.Name);
        FDb = std::make_unique<TIpodPhotoDb>(*FDevice, false);
        std::string bytes = intact;
        c.Damage(bytes, at);
        EXPECT_EQ(Load(bytes), c.Result);
        EXPECT_EQ(Log(), c.Log);
        EXPECT_EQ(ImageIds(*FDb), c.Photos);
        EXPECT_EQ(AlbumNames(*FDb), c.Albums);
    }
}

TEST_F(PhotoDatabaseTest, DamagedAlbumItemsEndThatAlbumOnly) {
    TPhotoDbLayout at;
    const std::string intact = Library().Build(&at);
    struct TCase {
        std::string Name;
        TDamage Damage;
        std::vector<int32_t> Holiday;  // members of album 1; album 2 is always read
        std::string Log;
    };
    const TCase cases[] = {
        {"item length zero",
         [](auto& b, auto& l) { PutU32(b, l.AlbumItems[1][1] + 8, 0); },
         {1},
         "\r\nPhoto Database: album item at " + At(at.AlbumItems[1][1]) + " has a zero length"},
        {"item longer than its album",
         [](auto& b, auto& l) { PutU32(b, l.AlbumItems[1][0] + 8, 0x1000); },
         {},
         "\r\nPhoto Database: album item at " + At(at.AlbumItems[1][0]) +
             " runs past the end of its album"},
        {"more items announced than the album holds",
         [](auto& b, auto& l) { PutU32(b, l.Albums[1] + 16, 50); },
         {1, 2},
         "\r\nPhoto Database: album at " + At(at.Albums[1]) + " announces 50 items, 2 found"},
        {"an object after the name is damaged",
         [](auto& b, auto& l) { PutU32(b, l.AlbumObjects[1][1] + 8, 0); },
         {},
         "\r\nPhoto Database: mhod at " + At(at.AlbumObjects[1][1]) + " has a zero length"},
        {"an item of another kind is passed over",
         [](auto& b, auto& l) { TPhotoDbBuilder::PutTag(b, l.AlbumItems[1][0], "mhix"); },
         {2},
         ""},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        FDb = std::make_unique<TIpodPhotoDb>(*FDevice, false);
        std::string bytes = intact;
        c.Damage(bytes, at);
        EXPECT_TRUE(Load(bytes));
        EXPECT_EQ(Log(), c.Log);
        ASSERT_EQ(FDb->Albums.Count(), 3);
        EXPECT_EQ(Album(1).Members, c.Holiday);
        EXPECT_EQ(Album(2).Members, (std::vector<int32_t>{0}));
    }
}

TEST_F(PhotoDatabaseTest, DamageLinesOfOneAlbumListAreCapped) {
    TPhotoDbBuilder db;
    db.AddImage(1, ClassicRefs(0, ":Thumbs:F1019_1.ithmb"));
    for (int i = 0; i < 14; ++i)
        db.AddAlbum("Album " + std::to_string(i), {1});
    TPhotoDbLayout at;
    std::string bytes = db.Build(&at);
    for (const auto& items : at.AlbumItems)
        PutU32(bytes, items[0] + 8, 0);
    ASSERT_TRUE(Load(bytes));
    EXPECT_EQ(FDb->Albums.Count(), 14);
    std::string log = Log();
    size_t lines = 0;
    for (size_t p = log.find("\r\n"); p != std::string::npos; p = log.find("\r\n", p + 2))
        ++lines;
    EXPECT_EQ(lines, 11u) << log;
    EXPECT_NE(log.find("\r\nPhoto Database: 4 more damaged chunks"), std::string::npos);
}

TEST_F(PhotoDatabaseTest, EveryCutOfTheFileKeepsTheModelWhole) {
    // The file ending at any byte must read no further and leave a model the browser can show.
    const std::string bytes = Library().Build();
    for (size_t size = 0; size <= bytes.size(); ++size) {
        TIpodPhotoDb db(*FDevice, false);
        std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(size));
        db.ReadPhotoDatabaseBytes(TByteReader(cut.data(), cut.size()));
        ExpectWholeModel(db);
        if (::testing::Test::HasFailure()) {
            ADD_FAILURE() << "cut at " << size;
            break;
        }
    }
}

TEST_F(PhotoDatabaseTest, ReadStringGivesTextOfStringObjectsOnly) {
    TPhotoDbBuilder db = Library();
    TPhotoDbAlbum named;
    named.Name = std::string("Trip\0junk", 9);
    db.AddAlbum(named);
    TPhotoDbLayout at;
    std::string bytes = db.Build(&at);
    TByteReader file(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());

    std::string text = "kept";
    size_t name = at.AlbumObjects[3][0];
    EXPECT_EQ(FDb->ReadString(file, name, text), testing::GetU32(bytes, name + 8));
    EXPECT_EQ(text, "Trip");

    text = "kept";
    size_t container = at.ImageObjects[0][0];
    EXPECT_EQ(FDb->ReadString(file, container, text), testing::GetU32(bytes, container + 8));
    EXPECT_EQ(text, "kept");
    EXPECT_EQ(FDb->ReadString(file, at.Images[0], text), 0u);
    EXPECT_EQ(FDb->ReadString(file.Prefix(name + 20), name, text), 0u);
    EXPECT_EQ(text, "kept");
}

}  // namespace
}  // namespace corvane
