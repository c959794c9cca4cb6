// Where the desktop program looks for devices: the real mounts and mobile-device library, or
// a folder standing in for a device (the demo device) named by CORVANE_DEVICE.
#pragma once

#include "device/iPodDev.h"

namespace corvane::app {

// Session options for the folder named by CORVANE_DEVICE, or the real ones when the variable
// is unset or names no device folder (a warning goes to the standard error then).
TDeviceSessionOptions SessionOptionsFromEnvironment();

}  // namespace corvane::app
