// A check box that shows a partial state set by the program (some of the shown items ticked)
// but that a click only ever ticks or clears: partly ticked goes to ticked.
#pragma once

#include <QCheckBox>

namespace corvane::views {

class TTriStateBox : public QCheckBox {
    Q_OBJECT
public:
    TTriStateBox(const QString& text, QWidget* parent) : QCheckBox(text, parent) {}

    // Unchecked, partly or fully checked from how many of count are ticked.
    void ShowTicked(int ticked, int count) {
        if (count == 0)
            return;  // nothing shown: the box keeps what it said
        setCheckState(ticked == count ? Qt::Checked
                      : ticked > 0    ? Qt::PartiallyChecked
                                      : Qt::Unchecked);
    }

protected:
    void nextCheckState() override {
        setCheckState(checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
    }
};

}  // namespace corvane::views
