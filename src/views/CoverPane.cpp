#include "views/CoverPane.h"

#include <QItemSelectionModel>
#include <QLabel>
#include <QPalette>
#include <QPixmap>
#include <QVBoxLayout>
#include <algorithm>
#include <cstring>

#include "music/iPodMusic.h"
#include "photo/ArtworkPictures.h"
#include "views/TrackListModel.h"

namespace corvane::views {

TCoverPane::TCoverPane(QWidget* parent, TIpodMusicDb& music) : QWidget(parent), FMusic(music) {
    setObjectName("CoverPane");
    // The tree's background, so that the pane reads as part of the side column.
    QPalette colours = palette();
    colours.setColor(QPalette::Window, QColor(230, 234, 239));
    setPalette(colours);
    setAutoFillBackground(true);
    FView = new QLabel(this);
    FView->setObjectName("CoverView");
    FView->setAlignment(Qt::AlignCenter);
    FView->setMinimumSize(64, 64);
    FView->setStyleSheet("QLabel { background: rgb(214, 219, 226); color: rgb(110, 118, 130); }");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->addWidget(FView);
    Paint();
}

void TCoverPane::Follow(QItemSelectionModel* selection, const TTrackListModel* model) {
    auto update = [this, selection, model] {
        QModelIndex row = selection->currentIndex();
        if (!row.isValid() || !selection->isRowSelected(row.row())) {
            const QModelIndexList rows = selection->selectedRows();
            row = rows.isEmpty() ? QModelIndex() : rows.first();
        }
        const std::vector<int>& tracks = model->Rows();
        const bool shown = row.isValid() && static_cast<size_t>(row.row()) < tracks.size();
        ShowTrack(shown ? tracks[static_cast<size_t>(row.row())] : -1);
    };
    connect(selection, &QItemSelectionModel::selectionChanged, this, update);
    connect(selection, &QItemSelectionModel::currentRowChanged, this, update);
    connect(model, &QAbstractItemModel::modelReset, this, [this] { ShowTrack(-1); });
}

void TCoverPane::ShowTrack(int trackIndex) {
    const TTrackItem* track = FMusic.Tracks.Find(trackIndex);
    const int cover = track ? track->Cover : -1;
    if (cover == FShownCover && (cover < 0 || !FPicture.isNull()))
        return;
    FShownCover = -1;
    FPicture = QImage();
    TBitmap bitmap;
    if (cover >= 0 && ReadCover(FMusic.Device, FMusic.Artwork, cover, bitmap)) {
        QImage image(bitmap.Width(), bitmap.Height(), QImage::Format_RGB888);
        for (int y = 0; y < bitmap.Height(); ++y)
            std::memcpy(image.scanLine(y), bitmap.Row(y), static_cast<size_t>(bitmap.Width()) * 3);
        FPicture = std::move(image);
        FShownCover = cover;
    }
    Paint();
}

void TCoverPane::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    Paint();
}

void TCoverPane::Paint() {
    // Square, as wide as the pane: covers are square, and the tree keeps the rest.
    const int side = std::max(64, width() - 16);
    FView->setFixedHeight(side);
    if (FPicture.isNull()) {
        FView->setPixmap(QPixmap());
        FView->setText("No album art");
        return;
    }
    FView->setPixmap(QPixmap::fromImage(
        FPicture.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
}

}  // namespace corvane::views
