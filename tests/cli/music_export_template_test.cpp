// `music export --name-template`: the copies are named by the template, and a template that
// cannot name files, or one given beside --scheme, stops the command before anything is copied.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cli/Commands.h"
#include "fixtures/AudioDevice.h"
#include "fixtures/AudioFiles.h"
#include "fixtures/MusicExportCli.h"
#include "fixtures/TempDir.h"

namespace corvane {
namespace {

using namespace testing;
namespace fs = std::filesystem;

class MusicExportTemplate : public ::testing::Test {
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

TEST_F(MusicExportTemplate, NamesTheCopiesByTheTemplate) {
    ::testing::internal::CaptureStdout();
    const int status = RunMusicExportCli({"--device", FIpod, "--to", FDest, "--name-template",
                                          "%artist%/%album% %year%/%track% %title%"});
    const std::string output = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(status, 0) << output;
    EXPECT_TRUE(fs::is_regular_file(FRoot / "dest/Band/Album/Intro.mp3")) << output;
}

TEST_F(MusicExportTemplate, ABadTemplateOrTwoNamingsCopyNothing) {
    struct {
        std::vector<std::string> naming;
        std::string error;
    } cases[] = {
        {{"--name-template", "%artist%/%song%"}, "Unknown token %song%"},
        {{"--name-template=%artist%/"}, "a file name must follow"},
        {{"--name-template", "%title%", "--scheme", "2"}, "not both"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"--device", FIpod, "--to", FDest};
        args.insert(args.end(), c.naming.begin(), c.naming.end());
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(RunMusicExportCli(args), 2) << c.error;
        const std::string error = ::testing::internal::GetCapturedStderr();
        EXPECT_NE(error.find(c.error), std::string::npos) << error;
        EXPECT_FALSE(fs::exists(FDest));
    }
}

}  // namespace
}  // namespace corvane
