// The album art of the selected track, shown below the music view's tree as music players do:
// the cover of the current row (or the first selected one), or a plain placeholder.
#pragma once

#include <QImage>
#include <QWidget>

class QItemSelectionModel;
class QLabel;

namespace corvane {
class TIpodMusicDb;
}

namespace corvane::views {

class TTrackListModel;

class TCoverPane : public QWidget {
    Q_OBJECT
public:
    TCoverPane(QWidget* parent, TIpodMusicDb& music);

    // Shows the cover of the track the list's selection points at, whenever it changes.
    void Follow(QItemSelectionModel* selection, const TTrackListModel* model);
    // The cover of a track of the library (its index), or the placeholder for -1 or a track
    // without one.
    void ShowTrack(int trackIndex);

    int ShownCover() const { return FShownCover; }  // -1: the placeholder
    const QImage& Picture() const { return FPicture; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Paint();

    TIpodMusicDb& FMusic;
    QLabel* FView = nullptr;
    int FShownCover = -1;
    QImage FPicture;
};

}  // namespace corvane::views
