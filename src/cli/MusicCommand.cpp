// corvane-cli music list: load the attached device's music library and print it.
#include <cstdio>

#include "cli/CliSession.h"
#include "cli/Commands.h"
#include "cli/MusicOutput.h"
#include "music/iPodMusic.h"

namespace corvane::cli {

int RunMusicList(const TArgs& args) {
    TCliSession session;
    if (int status = OpenAttachedSession(session, args); status != 0)
        return status;
    TIpodMusicDb music(*session.Device);
    bool loaded = music.Load(true);
    std::string text = args.Flag("--json") ? MusicLibraryJson(*session.Device, music, loaded)
                                           : MusicLibraryTable(*session.Device, music, loaded);
    std::fwrite(text.data(), 1, text.size(), stdout);
    return 0;
}

}  // namespace corvane::cli
