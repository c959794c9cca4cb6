// Draws the cells of the track list at a fixed row height and shows a cell's whole text as a
// tooltip only when the cell is too narrow for it.
#pragma once

#include <QStyledItemDelegate>

namespace corvane::views {

class TTrackDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    TTrackDelegate(int rowHeight, QObject* parent);

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;

    // The text of the cell does not fit the cell as drawn.
    bool IsCut(const QStyleOptionViewItem& option, const QModelIndex& index) const;

private:
    int FRowHeight;
};

}  // namespace corvane::views
