#include "gui/ThemeColours.h"

#include <algorithm>

namespace corvane::app {

namespace {

QColor Base(const QPalette& palette) {
    return palette.color(QPalette::Active, QPalette::Base);
}

QColor Text(const QPalette& palette) {
    return palette.color(QPalette::Active, QPalette::Text);
}

// A dark palette's shade: its base moved a little towards its text (and, for the tinted
// parts, towards its highlight), so the step between shades reads as in the light design.
QColor DarkShade(const QPalette& palette, double towardsText, double towardsHighlight = 0) {
    const QColor shade = Mix(Base(palette), Text(palette), towardsText);
    return Mix(shade, palette.color(QPalette::Active, QPalette::Highlight), towardsHighlight);
}

}  // namespace

QColor FailureTextColour(const QPalette& palette) {
    return IsDarkPalette(palette) ? QColor(255, 128, 110) : QColor(176, 32, 24);
}

QColor Mix(const QColor& a, const QColor& b, double share) {
    share = std::clamp(share, 0.0, 1.0);
    auto channel = [share](int x, int y) { return static_cast<int>(x + (y - x) * share + 0.5); };
    return QColor(channel(a.red(), b.red()), channel(a.green(), b.green()),
                  channel(a.blue(), b.blue()));
}

bool IsDarkPalette(const QPalette& palette) {
    return Base(palette).lightness() < Text(palette).lightness();
}

QColor SideTreeColour(const QPalette& palette) {
    return IsDarkPalette(palette) ? DarkShade(palette, 0.06, 0.06) : QColor(230, 234, 239);
}

QColor EvenRowColour(const QPalette& palette) {
    return IsDarkPalette(palette) ? DarkShade(palette, 0.05, 0.04) : QColor(241, 245, 250);
}

QColor OddRowColour(const QPalette& palette) {
    return IsDarkPalette(palette) ? Base(palette) : QColor(255, 255, 255);
}

QColor HeaderBandColour(const QPalette& palette) {
    return IsDarkPalette(palette) ? palette.color(QPalette::Active, QPalette::Window)
                                  : QColor(251, 251, 253);
}

QColor HeaderLineColour(const QPalette& palette) {
    return IsDarkPalette(palette) ? DarkShade(palette, 0.15, 0.1) : QColor(236, 245, 255);
}

QColor SummaryBandColour(const QPalette& palette) {
    return IsDarkPalette(palette) ? DarkShade(palette, 0.04) : QColor(248, 248, 248);
}

QColor ItemBorderColour(const QPalette& palette) {
    return IsDarkPalette(palette) ? DarkShade(palette, 0.12) : QColor(238, 238, 238);
}

QColor EmptyPreviewColour(const QPalette& palette) {
    return IsDarkPalette(palette) ? DarkShade(palette, 0.06) : QColor(246, 247, 249);
}

}  // namespace corvane::app
