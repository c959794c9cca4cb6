#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>

#include "fixtures/TempDir.h"
#include "platform/LocalFiles.h"
#include "platform/PlatformTestSupport.h"
#include "platform/UniqueFd.h"

namespace corvane {
namespace {

using testing::TTempDir;
using testing::WriteFile;

TEST(LocalFiles, ExistenceFollowsLinksExceptForPathExists) {
    TTempDir dir;
    WriteFile(dir / "file", "12345");
    ASSERT_TRUE(ForceDirectories(dir / "folder"));
    ASSERT_EQ(symlink("file", (dir / "to-file").c_str()), 0);
    ASSERT_EQ(symlink("folder", (dir / "to-folder").c_str()), 0);
    ASSERT_EQ(symlink("missing", (dir / "dangling").c_str()), 0);
    struct {
        const char* name;
        bool file, folder, any;
        std::optional<uint64_t> size;
    } cases[] = {
        {"file", true, false, true, 5},
        {"folder", false, true, true, std::nullopt},
        {"to-file", true, false, true, 5},
        {"to-folder", false, true, true, std::nullopt},
        {"dangling", false, false, true, std::nullopt},
        {"missing", false, false, false, std::nullopt},
    };
    for (const auto& c : cases) {
        std::string path = dir / c.name;
        EXPECT_EQ(FileExists(path), c.file) << c.name;
        EXPECT_EQ(DirectoryExists(path), c.folder) << c.name;
        EXPECT_EQ(PathExists(path), c.any) << c.name;
        EXPECT_EQ(FileSize(path), c.size) << c.name;
    }
}

TEST(LocalFiles, ForceDirectoriesMakesEveryMissingParent) {
    TTempDir dir;
    EXPECT_TRUE(ForceDirectories(dir / "a/b//c/"));
    EXPECT_TRUE(DirectoryExists(dir / "a/b/c"));
    EXPECT_TRUE(ForceDirectories(dir / "a/b"));  // already there
    WriteFile(dir / "file", "");
    EXPECT_FALSE(ForceDirectories(dir / "file/sub"));
    EXPECT_FALSE(ForceDirectories(""));
}

TEST(LocalFiles, ReadLocalFileReadsBytesAndKernelFiles) {
    TTempDir dir;
    std::string bytes("a\0b\r\n", 5);
    EXPECT_EQ(ReadLocalFile(WriteFile(dir / "f", bytes)), bytes);
    EXPECT_EQ(ReadLocalFile(WriteFile(dir / "empty", "")), "");
    EXPECT_FALSE(ReadLocalFile(dir / "missing"));
    EXPECT_FALSE(ReadLocalFile(dir.Path()));
    // Neither waits for a writer that never comes nor reads past the limit.
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0644), 0);
    EXPECT_FALSE(ReadLocalFile(dir / "fifo"));
    EXPECT_EQ(ReadLocalFile(dir / "f", 5), bytes);
    EXPECT_FALSE(ReadLocalFile(dir / "f", 4));
    // Reports a size of 0 yet has text.
    auto mounts = ReadLocalFile("/proc/self/mountinfo");
    ASSERT_TRUE(mounts);
    EXPECT_FALSE(mounts->empty());
}

TEST(LocalFiles, CutFileNameKeepsWholeCharacters) {
    const std::string name = "ab\xC3\xA9\xF0\x9F\x8E\xB5";  // "ab", e acute, a note sign
    struct {
        size_t limit;
        std::string cut;
    } cases[] = {
        {100, name}, {8, name}, {7, "ab\xC3\xA9"}, {4, "ab\xC3\xA9"}, {3, "ab"}, {2, "ab"}, {0, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CutFileName(name, c.limit), c.cut) << c.limit;
    }
}

TEST(LocalFiles, ListLocalTreeListsFilesOnceAndSkipsLinks) {
    TTempDir dir;
    std::string root = dir / "tree";
    WriteFile(root + "/a.mp3", "");
    WriteFile(root + "/sub/b.mp3", "");
    WriteFile(root + "/sub/deeper/c.mp3", "");
    ASSERT_TRUE(ForceDirectories(root + "/empty"));
    WriteFile(dir / "outside.mp3", "");
    ASSERT_EQ(symlink(root.c_str(), (root + "/sub/loop").c_str()), 0);
    ASSERT_EQ(symlink(dir.Path().c_str(), (root + "/up").c_str()), 0);
    ASSERT_EQ(symlink((dir / "outside.mp3").c_str(), (root + "/link.mp3").c_str()), 0);
    ASSERT_EQ(mkfifo((root + "/fifo").c_str(), 0600), 0);

    std::vector<std::string> files = {"kept"};
    EXPECT_EQ(ListLocalTree(root, files), 3u);
    ASSERT_EQ(files.size(), 4u);
    EXPECT_EQ(files[0], "kept");
    std::sort(files.begin() + 1, files.end());
    EXPECT_EQ(files[1], root + "/a.mp3");
    EXPECT_EQ(files[2], root + "/sub/b.mp3");
    EXPECT_EQ(files[3], root + "/sub/deeper/c.mp3");

    std::vector<std::string> none;
    EXPECT_EQ(ListLocalTree(dir / "missing", none), 0u);
    EXPECT_TRUE(none.empty());
}

TEST(LocalFiles, ListLocalTreeWalksA2000DeepChain) {
    TTempDir dir;
    ASSERT_LT(dir.Path().size() + 2 * 2000 + 16, size_t{PATH_MAX})
        << "TMPDIR too long for this test";
    // Built relative to each new folder, so no path grows long while building.
    TUniqueFd folder(open(dir.Path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    ASSERT_TRUE(folder);
    for (int depth = 0; depth < 2000; ++depth) {
        ASSERT_EQ(mkdirat(folder.Get(), "d", 0755), 0);
        folder.Reset(openat(folder.Get(), "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        ASSERT_TRUE(folder);
    }
    TUniqueFd leaf(openat(folder.Get(), "leaf.mp3", O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
    ASSERT_TRUE(leaf);

    std::vector<std::string> files;
    ASSERT_EQ(ListLocalTree(dir.Path(), files), 1u);
    std::string expected = dir.Path();
    for (int depth = 0; depth < 2000; ++depth)
        expected += "/d";
    EXPECT_EQ(files[0], expected + "/leaf.mp3");

    // Taken down here: the generic clean-up of the temporary folder is slow on such a chain.
    ASSERT_EQ(unlink(files[0].c_str()), 0);
    for (; expected.size() > dir.Path().size(); expected.resize(expected.size() - 2)) {
        ASSERT_EQ(rmdir(expected.c_str()), 0);
    }
}

TEST(LocalFiles, JoinInsideRefusesEveryWayOut) {
    struct {
        std::string relative;
        std::optional<std::string> joined;
    } cases[] = {
        {"a/b/c", "/base/a/b/c"},
        {"Music/F00/ABCD.mp3", "/base/Music/F00/ABCD.mp3"},
        {".hidden", "/base/.hidden"},
        {"a..b/c...d", "/base/a..b/c...d"},
        {"caf\xC3\xA9 \\ name", "/base/caf\xC3\xA9 \\ name"},
        {"", std::nullopt},
        {"/etc/passwd", std::nullopt},
        {"..", std::nullopt},
        {"a/../../b", std::nullopt},
        {".", std::nullopt},
        {"a/./b", std::nullopt},
        {"...", std::nullopt},
        {"a/....", std::nullopt},
        {"a//b", std::nullopt},
        {"a/", std::nullopt},
        {std::string("a\0b", 3), std::nullopt},
        {"a\nb", std::nullopt},
        {"a\x1f", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(JoinInside("/base", c.relative), c.joined) << c.relative;
    }
    EXPECT_EQ(JoinInside("/base/", "x"), "/base/x");
    EXPECT_EQ(JoinInside("", "x"), std::nullopt);  // an empty base would make it absolute
}

}  // namespace
}  // namespace corvane
