// The music view's transfer: the options dialog, the destination check and the progress
// dialog that runs the export.
#include <QLineEdit>
#include <QTreeView>
#include <QTreeWidget>
#include <unordered_set>
#include <vector>

#include "device/iPodDev.h"
#include "gui/MessageBox.h"
#include "music/iPodMusic.h"
#include "transfer/KelProgress.h"
#include "transfer/MusicTrans.h"
#include "views/KelMedia.h"
#include "views/TrackListModel.h"

namespace corvane::views {
namespace {

QString TracksSummary(int count, int64_t bytes) {
    return QString::number(count) + (count == 1 ? " track, about " : " tracks, about ") +
           QString::fromStdString(TIpodDevice::FormatSize(bytes));
}

// Ticks tracks back on when it goes: a transfer of the shown tracks only leaves the user's
// other ticks as they were.
class TTicksPutBack {
public:
    explicit TTicksPutBack(TTrackList& tracks) : FTracks(tracks) {}
    ~TTicksPutBack() {
        for (int index : FUnticked)
            FTracks.Check(index);
    }
    TTicksPutBack(const TTicksPutBack&) = delete;
    TTicksPutBack& operator=(const TTicksPutBack&) = delete;
    void Untick(int index) {
        FTracks.Uncheck(index);
        FUnticked.push_back(index);
    }

private:
    TTrackList& FTracks;
    std::vector<int> FUnticked;
};

}  // namespace

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

    // The ticked tracks of the list shown, each once (a playlist may list one twice).
    std::unordered_set<int> shown;
    int64_t shownSize = 0;
    for (int index : MusicModel->Rows()) {
        if (index >= 0 && index < tracks.Count() && tracks.Items(index).Checked &&
            shown.insert(index).second)
            shownSize += tracks.Items(index).FileSize;
    }

    QString folder;
    TLibraryTarget libraryTarget = TLibraryTarget::None;
    bool writePlaylistFiles = false;
    bool shownOnly = false;
    {
        transfer::TTransForm options(this);
        options.Prepare(TracksSummary(tracks.CheckedCount, tracks.CheckedSize), true);
        // The whole library shown (searched or not) is what every tick means already.
        const QTreeWidgetItem* node = MediaList->currentItem();
        if (node != nullptr && node != MediaList->topLevelItem(0) && !shown.empty() &&
            static_cast<int>(shown.size()) < tracks.CheckedCount)
            options.OfferShownOnly(node->text(0),
                                   TracksSummary(static_cast<int>(shown.size()), shownSize));
        if (options.Destination().isEmpty())
            options.DestEdt->setText(QString::fromStdString(MusicDb->DefaultDestination()));
        for (int index = 0; index < tracks.Count(); ++index) {
            if (tracks.Items(index).Checked && (shown.empty() || shown.count(index) > 0)) {
                options.SetSampleTrack(tracks.Items(index));
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
        shownOnly = options.ShownOnly();
        folder = QString::fromStdString(destination);
    }

    TTicksPutBack putBack(tracks);
    if (shownOnly) {
        for (int index = 0; index < tracks.Count(); ++index) {
            if (tracks.Items(index).Checked && shown.count(index) == 0)
                putBack.Untick(index);
        }
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
