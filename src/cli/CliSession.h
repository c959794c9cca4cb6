// Opening the device session for a command: the real mounts and library, or a device folder
// given with --device (or CORVANE_DEVICE), and waiting for the device to attach.
#pragma once

#include <memory>
#include <string>

#include "base/Dispatcher.h"
#include "device/iPodDev.h"

namespace corvane::cli {

struct TCliSession {
    TEventQueue Queue;  // volume events and attach reports are pumped on the main thread
    std::unique_ptr<TIpodDevice> Device;
    bool Attached = false;
    bool Lost = false;
};

// Creates the session and waits up to waitSeconds for a device; deviceDir may be empty.
// Returns an error text when deviceDir is given but is not a device folder.
std::string OpenSession(TCliSession& session, const std::string& deviceDir, int waitSeconds);

// The --device value, else the CORVANE_DEVICE environment variable, else empty.
std::string DeviceDirFromArgs(const std::string& argValue);

}  // namespace corvane::cli
