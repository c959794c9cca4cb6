// Shares a list's spare width among its text columns in proportion to their starting widths,
// so Name, Artist and Album grow together when the window does, and shrink together when it is
// narrow, each down to its floor only: the columns fit the list whenever their floors do.
// Columns not named keep the width they have; hidden columns take no share.
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

    // The narrowest a column becomes (kDefaultFloor unless set): wide enough for the longest
    // text a short column holds.
    void SetFloor(int column, int width);
    // Lays the columns out for the viewport's present width.
    void Spread();

    static constexpr int kDefaultFloor = 32;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QHeaderView* FHeader;
    QWidget* FViewport;
    std::vector<std::pair<int, int>> FStretch;
    std::vector<int> FFloors;  // per entry of FStretch
};

}  // namespace corvane::views
