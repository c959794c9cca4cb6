// The views' own colours, taken from the palette in use. Under a light palette they are the
// design's soft blue-greys; under a dark one they are shades of the palette's own base and
// window, so text in the palette's text colour stays readable either way.
#pragma once

#include <QColor>
#include <QPalette>

namespace corvane::app {

// True when the palette draws light text on dark backgrounds.
bool IsDarkPalette(const QPalette& palette);

// The tree on the left of both views.
QColor SideTreeColour(const QPalette& palette);
// Track rows: even positions tinted, odd ones plain.
QColor EvenRowColour(const QPalette& palette);
QColor OddRowColour(const QPalette& palette);
// The band above the photo grid and the line at its bottom.
QColor HeaderBandColour(const QPalette& palette);
QColor HeaderLineColour(const QPalette& palette);
// The summary band of the options dialog.
QColor SummaryBandColour(const QPalette& palette);
// The border of a picture cell and the fill of a cell whose preview is not there yet.
QColor ItemBorderColour(const QPalette& palette);
QColor EmptyPreviewColour(const QPalette& palette);

// Text that says something failed: a deep red on light backgrounds, a light one on dark ones,
// so it stands out and still reads against the window.
QColor FailureTextColour(const QPalette& palette);

// a and b mixed, share of b from 0 to 1.
QColor Mix(const QColor& a, const QColor& b, double share);

}  // namespace corvane::app
