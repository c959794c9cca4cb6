// Draws one cell of the picture grid: the preview in its frame with the check box on its
// corner (and a cloud on the other corner for a picture only in the cloud), and the caption
// below; a click on the check box toggles it.
#pragma once

#include <QFontMetrics>
#include <QSize>
#include <QStringList>
#include <QStyledItemDelegate>

namespace corvane::views {

class TPictureGridDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    // Width of the item border; the cell has twice that on each side of the preview.
    static constexpr int kItemBorder = 2;

    struct TCellLayout {
        QRect Cell;
        QRect Thumb;  // the preview's place, its top-left corner the preview's
        QRect Check;
        QRect Caption;
    };

    explicit TPictureGridDelegate(QObject* parent = nullptr);

    // Previews of thumb size; the cell is thumb + 4 borders wide and thumb + 4 borders + two
    // lines of text high.
    void SetThumbSize(QSize thumb, int textHeight);
    QSize CellSize() const { return FCell; }
    // Where the parts of the cell go inside an item rectangle of the view.
    TCellLayout Layout(const QRect& itemRect, const QWidget* widget) const;
    // Where the cloud mark of a picture only in the cloud goes on a preview's place.
    static QRect CloudRect(const QRect& thumb);
    // The caption in at most two lines of width; a caption "name\ndate" takes one line each.
    static QStringList CaptionLines(const QString& caption, const QFontMetrics& metrics, int width);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;

private:
    QSize FThumb{100, 100};
    QSize FCell{100 + 4 * kItemBorder, 100 + 4 * kItemBorder + 32};
};

}  // namespace corvane::views
