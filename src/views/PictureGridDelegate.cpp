#include "views/PictureGridDelegate.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QStyle>
#include <algorithm>

#include "gui/ThemeColours.h"
#include "views/PictureListModel.h"

namespace corvane::views {
namespace {

constexpr int kCheckInset = 3;  // from the preview's corner
const QColor kCloudFill(255, 255, 255);
const QColor kCloudOutline(90, 110, 140);

// A cloud of three puffs on a flat base, filling rect.
void DrawCloud(QPainter* painter, const QRectF& rect) {
    const qreal w = rect.width();
    const qreal h = rect.height();
    QPainterPath cloud;
    cloud.addEllipse(QRectF(rect.left(), rect.top() + h * 0.40, w * 0.42, h * 0.60));
    cloud.addEllipse(QRectF(rect.left() + w * 0.22, rect.top(), w * 0.50, h * 0.80));
    cloud.addEllipse(QRectF(rect.left() + w * 0.55, rect.top() + h * 0.30, w * 0.45, h * 0.70));
    cloud.addRect(QRectF(rect.left() + w * 0.2, rect.top() + h * 0.6, w * 0.6, h * 0.4));
    cloud.setFillRule(Qt::WindingFill);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(QPen(kCloudOutline, 1.2));
    painter->setBrush(kCloudFill);
    painter->drawPath(cloud.simplified());
    painter->restore();
}

}  // namespace

QRect TPictureGridDelegate::CloudRect(const QRect& thumb) {
    // At the preview's top-right corner, a fifth of its width, never below 12 pixels.
    const int width = std::max(12, thumb.width() / 5);
    const int height = width * 2 / 3;
    return QRect(thumb.right() + 1 - kCheckInset - width, thumb.top() + kCheckInset, width, height);
}

TPictureGridDelegate::TPictureGridDelegate(QObject* parent) : QStyledItemDelegate(parent) {}

void TPictureGridDelegate::SetThumbSize(QSize thumb, int textHeight) {
    FThumb = thumb;
    FCell =
        QSize(thumb.width() + 4 * kItemBorder, thumb.height() + 4 * kItemBorder + 2 * textHeight);
}

TPictureGridDelegate::TCellLayout TPictureGridDelegate::Layout(const QRect& itemRect,
                                                               const QWidget* widget) const {
    TCellLayout layout;
    // The cell sits centred in whatever rectangle the view gives the item.
    layout.Cell = QRect(QPoint(0, 0), FCell);
    layout.Cell.moveCenter(itemRect.center());
    layout.Cell.moveTop(itemRect.top());
    layout.Thumb = QRect(layout.Cell.topLeft() + QPoint(2 * kItemBorder, 2 * kItemBorder), FThumb);
    // The check box sits on the preview's bottom-left corner, which leaves the caption the
    // cell's width (previews of mobile devices are narrower than a file name) and keeps the
    // top of the picture free.
    const QStyle* style = widget ? widget->style() : QApplication::style();
    const int side =
        std::max(std::min({style->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, widget),
                           FThumb.width() - 2 * kCheckInset, FThumb.height() - 2 * kCheckInset}),
                 1);
    layout.Check = QRect(layout.Thumb.left() + kCheckInset,
                         layout.Thumb.bottom() + 1 - kCheckInset - side, side, side);
    const int captionTop = layout.Thumb.bottom() + 1 + kItemBorder;
    layout.Caption =
        QRect(layout.Cell.left() + kItemBorder, captionTop, FCell.width() - 2 * kItemBorder,
              layout.Cell.bottom() + 1 - kItemBorder - captionTop);
    return layout;
}

QStringList TPictureGridDelegate::CaptionLines(const QString& caption, const QFontMetrics& metrics,
                                               int width) {
    // A caption of two parts (name and date) keeps one line for each.
    if (const qsizetype split = caption.indexOf('\n'); split >= 0)
        return {metrics.elidedText(caption.left(split), Qt::ElideMiddle, width),
                metrics.elidedText(caption.mid(split + 1), Qt::ElideRight, width)};
    if (metrics.horizontalAdvance(caption) <= width)
        return {caption};
    // File names have no blanks to break at: the first line takes what fits, the second the
    // rest, shortened in its middle when even that does not fit.
    int fits = 0;
    while (fits < caption.size() && metrics.horizontalAdvance(caption.left(fits + 1)) <= width)
        ++fits;
    fits = std::max(fits, 1);
    return {caption.left(fits), metrics.elidedText(caption.mid(fits), Qt::ElideMiddle, width)};
}

void TPictureGridDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                 const QModelIndex& index) const {
    const TCellLayout layout = Layout(option.rect, option.widget);
    const bool selected = option.state & QStyle::State_Selected;
    const QPalette& palette = option.palette;
    painter->save();

    if (selected) {
        QColor fill = palette.color(QPalette::Highlight);
        fill.setAlpha(40);
        painter->fillRect(layout.Cell, fill);
    }

    // The preview at the top-left corner of its place, inside the item border.
    const QRect frame =
        layout.Thumb.adjusted(-kItemBorder, -kItemBorder, kItemBorder - 1, kItemBorder - 1);
    const QPixmap preview = index.data(TPictureListModel::ThumbRole).value<QPixmap>();
    if (preview.isNull()) {
        painter->fillRect(layout.Thumb, app::EmptyPreviewColour(palette));
    } else {
        painter->setClipRect(layout.Thumb);
        painter->drawPixmap(layout.Thumb.topLeft(), preview);
        painter->setClipping(false);
    }
    painter->setPen(selected ? palette.color(QPalette::Highlight) : app::ItemBorderColour(palette));
    painter->drawRect(frame);
    if (index.data(TPictureListModel::CloudRole).toBool())
        DrawCloud(painter, CloudRect(layout.Thumb));

    QStyleOptionViewItem check(option);
    check.rect = layout.Check;
    check.state = option.state & ~QStyle::State_HasFocus;
    check.state |= index.data(Qt::CheckStateRole).toInt() == Qt::Checked ? QStyle::State_On
                                                                         : QStyle::State_Off;
    const QStyle* style = option.widget ? option.widget->style() : QApplication::style();
    painter->fillRect(layout.Check, palette.color(QPalette::Base));
    style->drawPrimitive(QStyle::PE_IndicatorItemViewItemCheck, &check, painter, option.widget);

    painter->setFont(option.font);
    painter->setPen(palette.color(QPalette::Text));
    const QStringList lines = CaptionLines(index.data(Qt::DisplayRole).toString(),
                                           option.fontMetrics, layout.Caption.width());
    QRect line(layout.Caption.topLeft(),
               QSize(layout.Caption.width(), option.fontMetrics.height()));
    for (const QString& text : lines) {
        painter->drawText(line, Qt::AlignHCenter | Qt::AlignTop, text);
        line.translate(0, option.fontMetrics.height());
    }
    painter->restore();
}

QSize TPictureGridDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const {
    return FCell;
}

bool TPictureGridDelegate::editorEvent(QEvent* event, QAbstractItemModel* model,
                                       const QStyleOptionViewItem& option,
                                       const QModelIndex& index) {
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseButtonPress && type != QEvent::MouseButtonRelease &&
        type != QEvent::MouseButtonDblClick)
        return false;
    const auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() != Qt::LeftButton ||
        !Layout(option.rect, option.widget).Check.contains(mouse->position().toPoint()))
        return false;
    // Press and double click on the box belong to it; the release toggles it.
    if (type != QEvent::MouseButtonRelease)
        return true;
    const bool checked = index.data(Qt::CheckStateRole).toInt() == Qt::Checked;
    model->setData(index, checked ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
    return true;
}

}  // namespace corvane::views
