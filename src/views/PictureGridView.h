// The picture grid: a list view in icon mode over TPictureListModel, cells drawn by
// TPictureGridDelegate, several pictures selectable with a rubber band; Space ticks or unticks
// every selected picture at once.
#pragma once

#include <QListView>
#include <vector>

namespace corvane::views {

class TPictureGridDelegate;

class TPictureGridView : public QListView {
    Q_OBJECT
public:
    explicit TPictureGridView(QWidget* parent = nullptr);

    TPictureGridDelegate* Delegate() const { return FDelegate; }
    // Cells for previews of thumb size, with two lines of the view's text below.
    void SetThumbSize(QSize thumb);
    // Whether row is at least partly inside the visible part of the grid.
    bool RowOnScreen(int row) const;
    // The rows at least partly on screen, top left first; costs what the screen holds, not
    // what the grid holds.
    std::vector<int> VisibleRows() const;

signals:
    // The grid was scrolled, resized or laid out again: other rows may be on screen.
    void VisibleRowsChanged();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void resizeEvent(QResizeEvent* event) override;
    void updateGeometries() override;

private:
    TPictureGridDelegate* FDelegate;
};

}  // namespace corvane::views
