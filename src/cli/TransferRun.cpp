#include "cli/TransferRun.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>

#include <unistd.h>

namespace corvane::cli {
namespace {

std::atomic<bool> gInterrupted{false};

void OnInterrupt(int) {
    gInterrupted = true;
}

// Installs the Ctrl-C handler for the life of a transfer and restores the previous one.
class TInterruptGuard {
public:
    TInterruptGuard() {
        gInterrupted = false;
        struct sigaction action = {};
        action.sa_handler = OnInterrupt;
        sigemptyset(&action.sa_mask);
        sigaction(SIGINT, &action, &FPrevious);
    }
    ~TInterruptGuard() { sigaction(SIGINT, &FPrevious, nullptr); }
    TInterruptGuard(const TInterruptGuard&) = delete;
    TInterruptGuard& operator=(const TInterruptGuard&) = delete;

private:
    struct sigaction FPrevious = {};
};

// The text cut to at most width bytes, never inside a UTF-8 sequence.
std::string Cut(const std::string& text, size_t width) {
    if (text.size() <= width)
        return text;
    size_t end = width;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    return text.substr(0, end);
}

}  // namespace

TTransferOutcome RunTransfer(TCliSession& session, TCopyThread& worker, int total) {
    TInterruptGuard interrupt;
    const bool terminal = isatty(STDOUT_FILENO) != 0;
    TTransferOutcome outcome;
    bool ended = false;
    bool barShown = false;
    auto endBar = [&] {
        if (barShown)
            std::fputc('\n', stdout);
        barShown = false;
    };
    worker.OnProgress = [&](const std::string& text) {
        ++outcome.Steps;
        if (!terminal) {
            std::printf("  %s\n", text.c_str());
            std::fflush(stdout);
            return;
        }
        constexpr int kBarWidth = 24;
        const int filled =
            total > 0 ? std::min(kBarWidth, outcome.Steps * kBarWidth / total) : kBarWidth;
        std::string line = "\r[" + std::string(filled, '#') + std::string(kBarWidth - filled, '.') +
                           "] " + std::to_string(outcome.Steps) + "/" + std::to_string(total) +
                           "  " + text;
        line = Cut(line, 100);
        std::printf("%s\033[K", line.c_str());
        std::fflush(stdout);
        barShown = true;
    };
    worker.OnStatus = [&](const std::string& text, uint8_t kind) {
        endBar();
        if (!text.empty())
            std::printf("%s\n", text.c_str());
        if (kind == kStatusLongWait)
            std::printf("This may take a few minutes, please wait ...\n");
        std::fflush(stdout);
        if (kind == kStatusEnded)
            ended = true;
    };
    worker.Start();
    while (!ended) {
        session.Queue.ProcessEvents(std::chrono::milliseconds(100));
        if (gInterrupted && !outcome.CancelRequested) {
            outcome.CancelRequested = true;
            worker.Terminate();
            endBar();
            std::printf("Cancelling: the item being copied is finished first ...\n");
            std::fflush(stdout);
        }
    }
    worker.WaitFor();
    return outcome;
}

}  // namespace corvane::cli
