// Shares a list's spare width among its text columns in proportion to their starting widths,
// so Name, Artist and Album grow together when the window does. Columns not named keep the
// width they have; hidden columns take no share.
#pragma once

#include <QObject>
#include <utility>
#include <vector>

class QHeaderView;
class QWidget;

namespace corvane::views {

class TColumnSpreader : public QObject {
    Q_OBJECT
public:
    // stretch: (column, starting width) of every column that shares the spare width.
    TColumnSpreader(QHeaderView* header, QWidget* viewport,
                    std::vector<std::pair<int, int>> stretch);

    // Lays the columns out for the viewport's present width.
    void Spread();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QHeaderView* FHeader;
    QWidget* FViewport;
    std::vector<std::pair<int, int>> FStretch;
};

}  // namespace corvane::views
