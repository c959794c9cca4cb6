#include "photo/iPodPhoto.h"
#include "transfer/CopyThreads.h"

namespace corvane {

TPhotoCopyThread::TPhotoCopyThread(TIpodPhotoDb& photos, bool withCameraRoll,
                                   TRunOnUiThread dispatch)
    : TCopyThread(std::move(dispatch)), WithCameraRoll(withCameraRoll), FPhotos(photos) {
    FPhotos.OnProgress = [this](const std::string& text) { Progress(text, FPhotos.Cancelled); };
    FPhotos.Log.Clear();
}

TPhotoCopyThread::~TPhotoCopyThread() {
    WaitFor();
    FPhotos.OnProgress = nullptr;
}

void TPhotoCopyThread::Execute() {
    FCopied = FPhotos.Export();
    FPhotos.AddLog("Copy pictures: " + std::to_string(FPhotos.Photos.CheckedCount) + "/" +
                   std::to_string(FCopied));
    if (WithCameraRoll) {
        // Shown as a plain status, so the dialog names the second stage while it
        // runs.
        Status("Transfer pictures in camera roll ...", kStatusPlain);
        const int copied = FPhotos.ExportCameraRoll();
        FCopied += copied;
        FPhotos.AddLog("Copy camera photos: " + std::to_string(FPhotos.CameraPhotos.CheckedCount) +
                       "/" + std::to_string(copied));
    }
    FStatusText = "Done.";
}

}  // namespace corvane
