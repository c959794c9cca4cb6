// corvane-cli music list: load the attached device's music library and print it.
#include <cstdio>

#include "cli/CliSession.h"
#include "cli/Commands.h"
#include "cli/Json.h"
#include "cli/MusicOutput.h"
#include "music/iPodMusic.h"

namespace corvane::cli {

int RunMusicList(const TArgs& args) {
    TCliSession session;
    if (int status = OpenAttachedSession(session, args); status != 0)
        return status;
    TIpodMusicDb music(*session.Device);
    bool loaded = music.Load(true);
    if (args.Flag("--json")) {
        // Streamed: a large library's text is never held whole.
        TJsonWriter json(stdout);
        WriteMusicLibraryJson(json, *session.Device, music, loaded);
        json.Flush();
        std::fputc('\n', stdout);
        return 0;
    }
    std::string text = MusicLibraryTable(*session.Device, music, loaded);
    std::fwrite(text.data(), 1, text.size(), stdout);
    return 0;
}

}  // namespace corvane::cli
