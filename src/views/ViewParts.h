// The parts both library views are built from: the tree on the left, the splitter between it
// and the list, and the status bar with its one centred panel.
#pragma once

#include <QPalette>

class QColor;
class QLabel;
class QSplitter;
class QStatusBar;
class QTreeWidget;
class QWidget;

namespace corvane::views {

// Width the tree starts with.
inline constexpr int kSideTreeWidth = 225;

// A borderless, read-only tree on the views' blue-grey, whole rows selected edge to edge, no
// expanding or collapsing by the user, 20-pixel icons; disabled until the library is shown.
QTreeWidget* CreateSideTree(QWidget* parent, const char* objectName, int indentation);

// Lays out tree | right side, the tree at its starting width and the right side stretching.
void ArrangeSplitter(QSplitter* splitter, QWidget* tree, QWidget* right);

// Gives widget the colour in role (its own palette; the style still draws the rest).
void SetColour(QWidget* widget, QPalette::ColorRole role, const QColor& colour);

// Text in the active window's colours while the window is in the background too: some dark
// themes grey out an inactive window's text to little more than its background's lightness,
// and the lists are read beside other windows.
void KeepTextWhenInactive(QWidget* widget);

// A hidden centred label over a list's viewport, in the placeholder colour, for what an empty
// list or a search without match shows.
QLabel* CreateOverlayLabel(QWidget* viewport, const char* objectName);

// A status bar with one centred panel reading "Loading ...".
QStatusBar* CreateStatusBar(QWidget* parent, QLabel*& panel);

}  // namespace corvane::views
