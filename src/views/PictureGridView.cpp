#include "views/PictureGridView.h"

#include <QKeyEvent>
#include <QResizeEvent>
#include <QScrollBar>
#include <algorithm>

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

std::vector<int> TPictureGridView::VisibleRows() const {
    std::vector<int> rows;
    if (model() == nullptr || model()->rowCount() == 0)
        return rows;
    // Probing points half a cell apart finds every cell that shows, however the rows wrap.
    const QSize cell = FDelegate->CellSize();
    const int stepX = std::max(cell.width() / 2, 1);
    const int stepY = std::max(cell.height() / 2, 1);
    const QRect area = viewport()->rect();
    for (int y = area.top(); y <= area.bottom() + stepY - 1; y += stepY) {
        for (int x = area.left(); x <= area.right() + stepX - 1; x += stepX) {
            const QModelIndex index =
                indexAt(QPoint(std::min(x, area.right()), std::min(y, area.bottom())));
            if (index.isValid())
                rows.push_back(index.row());
        }
    }
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

void TPictureGridView::scrollContentsBy(int dx, int dy) {
    QListView::scrollContentsBy(dx, dy);
    emit VisibleRowsChanged();
}

void TPictureGridView::resizeEvent(QResizeEvent* event) {
    QListView::resizeEvent(event);
    emit VisibleRowsChanged();
}

void TPictureGridView::updateGeometries() {
    QListView::updateGeometries();
    emit VisibleRowsChanged();
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
