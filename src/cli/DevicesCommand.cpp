// corvane-cli devices: what the device session finds.
#include <cstdio>
#include <string>

#include "cli/CliSession.h"
#include "cli/Commands.h"

namespace corvane::cli {

int RunDevices(const TArgs& args) {
    TCliSession session;
    std::string error =
        OpenSession(session, DeviceDirFromArgs(args.Value("--device")), args.IntValue("--wait", 3));
    if (!error.empty()) {
        std::fprintf(stderr, "corvane-cli: %s\n", error.c_str());
        return 2;
    }
    TIpodDevice& device = *session.Device;
    if (device.Connected()) {
        std::printf("Device: %s\n", device.DisplayName().c_str());
        std::printf("Kind:   %s\n", device.IsIos() ? "mobile device" : "disk-mode iPod");
        if (const TIpodModel* model = device.Model())
            std::printf("Model:  %s (%s%s%s)\n", model->Name().c_str(),
                        std::string(model->Number).c_str(), model->Color.empty() ? "" : ", ",
                        std::string(model->Color).c_str());
        std::printf("Root:   %s\n",
                    device.IsIos() ? "/ (device file service)" : device.Drive().c_str());
    } else if (std::string pairing = device.PairingMessage(); !pairing.empty()) {
        std::printf("A device is connected but does not trust this computer yet.\n%s\n",
                    pairing.c_str());
    } else {
        std::printf("No iPod, iPhone, iPod touch or iPad found.\n");
    }
    std::printf("Mobile-device library: %s\n", device.NoLibrary() ? "not available" : "loaded");
    std::string log = device.Log.Text();
    std::printf("Session log:%s\n", log.empty() ? " (empty)" : "");
    size_t start = 0;
    while (start < log.size()) {
        size_t end = log.find("\r\n", start);
        if (end == std::string::npos)
            end = log.size();
        if (end > start)
            std::printf("  %s\n", log.substr(start, end - start).c_str());
        start = end + 2;
    }
    return device.Connected() ? 0 : 1;
}

}  // namespace corvane::cli
