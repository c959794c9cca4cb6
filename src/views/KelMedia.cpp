#include "views/KelMedia.h"

#include <QAction>
#include <QEvent>
#include <QFont>
#include <QFontMetrics>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMenu>
#include <QPalette>
#include <QSignalBlocker>
#include <QSplitter>
#include <QStatusBar>
#include <QTreeView>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <numeric>

#include "device/iPodDev.h"
#include "gui/Icons.h"
#include "gui/MessageBox.h"
#include "gui/Shell.h"
#include "music/iPodMusic.h"
#include "views/ColumnSpreader.h"
#include "views/CoverPane.h"
#include "views/MediaCheckHeader.h"
#include "views/MediaTrackDelegate.h"
#include "views/TrackListModel.h"
#include "views/ViewFactory.h"
#include "views/ViewParts.h"

namespace corvane::views {

namespace {

constexpr int kTreeIndent = 19;
constexpr int kTreeRowHeight = 26;
constexpr int kRowHeight = 20;
constexpr int kHeaderHeight = 22;
// Room a cell or a header section takes beside its text, on both sides together.
constexpr int kCellMargins = 16;

// The fixed children of the root, in the order FillList numbers them (the media kinds).
struct TCategory {
    const char* Caption;
    const char* Icon;
};
constexpr TCategory kCategories[] = {{"Music", "music"},
                                     {"Movies", "movies"},
                                     {"Books", "books"},
                                     {"Tones", "tones"},
                                     {"Voice memos", "tones"}};
constexpr int kCategoryCount = 5;

// Column widths; Name takes the rest.
struct TColumnWidth {
    int Column;
    int Width;
};
constexpr TColumnWidth kColumnWidths[] = {
    {tcMark, 22}, {tcTime, 60}, {tcSize, 80}, {tcRating, 80}, {tcPlays, 50}};
// The text columns share the spare width in proportion to these.
const std::vector<std::pair<int, int>> kTextColumns = {
    {tcName, 200}, {tcArtist, 120}, {tcAlbum, 120}, {tcGenre, 50}, {tcKind, 70}};

QString TrackCount(size_t count) {
    return QString::number(count) + (count == 1 ? " track" : " tracks");
}

QTreeWidgetItem* AddNode(QTreeWidgetItem* parent, const QString& caption, const char* icon) {
    auto* node = new QTreeWidgetItem(parent, QStringList{caption});
    node->setIcon(0, app::Icon(icon));
    node->setSizeHint(0, QSize(1, kTreeRowHeight));  // a width below 0 drops the hint
    return node;
}

QString SizeText(int64_t bytes) {
    return QString::fromStdString(TIpodDevice::FormatSize(bytes));
}

}  // namespace

std::unique_ptr<TDeviceView> CreateMusicView(QWidget* owner, TIpodDevice& device) {
    return std::make_unique<TMediaFrame>(owner, device);
}

TMediaFrame::TMediaFrame(QWidget* owner, TIpodDevice& device)
    : TDeviceView(owner), MusicDb(std::make_unique<TIpodMusicDb>(device)) {
    setObjectName("MediaFrame");
    CreateTree();
    CreateList();

    // The tree with the selected track's cover below it, as music players show it.
    auto* side = new QWidget(this);
    auto* sideLayout = new QVBoxLayout(side);
    sideLayout->setContentsMargins(0, 0, 0, 0);
    sideLayout->setSpacing(0);
    sideLayout->addWidget(MediaList, 1);
    CoverPane = new TCoverPane(side, *MusicDb);
    CoverPane->Follow(MusicList->selectionModel(), MusicModel);
    sideLayout->addWidget(CoverPane);

    Splitter1 = new QSplitter(Qt::Horizontal, this);
    ArrangeSplitter(Splitter1, side, MusicList);
    Sb = CreateStatusBar(this, SbPanel);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(Splitter1, 1);
    layout->addWidget(Sb);
}

TMediaFrame::~TMediaFrame() {
    // The widgets outlive this body; the list lets go of the library before it is freed.
    MusicModel->SetRows({});
    MusicDb.reset();
}

void TMediaFrame::CreateTree() {
    MediaList = CreateSideTree(this, "MediaList", kTreeIndent);

    QTreeWidgetItem* root = AddNode(MediaList->invisibleRootItem(), "Library", "library");
    for (const TCategory& category : kCategories)
        AddNode(root, category.Caption, category.Icon);
    MediaList->expandItem(root);

    connect(MediaList, &QTreeWidget::itemCollapsed, this, &TMediaFrame::MediaListCollapsing);
    connect(MediaList, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* current, QTreeWidgetItem*) { ShowNode(current); });
}

void TMediaFrame::CreateList() {
    MusicList = new QTreeView(this);
    MusicList->setObjectName("MusicList");
    KeepTextWhenInactive(MusicList);
    MusicModel = new TTrackListModel(MusicDb->Tracks, this);
    MusicHeader = new TCheckHeader(tcName, kHeaderHeight, MusicList);
    MusicHeader->setObjectName("MusicHeader");
    KeepTextWhenInactive(MusicHeader);
    MusicList->setHeader(MusicHeader);
    MusicList->setModel(MusicModel);
    MusicList->setItemDelegate(new TTrackDelegate(kRowHeight, MusicList));
    MusicList->setRootIsDecorated(false);
    MusicList->setItemsExpandable(false);
    MusicList->setExpandsOnDoubleClick(false);
    MusicList->setIndentation(0);
    MusicList->setUniformRowHeights(true);
    MusicList->setFrameShape(QFrame::NoFrame);
    MusicList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    MusicList->setSelectionBehavior(QAbstractItemView::SelectRows);
    MusicList->setAllColumnsShowFocus(true);
    MusicList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    MusicList->setIconSize(QSize(10, 10));
    MusicList->setEnabled(false);

    // Set after setHeader, which makes the sections clickable only with built-in sorting.
    MusicHeader->setSectionsClickable(true);
    MusicHeader->setSectionsMovable(false);
    MusicHeader->setStretchLastSection(false);
    MusicHeader->setDefaultSectionSize(50);
    MusicHeader->setMinimumSectionSize(22);
    MusicHeader->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    for (const TColumnWidth& column : kColumnWidths)
        MusicHeader->resizeSection(column.Column, column.Width);
    MusicHeader->setSectionResizeMode(tcMark, QHeaderView::Fixed);
    FSpreader = new TColumnSpreader(MusicHeader, MusicList->viewport(), kTextColumns);
    // A narrow list elides the names, never a column's caption, and never the kind, which is
    // a word or two.
    QFont captionFont = MusicHeader->font();
    captionFont.setBold(true);
    const QFontMetrics captions(captionFont);
    for (const auto& [column, width] : kTextColumns) {
        int floor = captions.horizontalAdvance(
            MusicModel->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString());
        if (column == tcKind)
            for (const QString& kind : TTrackListModel::KindTexts())
                floor = std::max(floor, MusicList->fontMetrics().horizontalAdvance(kind));
        FSpreader->SetFloor(column, floor + kCellMargins);
    }
    MusicHeader->setSortIndicatorShown(false);
    MusicHeader->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(MusicHeader, &QWidget::customContextMenuRequested, this, &TMediaFrame::HeaderMenu);
    MusicList->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(MusicList, &QWidget::customContextMenuRequested, this, &TMediaFrame::RowMenu);

    // Space ticks or clears the selected rows, as the first of them says.
    auto* toggle = new QAction("Tick or untick", MusicList);
    toggle->setShortcut(Qt::Key_Space);
    toggle->setShortcutContext(Qt::WidgetShortcut);
    MusicList->addAction(toggle);
    connect(toggle, &QAction::triggered, this, &TMediaFrame::ToggleSelected);

    // What an empty category or a search without match shows over the list.
    EmptyLb = CreateOverlayLabel(MusicList->viewport(), "EmptyLb");
    MusicList->viewport()->installEventFilter(this);

    // The header box and the status bar follow every change of a tick.
    connect(MusicModel, &QAbstractItemModel::dataChanged, this, &TMediaFrame::ShowTicks);
    connect(MusicModel, &QAbstractItemModel::modelReset, this, &TMediaFrame::ShowTicks);

    connect(MusicHeader, &TCheckHeader::CheckClicked, this, &TMediaFrame::CheckAll);
    connect(MusicHeader, &QHeaderView::sectionClicked, this, &TMediaFrame::MusicListHeaderClick);
    connect(MusicList, &QTreeView::doubleClicked, this, &TMediaFrame::MusicListDoubleClick);
}

void TMediaFrame::Populate() {
    // An exception from the readers passes on to the caller; Loaded stays false.
    if (MusicDb)
        MusicDb->Load(true);
    if (ShowLibrary())
        return;
    app::ShowMessage(this, "Either the media library is empty or it cannot be accessed currently.",
                     app::TMessageKind::Information);
    FStatusText.clear();
    SetStatus(FStatusText);
    // Loading is over even though nothing can be shown: the main window would otherwise wait
    // for it for ever and refuse to switch to the photos of a device without music.
    FLoaded = true;
}

bool TMediaFrame::ShowLibrary() {
    if (!MusicDb || MusicDb->Tracks.Count() == 0)
        return false;
    FPidIndex = MusicDb->Tracks.PidIndex();
    FillTree();
    MediaList->setEnabled(true);
    MusicList->setEnabled(true);
    FLoaded = true;
    return true;
}

void TMediaFrame::FillTree() {
    QTreeWidgetItem* root = MediaList->topLevelItem(0);
    {
        const QSignalBlocker detached(MediaList);
        while (root->childCount() > kCategoryCount)
            std::unique_ptr<QTreeWidgetItem>(root->takeChild(kCategoryCount));
        // Index 0 is the library itself.
        for (int i = 1; i < MusicDb->PlayLists.Count(); ++i) {
            const TPlayListItem& list = MusicDb->PlayLists.Items(i);
            AddNode(root, QString::fromStdString(list.Name),
                    list.IsSmart ? "smart-playlist" : "playlist");
        }
        MediaList->setCurrentItem(nullptr);
    }
    MediaList->setCurrentItem(root);
}

void TMediaFrame::ShowNode(QTreeWidgetItem* node) {
    if (node == nullptr)
        return;
    QTreeWidgetItem* root = MediaList->topLevelItem(0);
    FStatusText = node == root ? FillList(-1) : FillList(root->indexOfChild(node));
    ShowTicks();
    ShowEmpty(node->text(0));
}

void TMediaFrame::FilterText(const QString& text) {
    if (text == FFilter)
        return;
    FFilter = text;
    if (FLoaded && MediaList->isEnabled())
        ShowNode(MediaList->currentItem());
}

bool TMediaFrame::Matches(const TTrackItem& track) const {
    if (FFilter.isEmpty())
        return true;
    for (const std::string* field : {&track.Title, &track.Artist, &track.Album}) {
        if (QString::fromStdString(*field).contains(FFilter, Qt::CaseInsensitive))
            return true;
    }
    return false;
}

void TMediaFrame::ShowEmpty(const QString& nodeName) {
    if (MusicModel->rowCount() > 0) {
        EmptyLb->hide();
        return;
    }
    EmptyLb->setText(FFilter.isEmpty() ? "No tracks in " + nodeName
                                       : "Not found: \u201c" + FFilter + "\u201d in " + nodeName);
    EmptyLb->resize(MusicList->viewport()->size());
    EmptyLb->show();
}

void TMediaFrame::ShowTicks() {
    int ticked = 0;
    int64_t tickedSize = 0;
    const int count = MusicModel->rowCount();
    for (int row = 0; row < count; ++row) {
        const TTrackItem* track = MusicModel->TrackAt(row);
        if (track && track->Checked) {
            ++ticked;
            tickedSize += track->FileSize;
        }
    }
    if (count > 0)
        MusicHeader->SetState(ticked == count ? Qt::Checked
                              : ticked > 0    ? Qt::PartiallyChecked
                                              : Qt::Unchecked);
    if (count == 0 || ticked == count) {
        SetStatus(FStatusText);
        return;
    }
    SetStatus(FStatusText + "  \u2013  " + QString::number(ticked) + " of " +
              QString::number(count) + " ticked, " + SizeText(tickedSize));
}

void TMediaFrame::ToggleSelected() {
    const QModelIndexList rows = MusicList->selectionModel()->selectedRows();
    if (rows.isEmpty())
        return;
    const TTrackItem* first = MusicModel->TrackAt(rows.front().row());
    SetSelectedChecked(first == nullptr || !first->Checked);
}

void TMediaFrame::SetSelectedChecked(bool checked) {
    std::vector<int> rows;
    for (const QModelIndex& index : MusicList->selectionModel()->selectedRows())
        rows.push_back(index.row());
    MusicModel->SetChecked(rows, checked);
}

void TMediaFrame::RowMenu(const QPoint& at) {
    const QModelIndex index = MusicList->indexAt(at);
    if (!index.isValid())
        return;
    const int row = index.row();
    const TTrackItem* track = MusicModel->TrackAt(row);
    if (track == nullptr)
        return;
    QMenu menu(this);
    menu.addAction("Tick", this, [this, row] { MusicModel->SetChecked(row, true); })
        ->setEnabled(!track->Checked);
    menu.addAction("Untick", this, [this, row] { MusicModel->SetChecked(row, false); })
        ->setEnabled(track->Checked);
    menu.addAction("Tick selected", this, [this] { SetSelectedChecked(true); });
    menu.addAction("Untick selected", this, [this] { SetSelectedChecked(false); });
    menu.addSeparator();
    const QString copied =
        track->TransferState > 0 ? QString::fromStdString(track->DestPath) : QString();
    menu.addAction("Show in folder", this, [copied] { app::ShowInFileManager(copied); })
        ->setEnabled(!copied.isEmpty());
    RunMenu(menu, MusicList->viewport()->mapToGlobal(at));
}

void TMediaFrame::HeaderMenu(const QPoint& at) {
    QMenu menu(this);
    // The mark and Name always stay.
    for (int column = tcTime; column < tcColumnCount; ++column) {
        QAction* action = menu.addAction(
            MusicModel->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString());
        action->setCheckable(true);
        action->setChecked(!MusicHeader->isSectionHidden(column));
        connect(action, &QAction::toggled, this, [this, column](bool shown) {
            MusicHeader->setSectionHidden(column, !shown);
            FSpreader->Spread();
        });
    }
    RunMenu(menu, MusicHeader->mapToGlobal(at));
}

void TMediaFrame::RunMenu(QMenu& menu, const QPoint& globalAt) {
    if (MenuHook) {
        MenuHook(menu);
        return;
    }
    menu.exec(globalAt);
}

bool TMediaFrame::eventFilter(QObject* watched, QEvent* event) {
    if (watched == MusicList->viewport() && event->type() == QEvent::Resize)
        EmptyLb->resize(MusicList->viewport()->size());
    return TDeviceView::eventFilter(watched, event);
}

QString TMediaFrame::FillList(int index) {
    const TTrackList& tracks = MusicDb->Tracks;
    std::vector<int> rows;
    int64_t size = 0;
    auto addKind = [&](TMediaKind kind) {
        int i = 0;
        for (const TTrackItem& track : tracks) {
            if (track.Kind == kind && Matches(track)) {
                rows.push_back(i);
                size += track.FileSize;
            }
            ++i;
        }
    };
    if (index < 0 && !FFilter.isEmpty()) {
        int i = 0;
        for (const TTrackItem& track : tracks) {
            if (Matches(track)) {
                rows.push_back(i);
                size += track.FileSize;
            }
            ++i;
        }
    } else if (index < 0) {
        rows.resize(static_cast<size_t>(tracks.Count()));
        std::iota(rows.begin(), rows.end(), 0);
        size = MusicDb->TotalSize;
    } else if (index < kCategoryCount) {
        addKind(static_cast<TMediaKind>(index));
    } else if (MusicDb->PlayLists.Has(index - kCategoryCount + 1)) {
        const TPlayListItem& list = MusicDb->PlayLists.Items(index - kCategoryCount + 1);
        if (list.IsVoiceMemos) {
            addKind(mkVoiceMemo);
        } else {
            // An entry listed twice gives two rows; one without a track gives none.
            rows.reserve(list.TrackPids.size());
            for (uint64_t pid : list.TrackPids) {
                auto found = FPidIndex.find(static_cast<int64_t>(pid));
                if (found == FPidIndex.end() || !Matches(tracks.Items(found->second)))
                    continue;
                rows.push_back(found->second);
                size += tracks.Items(found->second).FileSize;
            }
        }
    }
    const size_t count = rows.size();
    MusicList->setUpdatesEnabled(false);
    MusicModel->SetRows(std::move(rows));
    // The chosen order holds for every node, as the header shows it.
    if (FSortColumn >= 0)
        MusicModel->sort(FSortColumn, FSortOrder);
    MusicList->setUpdatesEnabled(true);
    return TrackCount(count) + " " + SizeText(size);
}

bool TMediaFrame::FindText(const QString& text) {
    const int count = MusicModel->rowCount();
    if (!MediaList->isEnabled() || count == 0)
        return false;
    const QString wanted = text.toUpper();
    auto matches = [&wanted](const std::string& field) {
        return QString::fromStdString(field).toUpper().contains(wanted);
    };
    QItemSelectionModel* selection = MusicList->selectionModel();
    int selected = -1;  // the first selected row
    for (const QItemSelectionRange& range : selection->selection()) {
        if (selected < 0 || range.top() < selected)
            selected = range.top();
    }
    // From the row after the selection round to it; without a selection, to the end only.
    int row = (selected < 0 || selected == count - 1) ? 0 : selected + 1;
    int found = -1;
    while (row != selected) {
        const TTrackItem* track = MusicModel->TrackAt(row);
        if (track && (matches(track->Title) || matches(track->Album) || matches(track->Artist))) {
            found = row;
            break;
        }
        if (++row == count) {
            if (selected < 0)
                break;
            row = 0;
        }
    }
    if (found < 0)
        return false;
    if (selected >= 0)
        selection->select(MusicModel->index(selected, 0),
                          QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
    const QModelIndex match = MusicModel->index(found, 0);
    selection->setCurrentIndex(match, QItemSelectionModel::Select | QItemSelectionModel::Rows);
    MusicList->scrollTo(match, QAbstractItemView::PositionAtCenter);
    return true;
}

void TMediaFrame::MediaListCollapsing(QTreeWidgetItem* node) {
    MediaList->expandItem(node);
}

void TMediaFrame::MusicListDoubleClick(const QModelIndex& index) {
    if (index.isValid())
        MusicModel->ToggleChecked(index.row());
}

void TMediaFrame::CheckAll(bool checked) {
    MusicModel->CheckAll(checked);
    MusicList->viewport()->update();
    ShowTicks();
}

void TMediaFrame::MusicListHeaderClick(int column) {
    if (column < 0 || column >= tcColumnCount)
        return;
    if (column != FSortColumn) {
        FSortColumn = column;
        FSortOrder = Qt::AscendingOrder;
    } else {
        FSortOrder = FSortOrder == Qt::AscendingOrder ? Qt::DescendingOrder : Qt::AscendingOrder;
    }
    MusicHeader->setSortIndicatorShown(true);
    MusicHeader->setSortIndicator(FSortColumn, FSortOrder);
    MusicModel->sort(FSortColumn, FSortOrder);
}

void TMediaFrame::SetStatus(const QString& text) {
    SbPanel->setText(text);
}

}  // namespace corvane::views
