#include "views/ColumnSpreader.h"

#include <QEvent>
#include <QHeaderView>
#include <QWidget>
#include <algorithm>
#include <vector>

namespace corvane::views {

TColumnSpreader::TColumnSpreader(QHeaderView* header, QWidget* viewport,
                                 std::vector<std::pair<int, int>> stretch)
    : QObject(header),
      FHeader(header),
      FViewport(viewport),
      FStretch(std::move(stretch)),
      FFloors(FStretch.size(), kDefaultFloor) {
    for (const auto& [column, width] : FStretch) {
        FHeader->setSectionResizeMode(column, QHeaderView::Interactive);
        FHeader->resizeSection(column, width);
    }
    FViewport->installEventFilter(this);
}

void TColumnSpreader::SetFloor(int column, int width) {
    for (size_t i = 0; i < FStretch.size(); ++i)
        if (FStretch[i].first == column)
            FFloors[i] = std::max(width, 0);
    Spread();
}

void TColumnSpreader::Spread() {
    int fixed = 0;
    for (int column = 0; column < FHeader->count(); ++column) {
        const bool shares =
            std::any_of(FStretch.begin(), FStretch.end(),
                        [column](const auto& entry) { return entry.first == column; });
        if (!shares && !FHeader->isSectionHidden(column))
            fixed += FHeader->sectionSize(column);
    }
    const size_t count = FStretch.size();
    std::vector<char> shown(count);
    for (size_t i = 0; i < count; ++i)
        shown[i] = !FHeader->isSectionHidden(FStretch[i].first) && FStretch[i].second > 0;
    const int room = std::max(FViewport->width() - fixed, 0);
    // A column whose share would fall below its floor takes the floor, and the others share
    // what is left; that can push another below its own, so it is repeated until none is.
    std::vector<char> atFloor(count, 0);
    std::vector<int> widths(count, 0);
    for (bool again = true; again;) {
        again = false;
        long long left = room;
        long long weights = 0;
        for (size_t i = 0; i < count; ++i) {
            if (!shown[i])
                continue;
            if (atFloor[i])
                left -= FFloors[i];
            else
                weights += FStretch[i].second;
        }
        for (size_t i = 0; i < count; ++i) {
            if (!shown[i] || atFloor[i])
                continue;
            widths[i] =
                weights > 0 && left > 0 ? static_cast<int>(left * FStretch[i].second / weights) : 0;
            if (widths[i] < FFloors[i]) {
                atFloor[i] = 1;
                again = true;
            }
        }
    }
    int given = 0;
    int last = -1;
    for (size_t i = 0; i < count; ++i) {
        if (!shown[i])
            continue;
        const int width = atFloor[i] ? FFloors[i] : widths[i];
        FHeader->resizeSection(FStretch[i].first, width);
        given += width;
        if (!atFloor[i])
            last = FStretch[i].first;
    }
    // Rounding leaves a few pixels: the last text column above its floor takes them.
    if (last >= 0 && room > given)
        FHeader->resizeSection(last, FHeader->sectionSize(last) + room - given);
}

bool TColumnSpreader::eventFilter(QObject* watched, QEvent* event) {
    if (watched == FViewport && event->type() == QEvent::Resize)
        Spread();
    return QObject::eventFilter(watched, event);
}

}  // namespace corvane::views
