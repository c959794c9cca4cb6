// Album art: reading ArtworkDB, linking tracks to covers, decoding records of every pixel layout,
// and the covers a mobile device's MediaLibrary names.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "base/ByteReader.h"
#include "cli/MusicOutput.h"
#include "fixtures/ArtworkDbFiles.h"
#include "fixtures/DeviceSessions.h"
#include "fixtures/ITunesDbBuilder.h"
#include "fixtures/IthmbBuilder.h"
#include "fixtures/PictureFiles.h"
#include "fixtures/SqliteBuilder.h"
#include "fixtures/TempDir.h"
#include "music/iPodMusic.h"
#include "photo/ArtworkPictures.h"
#include "photo/ImageCodecs.h"

namespace corvane {
namespace {

using namespace testing;

constexpr TRgb kRed{255, 0, 0};
constexpr TRgb kBlue{0, 0, 255};
constexpr TRgb kGreen{0, 255, 0};

size_t Count(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

TByteReader View(const std::string& bytes) {
    return TByteReader(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

// Three tracks: one finds its cover by dbid, one by its artwork link (whose dbid names another
// cover: the link wins), one has none.
std::string ThreeTrackITunesDb() {
    TITunesDbBuilder db;
    TITunesDbTrack a{.Id = 1, .Title = "By Dbid", .Location = ":iPod_Control:Music:F00:A.mp3"};
    a.Dbid = 7001;
    TITunesDbTrack b{.Id = 2, .Title = "By Link", .Location = ":iPod_Control:Music:F00:B.mp3"};
    b.Dbid = 7001;
    b.ArtworkLink = 101;
    TITunesDbTrack c{.Id = 3, .Title = "Bare", .Location = ":iPod_Control:Music:F00:C.mp3"};
    c.Dbid = 9999;
    db.AddTrack(a).AddTrack(b).AddTrack(c);
    db.AddPlaylist({.Name = "iPod", .IsMaster = true, .TrackIds = db.AllTrackIds()});
    return db.Build();
}

const std::vector<TCoverSpec> kCovers = {{.ImageId = 100, .SongId = 7001, .Colour = kRed},
                                         {.ImageId = 101, .SongId = 0, .Colour = kBlue}};

TEST(ArtworkDb, ReadsBothFormatsOfEveryCoverAndTheFileList) {
    TLogText log;
    TArtworkIndex index;
    ASSERT_TRUE(index.ReadArtworkDb(View(BuildArtworkDb(kCovers)), log));
    EXPECT_EQ(log.Text(), "");
    ASSERT_EQ(index.Images.size(), 2u);
    const TArtworkImage& second = index.Images[1];
    EXPECT_EQ(second.ImageId, 101u);
    ASSERT_EQ(second.Records.size(), 2u);
    EXPECT_EQ(second.Records[1].FormatId, kLargeCoverFormat);
    EXPECT_EQ(second.Records[1].FileName, "F1029_1.ithmb");
    EXPECT_EQ(second.Records[1].Offset, kLargeCoverBytes);
    EXPECT_EQ(index.Images[0].SongId, 7001u);
    EXPECT_EQ(index.LargestRecord(1), &second.Records[1]);
    EXPECT_EQ(index.FileFormats.at(kSmallCoverFormat), kSmallCoverBytes);
}

TEST(ArtworkDb, DamageEndsTheListWithALineAndKeepsWhatCameBefore) {
    TPhotoDbLayout layout;
    const std::string good = BuildArtworkDb(kCovers, &layout);
    struct TCase {
        const char* Name;
        std::string Bytes;
        size_t Images;
    };
    std::string cut = good.substr(0, layout.Images[1] + 40);
    std::string longImage = good;
    PutU32(longImage, layout.Images[1] + 8, 0x7FFFFFF0);  // past its section
    std::string zeroImage = good;
    PutU32(zeroImage, layout.Images[0] + 8, 0);
    std::string longRecord = good;
    PutU32(longRecord, layout.ImageRefs[0][1] + 8, 0xFFFFFF00);
    std::string manyImages = good;
    PutU32(manyImages, layout.ImageList + 8, 0xFFFFFFFF);
    const TCase cases[] = {
        {"cut inside the second cover", cut, 1},
        // The last cover is cut at the end of its section; its records are whole.
        {"cover longer than its section", longImage, 2},
        {"cover of length zero", zeroImage, 0},
        {"record longer than its object", longRecord, 2},
        {"count far beyond the covers", manyImages, 2},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TLogText log;
        TArtworkIndex index;
        EXPECT_TRUE(index.ReadArtworkDb(View(c.Bytes), log));
        EXPECT_EQ(index.Images.size(), c.Images);
        EXPECT_NE(log.Text().find("ArtworkDB: "), std::string::npos) << log.Text();
    }
    TLogText log;
    TArtworkIndex index;
    EXPECT_FALSE(index.ReadArtworkDb(View("mhbd" + good.substr(4)), log));
    EXPECT_FALSE(index.ReadArtworkDb(View(good.substr(0, 10)), log));
    EXPECT_NE(log.Text().find("no mhfd header"), std::string::npos);
}

TEST(ArtworkDb, LoadLinksTracksByLinkThenDbidAndDecodesTheLargestRecord) {
    TTempDir root;
    auto device = DiskDevice(root.Path());
    WriteFile(root / "iPod_Control/iTunes/iTunesDB", ThreeTrackITunesDb());
    WriteArtworkFiles(root / "iPod_Control/Artwork", kCovers);
    TIpodMusicDb music(*device);
    ASSERT_TRUE(music.Load(true));
    ASSERT_EQ(music.Tracks.Count(), 3);
    EXPECT_EQ(music.Tracks.Items(0).Cover, 0);
    EXPECT_EQ(music.Tracks.Items(1).Cover, 1);
    EXPECT_EQ(music.Tracks.Items(2).Cover, -1);
    const std::string json = cli::MusicLibraryJson(*device, music, true);
    EXPECT_EQ(Count(json, "\"has_artwork\":true"), 2u) << json;
    EXPECT_EQ(Count(json, "\"has_artwork\":false"), 1u);

    TBitmap picture;
    ASSERT_TRUE(ReadCover(*device, music.Artwork, 1, picture));
    EXPECT_EQ(picture.Width(), 200);
    EXPECT_EQ(picture.Pixel(150, 150), kBlue);
    const std::vector<uint8_t> jpeg = CoverJpeg(*device, music.Artwork, 0);
    TBitmap decoded;
    ASSERT_TRUE(DecodeJpeg(jpeg, 1, decoded));
    EXPECT_GT(decoded.Pixel(100, 100).R, 240);
    EXPECT_LT(decoded.Pixel(100, 100).B, 15);
}

// The link rule over image ids numbered one after another (a table by id) and far apart
// (sorted ids): the link first, the dbid second, the first image of a repeated key.
TEST(ArtworkLinks, LinkThenDbidAndTheFirstOfARepeatedKeyWhateverTheIds) {
    for (const uint32_t step : {1u, 1000000u}) {
        TArtworkIndex index;
        auto add = [&](uint32_t n, uint64_t songId) {
            index.Images.push_back({.ImageId = 100 + n * step, .SongId = songId});
        };
        add(0, 0x10);
        add(1, 0x20);
        add(1, 0x30);  // the same image id again: the first keeps it
        add(2, 0x20);  // the same song id again: the first keeps it
        struct TCase {
            uint32_t Link;
            uint64_t Dbid;
            int Cover;
        };
        const TCase cases[] = {
            {100, 0x20, 0},              // the link wins over the dbid
            {100 + step, 0, 1},          // the first of a repeated image id
            {100 + 2 * step, 0, 3},      //
            {7, 0x20, 1},                // no image of that id: the dbid, its first image
            {0, 0x30, 2},                // no link at all
            {100 + 3 * step, 0x99, -1},  // neither finds one
            {UINT32_MAX, 0, -1},         // past every id
        };
        TTrackList tracks;
        for (const TCase& c : cases) {
            TTrackItem& track = tracks.Add();
            track.ArtworkLink = c.Link;
            track.PersistentId = c.Dbid;
        }
        EXPECT_EQ(index.Link(tracks), 5) << "step " << step;
        for (size_t i = 0; i < std::size(cases); ++i)
            EXPECT_EQ(tracks.Items(static_cast<int>(i)).Cover, cases[i].Cover)
                << "step " << step << ", case " << i;
    }
}

TEST(ArtworkDb, MissingOrCutIthmbFileGivesNoCoverAndNoCrash) {
    TTempDir root;
    auto device = DiskDevice(root.Path());
    WriteFile(root / "iPod_Control/iTunes/iTunesDB", ThreeTrackITunesDb());
    WriteArtworkFiles(root / "iPod_Control/Artwork", kCovers);
    // The large file ends inside the second cover's record.
    const std::string large = ReadFile(root / "iPod_Control/Artwork/F1029_1.ithmb");
    WriteFile(root / "iPod_Control/Artwork/F1029_1.ithmb", large.substr(0, kLargeCoverBytes + 9));
    TIpodMusicDb music(*device);
    ASSERT_TRUE(music.Load(true));
    TBitmap picture;
    EXPECT_TRUE(ReadCover(*device, music.Artwork, 0, picture));
    EXPECT_FALSE(ReadCover(*device, music.Artwork, 1, picture));
    EXPECT_TRUE(picture.Empty());
    EXPECT_FALSE(ReadCover(*device, music.Artwork, 7, picture));
    EXPECT_TRUE(CoverJpeg(*device, music.Artwork, 1).empty());
}

TEST(ArtworkFormats, TheModelsAnswerComesFirstThenTheTableThenTheRecordsSize) {
    TArtworkIndex index;
    TArtworkRecord record{.FormatId = 1028, .Size = 20000, .Width = 100, .Height = 100};
    EXPECT_EQ(index.FormatOf(record).Pixels, TArtworkPixels::Rgb565Le);
    index.ModelFormats = [](uint32_t id) -> std::optional<TArtworkFormat> {
        if (id == 1028)
            return TArtworkFormat{1028, 100, 100, TArtworkPixels::Uyvy};
        return std::nullopt;
    };
    EXPECT_EQ(index.FormatOf(record).Pixels, TArtworkPixels::Uyvy);

    TArtworkRecord unknown{.FormatId = 4242, .Size = 6 * 4 * 3 / 2, .Width = 6, .Height = 4};
    EXPECT_EQ(index.FormatOf(unknown).Pixels, TArtworkPixels::I420);
    unknown.Size = 6 * 4 * 2;
    EXPECT_EQ(index.FormatOf(unknown).Pixels, TArtworkPixels::Rgb565Le);
    index.MobileDevice = true;
    EXPECT_EQ(index.FormatOf(unknown).Pixels, TArtworkPixels::Rgb555Le);
}

// A record whose size the database leaves open, in a format only some models write: the model
// SysInfo names tells how to read it, and without one there is no cover rather than a wrong one.
TEST(ArtworkFormats, TheModelFromSysInfoReadsARecordOfOpenSize) {
    constexpr uint32_t kNanoFormat = 1073;  // 240 x 240 on the fifth nano
    constexpr uint32_t kBytes = 240 * 240 * 2;
    TTempDir root;
    WriteFile(root / "iPod_Control/iTunes/iTunesDB", ThreeTrackITunesDb());
    TPhotoDbBuilder db;
    TPhotoDbImage image;
    image.Id = 100;
    image.SongId = 7001;
    image.Objects = {
        TPhotoDbObject::Picture(PhotoRef(kNanoFormat, 0, kBytes, 0, 0, ":F1073_1.ithmb"))};
    db.AddImage(std::move(image));
    WriteFile(root / "iPod_Control/Artwork/ArtworkDB", db.Build());
    TBitmap green(240, 240);
    green.Fill(kGreen);
    WriteIthmbFile(root / "iPod_Control/Artwork/F1073_1.ithmb", {EncodeRgb565(green)}, kBytes);

    for (const bool named : {false, true}) {
        SCOPED_TRACE(named ? "with SysInfo" : "without SysInfo");
        if (named)
            WriteFile(root / "iPod_Control/Device/SysInfo", "ModelNumStr: xC027\n");
        auto device = DiskDevice(root.Path());
        TIpodMusicDb music(*device);
        ASSERT_TRUE(music.Load(true));
        ASSERT_EQ(music.Tracks.Items(0).Cover, 0);
        TBitmap cover;
        EXPECT_EQ(ReadCover(*device, music.Artwork, 0, cover), named);
        if (named) {
            EXPECT_EQ(cover.Width(), 240);
            EXPECT_EQ(cover.Pixel(120, 120), kGreen);
        }
    }
}

TEST(ArtworkRecords, EveryPixelLayoutDecodesAndPaddingIsCut) {
    struct TCase {
        const char* Name;
        TArtworkPixels Pixels;
        std::vector<uint8_t> Bytes;  // a 2 x 2 stored picture
        TRgb TopLeft;
    };
    const TCase cases[] = {
        {"5-6-5 little-endian", TArtworkPixels::Rgb565Le, {0x00, 0xF8, 0, 0, 0, 0, 0, 0}, kRed},
        {"5-6-5 big-endian", TArtworkPixels::Rgb565Be, {0xF8, 0x00, 0, 0, 0, 0, 0, 0}, kRed},
        {"5-5-5", TArtworkPixels::Rgb555Le, {0xE0, 0x03, 0, 0, 0, 0, 0, 0}, kGreen},
        // U, Y0, V, Y1: Y 235 with neutral colour is white after rounding.
        {"UYVY", TArtworkPixels::Uyvy, {128, 235, 128, 235, 128, 16, 128, 16}, {255, 255, 255}},
        {"I420", TArtworkPixels::I420, {16, 16, 16, 16, 128, 128}, {0, 0, 0}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        // The picture is 1 x 1 inside a row and a column of padding.
        TArtworkRecord record{
            .Width = 1, .Height = 1, .HorizontalPadding = 1, .VerticalPadding = 1};
        TBitmap picture;
        ASSERT_TRUE(DecodeArtworkRecord(c.Bytes, record, {0, 2, 2, c.Pixels}, picture));
        EXPECT_EQ(picture.Width(), 1);
        EXPECT_EQ(picture.Height(), 1);
        EXPECT_EQ(picture.Pixel(0, 0), c.TopLeft);
        // One byte short of the stored picture is refused.
        std::vector<uint8_t> shorter(c.Bytes.begin(), c.Bytes.end() - 1);
        EXPECT_FALSE(DecodeArtworkRecord(shorter, record, {0, 2, 2, c.Pixels}, picture));
        EXPECT_TRUE(picture.Empty());
    }
    // A size no cover has allocates nothing.
    TArtworkRecord huge{.Width = 60000, .Height = 60000};
    TBitmap picture;
    EXPECT_FALSE(DecodeArtworkRecord(std::vector<uint8_t>(16), huge, {}, picture));
}

TEST(MediaLibraryArtwork, TokensNamePictureFilesAndCacheIdsNameRecords) {
    // The newer form: best_artwork_token and artwork name a picture file per item.
    {
        TTempDir root;
        auto device = MobileDevice(root.Path());
        TMediaLibraryBuilder library;
        library.AddTrack(MediaTrack(101, "With Cover", "A.mp3"));
        library.AddTrack(MediaTrack(102, "Without", "B.mp3"));
        library.AddPlaylist(MediaPlaylist(900, "Library"));
        library.SetPrimaryContainer(900);
        const std::string db = root / "iTunes_Control/iTunes/MediaLibrary.sqlitedb";
        std::filesystem::create_directories(root / "iTunes_Control/iTunes");
        library.Write(db, TMediaLibraryEra::Ios17);
        ExecSql(db,
                "INSERT INTO best_artwork_token (entity_pid,entity_type,artwork_type,"
                "available_artwork_token) VALUES (101,0,1,'tok'),(102,0,1,'gone'),"
                "(101,1,1,'album');"
                "INSERT INTO artwork (artwork_token,relative_path) VALUES ('tok','ab/cover'),"
                "('gone','../../escape');");
        TBitmap red(8, 8);
        red.Fill(kRed);
        const std::vector<uint8_t> jpeg = EncodeJpeg(red);
        WriteFile(root / "iTunes_Control/iTunes/Artwork/Originals/ab/cover",
                  std::string(jpeg.begin(), jpeg.end()));
        TIpodMusicDb music(*device);
        ASSERT_TRUE(music.Load(true));
        ASSERT_EQ(music.Tracks.Count(), 2);
        EXPECT_EQ(music.Tracks.Items(0).Cover, 0);
        EXPECT_EQ(music.Tracks.Items(1).Cover, -1);
        // The device's JPEG is exported as it is.
        EXPECT_EQ(CoverJpeg(*device, music.Artwork, 0), jpeg);
    }
    // The older form: an item's cache id names records of the .ithmb files.
    {
        TTempDir root;
        auto device = MobileDevice(root.Path());
        TMediaLibraryBuilder library;
        library.AddTrack(MediaTrack(101, "With Cover", "A.mp3"));
        library.AddTrack(MediaTrack(102, "Same Album", "B.mp3"));
        library.AddPlaylist(MediaPlaylist(900, "Library"));
        library.SetPrimaryContainer(900);
        const std::string db = root / "iTunes_Control/iTunes/MediaLibrary.sqlitedb";
        std::filesystem::create_directories(root / "iTunes_Control/iTunes");
        library.Write(db, TMediaLibraryEra::Ios8);
        ExecSql(db,
                "UPDATE item_extra SET artwork_cache_id=55;"
                "INSERT INTO artwork_info (cache_id,format_id,length,offset) VALUES "
                "('55',3003,8192,8192),('55',3002,32768,0);");
        // 128 x 128 green 5-5-5 pixels (0x03E0).
        std::string ithmb;
        for (int i = 0; i < 128 * 128; ++i)
            ithmb += "\xE0\x03";
        WriteFile(root / "iTunes_Control/iTunes/Artwork/F3002_1.ithmb", ithmb);
        TIpodMusicDb music(*device);
        ASSERT_TRUE(music.Load(true));
        ASSERT_EQ(music.Artwork.Images.size(), 1u);
        EXPECT_EQ(music.Tracks.Items(0).Cover, 0);
        EXPECT_EQ(music.Tracks.Items(1).Cover, 0);
        TBitmap picture;
        ASSERT_TRUE(ReadCover(*device, music.Artwork, 0, picture));
        EXPECT_EQ(picture.Width(), 128);
        EXPECT_EQ(picture.Pixel(5, 5), kGreen);
    }
}

}  // namespace
}  // namespace corvane
