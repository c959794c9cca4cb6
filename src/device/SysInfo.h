// iPod_Control/Device/SysInfo ("Key: value" lines) and SysInfoExtended (an XML property list):
// what a disk-mode iPod says about itself, and the model they name.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "device/IpodModels.h"

namespace corvane {

// The value of key in SysInfo text; nothing when no line carries it.
std::optional<std::string> SysInfoValue(std::string_view sysInfo, std::string_view key);

// A string or integer value of the top dictionary of SysInfoExtended; nothing when the text is
// not such a property list or has no such key.
std::optional<std::string> SysInfoExtendedValue(std::string_view xml, std::string_view key);

// The model the two files name: by the serial number of SysInfoExtended, else by SysInfo's model
// number, else by its serial number. Either text may be empty.
const TIpodModel* IdentifyModel(std::string_view sysInfo, std::string_view sysInfoExtended);

}  // namespace corvane
