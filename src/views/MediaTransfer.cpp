// The music view's transfer: the options dialog, the destination check and the progress
// dialog that runs the export.
#include <QLineEdit>
#include <QTreeView>

#include "device/iPodDev.h"
#include "gui/MessageBox.h"
#include "music/iPodMusic.h"
#include "transfer/KelProgress.h"
#include "transfer/MusicTrans.h"
#include "views/KelMedia.h"

namespace corvane::views {

bool TMediaFrame::StartTransfer() {
    if (!MusicDb)
        return false;
    TTrackList& tracks = MusicDb->Tracks;
    if (tracks.CheckedCount == 0) {
        app::ShowMessage(this,
                         "Please select tracks you want to transfer by checking their checkboxes.",
                         app::TMessageKind::Information);
        return false;
    }

    QString folder;
    TLibraryTarget libraryTarget = TLibraryTarget::None;
    bool writePlaylistFiles = false;
    {
        transfer::TTransForm options(this);
        options.Prepare(QString::number(tracks.CheckedCount) + " tracks, about " +
                            QString::fromStdString(TIpodDevice::FormatSize(tracks.CheckedSize)),
                        true);
        if (options.Destination().isEmpty())
            options.DestEdt->setText(QString::fromStdString(MusicDb->DefaultDestination()));
        for (const TTrackItem& track : tracks) {
            if (track.Checked) {
                options.SetSampleTrack(track);
                break;
            }
        }
        std::string destination;
        options.DestinationCheck = [this, &destination](std::string& chosen) {
            if (!MusicDb->PrepareDestination(chosen))
                return false;
            destination = chosen;
            return true;
        };
        if (options.exec() != QDialog::Accepted)
            return false;
        MusicDb->NamingScheme = static_cast<uint8_t>(options.Organize);
        MusicDb->NameTemplate = options.NameTemplate().toStdString();
        libraryTarget = options.LibraryTarget();
        writePlaylistFiles = options.WritePlaylistFiles();
        MusicDb->CoverFiles = options.CoverFiles();
        MusicDb->EmbedCovers = options.EmbedCovers();
        folder = QString::fromStdString(destination);
    }

    transfer::TProgressDialog progress(this);
    FProgress = &progress;
    progress.Run(*MusicDb, folder, libraryTarget, tracks.CheckedCount, QString(),
                 writePlaylistFiles);
    FProgress = nullptr;
    // The transfer marks have changed.
    MusicList->viewport()->update();
    return true;
}

void TMediaFrame::DeviceLost() {
    if (FProgress)
        FProgress->DeviceLost();
}

std::string TMediaFrame::LogText() const {
    return MusicDb ? MusicDb->Log.Text() : std::string();
}

}  // namespace corvane::views
