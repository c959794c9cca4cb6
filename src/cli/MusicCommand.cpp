// corvane-cli music list: load the attached device's music library and print it.
#include <cstdio>

#include "cli/CliSession.h"
#include "cli/Commands.h"
#include "cli/MusicOutput.h"
#include "music/iPodMusic.h"

namespace corvane::cli {

int RunMusicList(const TArgs& args) {
    TCliSession session;
    std::string error =
        OpenSession(session, DeviceDirFromArgs(args.Value("--device")), args.IntValue("--wait", 3));
    if (!error.empty()) {
        std::fprintf(stderr, "corvane-cli: %s\n", error.c_str());
        return 2;
    }
    if (!session.Device->Connected()) {
        std::fprintf(stderr, "corvane-cli: no iPod, iPhone, iPod touch or iPad found\n");
        return 1;
    }
    TIpodMusicDb music(*session.Device);
    bool loaded = music.Load(true);
    std::string text = args.Flag("--json") ? MusicLibraryJson(*session.Device, music, loaded)
                                           : MusicLibraryTable(*session.Device, music, loaded);
    std::fwrite(text.data(), 1, text.size(), stdout);
    return 0;
}

}  // namespace corvane::cli
