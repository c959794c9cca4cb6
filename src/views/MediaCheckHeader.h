// A horizontal header with a check box in one section, left of its caption. A click on the box
// toggles it and reports the new state; a click elsewhere on the header acts as usual.
#pragma once

#include <QHeaderView>

namespace corvane::views {

class TCheckHeader : public QHeaderView {
    Q_OBJECT
public:
    TCheckHeader(int checkSection, int height, QWidget* parent);

    bool Checked() const { return FState == Qt::Checked; }
    void SetChecked(bool checked);
    // Partly ticked while some rows are; a click on a partly ticked box ticks them all.
    Qt::CheckState State() const { return FState; }
    void SetState(Qt::CheckState state);
    // The box in header coordinates (empty while its section is hidden).
    QRect CheckRect() const;

    QSize sizeHint() const override;

signals:
    void CheckClicked(bool checked);

protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QRect CheckRectIn(const QRect& section) const;
    bool OnCheck(const QMouseEvent* event) const;

    int FSection;
    int FHeight;
    Qt::CheckState FState = Qt::Checked;
    bool FPressed = false;
};

}  // namespace corvane::views
