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
    PublishBytes(true);
    FStatusKind = kStatusEnded;
    const std::string text = FStatusText;
    if (OnStatus)
        FDispatch([this, &text] { OnStatus(text, kStatusEnded); });
    FFinished = true;
}

void TCopyThread::Progress(const std::string& text, std::atomic<bool>& cancelled,
                           uint64_t itemSize) {
    if (FTerminated)
        cancelled = true;
    if (FBytes) {
        FBytes->StartItem(itemSize);
        FBytes->ReportDue();  // the item's start is shown with its text in any case
        PublishBytes(false);
    }
    FProgressText = text;
    if (OnProgress)
        FDispatch([this] { OnProgress(FProgressText); });
}

void TCopyThread::StartBytes(int items, int itemsWithSize, uint64_t knownBytes) {
    FBytes = std::make_unique<TByteProgress>(items, itemsWithSize, knownBytes);
    PublishBytes(false);
}

void TCopyThread::CopyBytes(uint64_t done, uint64_t size) {
    if (!FBytes)
        return;
    FBytes->Copied(done, size);
    if (FBytes->ReportDue())
        PublishBytes(false);
}

void TCopyThread::PublishBytes(bool ended) {
    if (!FBytes)
        return;
    TBytesShown shown;
    shown.Fraction = ended ? 1.0 : FBytes->Fraction();
    shown.Text = ended ? FBytes->EndText() : FBytes->Text();
    std::lock_guard lock(FBytesLock);
    FBytesShown = std::move(shown);
}

TCopyThread::TBytesShown TCopyThread::BytesShown() const {
    std::lock_guard lock(FBytesLock);
    return FBytesShown;
}

void TCopyThread::Status(const std::string& text, uint8_t kind) {
    FStatusText = text;
    FStatusKind = kind;
    if (OnStatus)
        FDispatch([this, kind] { OnStatus(FStatusText, kind); });
}

}  // namespace corvane
