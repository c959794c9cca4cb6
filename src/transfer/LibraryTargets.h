// Where the restore puts the copied tracks on this platform: into an MPD server's library,
// or into the copies' own tags. The options dialog and the command line choose one.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "music/iPodMusic.h"
#include "transfer/iTunesLib_TLB.h"

namespace corvane {

enum class TLibraryTarget { None = 0, Mpd = 1, Tags = 2 };

// A line for the library's log; the backends report what the restore itself does not.
using TLibraryLog = std::function<void(const std::string& line)>;

// The target named "mpd" or "tags" (the command line's words); nothing for any other name.
std::optional<TLibraryTarget> LibraryTargetByName(const std::string& name);

// Empty when the target can work right now (MPD: a server answers and says where its music
// lies; the tags always), else why not.
std::string LibraryTargetUnavailable(TLibraryTarget target);

// The restore hooks of a target for one export into music.DestFolder, logging into music.
TIpodMusicDb::TRestoreHooks RestoreHooksFor(TLibraryTarget target, TIpodMusicDb& music);

}  // namespace corvane
