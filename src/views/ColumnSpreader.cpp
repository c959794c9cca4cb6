#include "views/ColumnSpreader.h"

#include <QEvent>
#include <QHeaderView>
#include <QWidget>
#include <algorithm>

namespace corvane::views {

TColumnSpreader::TColumnSpreader(QHeaderView* header, QWidget* viewport,
                                 std::vector<std::pair<int, int>> stretch)
    : QObject(header), FHeader(header), FViewport(viewport), FStretch(std::move(stretch)) {
    for (const auto& [column, width] : FStretch) {
        FHeader->setSectionResizeMode(column, QHeaderView::Interactive);
        FHeader->resizeSection(column, width);
    }
    FViewport->installEventFilter(this);
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
    int base = 0;
    for (const auto& [column, width] : FStretch)
        base += FHeader->isSectionHidden(column) ? 0 : width;
    if (base <= 0)
        return;
    const int room = std::max(FViewport->width() - fixed, base);
    int given = 0;
    int last = -1;
    for (const auto& [column, width] : FStretch) {
        if (FHeader->isSectionHidden(column))
            continue;
        const int share = static_cast<int>(static_cast<long long>(room) * width / base);
        FHeader->resizeSection(column, share);
        given += share;
        last = column;
    }
    // Rounding leaves a few pixels: the last shown text column takes them.
    if (last >= 0 && room > given)
        FHeader->resizeSection(last, FHeader->sectionSize(last) + room - given);
}

bool TColumnSpreader::eventFilter(QObject* watched, QEvent* event) {
    if (watched == FViewport && event->type() == QEvent::Resize)
        Spread();
    return QObject::eventFilter(watched, event);
}

}  // namespace corvane::views
