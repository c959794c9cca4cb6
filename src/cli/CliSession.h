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
// Returns an error text when deviceDir is given but is not a device folder. With
// mobileOnDemand the mobile-device library is loaded only when no disk-mode iPod is found.
std::string OpenSession(TCliSession& session, const std::string& deviceDir, int waitSeconds,
                        bool mobileOnDemand = false);

class TArgs;

// Opens the session from --device and --wait for a command that needs an attached device,
// loading the mobile-device library only when no disk-mode iPod answers.
// Returns 0, or the exit status after printing why not (2 a wrong folder, 1 no device).
int OpenAttachedSession(TCliSession& session, const TArgs& args);

// A log text ("\r\n"-separated lines) as "Log:" followed by the lines, indented; empty for an
// empty log.
std::string IndentedLog(const std::string& log, const char* heading = "Log:");

// The device session's log lines added since its log had `since` characters (what happened
// to the device during a transfer: a loss, a connection opened again), as "Device log:" and
// the lines; empty when there are none.
std::string DeviceLogSince(const TIpodDevice& device, size_t since);

// The --device value, else the CORVANE_DEVICE environment variable, else empty.
std::string DeviceDirFromArgs(const std::string& argValue);

}  // namespace corvane::cli
