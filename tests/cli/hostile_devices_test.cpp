// The command line's exports and previews against damaged devices and hostile destinations: a
// destination inside the device however it is spelled, links planted in the destination,
// device files that are not files, and libraries that cannot be read.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "fixtures/DemoDevice.h"
#include "fixtures/TempDir.h"
#include "platform/PlatformTestSupport.h"

namespace corvane::cli {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using testing::Tree;
using testing::TTempDir;

struct TCliResult {
    int Status = 0;
    std::string Err;
};

// Runs one command with the given options, its error output captured.
TCliResult RunCommand(int (*command)(const TArgs&), std::vector<std::string> options) {
    std::vector<char*> argv;
    for (std::string& option : options)
        argv.push_back(option.data());
    const TArgs args(static_cast<int>(argv.size()), argv.data(), 0);
    ::testing::internal::CaptureStderr();
    TCliResult result;
    result.Status = command(args);
    result.Err = ::testing::internal::GetCapturedStderr();
    return result;
}

// The demo devices in Dir/ipod and Dir/iphone.
struct TDemo {
    TTempDir Dir;
    std::string Ipod = Dir / "ipod";
    std::string Iphone = Dir / "iphone";
    TDemo() { EXPECT_TRUE(testing::BuildDemoDevices(Dir.Path())); }
};

TEST(HostileCli, PreviewsAreNeverWrittenIntoTheDevice) {
    TDemo demo;
    fs::create_directory_symlink(demo.Ipod, demo.Dir / "link");
    const auto before = Tree(demo.Ipod);
    for (const std::string& to :
         {demo.Ipod + "/x", demo.Dir / "link/x", demo.Ipod + "/iPod_Control/../x"}) {
        SCOPED_TRACE(to);
        const TCliResult result =
            RunCommand(RunPhotosPreviews, {"--device", demo.Ipod, "--to", to, "--wait", "1"});
        EXPECT_EQ(result.Status, 1);
        EXPECT_THAT(result.Err, HasSubstr(" is your iPod."));
    }
    EXPECT_EQ(Tree(demo.Ipod), before);
    // The folder served as a mobile device is refused as well.
    const auto phoneBefore = Tree(demo.Iphone);
    const TCliResult phone = RunCommand(
        RunPhotosPreviews, {"--device", demo.Iphone, "--to", demo.Iphone + "/x", "--wait", "1"});
    EXPECT_EQ(phone.Status, 1);
    EXPECT_THAT(phone.Err, HasSubstr(" is the folder of your iPhone"));
    EXPECT_EQ(Tree(demo.Iphone), phoneBefore);
}

TEST(HostileCli, ExportsIntoABindMountOfTheDeviceAreRefused) {
    TDemo demo;
    fs::create_directory(demo.Dir / "mnt");
    testing::TBindMount bind(demo.Ipod, demo.Dir / "mnt");
    if (!bind.Mounted())
        GTEST_SKIP() << "needs root to bind-mount a folder";
    const auto before = Tree(demo.Ipod);
    const std::string to = demo.Dir / "mnt/x";
    for (auto command : {RunMusicExport, RunPhotosExport, RunPhotosPreviews}) {
        const TCliResult result =
            RunCommand(command, {"--device", demo.Ipod, "--to", to, "--wait", "1"});
        EXPECT_EQ(result.Status, 1);
        EXPECT_THAT(result.Err, HasSubstr(" is your iPod."));
    }
    EXPECT_EQ(Tree(demo.Ipod), before);
}

TEST(HostileCli, PreviewsNeverFollowALinkPlantedInTheDestination) {
    TDemo demo;
    const std::string to = demo.Dir / "out";
    fs::create_directories(demo.Dir / "elsewhere");
    fs::create_directories(to);
    fs::create_directory_symlink(demo.Dir / "elsewhere", to + "/library");
    fs::create_directory_symlink(demo.Dir / "elsewhere", to + "/camera_roll");
    const TCliResult result =
        RunCommand(RunPhotosPreviews, {"--device", demo.Ipod, "--to", to, "--wait", "1"});
    EXPECT_EQ(result.Status, 1);
    EXPECT_THAT(result.Err, HasSubstr("cannot create " + to + "/library"));
    EXPECT_TRUE(fs::is_empty(demo.Dir / "elsewhere"));
}

TEST(HostileCli, PreviewsGoOnPastAPreviewFileThatIsAFifo) {
    TDemo demo;
    const std::string thumbs = demo.Ipod + "/Photos/Thumbs/";
    fs::remove(thumbs + "F1015_1.ithmb");
    ASSERT_EQ(mkfifo((thumbs + "F1015_1.ithmb").c_str(), 0644), 0);
    const std::string to = demo.Dir / "out";
    const TCliResult result =
        RunCommand(RunPhotosPreviews, {"--device", demo.Ipod, "--to", to, "--wait", "1"});
    EXPECT_EQ(result.Status, 0) << result.Err;
    EXPECT_THAT(result.Err,
                HasSubstr("Previews cannot be read from F1015_1: it is not a regular file"));
}

// What a damaged device may hold in place of its database.
const std::vector<std::pair<const char*, std::function<bool(const std::string&)>>> kNotADatabase = {
    {"folder", [](const std::string& path) { return fs::create_directory(path); }},
    {"fifo", [](const std::string& path) { return mkfifo(path.c_str(), 0644) == 0; }},
    {"device node",
     [](const std::string& path) {
         return mknod(path.c_str(), S_IFCHR | 0644, makedev(1, 3)) == 0;  // /dev/null
     }},
    {"link loop", [](const std::string& path) { return symlink(path.c_str(), path.c_str()) == 0; }},
};

TEST(HostileCli, ExportsOfALibraryThatCannotBeReadFail) {
    for (const auto& [name, make] : kNotADatabase) {
        SCOPED_TRACE(name);
        TDemo demo;
        const std::string music = demo.Ipod + "/iPod_Control/iTunes/iTunesDB";
        const std::string photos = demo.Ipod + "/Photos/Photo Database";
        fs::remove(music);
        fs::remove(photos);
        if (!make(music) || !make(photos)) {
            ADD_FAILURE() << "cannot make the " << name << " (device nodes need root)";
            continue;
        }
        const std::string to = demo.Dir / "out";
        const TCliResult musicResult =
            RunCommand(RunMusicExport, {"--device", demo.Ipod, "--to", to, "--wait", "1"});
        EXPECT_EQ(musicResult.Status, 1);
        EXPECT_THAT(musicResult.Err, HasSubstr("no music database could be read"));
        const TCliResult photoResult = RunCommand(
            RunPhotosExport, {"--device", demo.Ipod, "--to", to, "--camera-roll", "--wait", "1"});
        EXPECT_EQ(photoResult.Status, 1);
        EXPECT_THAT(photoResult.Err, HasSubstr("Either the photo library is empty or it cannot "
                                               "be accessed currently."));
        // Voice memos are files of their own and still go when they are what is asked for.
        EXPECT_EQ(RunCommand(RunMusicExport, {"--device", demo.Ipod, "--to", to, "--kind",
                                              "voice_memo", "--wait", "1"})
                      .Status,
                  0);
    }
}

}  // namespace
}  // namespace corvane::cli
