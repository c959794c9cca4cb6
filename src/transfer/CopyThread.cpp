#include "transfer/CopyThreads.h"

namespace corvane {

TCopyThread::TCopyThread(TRunOnUiThread dispatch) : FDispatch(std::move(dispatch)) {}

TCopyThread::~TCopyThread() {
    WaitFor();
}

void TCopyThread::Start() {
    if (!FThread.joinable() && !FFinished)
        FThread = std::thread([this] { Run(); });
}

void TCopyThread::WaitFor() {
    if (FThread.joinable() && FThread.get_id() != std::this_thread::get_id())
        FThread.join();
}

void TCopyThread::Run() {
    try {
        Execute();
    } catch (...) {
        // A stage that failed this way wrote no log line; the final status still goes out
        // with the text reached so far.
    }
    FStatusKind = kStatusEnded;
    const std::string text = FStatusText;
    if (OnStatus)
        FDispatch([this, &text] { OnStatus(text, kStatusEnded); });
    FFinished = true;
}

void TCopyThread::Progress(const std::string& text, std::atomic<bool>& cancelled) {
    if (FTerminated)
        cancelled = true;
    FProgressText = text;
    if (OnProgress)
        FDispatch([this] { OnProgress(FProgressText); });
}

void TCopyThread::Status(const std::string& text, uint8_t kind) {
    FStatusText = text;
    FStatusKind = kind;
    if (OnStatus)
        FDispatch([this, kind] { OnStatus(FStatusText, kind); });
}

}  // namespace corvane
