#include "transfer/LibraryTargets.h"

#include "base/PlatformTexts.h"
#include "transfer/MpdLibrary.h"
#include "transfer/TagLibrary.h"

namespace corvane {

std::optional<TLibraryTarget> LibraryTargetByName(const std::string& name) {
    if (name == "mpd")
        return TLibraryTarget::Mpd;
    if (name == "tags")
        return TLibraryTarget::Tags;
    return std::nullopt;
}

std::string LibraryTargetUnavailable(TLibraryTarget target) {
    return target == TLibraryTarget::Mpd ? mpd::MpdUnavailableReason() : std::string();
}

TIpodMusicDb::TRestoreHooks RestoreHooksFor(TLibraryTarget target, TIpodMusicDb& music) {
    TIpodMusicDb::TRestoreHooks hooks;
    TLibraryLog log = [&music](const std::string& line) { music.AddLog(line); };
    const std::string folder = music.DestFolder;
    switch (target) {
        case TLibraryTarget::None:
            break;
        case TLibraryTarget::Mpd:
            hooks.LibraryName = texts::kMpdLibraryName;
            hooks.CreateApp = [folder, log] { return mpd::CreateMpdLibrary(folder, log); };
            break;
        case TLibraryTarget::Tags:
            hooks.LibraryName = texts::kTagsLibraryName;
            hooks.CreateApp = [folder, log] { return tags::CreateTagLibrary(folder, log); };
            break;
    }
    return hooks;
}

}  // namespace corvane
