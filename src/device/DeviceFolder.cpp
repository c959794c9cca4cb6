#include "device/DeviceFolder.h"

#include <filesystem>

#include "base/Text.h"
#include "device/DiskPaths.h"
#include "device/SimulatedDevice.h"
#include "platform/LocalFiles.h"

namespace corvane {

TDeviceFolderKind ClassifyDeviceFolder(const std::string& dir) {
    if (!DirectoryExists(dir))
        return TDeviceFolderKind::NotADevice;
    auto ipod = ResolveBelow(dir, "iPod_Control");
    if (ipod && DirectoryExists(*ipod))
        return TDeviceFolderKind::DiskMode;
    for (const char* folder : {"iTunes_Control", "DCIM", "PhotoData"}) {
        if (DirectoryExists(dir + "/" + folder))
            return TDeviceFolderKind::Mobile;
    }
    return TDeviceFolderKind::NotADevice;
}

TDeviceSessionOptions OfflineSessionOptions(std::vector<std::string> volumes) {
    TDeviceSessionOptions options;
    options.LoadLibrary = [] { return std::unique_ptr<IMobileDeviceLibrary>(); };
    options.VolumeRule = nullptr;
    options.WatchMounts = false;
    options.ExtraVolumes = std::move(volumes);
    return options;
}

TDeviceSessionOptions OptionsForDeviceFolder(const std::string& dir, bool follow) {
    TDeviceSessionOptions options;
    options.VolumeRule = nullptr;  // the folder stands in for every mounted volume
    options.WatchMounts = false;
    if (ClassifyDeviceFolder(dir) == TDeviceFolderKind::DiskMode) {
        options.ExtraVolumes = {dir};
        options.WatchFolders = follow;
        return options;
    }
    TSimulatedDeviceOptions simulated;
    simulated.Root = dir;
    simulated.FollowRoot = follow;
    // A name is a line; anything larger is not one.
    auto nameFile = ReadLocalFile(dir + "/.device-name", 4096);
    std::string name = nameFile ? Trim(nameFile->substr(0, nameFile->find('\n'))) : "";
    simulated.DeviceName = name.empty() ? std::filesystem::path(dir).filename().string() : name;
    options.LoadLibrary = [simulated] {
        // A session made while the folder is away waits for it to come back.
        TSimulatedDeviceOptions device = simulated;
        if (device.FollowRoot)
            device.PluggedAtStart = DirectoryExists(device.Root);
        return MakeSimulatedDevice(device).Library;
    };
    options.ServedFolder = dir;
    return options;
}

}  // namespace corvane
