// The transfer workers: the music export (with the optional restore into the media library)
// and the photo export (with the optional camera-roll copy) run on a thread of their own and
// report every step to the user-interface thread, waiting until it has been shown.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "base/Dispatcher.h"
#include "transfer/ByteProgress.h"
#include "transfer/LibraryTargets.h"
#include "transfer/TransferSummary.h"

namespace corvane {

class TIpodMusicDb;
class TIpodPhotoDb;

// Status kinds sent with the status text.
constexpr uint8_t kStatusPlain = 0;
constexpr uint8_t kStatusLongWait = 1;  // a long wait without item steps begins
constexpr uint8_t kStatusEnded = 2;     // the transfer has ended; the last report

class TCopyThread {
public:
    using TOnProgress = std::function<void(const std::string& text)>;
    using TOnStatus = std::function<void(const std::string& text, uint8_t kind)>;

    virtual ~TCopyThread();
    TCopyThread(const TCopyThread&) = delete;
    TCopyThread& operator=(const TCopyThread&) = delete;

    // Set before Start; both run on the user-interface thread.
    TOnProgress OnProgress;
    TOnStatus OnStatus;

    // Runs the transfer. The final status (kStatusEnded) is the thread's last report.
    void Start();
    // Asks the transfer to stop; the export sees it at its next item.
    void Terminate() { FTerminated = true; }
    bool Terminated() const { return FTerminated; }
    // Waits for the thread to end. The user-interface thread must keep running the reports
    // handed to it meanwhile (or use a dispatcher that runs them at once).
    void WaitFor();
    bool Finished() const { return FFinished; }

    int Copied() const { return FCopied; }
    uint8_t StatusKind() const { return FStatusKind; }
    const std::string& ProgressText() const { return FProgressText; }
    const std::string& StatusText() const { return FStatusText; }
    // What the transfer did with the ticked items; complete once the final status is out.
    const TTransferCounts& Counts() const { return FCounts; }

    // How far the copy is by bytes, for the user-interface thread to look at whenever it
    // likes: the worker never waits for it while copying.
    struct TBytesShown {
        double Fraction = 0;  // 0..1
        std::string Text;     // "1.20 MB of 40.10 MB, 8.20 MB/s, about 5 s left"
    };
    TBytesShown BytesShown() const;

protected:
    explicit TCopyThread(TRunOnUiThread dispatch);
    // The export's per-item report, on the worker thread: turns a stop request into the
    // library's Cancelled flag, then shows the text.
    // itemSize: the expected bytes of the item the text announces (0 when unknown).
    void Progress(const std::string& text, std::atomic<bool>& cancelled, uint64_t itemSize = 0);
    void Status(const std::string& text, uint8_t kind);
    virtual void Execute() = 0;
    // Before the first item: how many items, how many of known size and their bytes.
    void StartBytes(int items, int itemsWithSize, uint64_t knownBytes);
    // The device's report of the copy under way (on the worker thread).
    void CopyBytes(uint64_t done, uint64_t size);

    std::atomic<int> FCopied{0};
    std::string FStatusText;
    // Written on the worker thread before its final status, read after it.
    TTransferCounts FCounts;

private:
    void Run();
    void PublishBytes(bool ended);

    std::unique_ptr<TByteProgress> FBytes;  // worker thread only
    mutable std::mutex FBytesLock;
    TBytesShown FBytesShown;

    TRunOnUiThread FDispatch;
    std::atomic<bool> FTerminated{false};
    std::atomic<bool> FFinished{false};
    std::atomic<uint8_t> FStatusKind{kStatusPlain};
    std::string FProgressText;
    std::thread FThread;
};

class TMusicCopyThread : public TCopyThread {
public:
    // On the user-interface thread: installs the progress report as the library's and
    // empties its log, so the log holds this transfer's lines only.
    // target None copies only; the others restore into that target after the copy.
    TMusicCopyThread(TIpodMusicDb& music, TLibraryTarget target, TRunOnUiThread dispatch);
    ~TMusicCopyThread() override;

    const TLibraryTarget Target;
    // The restore could not reach its target (no server, say); valid once the run ended.
    bool LibraryUnreachable() const { return FLibraryUnreachable; }

private:
    void Execute() override;
    TIpodMusicDb& FMusic;
    std::atomic<bool> FLibraryUnreachable{false};
};

class TPhotoCopyThread : public TCopyThread {
public:
    TPhotoCopyThread(TIpodPhotoDb& photos, bool withCameraRoll, TRunOnUiThread dispatch);
    ~TPhotoCopyThread() override;

    const bool WithCameraRoll;

private:
    void Execute() override;
    TIpodPhotoDb& FPhotos;
};

}  // namespace corvane
