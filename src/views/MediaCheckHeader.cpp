#include "views/MediaCheckHeader.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionHeaderV2>

namespace corvane::views {

namespace {
constexpr int kBoxMargin = 5;  // between the section's left edge and the box, and box and text
constexpr int kRightGap = 4;   // keeps a right-aligned caption off the next section's border
}  // namespace

TCheckHeader::TCheckHeader(int checkSection, int height, QWidget* parent)
    : QHeaderView(Qt::Horizontal, parent), FSection(checkSection), FHeight(height) {
    setSectionsClickable(true);
    setHighlightSections(false);
}

void TCheckHeader::SetChecked(bool checked) {
    SetState(checked ? Qt::Checked : Qt::Unchecked);
}

void TCheckHeader::SetState(Qt::CheckState state) {
    if (FState == state)
        return;
    FState = state;
    viewport()->update(CheckRect());
}

QSize TCheckHeader::sizeHint() const {
    QSize hint = QHeaderView::sizeHint();
    hint.setHeight(FHeight);
    return hint;
}

QRect TCheckHeader::CheckRectIn(const QRect& section) const {
    const int w = style()->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, this);
    const int h = style()->pixelMetric(QStyle::PM_IndicatorHeight, nullptr, this);
    return QRect(section.left() + kBoxMargin, section.top() + (section.height() - h) / 2, w, h);
}

QRect TCheckHeader::CheckRect() const {
    if (isSectionHidden(FSection) || FSection >= count())
        return {};
    const QRect section(sectionViewportPosition(FSection), 0, sectionSize(FSection), height());
    return CheckRectIn(section);
}

void TCheckHeader::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const {
    // The section and its sort arrow without the caption; the caption is drawn after.
    QStyleOptionHeaderV2 option;
    initStyleOption(&option);
    initStyleOptionForIndex(&option, logicalIndex);
    option.rect = rect;
    const QString caption = option.text;
    option.text.clear();
    painter->save();
    style()->drawControl(QStyle::CE_Header, &option, painter, this);
    painter->restore();

    if (logicalIndex != FSection) {
        QStyleOptionHeaderV2 label = option;
        label.text = caption;
        label.rect = style()->subElementRect(QStyle::SE_HeaderLabel, &option, this);
        if (option.textAlignment & Qt::AlignRight)
            label.rect.adjust(0, 0, -kRightGap, 0);
        style()->drawControl(QStyle::CE_HeaderLabel, &label, painter, this);
        return;
    }
    // The box, then the caption moved right of it.

    QStyleOptionButton box;
    box.initFrom(this);
    box.rect = CheckRectIn(rect);
    box.state = (isEnabled() ? QStyle::State_Enabled : QStyle::State_None) |
                (FState == Qt::Checked            ? QStyle::State_On
                 : FState == Qt::PartiallyChecked ? QStyle::State_NoChange
                                                  : QStyle::State_Off);
    style()->drawPrimitive(QStyle::PE_IndicatorCheckBox, &box, painter, this);

    QStyleOptionHeaderV2 label = option;
    label.text = caption;
    label.rect = rect.adjusted(box.rect.right() + 1 + kBoxMargin - rect.left(), 0, 0, 0);
    style()->drawControl(QStyle::CE_HeaderLabel, &label, painter, this);
}

bool TCheckHeader::OnCheck(const QMouseEvent* event) const {
    return event->button() == Qt::LeftButton && CheckRect().contains(event->position().toPoint());
}

void TCheckHeader::mousePressEvent(QMouseEvent* event) {
    if (OnCheck(event)) {
        FPressed = true;
        event->accept();
        return;
    }
    QHeaderView::mousePressEvent(event);
}

void TCheckHeader::mouseDoubleClickEvent(QMouseEvent* event) {
    // The second press of a quick double click is a click on the box as well.
    if (OnCheck(event)) {
        FPressed = true;
        event->accept();
        return;
    }
    QHeaderView::mouseDoubleClickEvent(event);
}

void TCheckHeader::mouseReleaseEvent(QMouseEvent* event) {
    if (FPressed) {
        FPressed = false;
        event->accept();
        if (OnCheck(event)) {
            SetChecked(FState != Qt::Checked);
            emit CheckClicked(Checked());
        }
        return;
    }
    QHeaderView::mouseReleaseEvent(event);
}

}  // namespace corvane::views
