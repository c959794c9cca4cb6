// The music view: the library's categories and playlists as a tree on the left, the tracks of
// the chosen node as a sortable, checkable list on the right, a status bar with the node's
// summary, search, and the start of a music transfer. It owns the music library.
#pragma once

#include <QPointer>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <unordered_map>

#include "views/DeviceView.h"

class QLabel;
class QMenu;
class QSplitter;
class QStatusBar;
class QTreeView;
class QTreeWidget;
class QTreeWidgetItem;

namespace corvane {
class TIpodDevice;
class TIpodMusicDb;
struct TTrackItem;
}  // namespace corvane

namespace corvane::transfer {
class TProgressDialog;
}

namespace corvane::views {

class TCheckHeader;
class TColumnSpreader;
class TCoverPane;
class TTrackListModel;

class TMediaFrame : public TDeviceView {
    Q_OBJECT
public:
    TMediaFrame(QWidget* owner, TIpodDevice& device);
    ~TMediaFrame() override;

    void Populate() override;
    bool Loaded() const override { return FLoaded; }
    bool StartTransfer() override;
    bool FindText(const QString& text) override;
    std::string LogText() const override;
    void DeviceLost() override;
    // Shows only the tracks whose title, artist or album holds text (all when empty).
    void FilterText(const QString& text) override;

    // Fills the tree and shows the root for a library already read: Populate's second half.
    // False, with nothing shown, when the library has no tracks.
    bool ShowLibrary();
    // Ticks (or clears) the tracks of the shown list only.
    void CheckAll(bool checked);
    // Sorts the list by a column as a header click does: ascending when the column is new,
    // the other way round on the next click of the same column.
    void MusicListHeaderClick(int column);

    const QString& StatusText() const { return FStatusText; }
    // Ticks or clears the selected rows: all as the first one is not, as Space does.
    void ToggleSelected();
    void SetSelectedChecked(bool checked);
    // The context menus of a row and of the header; MenuHook, when set, gets a menu in place
    // of showing it (tests pick their action from it).
    void RowMenu(const QPoint& at);
    void HeaderMenu(const QPoint& at);
    std::function<void(QMenu&)> MenuHook;
    int SortColumn() const { return FSortColumn; }
    Qt::SortOrder SortOrder() const { return FSortOrder; }

    std::unique_ptr<TIpodMusicDb> MusicDb;

    // Controls (object names as the fields), public for the main window and for tests.
    QTreeWidget* MediaList = nullptr;
    QSplitter* Splitter1 = nullptr;
    QTreeView* MusicList = nullptr;
    TCheckHeader* MusicHeader = nullptr;
    TTrackListModel* MusicModel = nullptr;
    QStatusBar* Sb = nullptr;
    QLabel* SbPanel = nullptr;
    QLabel* EmptyLb = nullptr;        // over an empty list: why it is empty
    TCoverPane* CoverPane = nullptr;  // the selected track's album art, below the tree

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ShowTicks();
    void ShowEmpty(const QString& nodeName);
    bool Matches(const TTrackItem& track) const;
    void RunMenu(QMenu& menu, const QPoint& globalAt);
    void CreateTree();
    void CreateList();
    void FillTree();
    void ShowNode(QTreeWidgetItem* node);
    QString FillList(int index);
    void MediaListCollapsing(QTreeWidgetItem* node);
    void MusicListDoubleClick(const QModelIndex& index);
    void SetStatus(const QString& text);

    bool FLoaded = false;
    QString FStatusText;
    QString FFilter;
    TColumnSpreader* FSpreader = nullptr;
    int FSortColumn = -1;
    Qt::SortOrder FSortOrder = Qt::AscendingOrder;
    // Pid -> first track with it, built once the library is read: playlists list in
    // linear time.
    std::unordered_map<int64_t, int> FPidIndex;
    // The progress dialog of the running transfer, told to stop when the device goes away.
    QPointer<transfer::TProgressDialog> FProgress;
};

}  // namespace corvane::views
