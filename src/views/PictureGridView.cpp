#include "views/PictureGridView.h"

#include <QKeyEvent>
#include <QScrollBar>

#include "views/PictureGridDelegate.h"

namespace corvane::views {
namespace {

constexpr int kCellGap = 8;  // between neighbouring cells

}  // namespace

TPictureGridView::TPictureGridView(QWidget* parent)
    : QListView(parent), FDelegate(new TPictureGridDelegate(this)) {
    setViewMode(QListView::IconMode);
    setMovement(QListView::Static);
    setResizeMode(QListView::Adjust);
    setWrapping(true);
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionRectVisible(true);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setFrameShape(QFrame::NoFrame);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setItemDelegate(FDelegate);
    SetThumbSize(QSize(100, 100));
}

void TPictureGridView::SetThumbSize(QSize thumb) {
    FDelegate->SetThumbSize(thumb, fontMetrics().height());
    const QSize cell = FDelegate->CellSize();
    setSpacing(kCellGap);
    scheduleDelayedItemsLayout();
    verticalScrollBar()->setSingleStep(cell.height() / 4);
}

bool TPictureGridView::RowOnScreen(int row) const {
    return viewport()->rect().intersects(visualRect(model()->index(row, 0)));
}

void TPictureGridView::keyPressEvent(QKeyEvent* event) {
    if (event->key() != Qt::Key_Space || model() == nullptr ||
        event->modifiers() != Qt::NoModifier) {
        QListView::keyPressEvent(event);
        return;
    }
    const QModelIndexList rows = selectionModel()->selectedIndexes();
    if (rows.isEmpty()) {
        QListView::keyPressEvent(event);
        return;
    }
    // One state for all: ticked when any of them was not.
    bool anyUnchecked = false;
    for (const QModelIndex& index : rows)
        anyUnchecked |= index.data(Qt::CheckStateRole).toInt() != Qt::Checked;
    for (const QModelIndex& index : rows)
        model()->setData(index, anyUnchecked ? Qt::Checked : Qt::Unchecked, Qt::CheckStateRole);
    event->accept();
}

}  // namespace corvane::views
