#include "base/PlatformTexts.h"
#include "device/iPodDev.h"
#include "music/iPodMusic.h"
#include "transfer/CopyThreads.h"
#include "transfer/CoverExport.h"

namespace corvane {

TMusicCopyThread::TMusicCopyThread(TIpodMusicDb& music, TLibraryTarget target,
                                   TRunOnUiThread dispatch)
    : TCopyThread(std::move(dispatch)), Target(target), FMusic(music) {
    FMusic.OnProgress = [this](const std::string& text) {
        Progress(text, FMusic.Cancelled, FMusic.ProgressItemSize);
    };
    FMusic.Device.OnCopyProgress = [this](uint64_t done, uint64_t size) { CopyBytes(done, size); };
    FMusic.Log.Clear();
}

TMusicCopyThread::~TMusicCopyThread() {
    // The thread runs Execute of this class: it must end before this part goes.
    WaitFor();
    FMusic.OnProgress = nullptr;
    FMusic.Device.OnCopyProgress = nullptr;
}

void TMusicCopyThread::Execute() {
    FCounts.Total = FMusic.Tracks.CheckedCount;
    int sized = 0;
    uint64_t bytes = 0;
    for (const TTrackItem& track : FMusic.Tracks) {
        if (track.Checked && track.FileSize > 0) {
            ++sized;
            bytes += static_cast<uint64_t>(track.FileSize);
        }
    }
    StartBytes(FCounts.Total, sized, bytes);
    FCopied = FMusic.Export();
    FCounts.Copied = FCopied;
    FCounts.Failed = FMusic.ExportFailures;
    // A stop noticed at the last item still copied everything.
    FCounts.Cancelled = Terminated() && FCounts.Copied + FCounts.Failed < FCounts.Total;
    FStatusText = TransferSummaryText(FCounts);
    FMusic.AddLog("Copy tracks: " + std::to_string(FCounts.Copied) + " of " +
                  std::to_string(FCounts.Total));
    const TCoverChoice covers{.CoverFiles = FMusic.CoverFiles, .EmbedCovers = FMusic.EmbedCovers};
    if (covers.Any() && FCopied > 0)
        ExportCovers(FMusic, covers);
    if (FCopied > 0 && Target != TLibraryTarget::None) {
        Status(Target == TLibraryTarget::Mpd ? texts::kRestoringToMpd : texts::kRestoringToTags,
               kStatusLongWait);
        TIpodMusicDb::TRestoreHooks hooks = RestoreHooksFor(Target, FMusic);
        hooks.CreateApp = [this, create = hooks.CreateApp] {
            try {
                std::shared_ptr<itunes::IiTunes> app = create();
                FLibraryUnreachable = app == nullptr;
                return app;
            } catch (...) {
                FLibraryUnreachable = true;
                throw;
            }
        };
        FCopied = FMusic.RestoreToITunes(hooks);
        FMusic.AddLog("Sync: " + std::to_string(FCopied));
        FStatusText =
            TransferSummaryText(FCounts) + "; " + std::to_string(FCopied) + " in the media library";
    }
}

}  // namespace corvane
