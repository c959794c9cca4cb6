// Where the music export goes: the proposed folder and the check of a chosen one.
#include <algorithm>

#include "device/iPodDev.h"
#include "music/iPodMusic.h"
#include "platform/LocalFiles.h"

namespace corvane {

std::string TIpodMusicDb::DefaultDestination() const {
    // The user's own music folder, where the desktop's players look for music.
    std::string music = Device.UserFolder(false);
    if (!music.empty() && music.back() != '/')
        music += '/';
    return music;
}

bool TIpodMusicDb::PrepareDestination(std::string& folder) {
    // A damaged size sum below zero needs no room at all rather than all the room there is.
    uint64_t needed = static_cast<uint64_t>(std::max<int64_t>(Tracks.CheckedSize, 0));
    if (!Device.CheckDestination(folder, needed))
        return false;
    DestFolder = folder;
    return true;
}

}  // namespace corvane
