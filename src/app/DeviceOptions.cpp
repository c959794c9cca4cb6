#include "app/DeviceOptions.h"

#include <QString>
#include <QtGlobal>

#include "device/DeviceFolder.h"

namespace corvane::app {

TDeviceSessionOptions SessionOptionsFromEnvironment() {
    std::string dir = qEnvironmentVariable(kDeviceFolderVariable).toStdString();
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    if (dir.empty())
        return {};
    if (ClassifyDeviceFolder(dir) == TDeviceFolderKind::NotADevice) {
        qWarning(
            "%s=%s is not a device folder (it holds none of iPod_Control, iTunes_Control, "
            "DCIM, PhotoData); looking for real devices",
            kDeviceFolderVariable, dir.c_str());
        return {};
    }
    // Taken away and brought back, the folder is noticed as a device is.
    return OptionsForDeviceFolder(dir, true);
}

}  // namespace corvane::app
