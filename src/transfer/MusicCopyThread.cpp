#include "music/iPodMusic.h"
#include "transfer/CopyThreads.h"

namespace corvane {

TMusicCopyThread::TMusicCopyThread(TIpodMusicDb& music, bool restoreToITunes,
                                   TRunOnUiThread dispatch)
    : TCopyThread(std::move(dispatch)), RestoreToITunes(restoreToITunes), FMusic(music) {
    FMusic.OnProgress = [this](const std::string& text) { Progress(text, FMusic.Cancelled); };
    FMusic.Log.Clear();
}

TMusicCopyThread::~TMusicCopyThread() {
    // The thread runs Execute of this class: it must end before this part goes.
    WaitFor();
    FMusic.OnProgress = nullptr;
}

void TMusicCopyThread::Execute() {
    FCopied = FMusic.Export();
    FMusic.AddLog("Copy tracks: " + std::to_string(FCopied) + "/" +
                  std::to_string(FMusic.Tracks.CheckedCount));
    if (FCopied > 0 && RestoreToITunes) {
        Status("Adding playlists to iTunes library (please do NOT close iTunes)", kStatusLongWait);
        FCopied = FMusic.RestoreToITunes();
        FMusic.AddLog("Sync: " + std::to_string(FCopied));
    }
    FStatusText = "Done.";
}

}  // namespace corvane
