// Feeds arbitrary text to the parsers of /proc/self/mountinfo and user-dirs.dirs: both read
// text that other programs write, so neither may crash, hang or read past the input.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Mounts.h"
#include "platform/SystemFolders.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    for (const corvane::TMountEntry& entry : corvane::ParseMountInfo(text)) {
        // Every entry that comes out is usable as a path.
        if (entry.MountPoint.empty() || entry.MountPoint[0] != '/' ||
            entry.MountPoint.find('\0') != std::string::npos) {
            __builtin_trap();
        }
    }
    for (const char* home : {"/home/user", "/", ""}) {
        auto folder = corvane::ParseUserDirs(text, "XDG_MUSIC_DIR", home);
        if (folder && (folder->empty() || (*folder)[0] != '/'))
            __builtin_trap();
    }
    return 0;
}
