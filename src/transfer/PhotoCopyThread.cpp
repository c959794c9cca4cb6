#include "device/iPodDev.h"
#include "photo/iPodPhoto.h"
#include "transfer/CopyThreads.h"

namespace corvane {

TPhotoCopyThread::TPhotoCopyThread(TIpodPhotoDb& photos, bool withCameraRoll,
                                   TRunOnUiThread dispatch)
    : TCopyThread(std::move(dispatch)), WithCameraRoll(withCameraRoll), FPhotos(photos) {
    FPhotos.OnProgress = [this](const std::string& text) {
        Progress(text, FPhotos.Cancelled, FPhotos.ProgressItemSize);
    };
    FPhotos.Device.OnCopyProgress = [this](uint64_t done, uint64_t size) { CopyBytes(done, size); };
    FPhotos.Log.Clear();
}

TPhotoCopyThread::~TPhotoCopyThread() {
    WaitFor();
    FPhotos.OnProgress = nullptr;
    FPhotos.Device.OnCopyProgress = nullptr;
}

void TPhotoCopyThread::Execute() {
    const int checked = FPhotos.Photos.CheckedCount;
    FCounts.Total = checked + (WithCameraRoll ? FPhotos.CameraPhotos.CheckedCount : 0);
    int sized = 0;
    uint64_t bytes = 0;
    for (const TPhotoItem& photo : FPhotos.Photos) {
        if (photo.Checked && photo.FullSize > 0) {
            ++sized;
            bytes += static_cast<uint64_t>(photo.FullSize);
        }
    }
    StartBytes(FCounts.Total, sized, bytes);
    FCopied = FPhotos.Export();
    FCounts.Copied = FCopied;
    FCounts.Failed = FPhotos.ExportFailures;
    FPhotos.AddLog("Copy pictures: " + std::to_string(FCopied) + " of " + std::to_string(checked));
    if (WithCameraRoll) {
        // Shown as a plain status, so the dialog names the second stage while it
        // runs.
        Status("Transfer pictures in camera roll ...", kStatusPlain);
        const int copied = FPhotos.ExportCameraRoll();
        FCopied += copied;
        FCounts.Copied = FCopied;
        FCounts.Failed += FPhotos.CameraRollFailures;
        FPhotos.AddLog("Copy camera photos: " + std::to_string(copied) + " of " +
                       std::to_string(FPhotos.CameraPhotos.CheckedCount));
    }
    FCounts.Cancelled = Terminated() && FCounts.Copied + FCounts.Failed < FCounts.Total;
    // Originals only in the cloud were not copied; the user is told how many.
    const std::string cloud = FPhotos.CloudOnlyText();
    FStatusText = TransferSummaryText(FCounts) + (cloud.empty() ? "" : ". " + cloud);
}

}  // namespace corvane
