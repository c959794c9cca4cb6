// The simulated device with a chosen source of property-list conversion, so that tests can
// take the path where the platform library is not installed.
#pragma once

#include <functional>
#include <memory>

#include "device/SimulatedDevice.h"

namespace corvane {

// Gives the library whose ConvertPlist the simulated device uses; nothing = no converter.
using TPlistConverterLoader = std::function<std::unique_ptr<IMobileDeviceLibrary>()>;

TSimulatedDevice MakeSimulatedDevice(TSimulatedDeviceOptions options, TPlistConverterLoader loader);

}  // namespace corvane
