// `music export --restore`: the target must be named, and a target that cannot be reached
// takes the restore's error path and fails the command.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/Commands.h"
#include "fixtures/AudioDevice.h"
#include "fixtures/AudioFiles.h"
#include "fixtures/MpdServer.h"
#include "fixtures/MusicExportCli.h"
#include "fixtures/TempDir.h"

namespace corvane {
namespace {

using namespace testing;

class MusicExportRestore : public ::testing::Test {
protected:
    void SetUp() override {
        WriteAudioDatabase(
            FIpod,
            AudioSongs(FIpod, {{"A.mp3", SilentMp3("Intro", "Band"), "Intro", "Band", 40, 2}}));
    }
    TTempDir FRoot;
    std::string FIpod = FRoot / "ipod";
    std::string FDest = FRoot / "dest";
};

TEST_F(MusicExportRestore, TheTargetMustBeNamed) {
    for (const std::vector<std::string>& restore :
         {std::vector<std::string>{"--restore"}, {"--restore", "--m3u"}, {"--restore=itunes"}}) {
        std::vector<std::string> args = {"--device", FIpod, "--to", FDest};
        args.insert(args.end(), restore.begin(), restore.end());
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(RunMusicExportCli(args), 2) << restore.back();
        const std::string error = ::testing::internal::GetCapturedStderr();
        EXPECT_NE(error.find("--restore takes mpd"), std::string::npos) << error;
        EXPECT_NE(error.find("or tags"), std::string::npos) << error;
    }
}

TEST_F(MusicExportRestore, NoMpdServerTakesTheErrorPathAndFails) {
    const std::string socket = FRoot / "no-server-here";
    TScopedEnv host("MPD_HOST", socket);
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    const int status = RunMusicExportCli({"--device", FIpod, "--to", FDest, "--restore", "mpd"});
    const std::string output = ::testing::internal::GetCapturedStdout();
    const std::string error = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(status, 1);
    EXPECT_NE(output.find("[X]MPD error: No MPD server answers at " + socket + " ("),
              std::string::npos)
        << output;
    EXPECT_EQ(output.find("Sync done"), std::string::npos) << output;
    EXPECT_NE(error.find("the restore reached no media library"), std::string::npos) << error;
    // The copy itself was made.
    EXPECT_EQ(ReadFile(FDest + "/Intro.mp3"), SilentMp3("Intro", "Band"));
}

}  // namespace
}  // namespace corvane
