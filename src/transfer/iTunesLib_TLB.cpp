#include "transfer/iTunesLib_TLB.h"

#include <chrono>
#include <thread>

namespace corvane::itunes {
namespace {

class TNoWindow : public IITWindow {
public:
    void SetMinimized(bool) override {}
};

class TNoWindows : public IITWindowCollection {
public:
    std::shared_ptr<IITWindow> ItemByName(const std::string&) override {
        return std::make_shared<TNoWindow>();
    }
};

}  // namespace

const char* const kNoAutomationBackend =
    "No media-library automation backend is available on this system";

std::shared_ptr<IiTunes> CreateITunesApp() {
    throw EITunesError(kNoAutomationBackend);
}

std::shared_ptr<IITWindowCollection> NoWindows() {
    return std::make_shared<TNoWindows>();
}

void WaitMs(int milliseconds) {
    if (milliseconds > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace corvane::itunes
