// The mobile-device library's result codes in words, for log lines a user reads.
#pragma once

#include <string>

namespace corvane {

// "AFC error 30 (MUX_ERROR: the connection to the device broke)".
std::string AfcErrorText(int code);

// A file-service result that means its connection is dead (rather than a refused request).
bool IsAfcConnectionLoss(int code);

// What the user must do while the device does not trust this computer (code is a kPairing*
// answer); empty for any other code. kind is "iPhone", "iPad", "iPod touch".
std::string PairingMessage(int code, const std::string& kind);

// The kind word of a device from its "DeviceClass" value ("iPhone" when unknown).
std::string DeviceKindWord(const std::string& deviceClass);

}  // namespace corvane
