#include "cli/CliSession.h"

#include <chrono>
#include <cstdlib>

#include <cstdio>

#include "cli/Commands.h"
#include "device/DeviceFolder.h"

namespace corvane::cli {

std::string DeviceDirFromArgs(const std::string& argValue) {
    std::string dir = argValue;
    if (dir.empty()) {
        const char* env = std::getenv(kDeviceFolderVariable);
        if (env != nullptr)
            dir = env;
    }
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    return dir;
}

std::string OpenSession(TCliSession& session, const std::string& deviceDir, int waitSeconds,
                        bool mobileOnDemand) {
    TDeviceSessionOptions options;
    if (!deviceDir.empty()) {
        if (ClassifyDeviceFolder(deviceDir) == TDeviceFolderKind::NotADevice) {
            return deviceDir +
                   " is not a device folder (it holds none of iPod_Control, iTunes_Control, "
                   "DCIM, PhotoData)";
        }
        options = OptionsForDeviceFolder(deviceDir);
    }
    options.Dispatch = session.Queue.Dispatcher();
    options.MobileOnDemand = mobileOnDemand;
    // Reports from the library's thread are queued, never waited for.
    session.Device = std::make_unique<TIpodDevice>(
        [&session](bool connected) {
            session.Queue.Post([&session, connected] {
                if (connected) {
                    session.Attached = true;
                } else {
                    session.Lost = true;
                }
            });
        },
        options);
    session.Device->ScanDrives();
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(waitSeconds);
    while (true) {
        session.Queue.ProcessEvents(std::chrono::milliseconds(0));
        if (session.Attached && session.Device->Connected())
            break;
        auto left = deadline - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero())
            break;
        session.Queue.ProcessEvents(
            std::min(std::chrono::duration_cast<std::chrono::milliseconds>(left),
                     std::chrono::milliseconds(100)));
    }
    return {};
}

int OpenAttachedSession(TCliSession& session, const TArgs& args) {
    std::string error = OpenSession(session, DeviceDirFromArgs(args.Value("--device")),
                                    args.IntValue("--wait", 3), true);
    if (!error.empty()) {
        std::fprintf(stderr, "corvane-cli: %s\n", error.c_str());
        return 2;
    }
    if (!session.Device->Connected()) {
        std::string pairing = session.Device->PairingMessage();
        if (!pairing.empty()) {
            std::fprintf(stderr, "corvane-cli: %s\n", pairing.c_str());
        } else {
            std::fprintf(stderr, "corvane-cli: no iPod, iPhone, iPod touch or iPad found\n");
        }
        return 1;
    }
    return 0;
}

std::string IndentedLog(const std::string& log, const char* heading) {
    if (log.empty())
        return {};
    std::string out = heading;
    for (char c : log) {
        if (c == '\r')
            continue;
        out += c;
        if (c == '\n')
            out += "  ";
    }
    return out + "\n";
}

std::string DeviceLogSince(const TIpodDevice& device, size_t since) {
    std::string log = device.Log.Text();
    return since < log.size() ? IndentedLog(log.substr(since), "Device log:") : std::string();
}

}  // namespace corvane::cli
