#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstring>

#include "fixtures/TempDir.h"
#include "platform/LocalFiles.h"
#include "platform/PlatformTestSupport.h"
#include "platform/SystemFolders.h"

namespace corvane {
namespace {

using testing::FolderNames;
using testing::ReadFile;
using testing::RealPath;
using testing::TScopedEnv;
using testing::TTempDir;
using testing::TTmpfsMount;
using testing::WriteFile;

TEST(WorkFile, LivesAloneInAPrivateFolderThatRemovalTakesAway) {
    TTempDir dir;
    TScopedEnv tmp("TMPDIR", (dir.Path() + "/").c_str());
    std::string work = MakeWorkFile();
    std::string prefix = dir.Path() + "/~ip";
    ASSERT_EQ(work.rfind(prefix, 0), 0u) << work;
    std::string name = work.substr(prefix.size() - 3, 9);
    EXPECT_EQ(work, dir.Path() + "/" + name + "/" + name);
    EXPECT_TRUE(std::all_of(name.begin() + 3, name.end(), [](char c) { return isalnum(c); }));
    std::string folder = work.substr(0, work.rfind('/'));
    struct stat info;
    ASSERT_EQ(stat(folder.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    EXPECT_FALSE(PathExists(work));

    WriteFile(work, "db");
    WriteFile(work + "-journal", "companion");
    RemoveWorkFile(work);
    EXPECT_FALSE(PathExists(folder));
    EXPECT_NE(MakeWorkFile(), work);  // fresh each time
}

TEST(WorkFile, AnEndingSignalAtAnyMomentTakesTheStagedFilesAway) {
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(strsignal(signal));
        TTempDir dir;
        TScopedEnv tmp("TMPDIR", dir.Path().c_str());
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // A database staged with its companions, as a mobile device's load leaves it.
            const std::string work = MakeWorkFile();
            for (const char* suffix : {"", "-wal", "-shm"})
                WriteFile(work + suffix, "staged");
            kill(getpid(), signal);
            _exit(0);  // not reached: the signal ends the process
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
        EXPECT_TRUE(FolderNames(dir.Path()).empty());
    }
}

TEST(WorkFile, RemovalTouchesNothingItDidNotMake) {
    TTempDir dir;
    const char* notOurs[] = {"keep/keep", "~ipABCDEF/other", "~ipABCDEF/~ipXYZ", "~ipABCDEF"};
    for (const char* work : notOurs) {
        WriteFile(dir / "keep/file", "x");
        WriteFile(dir / "~ipABCDEF/file", "x");
        RemoveWorkFile(dir / work);
        EXPECT_TRUE(PathExists(dir / "keep/file")) << work;
        EXPECT_TRUE(PathExists(dir / "~ipABCDEF/file")) << work;
    }
}

TEST(WorkFile, MissingTmpdirFallsBackToTmp) {
    TScopedEnv tmp("TMPDIR", "/nonexistent/corvane");
    std::string work = MakeWorkFile();
    EXPECT_EQ(work.rfind("/tmp/~ip", 0), 0u) << work;
    RemoveWorkFile(work);
    EXPECT_FALSE(PathExists(work.substr(0, work.rfind('/'))));
}

TEST(UserDirs, ParsesTheUserDirsFormat) {
    const std::string home = "/home/ann";
    struct {
        const char* text;
        std::optional<std::string> music;
    } cases[] = {
        {"XDG_MUSIC_DIR=\"$HOME/Music\"\n", "/home/ann/Music"},
        {"# XDG_MUSIC_DIR=\"$HOME/Old\"\nXDG_MUSIC_DIR=\"/data/Tunes\"", "/data/Tunes"},
        {"  XDG_MUSIC_DIR = \"$HOME/M\\\"x\\\\y\"  \n", "/home/ann/M\"x\\y"},
        {"XDG_MUSIC_DIR=\"$HOME/A\"\nXDG_MUSIC_DIR=\"$HOME/B\"\n", "/home/ann/B"},  // last wins
        {"XDG_MUSIC_DIR=\"$HOME/A\"\nXDG_MUSIC_DIR=\"relative\"\n", "/home/ann/A"},
        {"XDG_MUSIC_DIR=\"$HOME\"\n", "/home/ann"},
        {"XDG_MUSIC_DIR=\"$HOME/\"\n", "/home/ann/"},
        {"XDG_MUSIC_DIR=\"Music\"\n", std::nullopt},         // relative
        {"XDG_MUSIC_DIR=\"$HOMEX/Music\"\n", std::nullopt},  // not $HOME
        {"XDG_MUSIC_DIR=$HOME/Music\n", std::nullopt},       // unquoted
        {"XDG_MUSIC_DIR=\"$HOME/Music\n", std::nullopt},     // unclosed
        {"XDG_MUSIC_DIR=\"/a\" trailing\n", std::nullopt},   // junk after the value
        {"XDG_MUSIC_DIR_OLD=\"/a\"\nXDG_PICTURES_DIR=\"/p\"\n", std::nullopt},
        {"#XDG_MUSIC_DIR=\"/a\"\n", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ParseUserDirs(c.text, "XDG_MUSIC_DIR", home), c.music) << c.text;
    }
    EXPECT_EQ(ParseUserDirs("XDG_MUSIC_DIR=\"$HOME/Music\"", "XDG_MUSIC_DIR", "/"), "/Music");
    EXPECT_EQ(ParseUserDirs("XDG_MUSIC_DIR=\"$HOME/Music\"", "XDG_MUSIC_DIR", ""), std::nullopt);
}

TEST(UserDirs, FoldersComeFromTheConfigOrDefaultBelowHome) {
    TTempDir dir;
    std::string home = RealPath(dir.Path()) + "/home";
    ASSERT_TRUE(ForceDirectories(home + "/Tunes"));
    TScopedEnv homeEnv("HOME", home.c_str());
    TScopedEnv configEnv("XDG_CONFIG_HOME", (dir / "config").c_str());

    // No user-dirs.dirs yet.
    EXPECT_EQ(UserMusicFolder(), home + "/Music/");
    EXPECT_EQ(UserPicturesFolder(), home + "/Pictures/");

    WriteFile(dir / "config/user-dirs.dirs",
              "XDG_MUSIC_DIR=\"$HOME/Tunes\"\n"
              "XDG_PICTURES_DIR=\"$HOME/Not made\"\n");
    EXPECT_EQ(UserMusicFolder(), home + "/Tunes/");
    EXPECT_EQ(UserPicturesFolder(), home + "/Pictures/");  // configured one is missing

    // Pointing a folder at home itself switches it off.
    WriteFile(dir / "config/user-dirs.dirs", "XDG_MUSIC_DIR=\"$HOME/\"\n");
    EXPECT_EQ(UserMusicFolder(), home + "/Music/");
}

TEST(PlatformSpace, FreeSpaceAndMountPointOfTheNearestFolder) {
    TTempDir dir;
    std::string missing = dir / "not/made/yet.mp3";
    auto free = FreeDiskSpace(missing);
    ASSERT_TRUE(free);
    struct statvfs info;
    ASSERT_EQ(statvfs(dir.Path().c_str(), &info), 0);
    // Others share this disk; the two readings come from one file system, not one moment.
    EXPECT_NEAR(static_cast<double>(*free), static_cast<double>(info.f_bavail) * info.f_frsize,
                1e9);
    EXPECT_TRUE(FreeDiskSpace(""));  // the current folder
    EXPECT_EQ(MountPointOf("/"), "/");
    std::string real = RealPath(dir.Path());
    std::string top = MountPointOf(missing);
    ASSERT_FALSE(top.empty());
    EXPECT_EQ(real.rfind(top == "/" ? "/" : top + "/", 0), 0u) << top;

    std::string small = real + "/small";
    ASSERT_TRUE(ForceDirectories(small + "/inner"));
    TTmpfsMount tmpfs(small, "size=64k");
    if (!tmpfs.Mounted())
        GTEST_SKIP() << "needs root to mount a tmpfs";
    EXPECT_EQ(FreeDiskSpace(small + "/not/made"), 65536u);
    EXPECT_EQ(MountPointOf(small + "/not/made"), small);
    EXPECT_EQ(MountPointOf(dir / "small/../small"), small);
}

std::string PercentDecode(const std::string& text) {
    std::string decoded;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            decoded += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            decoded += text[i];
        }
    }
    return decoded;
}

bool IsDate(const std::string& text) {
    static const std::string kForm = "dddd-dd-ddTdd:dd:dd";
    if (text.size() != kForm.size())
        return false;
    for (size_t i = 0; i < text.size(); ++i) {
        if (kForm[i] == 'd' ? !isdigit(static_cast<unsigned char>(text[i])) : text[i] != kForm[i]) {
            return false;
        }
    }
    return true;
}

// The Path= value of an info file, checking the rest of its form on the way.
std::string InfoPath(const std::string& infoFile) {
    std::string info = ReadFile(infoFile);
    const std::string head = "[Trash Info]\nPath=";
    size_t pathEnd = info.find('\n', head.size());
    if (info.rfind(head, 0) != 0 || pathEnd == std::string::npos)
        return "malformed: " + info;
    std::string path = info.substr(head.size(), pathEnd - head.size());
    std::string rest = info.substr(pathEnd + 1);
    const std::string dateKey = "DeletionDate=";
    if (rest.rfind(dateKey, 0) != 0 || rest.back() != '\n' ||
        !IsDate(rest.substr(dateKey.size(), rest.size() - dateKey.size() - 1))) {
        return "malformed: " + info;
    }
    // Encoded: nothing but unreserved characters, "/" and escapes.
    if (path.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"
                               "%/._~-") != std::string::npos) {
        return "not encoded: " + path;
    }
    return PercentDecode(path);
}

class Trash : public ::testing::Test {
protected:
    TTempDir Dir;
    std::string Real = RealPath(Dir.Path());
    std::string Home = Real + "/data/Trash";
    TScopedEnv DataHome{"XDG_DATA_HOME", (Real + "/data").c_str()};
};

TEST_F(Trash, MovesItemsInWithInfoAndUniqueNames) {
    std::string song = WriteFile(Real + "/music/my song%1.mp3", "first");
    ASSERT_EQ(MoveToTrash(song), 0);
    EXPECT_FALSE(PathExists(song));
    EXPECT_EQ(ReadFile(Home + "/files/my song%1.mp3"), "first");
    EXPECT_EQ(InfoPath(Home + "/info/my song%1.mp3.trashinfo"), song);

    WriteFile(song, "second");
    ASSERT_EQ(MoveToTrash(Dir / "music/../music/my song%1.mp3"), 0);
    EXPECT_EQ(ReadFile(Home + "/files/my song%1.mp3.2"), "second");
    EXPECT_EQ(InfoPath(Home + "/info/my song%1.mp3.2.trashinfo"), song);

    // A folder moves whole; a symlink moves as the link, its target stays.
    WriteFile(Real + "/album/track.mp3", "t");
    ASSERT_EQ(symlink("album", (Real + "/link").c_str()), 0);
    ASSERT_EQ(MoveToTrash(Real + "/link"), 0);
    EXPECT_TRUE(FileExists(Real + "/album/track.mp3"));
    ASSERT_EQ(MoveToTrash(Real + "/album/"), 0);
    EXPECT_EQ(ReadFile(Home + "/files/album/track.mp3"), "t");
    EXPECT_EQ(InfoPath(Home + "/info/album.trashinfo"), Real + "/album");

    struct stat info;
    ASSERT_EQ(stat(Home.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    EXPECT_EQ(MoveToTrash(Real + "/missing"), ENOENT);
    EXPECT_EQ(FolderNames(Home + "/files"),
              (std::set<std::string>{"my song%1.mp3", "my song%1.mp3.2", "link", "album"}));
    EXPECT_EQ(FolderNames(Home + "/info").size(), 4u);
}

TEST_F(Trash, ItemOnAnotherFileSystemGoesToItsTopFolderTrash) {
    std::string volume = Real + "/volume";
    ASSERT_TRUE(ForceDirectories(volume));
    TTmpfsMount tmpfs(volume, "size=1m");
    if (!tmpfs.Mounted())
        GTEST_SKIP() << "needs root to mount a tmpfs";
    std::string song = WriteFile(volume + "/Music/a.mp3", "a");

    ASSERT_EQ(MoveToTrash(song), 0);
    std::string top = volume + "/.Trash-" + std::to_string(geteuid());
    EXPECT_EQ(ReadFile(top + "/files/a.mp3"), "a");
    // Relative to the volume, so the record holds wherever it is mounted next.
    EXPECT_EQ(InfoPath(top + "/info/a.mp3.trashinfo"), "Music/a.mp3");
    struct stat info;
    ASSERT_EQ(stat(top.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    EXPECT_TRUE(FolderNames(Home + "/files").empty());
    EXPECT_TRUE(FolderNames(Home + "/info").empty());
}

}  // namespace
}  // namespace corvane
