#include "views/CoverPane.h"

#include <QEvent>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPalette>
#include <QPixmap>
#include <QVBoxLayout>
#include <algorithm>
#include <cstring>

#include "gui/ThemeColours.h"
#include "music/iPodMusic.h"
#include "photo/ArtworkPictures.h"
#include "views/TrackListModel.h"

namespace corvane::views {

TCoverPane::TCoverPane(QWidget* parent, TIpodMusicDb& music) : QWidget(parent), FMusic(music) {
    setObjectName("CoverPane");
    // The tree's background, so that the pane reads as part of the side column; the
    // placeholder a shade towards the text, in the light and the dark palette alike.
    QPalette colours = palette();
    const QColor side = app::SideTreeColour(colours);
    const QColor text = colours.color(QPalette::Active, QPalette::Text);
    colours.setColor(QPalette::Window, side);
    setPalette(colours);
    setAutoFillBackground(true);
    FView = new QLabel(this);
    FView->setObjectName("CoverView");
    FView->setAlignment(Qt::AlignCenter);
    FView->setMinimumSize(64, 64);
    QPalette placeholder = colours;
    placeholder.setColor(QPalette::Window, app::Mix(side, text, 0.08));
    placeholder.setColor(QPalette::WindowText, app::Mix(side, text, 0.6));
    FView->setPalette(placeholder);
    FView->setAutoFillBackground(true);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->addWidget(FView);
    // The column the pane shares with the tree: a short window gives the cover less height.
    if (parent != nullptr)
        parent->installEventFilter(this);
    Paint();
}

bool TCoverPane::eventFilter(QObject* watched, QEvent* event) {
    if (watched == parentWidget() && event->type() == QEvent::Resize)
        Paint();
    return QWidget::eventFilter(watched, event);
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
    // Square, as wide as the pane: covers are square, and the tree keeps the rest, at least
    // three fifths of the column.
    int side = width() - 16;
    if (const QWidget* column = parentWidget())
        side = std::min(side, column->height() * 2 / 5 - 16);
    side = std::max(64, side);
    FView->setFixedHeight(side);
    if (FPicture.isNull()) {
        FView->setPixmap(QPixmap());
        FView->setText("No album art");
        return;
    }
    // Scaled for the screen's pixels, not its points: at twice the scale the cover keeps the
    // detail its record has.
    const qreal ratio = std::max<qreal>(devicePixelRatioF(), 1);
    QPixmap pixmap = QPixmap::fromImage(
        FPicture.scaled(QSize(side, side) * ratio, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    pixmap.setDevicePixelRatio(ratio);
    FView->setPixmap(pixmap);
}

}  // namespace corvane::views
