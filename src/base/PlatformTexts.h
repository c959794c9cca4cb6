// Texts whose original wording names something this platform does not have (a drive letter,
// the vendor's Windows libraries). Every such variant lives here so they can be read together.
#pragma once

#include <string>

namespace corvane::texts {

inline const char* const kNoMobileLibrary =
    "Cannot load the mobile-device library, requires libimobiledevice 1.3 or later.";

// Warning at start-up when the mobile-device library is missing; disk-mode iPods still work.
inline const char* const kNoMobileLibraryWarning =
    "Cannot find the mobile-device library (libimobiledevice) in this computer.\nYou need to "
    "install the latest version of libimobiledevice to access the iPhone, iPod touch or iPad.";

// The destination is on the disk-mode iPod's own volume.
inline std::string IsYourIpod(const std::string& mountPoint) {
    return mountPoint +
           " is your iPod.\nYou cannot transfer the files from iPod to iPod. Please choose "
           "another folder in your computer.";
}

// The destination is inside the folder served as a mobile device.
inline std::string IsServedDevice(const std::string& folder) {
    return folder +
           " is the folder of your iPhone, iPod touch or iPad.\nYou cannot transfer the files "
           "from the device into itself. Please choose another folder in your computer.";
}

// The destination's file system has too little room, or its free space cannot be told.
inline std::string NotEnoughSpace(const std::string& mountPoint) {
    return mountPoint +
           " hasn't enough free disk space to save all the selected items.\nPlease choose "
           "another place to try again.";
}

inline std::string CannotCreateFolder(const std::string& folder) {
    return "Can not create the folder: " + folder + "\nPlease choose another place.";
}

// A camera roll too large to list: the user is sent to the file manager to find the files.
inline std::string CameraRollHint(const std::string& deviceName) {
    return "Please open the file manager, select the \"" + deviceName +
           "\".\n\nYou can find all the photos under internal storage's \"DCIM\" folder";
}

// The restore into the user's media library. There is no iTunes here: the user picks MPD (a
// server's library, its stored playlists and stickers) or the copies' own tags.
inline const char* const kMediaLibraryLabel = "Add to my media library:";
inline const char* const kMediaLibraryNone = "none";
inline const char* const kMediaLibraryMpd = "MPD";
inline const char* const kMediaLibraryTags = "ratings and play counts in the files' tags";
// The progress dialog's long wait while the restore runs.
inline const char* const kRestoringToMpd =
    "Adding tracks and playlists to the MPD library (please do NOT stop MPD)";
inline const char* const kRestoringToTags = "Writing ratings and play counts into the copied files";

// The name in the restore's "[X]... error: " line when its target cannot be reached.
inline const char* const kMpdLibraryName = "MPD";
inline const char* const kTagsLibraryName = "Tags";

}  // namespace corvane::texts
