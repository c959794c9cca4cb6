// Photo export of library records: each decoder's path from a disk-mode iPod's thumbnail files
// to JPEG files, the order of files and photos, what a second export and a cancel do, damaged
// records, album folders and names, the destination's space check, and a destination that
// fills up.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "device/DeviceFolder.h"
#include "device/iPodDev.h"
#include "fixtures/ITunesDbBuilder.h"
#include "fixtures/IthmbBuilder.h"
#include "fixtures/PhotoDbBuilder.h"
#include "fixtures/PictureFiles.h"
#include "fixtures/TempDir.h"
#include "photo/ImageCodecs.h"
#include "photo/IthmbPlanes.h"
#include "photo/PlanarJpeg.h"
#include "photo/ThumbnailLoader.h"
#include "photo/iPodPhoto.h"
#include "platform/PlatformTestSupport.h"

namespace corvane {
namespace {

namespace fs = std::filesystem;
using namespace testing;
using ::testing::HasSubstr;
using ::testing::Not;

constexpr uint32_t kPreviewSlot = 42 * 30 * 2;  // 1009, the browser's preview
constexpr TRgb kQuarterColours[] = {kRed, kGreen, kBlue, kYellow};

std::unique_ptr<TIpodDevice> DiskDevice(const std::string& root) {
    fs::create_directories(root + "/iPod_Control/iTunes");
    auto device = std::make_unique<TIpodDevice>(nullptr, OfflineSessionOptions({root}));
    device->ScanDrives();
    return device;
}

// Quarter q of photo k's picture: the colours turn by one per photo, so a picture read from
// the wrong record shows.
TRgb QuarterColour(size_t photo, int quarter) {
    return kQuarterColours[(photo + static_cast<size_t>(quarter)) % 4];
}

TBitmap PhotoPicture(size_t photo, int width, int height) {
    return QuarteredPicture(width, height, QuarterColour(photo, 0), QuarterColour(photo, 1),
                            QuarterColour(photo, 2), QuarterColour(photo, 3));
}

struct TFormat {
    int32_t Id;
    uint16_t Width;  // of the record's picture
    uint16_t Height;
};

TIthmbRecord RecordOf(const TFormat& format, const TBitmap& picture) {
    if (format.Id == 1081) {
        const std::string jpeg = JpegFile(picture);
        return TIthmbRecord(jpeg.begin(), jpeg.end());
    }
    return EncodeFormatRecord(format.Id, picture, false);
}

// A disk-mode iPod whose photos 100, 101, ... have full-size records of format in the files
// numbered by files[k], one after the other in each file, and a 42 x 30 preview each. Returns
// the records.
std::vector<TIthmbRecord> WriteRecordIpod(const std::string& root, const TFormat& format,
                                          const std::vector<int>& files,
                                          const std::vector<TBitmap>& pictures = {}) {
    TPhotoDbBuilder db;
    std::map<int, std::string> fileBytes;
    std::vector<TIthmbRecord> records;
    for (size_t k = 0; k < files.size(); ++k) {
        const TBitmap picture =
            k < pictures.size() ? pictures[k] : PhotoPicture(k, format.Width, format.Height);
        records.push_back(RecordOf(format, picture));
        std::string& file = fileBytes[files[k]];
        const auto offset = static_cast<uint32_t>(file.size());
        file.append(records.back().begin(), records.back().end());
        const std::string name =
            ":Thumbs:F" + std::to_string(format.Id) + "_" + std::to_string(files[k]) + ".ithmb";
        db.AddImage(100 + static_cast<uint32_t>(k),
                    {PhotoRef(format.Id, offset, static_cast<uint32_t>(records.back().size()),
                              format.Width, format.Height, name),
                     PhotoRef(1009, static_cast<uint32_t>(k) * kPreviewSlot, kPreviewSlot, 42, 30,
                              ":Thumbs:F1009_1.ithmb")});
    }
    WriteFile(root + "/Photos/Photo Database", db.Build());
    for (const auto& [number, bytes] : fileBytes) {
        WriteFile(root + "/Photos/Thumbs/F" + std::to_string(format.Id) + "_" +
                      std::to_string(number) + ".ithmb",
                  bytes);
    }
    return records;
}

// A loaded library of records ready to export into Out, noting each progress call.
struct TRecordLibrary {
    TTempDir Dir;
    std::string Root = Dir / "ipod";
    std::string Out = Dir / "out";
    std::vector<TIthmbRecord> Records;
    std::unique_ptr<TIpodDevice> Device;
    std::unique_ptr<TIpodPhotoDb> Db;
    std::vector<std::string> Progress;

    TRecordLibrary(const TFormat& format, const std::vector<int>& files,
                   const std::vector<TBitmap>& pictures = {}) {
        Records = WriteRecordIpod(Root, format, files, pictures);
        Device = DiskDevice(Root);
        Db = std::make_unique<TIpodPhotoDb>(*Device, false);
        EXPECT_TRUE(Db->Load()) << Db->Log.Text();
        EXPECT_EQ(Db->FullFormat.Id, format.Id);
        std::string folder = Out;
        EXPECT_TRUE(Db->PrepareDestination(folder)) << folder;
        Db->OnProgress = [this](const std::string& name) { Progress.push_back(name); };
    }
    std::string Target(uint32_t id) const { return Out + "/" + std::to_string(id) + ".jpg"; }
};

TBitmap DecodeFile(const std::string& path) {
    const std::string bytes = ReadFile(path);
    TBitmap picture;
    EXPECT_TRUE(DecodeJpeg(std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()),
                           1, picture))
        << path;
    return picture;
}

bool Near(TRgb a, TRgb b, int tolerance) {
    return std::abs(a.R - b.R) <= tolerance && std::abs(a.G - b.G) <= tolerance &&
           std::abs(a.B - b.B) <= tolerance;
}

// The middle of each quarter shows photo k's colour, within what JPEG and YUV leave of it.
void ExpectQuarters(const TBitmap& picture, size_t photo) {
    const int w = picture.Width();
    const int h = picture.Height();
    const int xs[] = {w / 4, 3 * w / 4, w / 4, 3 * w / 4};
    const int ys[] = {h / 4, h / 4, 3 * h / 4, 3 * h / 4};
    for (int q = 0; q < 4; ++q) {
        const TRgb got = picture.Pixel(xs[q], ys[q]);
        const TRgb want = QuarterColour(photo, q);
        EXPECT_TRUE(Near(got, want, 24))
            << "photo " << photo << " quarter " << q << ": " << int(got.R) << "," << int(got.G)
            << "," << int(got.B) << " for " << int(want.R) << "," << int(want.G) << ","
            << int(want.B);
    }
}

// Names in a folder and below it, relative, hidden ones too.
std::set<std::string> Tree(const std::string& dir) {
    std::set<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(dir))
        names.insert(fs::relative(entry.path(), dir).string());
    return names;
}

struct TDecoderCase {
    const char* Name;
    TFormat Format;
    int OutWidth;
    int OutHeight;
};

TEST(PhotoExport, EachDecoderWritesItsRecordsAsPictures) {
    const TDecoderCase cases[] = {
        {"uYUV", {1019, 720, 480}, 640, 480}, {"Yuv", {1067, 720, 480}, 720, 480},
        {"nRGB", {1023, 176, 132}, 176, 132}, {"RGB", {1024, 320, 240}, 320, 240},
        {"Jpg", {1081, 640, 480}, 640, 480},
    };
    for (const TDecoderCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TRecordLibrary library(c.Format, {1, 1});
        EXPECT_EQ(library.Db->Export(), 2) << library.Db->Log.Text();
        EXPECT_EQ(library.Progress, (std::vector<std::string>{"100.jpg", "101.jpg"}));
        for (size_t k = 0; k < 2; ++k) {
            const std::string target = library.Target(100 + static_cast<uint32_t>(k));
            const TBitmap picture = DecodeFile(target);
            EXPECT_EQ(picture.Width(), c.OutWidth);
            EXPECT_EQ(picture.Height(), c.OutHeight);
            ExpectQuarters(picture, k);
            if (c.Format.Id == 1081) {
                // The record is the file, byte for byte: exactly FullSize bytes.
                const TIthmbRecord& record = library.Records[k];
                EXPECT_TRUE(ReadFile(target) == std::string(record.begin(), record.end()));
                EXPECT_EQ(fs::file_size(target),
                          static_cast<uintmax_t>(library.Db->Photos.Items(int(k)).FullSize));
            }
        }
        EXPECT_EQ(Tree(library.Out), (std::set<std::string>{"100.jpg", "101.jpg"}));
    }
}

TEST(PhotoExport, FilesGoInFileNumberOrderThenListOrder) {
    // Photos 100 and 102 lie in file 2, photo 101 in file 1.
    TRecordLibrary library({1019, 720, 480}, {2, 1, 2});
    std::vector<bool> existedAtProgress;
    library.Db->OnProgress = [&](const std::string& name) {
        library.Progress.push_back(name);
        existedAtProgress.push_back(fs::exists(library.Out + "/100.jpg"));
    };
    EXPECT_EQ(library.Db->Export(), 3);
    EXPECT_EQ(library.Progress, (std::vector<std::string>{"101.jpg", "100.jpg", "102.jpg"}));
    // Photo 100, ticked first in the list, is written during the pass over file 2.
    EXPECT_EQ(existedAtProgress, (std::vector<bool>{false, true, true}));
    for (size_t k = 0; k < 3; ++k)
        ExpectQuarters(DecodeFile(library.Target(100 + static_cast<uint32_t>(k))), k);
}

TEST(PhotoExport, SecondExportWritesNothingAndStillReportsEveryPicture) {
    TRecordLibrary library({1019, 720, 480}, {1, 2, 1});
    library.Db->Photos.Uncheck(1);
    EXPECT_EQ(library.Db->Export(), 2);
    const std::string first = ReadFile(library.Target(100));
    const auto stamp = fs::last_write_time(library.Target(100));

    EXPECT_EQ(library.Db->Export(), 0);
    EXPECT_EQ(library.Db->ExportFailures, 0);  // already there is not a failure
    EXPECT_EQ(library.Progress,
              (std::vector<std::string>{"100.jpg", "102.jpg", "100.jpg", "102.jpg"}));
    EXPECT_EQ(ReadFile(library.Target(100)), first);
    EXPECT_EQ(fs::last_write_time(library.Target(100)), stamp);
    EXPECT_EQ(Tree(library.Out), (std::set<std::string>{"100.jpg", "102.jpg"}));
}

TEST(PhotoExport, FileThatCannotBeOpenedIsLoggedAndSkipped) {
    TRecordLibrary library({1019, 720, 480}, {1, 2, 1});
    fs::remove(library.Root + "/Photos/Thumbs/F1019_2.ithmb");
    EXPECT_EQ(library.Db->Export(), 2);
    EXPECT_EQ(library.Db->ExportFailures, 1);
    EXPECT_THAT(library.Db->Log.Text(),
                HasSubstr("\r\nCannot open uYUV DB: 1019_2\r\nFile not found: F1019_2"));
    // The picture of the missing file still counts for the progress.
    EXPECT_EQ(library.Progress, (std::vector<std::string>{"100.jpg", "102.jpg", "101.jpg"}));
    EXPECT_EQ(Tree(library.Out), (std::set<std::string>{"100.jpg", "102.jpg"}));
}

// What a damaged device may hold in place of a thumbnail file; each is a file that cannot be
// read, never a hang (a FIFO blocks a plain open until a writer comes).
struct TNotAFileCase {
    const char* Name;
    std::function<bool(const std::string& path)> Make;
    const char* Reason;
};

TEST(PhotoExport, ThumbnailFileThatIsNotAFileNamesEachPictureAndNeverBlocks) {
    const TNotAFileCase cases[] = {
        {"fifo", [](const std::string& path) { return mkfifo(path.c_str(), 0644) == 0; },
         "it is not a regular file"},
        {"folder", [](const std::string& path) { return fs::create_directory(path); },
         "it is a folder, not a file"},
        {"device node",
         [](const std::string& path) {
             return mknod(path.c_str(), S_IFCHR | 0644, makedev(1, 5)) == 0;  // /dev/zero
         },
         "it is not a regular file"},
    };
    for (const TNotAFileCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TRecordLibrary library({1019, 720, 480}, {1, 2, 2});
        const std::string file = library.Root + "/Photos/Thumbs/F1019_2.ithmb";
        fs::remove(file);
        if (!c.Make(file)) {
            ADD_FAILURE() << "cannot make the " << c.Name << " (device nodes need root)";
            continue;
        }
        EXPECT_EQ(library.Db->Export(), 1);
        EXPECT_EQ(library.Db->ExportFailures, 2);
        const std::string log = library.Db->Log.Text();
        for (const char* id : {"101", "102"}) {
            EXPECT_THAT(log,
                        HasSubstr(std::string("Photo ") + id + ": F1019_2.ithmb cannot be read (" +
                                  c.Reason + "), skipped"));
        }
        EXPECT_EQ(Tree(library.Out), (std::set<std::string>{"100.jpg"}));
        EXPECT_EQ(library.Progress.size(), 3u);
    }
}

// Runs body in a child process whose address space may grow by at most 64 MB; true when the
// child ended normally with status 0. A bad_alloc or a crash in body shows as false.
[[maybe_unused]] bool RunsWithin64Megabytes(const std::function<bool()>& body) {
    const pid_t child = fork();
    if (child == 0) {
        long pages = 0;
        if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
            if (std::fscanf(statm, "%ld", &pages) != 1)
                pages = 0;
            std::fclose(statm);
        }
        const rlim_t now = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE));
        const struct rlimit limit = {now + (rlim_t{64} << 20), now + (rlim_t{64} << 20)};
        if (pages == 0 || setrlimit(RLIMIT_AS, &limit) != 0)
            _exit(3);
        _exit(body() ? 0 : 1);
    }
    int status = 0;
    return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

TEST(PhotoExport, RecordSizesOfTheDatabaseNeverDecideHowMuchIsAllocated) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer reserves more address space than the limit allows";
#else
    // A record size of 1 GiB over sparse thumbnail files of that size: every byte the database
    // names exists, but no picture of these formats is that large.
    TTempDir dir;
    const std::string root = dir / "ipod";
    constexpr uint32_t kHuge = uint32_t{1} << 30;
    TPhotoDbBuilder db;
    db.AddImage(100, {PhotoRef(1024, 0, kHuge, 320, 240, ":Thumbs:F1024_1.ithmb"),
                      PhotoRef(1009, 0, kHuge, 42, 30, ":Thumbs:F1009_1.ithmb")});
    WriteFile(root + "/Photos/Photo Database", db.Build());
    for (const char* name : {"F1024_1.ithmb", "F1009_1.ithmb"}) {
        const std::string file = root + "/Photos/Thumbs/" + name;
        WriteFile(file, "");
        fs::resize_file(file, uint64_t{kHuge} + 4096);
    }
    auto device = DiskDevice(root);
    TIpodPhotoDb photos(*device, false);
    ASSERT_TRUE(photos.Load()) << photos.Log.Text();
    // Set directly: the space check would ask for the gigabyte the database claims.
    fs::create_directories(dir / "out");
    photos.Destination = dir / "out/";

    EXPECT_TRUE(RunsWithin64Megabytes([&] {
        return photos.Export() == 0 && photos.ExportFailures == 1 &&
               photos.Log.Text().find(
                   "Photo 100: its record is larger than a picture of format "
                   "1024 can be, skipped") != std::string::npos;
    }));
    EXPECT_TRUE(RunsWithin64Megabytes([&] {
        bool done = false;
        TLoadAllThumbnailThd loader(
            &photos, false, [&](bool) { done = true; }, [](int, int) {}, RunDirect);
        loader.WaitFor();
        return done && photos.Photos.Items(0).Thumb.Empty() &&
               photos.Log.Text().find("Previews: a record of 1073741824 bytes is larger") !=
                   std::string::npos;
    }));
#endif
}

TEST(PhotoExport, CancelStopsBetweenPicturesAndBeforeTheNextFile) {
    TRecordLibrary library({1081, 640, 480}, {1, 1, 1, 2});
    library.Db->Cancelled = true;  // cleared by the export
    library.Db->OnProgress = [&](const std::string& name) {
        library.Progress.push_back(name);
        if (library.Progress.size() == 2)
            library.Db->Cancelled = true;
    };
    EXPECT_EQ(library.Db->Export(), 2);
    EXPECT_EQ(library.Db->ExportFailures, 0);  // what a cancel leaves is not a failure
    EXPECT_EQ(library.Progress, (std::vector<std::string>{"100.jpg", "101.jpg"}));
    EXPECT_EQ(Tree(library.Out), (std::set<std::string>{"100.jpg", "101.jpg"}));
}

TEST(PhotoExport, DamagedRecordsAreSkippedWithALine) {
    TRecordLibrary library({1081, 640, 480}, {1, 1, 1, 1});
    library.Db->Photos.Items(0).FileIndex = 0;
    library.Db->Photos.Items(1).FullOffset = -5;
    library.Db->Photos.Items(2).FullSize = 0;
    EXPECT_EQ(library.Db->Export(), 1);
    EXPECT_EQ(library.Db->ExportFailures, 3);
    const std::string log = library.Db->Log.Text();
    EXPECT_THAT(log,
                HasSubstr("\r\nPhoto 100: the database names no thumbnail file for it, skipped"));
    EXPECT_THAT(log, HasSubstr("\r\nPhoto 101: its record offset -5 is negative, skipped"));
    EXPECT_THAT(log, HasSubstr("\r\nPhoto 102: its record size 0 is not positive, skipped"));
    EXPECT_EQ(Tree(library.Out), (std::set<std::string>{"103.jpg"}));
    EXPECT_EQ(library.Progress.size(), 4u);
}

TEST(PhotoExport, RecordThatCannotBeReadWritesNothing) {
    TRecordLibrary library({1019, 720, 480}, {1, 1});
    // The second record runs past the end of its file.
    fs::resize_file(library.Root + "/Photos/Thumbs/F1019_1.ithmb", 691200 + 1000);
    EXPECT_EQ(library.Db->Export(), 1);
    EXPECT_EQ(library.Db->ExportFailures, 1);
    EXPECT_THAT(library.Db->Log.Text(),
                HasSubstr("Photo 101: its record cannot be read (it runs past the end of the "
                          "file)"));
    EXPECT_EQ(Tree(library.Out), (std::set<std::string>{"100.jpg"}));
    EXPECT_EQ(library.Progress.size(), 2u);
}

TEST(PhotoExport, PhotosGoIntoTheFoldersOfTheirAlbums) {
    TTempDir dir;
    const std::string root = dir / "ipod";
    WriteRecordIpod(root, {1081, 640, 480}, {1, 1, 1, 1});
    // Rewrite the database with albums; the records stay where they are.
    TPhotoDbBuilder db;
    uint32_t offset = 0;
    const std::string file = ReadFile(root + "/Photos/Thumbs/F1081_1.ithmb");
    const std::string fortyA(40, 'a');
    for (uint32_t k = 0; k < 4; ++k) {
        const auto size = static_cast<uint32_t>(JpegFile(PhotoPicture(k, 640, 480)).size());
        db.AddImage(100 + k, {PhotoRef(1081, offset, size, 640, 480, ":Thumbs:F1081_1.ithmb"),
                              PhotoRef(1009, 0, kPreviewSlot, 42, 30, ":Thumbs:F1009_1.ithmb")});
        offset += size;
    }
    ASSERT_EQ(offset, file.size());
    db.AddAlbum("Photo Library", db.AllImageIds());
    db.AddAlbum("My:Trip?", {100});
    db.AddAlbum(fortyA + " " + std::string(9, 'b'), {101});  // 50 characters
    db.AddAlbum("..", {102});
    TPhotoDbLayout layout;
    std::string bytes = db.Build(&layout);
    // 2009-07-15 12:00 UTC as the entry's original date (seconds since 1904) of photo 100.
    constexpr int64_t kTaken = 1247659200;
    PutU32(bytes, layout.Images[0] + 40, static_cast<uint32_t>(kTaken + 2082844800));
    WriteFile(root + "/Photos/Photo Database", bytes);

    auto device = DiskDevice(root);
    TIpodPhotoDb photos(*device, false);
    ASSERT_TRUE(photos.Load());
    std::string folder = dir / "out";
    ASSERT_TRUE(photos.PrepareDestination(folder));
    EXPECT_EQ(photos.AlbumFolder(0), folder + "My_Trip_/");
    EXPECT_EQ(photos.Export(), 4);
    EXPECT_EQ(Tree(dir / "out"),
              (std::set<std::string>{"My_Trip_", "My_Trip_/100.jpg", fortyA, fortyA + "/101.jpg",
                                     "__", "__/102.jpg", "103.jpg"}));
    EXPECT_EQ(FolderNames(dir.Path()), (std::set<std::string>{"ipod", "out"}));

    // Without album folders everything lands in the destination itself.
    photos.OrganizeByAlbum = false;
    folder = dir / "flat";
    ASSERT_TRUE(photos.PrepareDestination(folder));
    EXPECT_EQ(photos.Export(), 4);
    EXPECT_EQ(Tree(dir / "flat"),
              (std::set<std::string>{"100.jpg", "101.jpg", "102.jpg", "103.jpg"}));

    // By date taken: the picture written from a record carries its date; one without a date
    // goes to "Undated".
    photos.OrganizeByDate = true;
    folder = dir / "dated";
    ASSERT_TRUE(photos.PrepareDestination(folder));
    EXPECT_EQ(photos.Export(), 4);
    EXPECT_EQ(Tree(dir / "dated"),
              (std::set<std::string>{"2009", "2009/2009-07", "2009/2009-07/100.jpg", "Undated",
                                     "Undated/101.jpg", "Undated/102.jpg", "Undated/103.jpg"}));
    EXPECT_EQ(
        fs::last_write_time(dir / "dated/2009/2009-07/100.jpg"),
        std::chrono::file_clock::from_sys(std::chrono::sys_seconds(std::chrono::seconds(kTaken))));
    photos.OrganizeByDate = false;

    // A file where the album folder would go: the photo goes to the destination.
    photos.OrganizeByAlbum = true;
    folder = dir / "blocked";
    ASSERT_TRUE(photos.PrepareDestination(folder));
    WriteFile(folder + "My_Trip_", "not a folder");
    EXPECT_EQ(photos.AlbumFolder(0), folder);
}

TEST(PhotoExport, SafeAlbumNameStaysOneHarmlessFolderName) {
    const std::string fortyA(40, 'a');
    std::string e41;
    for (int i = 0; i < 41; ++i)
        e41 += "\xC3\xA9";  // é, two bytes each
    const std::pair<std::string, std::string> cases[] = {
        {"", "Album_Unknown"},
        {"Holiday 2006", "Holiday 2006"},
        {"My:Trip?", "My_Trip_"},
        {"\"*/:<>?\\|", "_________"},
        {fortyA + " " + std::string(9, 'b'), fortyA},  // cut to 41, then trimmed
        {"  Trip  ", "Trip"},
        {e41 + "x", e41},  // 41 characters, not 41 bytes
        // Names that would be the folder itself or its parent.
        {".", "_"},
        {"..", "__"},
        {"...", "___"},
        {std::string(45, '.'), std::string(41, '_')},
        {". .", ". ."},
        {"a/../b", "a_.._b"},
        // Blanks only, control characters and NUL.
        {"   ", "Album_Unknown"},
        {"\t\n", "Album_Unknown"},
        {"Tab\tIn\x7F", "Tab_In_"},
        {std::string("a\0b", 3), "a_b"},
        {"line\r\nbreak", "line__break"},
    };
    for (const auto& [name, safe] : cases)
        EXPECT_EQ(TIpodPhotoDb::SafeAlbumName(name), safe) << name;
}

TEST(PhotoExport, SafeFileNameStaysOneHarmlessFileName) {
    const std::pair<std::string, std::string> cases[] = {
        {"IMG_0001.JPG", "IMG_0001.JPG"},
        {"My:Pic?.jpg", "My:Pic?.jpg"},  // legal here, left alone
        {"", "fallback"},
        {".", "_"},
        {"..", "__"},
        {"a/b.jpg", "a_b.jpg"},
        {"../../x.jpg", ".._.._x.jpg"},
        {"x\ny.jpg", "x_y.jpg"},
        {std::string("a\0b", 3), "a_b"},
    };
    for (const auto& [name, safe] : cases)
        EXPECT_EQ(TIpodPhotoDb::SafeFileName(name, "fallback"), safe) << name;
}

// Whatever bytes a device gives, the names are one component: never empty, ".", "..", and
// without separators, NUL or control characters; album names keep within 41 characters.
TEST(PhotoExport, SafeNamesHoldForAnyBytes) {
    uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 24;
    };
    const std::string alphabet = std::string(
                                     "./\\:?* \t\n\x7F\xC3\xA9"
                                     "ab",
                                     14) +
                                 '\0';
    for (int round = 0; round < 20000; ++round) {
        std::string name(next() % 60, ' ');
        for (char& c : name)
            c = next() % 2 ? alphabet[next() % alphabet.size()] : static_cast<char>(next());
        for (const std::string& safe :
             {TIpodPhotoDb::SafeAlbumName(name), TIpodPhotoDb::SafeFileName(name, "x")}) {
            ASSERT_FALSE(safe.empty()) << name;
            ASSERT_NE(safe.find_first_not_of('.'), std::string::npos) << name;
            for (unsigned char c : safe)
                ASSERT_TRUE(c >= 0x20 && c != 0x7F && c != '/') << name;
        }
        size_t characters = 0;
        for (unsigned char c : TIpodPhotoDb::SafeAlbumName(name))
            characters += (c & 0xC0) != 0x80;
        ASSERT_LE(characters, 41u) << name;
    }
}

TEST(PhotoExport, DefaultDestinationIsTheDevicesFolderInThePicturesFolder) {
    TTempDir home;
    TScopedEnv homeVariable("HOME", home.Path().c_str());
    TScopedEnv config("XDG_CONFIG_HOME", nullptr);
    TIpodDevice device(nullptr, OfflineSessionOptions());
    TIpodPhotoDb photos(device, false);
    // A device without a name of its own is called "iPod".
    EXPECT_EQ(photos.DefaultDestination(), home / "Pictures/iPod/");
    // A name that could not be one folder is made into one.
    device.SetDisplayName("Ann's iPod: 2/3");
    EXPECT_EQ(photos.DefaultDestination(), home / "Pictures/Ann's iPod_ 2_3/");
    // A model's long name is kept whole; nothing left of a name gives a folder all the same.
    EXPECT_EQ(TIpodPhotoDb::SafeDeviceFolderName("iPod video 80 GB, 5th generation, late 2006"),
              "iPod video 80 GB, 5th generation, late 2006");
    EXPECT_EQ(TIpodPhotoDb::SafeDeviceFolderName(" \t "), "iPod Photos");
    EXPECT_EQ(TIpodPhotoDb::SafeDeviceFolderName(".."), "__");
}

struct TSpaceCase {
    const char* Name;
    int64_t CheckedSize;
    int32_t SlotSize;
    int32_t CheckedCount;
    bool Fits;  // in 1 MiB
};

TSpaceCase Space(const char* name, int64_t checkedSize, int32_t slotSize, int32_t count,
                 bool fits) {
    TSpaceCase c;
    c.Name = name;
    c.CheckedSize = checkedSize;
    c.SlotSize = slotSize;
    c.CheckedCount = count;
    c.Fits = fits;
    return c;
}

TEST(PhotoExport, PrepareDestinationReckonsTheSpaceOfTheTickedPictures) {
    TTempDir dir;
    const std::string small = dir / "small";
    fs::create_directories(small);
    TTmpfsMount tmpfs(small, "size=1m");
    if (!tmpfs.Mounted())
        GTEST_SKIP() << "needs root to mount a tmpfs";
    TIpodDevice device(nullptr, OfflineSessionOptions());
    const TSpaceCase cases[] = {
        // The sizes of photos ticked by hand come first, whatever the format says.
        Space("ticked sizes", 1000000, 691200, 5, true),
        Space("ticked sizes too large", 1100000, 0, 1, false),
        Space("slot size by count", 0, 691200, 1, true),
        Space("slot size by count too large", 0, 691200, 2, false),
        Space("a guess per picture", 0, 0, 1, true),
        Space("a guess per picture too large", 0, 0, 2, false),
        Space("negative sizes fall back", -7, -1, 1, true),
    };
    for (const TSpaceCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TIpodPhotoDb photos(device, false);
        photos.Photos.CheckedSize = c.CheckedSize;
        photos.Photos.CheckedCount = c.CheckedCount;
        photos.FullFormat.SlotSize = c.SlotSize;
        std::string folder = small + "/Photos";
        EXPECT_EQ(photos.PrepareDestination(folder), c.Fits) << folder;
        if (c.Fits) {
            EXPECT_EQ(folder, small + "/Photos/");
            EXPECT_EQ(photos.Destination, folder);
            EXPECT_TRUE(fs::is_directory(folder));
        } else {
            EXPECT_THAT(folder, HasSubstr("hasn't enough free disk space"));
            EXPECT_THAT(folder, HasSubstr(small));
            EXPECT_EQ(photos.Destination, "");
        }
    }
}

TEST(PhotoExport, PrepareDestinationReckonsIn64Bits) {
    TTempDir dir;
    TIpodDevice device(nullptr, OfflineSessionOptions());
    TIpodPhotoDb photos(device, false);
    // 2^31 - 1 bytes by 4098 pictures: 8 TiB, which 32 bits would wrap to a negative count and
    // then fall back to a guess of a few gigabytes.
    photos.FullFormat.SlotSize = INT32_MAX;
    photos.Photos.CheckedCount = 4098;
    std::string folder = dir / "out";
    EXPECT_FALSE(photos.PrepareDestination(folder));
    EXPECT_THAT(folder, HasSubstr("hasn't enough free disk space"));
    EXPECT_FALSE(fs::exists(dir / "out"));
    // A relative folder has no file system to measure and is refused the same way.
    folder = "relative/out";
    EXPECT_FALSE(photos.PrepareDestination(folder));
    EXPECT_EQ(photos.Destination, "");
}

TEST(PhotoExport, NothingIsWrittenWithoutADestination) {
    TRecordLibrary library({1081, 640, 480}, {1});
    library.Db->Destination.clear();
    const auto before = fs::current_path();
    EXPECT_EQ(library.Db->Export(), 0);
    EXPECT_FALSE(fs::exists(before / "100.jpg"));
}

// A destination on a small tmpfs that fills up part-way.
TEST(PhotoExport, FullDestinationLeavesOnlyWholePicturesAndReplacesNothing) {
    std::vector<TBitmap> pictures;
    for (uint32_t k = 0; k < 6; ++k)
        pictures.push_back(NoisePicture(720, 480, k + 1));
    TRecordLibrary library({1019, 720, 480}, {1, 1, 1, 1, 1, 1}, pictures);
    const std::string small = library.Dir / "small";
    fs::create_directories(small);
    TTmpfsMount tmpfs(small, "size=512k");
    if (!tmpfs.Mounted())
        GTEST_SKIP() << "needs root to mount a tmpfs";
    WriteFile(small + "/103.jpg", "mine");
    library.Db->Destination = small + "/";

    const int written = library.Db->Export();
    EXPECT_GT(written, 0);
    EXPECT_LT(written, 5);
    EXPECT_THAT(library.Db->Log.Text(), HasSubstr("No space left on device"));
    EXPECT_EQ(library.Progress.size(), 6u);
    EXPECT_EQ(ReadFile(small + "/103.jpg"), "mine");
    int whole = 0;
    for (const std::string& name : Tree(small)) {
        ASSERT_NE(name[0], '.') << "a temporary file was left: " << name;
        if (name == "103.jpg")
            continue;
        // Every picture there is the complete file the encoder makes of its record.
        const size_t k = std::stoul(name) - 100;
        TYcbcrPicture decoded;
        ASSERT_TRUE(DecodeUyvyPlanes(library.Records[k], decoded));
        const std::vector<uint8_t> expected = EncodePlanarJpeg(decoded);
        EXPECT_TRUE(ReadFile(small + "/" + name) == std::string(expected.begin(), expected.end()))
            << name << " is not the whole picture";
        ++whole;
    }
    EXPECT_EQ(whole, written);
}

}  // namespace
}  // namespace corvane
