#include "views/MediaTrackDelegate.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QHelpEvent>
#include <QStyle>
#include <QToolTip>

namespace corvane::views {

TTrackDelegate::TTrackDelegate(int rowHeight, QObject* parent)
    : QStyledItemDelegate(parent), FRowHeight(rowHeight) {}

QSize TTrackDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    QSize hint = QStyledItemDelegate::sizeHint(option, index);
    hint.setHeight(FRowHeight);
    return hint;
}

bool TTrackDelegate::IsCut(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    QStyleOptionViewItem item = option;
    initStyleOption(&item, index);
    if (item.text.isEmpty())
        return false;
    const QWidget* widget = item.widget;
    QStyle* style = widget != nullptr ? widget->style() : QApplication::style();
    // The room the style leaves for the text once the check box and margins are placed.
    const QRect textRect = style->subElementRect(QStyle::SE_ItemViewItemText, &item, widget);
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
    return item.fontMetrics.horizontalAdvance(item.text) > textRect.width() - 2 * margin;
}

bool TTrackDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view,
                               const QStyleOptionViewItem& option, const QModelIndex& index) {
    if (event == nullptr || view == nullptr || event->type() != QEvent::ToolTip)
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    if (index.isValid() && IsCut(option, index)) {
        QToolTip::showText(event->globalPos(), index.data(Qt::DisplayRole).toString(), view,
                           option.rect);
    } else {
        QToolTip::hideText();
    }
    return true;
}

}  // namespace corvane::views
