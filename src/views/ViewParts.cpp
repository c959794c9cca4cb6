#include "views/ViewParts.h"

#include <QColor>
#include <QLabel>
#include <QPalette>
#include <QSplitter>
#include <QStatusBar>
#include <QTreeWidget>

#include "gui/ThemeColours.h"

namespace corvane::views {

QTreeWidget* CreateSideTree(QWidget* parent, const char* objectName, int indentation) {
    auto* tree = new QTreeWidget(parent);
    tree->setObjectName(objectName);
    tree->setColumnCount(1);
    tree->setHeaderHidden(true);
    tree->setFrameShape(QFrame::NoFrame);
    tree->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tree->setSelectionMode(QAbstractItemView::SingleSelection);
    tree->setSelectionBehavior(QAbstractItemView::SelectRows);
    tree->setRootIsDecorated(false);
    tree->setItemsExpandable(false);
    tree->setExpandsOnDoubleClick(false);
    tree->setIndentation(indentation);
    tree->setIconSize(QSize(20, 20));
    tree->setMinimumWidth(120);
    // The selection covers the indentation too, so a row is highlighted edge to edge.
    tree->setStyleSheet(
        "QTreeView { padding-top: 4px; show-decoration-selected: 1; }"
        "QTreeView::item { min-height: 26px; }"
        "QTreeView::item:selected, QTreeView::branch:selected {"
        " background: palette(highlight); color: palette(highlighted-text); }");
    const QColor background = app::SideTreeColour(tree->palette());
    SetColour(tree, QPalette::Base, background);
    SetColour(tree, QPalette::Window, background);
    KeepTextWhenInactive(tree);
    tree->setAutoFillBackground(true);
    tree->setEnabled(false);
    return tree;
}

void SetColour(QWidget* widget, QPalette::ColorRole role, const QColor& colour) {
    QPalette palette = widget->palette();
    palette.setColor(role, colour);
    widget->setPalette(palette);
}

void KeepTextWhenInactive(QWidget* widget) {
    QPalette palette = widget->palette();
    for (QPalette::ColorRole role : {QPalette::Text, QPalette::WindowText, QPalette::ButtonText})
        palette.setColor(QPalette::Inactive, role, palette.color(QPalette::Active, role));
    widget->setPalette(palette);
}

void ArrangeSplitter(QSplitter* splitter, QWidget* tree, QWidget* right) {
    splitter->setObjectName("Splitter1");
    splitter->setChildrenCollapsible(false);
    splitter->setHandleWidth(1);
    splitter->addWidget(tree);
    splitter->addWidget(right);
    splitter->setStretchFactor(0, 0);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({kSideTreeWidth, 4 * kSideTreeWidth});
}

QLabel* CreateOverlayLabel(QWidget* viewport, const char* objectName) {
    auto* label = new QLabel(viewport);
    label->setObjectName(objectName);
    label->setAlignment(Qt::AlignCenter);
    label->setForegroundRole(QPalette::PlaceholderText);
    label->hide();
    return label;
}

QStatusBar* CreateStatusBar(QWidget* parent, QLabel*& panel) {
    auto* bar = new QStatusBar(parent);
    bar->setObjectName("Sb");
    bar->setSizeGripEnabled(false);
    panel = new QLabel("Loading ...", bar);
    panel->setObjectName("SbPanel");
    panel->setAlignment(Qt::AlignCenter);
    bar->addWidget(panel, 1);
    return bar;
}

}  // namespace corvane::views
