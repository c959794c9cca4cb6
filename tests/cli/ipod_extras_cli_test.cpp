// What the command line prints of a disk-mode iPod's own records: the model, the plays since
// the last sync and the On-The-Go playlists.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/Commands.h"
#include "fixtures/ITunesDbBuilder.h"
#include "fixtures/IpodExtrasBuilder.h"
#include "fixtures/MusicExportCli.h"
#include "fixtures/TempDir.h"

namespace corvane::cli {
namespace {

using ::testing::HasSubstr;
using namespace corvane::testing;

std::string RunOut(int (*command)(const TArgs&), std::vector<std::string> options) {
    std::vector<char*> argv;
    for (std::string& option : options)
        argv.push_back(option.data());
    const TArgs args(static_cast<int>(argv.size()), argv.data(), 0);
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(command(args), 0);
    return ::testing::internal::GetCapturedStdout();
}

TEST(IpodExtrasCli, ListShowsMergedCountsAndOnTheGoAndDevicesTheModel) {
    TTempDir root;
    TITunesDbBuilder db;
    db.AddTrack({.Id = 1, .Title = "Played", .Location = ":iPod_Control:Music:F00:A.mp3"});
    db.AddTrack({.Id = 2, .Title = "Unplayed", .Location = ":iPod_Control:Music:F00:B.mp3"});
    db.AddPlaylist({.Name = "iPod", .IsMaster = true, .TrackIds = {1, 2}});
    WriteFile(root / "iPod_Control/iTunes/iTunesDB", db.Build());
    // A fourth-generation clock at UTC: the Mac time is the UTC time.
    WriteFile(root / "iPod_Control/Device/Preferences", PreferencesFile(2892, 0x19));
    WriteFile(
        root / "iPod_Control/iTunes/Play Counts",
        PlayCountsFile({{.Plays = 3, .LastPlayedMac = MacTime(1700000000), .Skips = 2}}, 0x1c));
    WriteFile(root / "iPod_Control/iTunes/OTGPlaylistInfo", OnTheGoFile({1, 0}));
    WriteFile(root / "iPod_Control/Device/SysInfo", "ModelNumStr: xB145\n");

    const std::string json =
        RunOut(RunMusicList, {"--json", "--device", root.Path(), "--wait", "0"});
    EXPECT_THAT(json, HasSubstr("\"title\":\"Played\""));
    EXPECT_THAT(json, HasSubstr("\"play_count\":3,\"skip_count\":2,"
                                "\"last_played\":\"2023-11-14T22:13:20Z\""));
    EXPECT_THAT(json, HasSubstr("\"play_count\":0,\"skip_count\":0,\"last_played\":null"));
    EXPECT_THAT(json, HasSubstr("\"name\":\"On-The-Go 1\",\"smart\":false,\"voice_memos\":false,"
                                "\"on_the_go\":true,\"track_pids\":[2,1]"));
    EXPECT_THAT(json, HasSubstr("\"name\":\"iPod\",\"smart\":false,\"voice_memos\":false,"
                                "\"on_the_go\":false"));

    const std::string devices = RunOut(RunDevices, {"--device", root.Path(), "--wait", "0"});
    EXPECT_THAT(devices, HasSubstr("Device: iPod classic 160 GB, 6th generation\n"));
    EXPECT_THAT(devices, HasSubstr("Model:  iPod classic 160 GB, 6th generation (B145, silver)\n"));
}

// The master playlist holds the name the user gave the iPod; one without a name leaves the
// device called by its model, never by the placeholder of an unnamed playlist.
TEST(IpodExtrasCli, AnIpodWithoutANameOfItsOwnIsCalledByItsModel) {
    for (const bool named : {true, false}) {
        SCOPED_TRACE(named ? "named" : "unnamed");
        TTempDir root;
        TITunesDbBuilder db;
        db.AddTrack({.Id = 1, .Title = "Song", .Location = ":iPod_Control:Music:F00:A.mp3"});
        TITunesDbPlaylist master{.IsMaster = true, .TrackIds = {1}};
        if (named)
            master.Name = "Kim's iPod";
        db.AddPlaylist(master);
        WriteFile(root / "iPod_Control/iTunes/iTunesDB", db.Build());
        WriteFile(root / "iPod_Control/Device/SysInfo", "ModelNumStr: xB145\n");
        const std::string table = RunOut(RunMusicList, {"--device", root.Path(), "--wait", "0"});
        EXPECT_THAT(table, HasSubstr(std::string(named ? "Kim's iPod"
                                                       : "iPod classic 160 GB, 6th generation") +
                                     " (disk-mode iPod): 1 tracks"));
    }
}

// A book the iPod lists is a file like any track: the export copies it and succeeds.
TEST(IpodExtrasCli, ABookOnADiskModeIpodIsCopied) {
    TTempDir root;
    const std::string ipod = root / "ipod";
    TITunesDbBuilder db;
    db.AddTrack({.Id = 1,
                 .Title = "Field Notes",
                 .Location = ":iPod_Control:Books:CCCC.epub",
                 .Size = 4,
                 .MediaType = 8});
    db.AddPlaylist({.Name = "iPod", .IsMaster = true, .TrackIds = {1}});
    WriteFile(ipod + "/iPod_Control/iTunes/iTunesDB", db.Build());
    WriteFile(ipod + "/iPod_Control/Books/CCCC.epub", "book");
    ::testing::internal::CaptureStdout();
    const int status = RunMusicExportCli({"--device", ipod, "--to", root / "dest"});
    const std::string output = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(status, 0) << output;
    EXPECT_THAT(output, HasSubstr("1 of 1 copied"));
    EXPECT_EQ(ReadFile(root / "dest/Field Notes.epub"), "book");
}

}  // namespace
}  // namespace corvane::cli
