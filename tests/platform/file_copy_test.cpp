#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>
#include <vector>

#include "fixtures/TempDir.h"
#include "platform/FileCopy.h"
#include "platform/LocalFiles.h"
#include "platform/PlatformTestSupport.h"

namespace corvane {
namespace {

using testing::FolderNames;
using testing::ReadFile;
using testing::TTempDir;
using testing::TTmpfsMount;
using testing::WriteFile;

std::string RandomBytes(size_t count) {
    std::mt19937 random(static_cast<unsigned>(count));
    std::string bytes(count, '\0');
    for (char& c : bytes)
        c = static_cast<char>(random());
    return bytes;
}

TEST(FileCopy, CopiesContentAndTimeAndLeavesNoTemporaryFile) {
    // 255 bytes, with a two-byte letter across the point where the temporary name is cut.
    std::string longName = std::string(241, 'n') + "\xC3\xA9" + std::string(12, 'x');
    struct {
        std::string name;
        size_t size;
    } cases[] = {
        {"empty.mp3", 0},
        {"big.m4a", (size_t{3} << 20) + 17},
        {longName, 1000},
    };
    for (const auto& c : cases) {
        TTempDir dir;
        std::string content = RandomBytes(c.size);
        std::string source = WriteFile(dir / "source.bin", content);
        struct timespec times[2] = {{1000000000, 0}, {1234567890, 500}};
        ASSERT_EQ(utimensat(AT_FDCWD, source.c_str(), times, 0), 0);

        std::string target = dir / c.name;
        ASSERT_EQ(CopyFileNoReplace(source, target), 0) << c.size;
        EXPECT_EQ(ReadFile(target), content);
        struct stat info;
        ASSERT_EQ(stat(target.c_str(), &info), 0);
        EXPECT_EQ(info.st_mtim.tv_sec, 1234567890);
        EXPECT_EQ(FolderNames(dir.Path()), (std::set<std::string>{"source.bin", c.name}));
    }
}

TEST(FileCopy, ReportsEachChunkWithTheFileSizeUpToTheEnd) {
    TTempDir dir;
    const size_t size = (size_t{20} << 20) + 5;
    std::string source = WriteFile(dir / "movie.m4v", RandomBytes(size));
    std::vector<std::pair<uint64_t, uint64_t>> reports;
    ASSERT_EQ(CopyFileNoReplace(
                  source, dir / "copy.m4v",
                  [&](uint64_t done, uint64_t total) { reports.emplace_back(done, total); }),
              0);
    // A report per chunk, growing, the last one at the end: neither one per block nor none.
    ASSERT_GE(reports.size(), 2u);
    EXPECT_LE(reports.size(), 21u);
    for (size_t i = 0; i < reports.size(); ++i) {
        EXPECT_EQ(reports[i].second, size);
        if (i > 0) {
            EXPECT_GT(reports[i].first, reports[i - 1].first);
        }
    }
    EXPECT_EQ(reports.back().first, size);
}

TEST(FileCopy, NeverReplacesAnExistingTarget) {
    TTempDir dir;
    std::string source = WriteFile(dir / "new.mp3", "new content");
    std::string target = WriteFile(dir / "old.mp3", "old");
    EXPECT_EQ(CopyFileNoReplace(source, target), EEXIST);
    EXPECT_EQ(ReadFile(target), "old");

    // A dangling symlink is an existing name too: following it would create a file elsewhere.
    std::string link = dir / "link.mp3";
    ASSERT_EQ(symlink((dir / "elsewhere.mp3").c_str(), link.c_str()), 0);
    EXPECT_EQ(CopyFileNoReplace(source, link), EEXIST);
    EXPECT_FALSE(PathExists(dir / "elsewhere.mp3"));

    EXPECT_EQ(RenameNoReplace(source, target), EEXIST);
    EXPECT_EQ(ReadFile(source), "new content");
    EXPECT_EQ(ReadFile(target), "old");
    EXPECT_EQ(FolderNames(dir.Path()), (std::set<std::string>{"new.mp3", "old.mp3", "link.mp3"}));

    EXPECT_EQ(RenameNoReplace(source, dir / "moved.mp3"), 0);
    EXPECT_EQ(ReadFile(dir / "moved.mp3"), "new content");
    EXPECT_FALSE(PathExists(source));
}

TEST(FileCopy, RefusesWhatIsNoFileAndReportsTheError) {
    TTempDir dir;
    ASSERT_TRUE(ForceDirectories(dir / "folder"));
    std::string source = WriteFile(dir / "a.mp3", "a");
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
    EXPECT_EQ(CopyFileNoReplace(dir / "folder", dir / "b"), EISDIR);
    EXPECT_EQ(CopyFileNoReplace(dir / "fifo", dir / "b"), EINVAL);  // and does not hang
    EXPECT_EQ(CopyFileNoReplace(dir / "missing", dir / "b"), ENOENT);
    EXPECT_EQ(CopyFileNoReplace(source, dir / "no/such/folder/b"), ENOENT);
    EXPECT_EQ(FolderNames(dir.Path()), (std::set<std::string>{"a.mp3", "folder", "fifo"}));
}

TEST(FileCopy, ReadErrorLeavesNeitherTargetNorTemporaryFile) {
    // Reading this process's memory at offset 0 fails with EIO, like a dying device.
    TTempDir dir;
    EXPECT_EQ(CopyFileNoReplace("/proc/self/mem", dir / "out.mp3"), EIO);
    EXPECT_TRUE(FolderNames(dir.Path()).empty());
}

class FileCopyOnFullDisk : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(ForceDirectories(Small));
        Tmpfs.emplace(Small, "size=64k");
        if (!Tmpfs->Mounted())
            GTEST_SKIP() << "needs root to mount a tmpfs";
    }
    TTempDir Dir;
    std::string Small = Dir / "small";
    std::optional<TTmpfsMount> Tmpfs;
};

TEST_F(FileCopyOnFullDisk, CopyFailsWithNoSpaceAndLeavesNothing) {
    std::string source = WriteFile(Dir / "big.mp3", RandomBytes(1 << 20));
    EXPECT_EQ(CopyFileNoReplace(source, Small + "/big.mp3"), ENOSPC);
    EXPECT_TRUE(FolderNames(Small).empty());

    // What fits still copies, across file systems.
    std::string smallSource = WriteFile(Small + "/fits.mp3", RandomBytes(20000));
    EXPECT_EQ(CopyFileNoReplace(smallSource, Dir / "fits.mp3"), 0);
    EXPECT_EQ(ReadFile(Dir / "fits.mp3"), ReadFile(smallSource));
}

TEST_F(FileCopyOnFullDisk, WriterFailsWithNoSpaceAndLeavesNothing) {
    {
        TAtomicFileWriter writer(Small + "/db.sqlite");
        ASSERT_EQ(writer.Open(), 0);
        std::string piece = RandomBytes(16384);
        int error = 0;
        for (int i = 0; i < 8 && !error; ++i)
            error = writer.Write(piece.data(), piece.size());
        EXPECT_EQ(error, ENOSPC);
    }
    EXPECT_TRUE(FolderNames(Small).empty());
}

TEST(FileCopyWriter, PublishesOnlyOnCommitAndNeverReplaces) {
    TTempDir dir;
    std::string target = dir / "Playlist.m3u";
    {
        TAtomicFileWriter writer(target);
        ASSERT_EQ(writer.Open(), 0);
        ASSERT_EQ(writer.Write("one,", 4), 0);
        ASSERT_EQ(writer.Write("two", 3), 0);
        EXPECT_FALSE(PathExists(target));
        ASSERT_EQ(writer.Commit(), 0);
    }
    EXPECT_EQ(ReadFile(target), "one,two");

    TAtomicFileWriter again(target);
    EXPECT_EQ(again.Open(), EEXIST);

    // The target appears while the writer works: the commit refuses and cleans up.
    std::string late = dir / "late.txt";
    TAtomicFileWriter racing(late);
    ASSERT_EQ(racing.Open(), 0);
    ASSERT_EQ(racing.Write("mine", 4), 0);
    WriteFile(late, "theirs");
    EXPECT_EQ(racing.Commit(), EEXIST);
    EXPECT_EQ(ReadFile(late), "theirs");

    // Never committed: the destructor removes the temporary file.
    {
        TAtomicFileWriter dropped(dir / "dropped.txt");
        ASSERT_EQ(dropped.Open(), 0);
        ASSERT_EQ(dropped.Write("x", 1), 0);
    }
    EXPECT_EQ(FolderNames(dir.Path()), (std::set<std::string>{"Playlist.m3u", "late.txt"}));
}

}  // namespace
}  // namespace corvane
