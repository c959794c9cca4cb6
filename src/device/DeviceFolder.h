// A local folder standing in for a device: a disk-mode iPod when it holds iPod_Control, else a
// mobile device served by the simulated library. The command line's --device and the
// CORVANE_DEVICE environment variable use it.
#pragma once

#include <string>

#include "device/iPodDev.h"

namespace corvane {

constexpr const char* kDeviceFolderVariable = "CORVANE_DEVICE";

enum class TDeviceFolderKind { NotADevice, DiskMode, Mobile };

TDeviceFolderKind ClassifyDeviceFolder(const std::string& dir);

// Session options that serve dir instead of the real mounts and library. The simulated
// device's name is the first line of dir/.device-name, else the folder's name. With follow,
// the folder going away is a lost device and its return an arrival, as a real device's are
// (the desktop program; a command serves what is there).
TDeviceSessionOptions OptionsForDeviceFolder(const std::string& dir, bool follow = false);

// A session that sees no mobile-device library and no mounted volumes, only the folders given
// (disk-mode iPods for ScanDrives): for tests, fuzzers and benchmarks.
TDeviceSessionOptions OfflineSessionOptions(std::vector<std::string> volumes = {});

}  // namespace corvane
