#include "views/KelMedia.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPalette>
#include <QSignalBlocker>
#include <QSplitter>
#include <QStatusBar>
#include <QTreeView>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <numeric>

#include "device/iPodDev.h"
#include "gui/Icons.h"
#include "gui/MessageBox.h"
#include "music/iPodMusic.h"
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

// The fixed children of the root, in the order FillList numbers them (the media kinds).
struct TCategory {
    const char* Caption;
    const char* Icon;
};
constexpr TCategory kCategories[] = {
    {"Music", "music"}, {"Movies", "movies"}, {"Books", "books"}, {"Tones", "tones"}};
constexpr int kCategoryCount = 4;

// Column widths; Name takes the rest.
struct TColumnWidth {
    int Column;
    int Width;
};
constexpr TColumnWidth kColumnWidths[] = {{tcMark, 22},   {tcTime, 60},  {tcArtist, 120},
                                          {tcAlbum, 120}, {tcGenre, 50}, {tcSize, 80}};

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
    MusicModel = new TTrackListModel(MusicDb->Tracks, this);
    MusicHeader = new TCheckHeader(tcName, kHeaderHeight, MusicList);
    MusicHeader->setObjectName("MusicHeader");
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
    MusicHeader->setSectionResizeMode(tcName, QHeaderView::Stretch);
    MusicHeader->setSortIndicatorShown(false);

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
    SetStatus(FStatusText);
}

QString TMediaFrame::FillList(int index) {
    const TTrackList& tracks = MusicDb->Tracks;
    std::vector<int> rows;
    int64_t size = 0;
    auto addKind = [&](TMediaKind kind) {
        int i = 0;
        for (const TTrackItem& track : tracks) {
            if (track.Kind == kind) {
                rows.push_back(i);
                size += track.FileSize;
            }
            ++i;
        }
    };
    if (index < 0) {
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
                if (found == FPidIndex.end())
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
    return QString::number(count) + " tracks " + SizeText(size);
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
