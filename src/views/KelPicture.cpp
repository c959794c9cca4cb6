#include "views/KelPicture.h"

#include <QCheckBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSplitter>
#include <QStatusBar>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <exception>
#include <vector>

#include "base/PlatformTexts.h"
#include "device/iPodDev.h"
#include "gui/Icons.h"
#include "gui/MessageBox.h"
#include "gui/Shell.h"
#include "gui/ThemeColours.h"
#include "gui/UiDispatcher.h"
#include "photo/ThumbnailLoader.h"
#include "photo/iPodPhoto.h"
#include "transfer/KelProgress.h"
#include "transfer/MusicTrans.h"
#include "views/PictureGridView.h"
#include "views/PictureListModel.h"
#include "views/TriStateBox.h"
#include "views/ViewFactory.h"
#include "views/ViewParts.h"

namespace corvane::views {
namespace {

constexpr int kHeaderHeight = 22;
constexpr int kCameraRollNode = -1;  // the node's data; albums carry their index

// The preview side the loader uses: a library without previews (or with a side no preview
// has) gets 100, the size its camera-roll previews are made in.
int PreviewSide(int side) {
    return side > 0 && side <= 1024 ? side : 100;
}

}  // namespace

std::unique_ptr<TDeviceView> CreatePhotoView(QWidget* owner, TIpodDevice& device) {
    return std::make_unique<TPicFrame>(owner, device);
}

TPicFrame::TPicFrame(QWidget* owner, TIpodDevice& device)
    : TDeviceView(owner), FDevice(device), FPhotoDb(std::make_unique<TIpodPhotoDb>(device, true)) {
    CreateControls();
    FModel->SetLibrary(FPhotoDb.get());
}

TPicFrame::~TPicFrame() {
    // The loader's last reports still run here, on a frame whose controls all exist.
    FLoader.reset();
    FModel->SetLibrary(nullptr);
    FPhotoDb.reset();
}

void TPicFrame::CreateControls() {
    setObjectName("PicFrame");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    Splitter1 = new QSplitter(Qt::Horizontal, this);

    PicList = CreateSideTree(Splitter1, "PicList", 20);
    PicList->setUniformRowHeights(true);
    FRootNode = new QTreeWidgetItem(PicList, QStringList{"Albums"});
    FRootNode->setIcon(0, app::Icon("albums"));
    FRootNode->setData(0, Qt::UserRole, 0);
    connect(PicList, &QTreeWidget::itemCollapsed, this, &TPicFrame::PicListCollapsing);

    auto* right = new QWidget(Splitter1);
    auto* rightLayout = new QVBoxLayout(right);
    rightLayout->setContentsMargins(0, 0, 0, 0);
    rightLayout->setSpacing(0);

    HeaderPnl = new QWidget(right);
    HeaderPnl->setObjectName("HeaderPnl");
    HeaderPnl->setFixedHeight(kHeaderHeight);
    HeaderPnl->setAutoFillBackground(true);
    SetColour(HeaderPnl, QPalette::Window, app::HeaderBandColour(HeaderPnl->palette()));
    auto* headerLayout = new QVBoxLayout(HeaderPnl);
    headerLayout->setContentsMargins(0, 0, 0, 0);
    headerLayout->setSpacing(0);
    auto* headerRow = new QHBoxLayout;
    headerRow->setContentsMargins(8, 0, 8, 0);
    FAllPicBox = new TTriStateBox("All pictures", HeaderPnl);
    AllPicCb = FAllPicBox;
    AllPicCb->setObjectName("AllPicCb");
    AllPicCb->setChecked(true);
    headerRow->addWidget(AllPicCb);
    headerRow->addStretch(1);
    headerLayout->addLayout(headerRow, 1);
    LineShp = new QFrame(HeaderPnl);
    LineShp->setObjectName("LineShp");
    LineShp->setFrameShape(QFrame::NoFrame);
    LineShp->setFixedHeight(1);
    LineShp->setAutoFillBackground(true);
    SetColour(LineShp, QPalette::Window, app::HeaderLineColour(LineShp->palette()));
    headerLayout->addWidget(LineShp);
    connect(AllPicCb, &QCheckBox::clicked, this, &TPicFrame::AllPicCbClick);

    PictureList = new TPictureGridView(right);
    PictureList->setObjectName("PictureList");
    KeepTextWhenInactive(PictureList);
    FModel = new TPictureListModel(PictureList);
    PictureList->setModel(FModel);
    connect(FModel, &TPictureListModel::ItemCheckChange, this,
            &TPicFrame::PictureListItemCheckChange);
    connect(PictureList, &TPictureGridView::VisibleRowsChanged, this, &TPicFrame::WantVisible);
    // The box above the grid follows the ticks of the shown pictures.
    connect(FModel, &QAbstractItemModel::dataChanged, this, &TPicFrame::ShowAllPicState);
    connect(FModel, &QAbstractItemModel::modelReset, this, &TPicFrame::ShowAllPicState);

    NotFoundLb = CreateOverlayLabel(PictureList->viewport(), "NotFoundLb");

    rightLayout->addWidget(HeaderPnl);
    rightLayout->addWidget(PictureList, 1);
    ArrangeSplitter(Splitter1, PicList, right);
    Sb = CreateStatusBar(this, SbPanel);

    layout->addWidget(Splitter1, 1);
    layout->addWidget(Sb);
}

void TPicFrame::SetStatus(const QString& text) {
    SbPanel->setText(text);
}

void TPicFrame::Populate() {
    // Previews at the density of the screen the window is on (twice the points at 2x).
    if (FPhotoDb)
        FPhotoDb->PreviewScale =
            std::clamp(static_cast<int>(std::ceil(devicePixelRatioF() - 0.05)), 1, 3);
    if (FPhotoDb && FPhotoDb->Load()) {
        SetCellSize();
        FillTree();
        StartThumbnails(false);
        return;
    }
    app::ShowMessage(this, "Either the photo library is empty or it cannot be accessed currently.",
                     app::TMessageKind::Information);
    SetStatus(QString());
    // Nothing is left to load: the main window must not keep asking the user to wait.
    FLoaded = true;
}

void TPicFrame::SetCellSize() {
    const QSize cell(PreviewSide(FPhotoDb->Photos.ThumbWidth),
                     PreviewSide(FPhotoDb->Photos.ThumbHeight));
    PictureList->SetThumbSize(cell);
    FModel->SetPreviewDensity(FPhotoDb->PreviewScale, cell);
}

void TPicFrame::FillTree() {
    disconnect(PicList, &QTreeWidget::currentItemChanged, this, nullptr);
    {
        const QSignalBlocker blocker(PicList);
        PicList->setCurrentItem(nullptr);
        const TPhotoAlbumList& albums = FPhotoDb->Albums;
        // Album 0 is the whole library, which the root shows.
        for (int i = 1; i < albums.Count(); ++i) {
            auto* node = new QTreeWidgetItem(
                FRootNode, QStringList{QString::fromStdString(albums.Items(i).Name)});
            node->setIcon(0, app::Icon("album"));
            node->setData(0, Qt::UserRole, i);
        }
        if (FDevice.HasDcim()) {
            FCameraNode = new QTreeWidgetItem(PicList, QStringList{"Camera roll"});
            FCameraNode->setIcon(0, app::Icon("camera-roll"));
            FCameraNode->setData(0, Qt::UserRole, kCameraRollNode);
        }
        PicList->expandAll();
    }
    // Usable while previews load: the camera roll is reached without waiting for the library.
    PicList->setEnabled(true);
    connect(PicList, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* current) { ShowNode(current); });
    PicList->setCurrentItem(FRootNode);
}

void TPicFrame::ShowNode(QTreeWidgetItem* node) {
    if (node == nullptr)
        return;
    if (node == FCameraNode) {
        // A camera folder whose listing gave nothing: the user can still look for himself.
        if (FPhotoDb->CameraPhotos.Count() == 0) {
            ShowCameraRollHint();
            PicList->setCurrentItem(FRootNode);
            return;
        }
        AllPicCb->setText(node->text(0));
        StatusText = FillList(-1);
    } else {
        AllPicCb->setText(node->text(0));
        StatusText = FillList(node->data(0, Qt::UserRole).toInt());
    }
    SetStatus(StatusText);
}

QString TPicFrame::FillList(int index) {
    PictureList->setUpdatesEnabled(false);
    std::vector<int> tags;
    const bool cameraRoll = index < 0;
    if (cameraRoll) {
        tags.resize(static_cast<size_t>(FPhotoDb->CameraPhotos.Count()));
        for (size_t i = 0; i < tags.size(); ++i)
            tags[i] = static_cast<int>(i);
    } else if (index < FPhotoDb->Albums.Count()) {
        const std::vector<int32_t>& members = FPhotoDb->Albums.Items(index).Members;
        tags.assign(members.begin(), members.end());
    }
    // An album (not the whole library) whose own name matches shows all of its pictures.
    const bool albumMatches = !cameraRoll && index > 0 && index < FPhotoDb->Albums.Count() &&
                              Matches(FPhotoDb->Albums.Items(index).Name);
    if (!FFilter.isEmpty() && !albumMatches) {
        std::erase_if(tags, [&](int tag) {
            if (cameraRoll)
                return !FPhotoDb->CameraPhotos.Has(tag) ||
                       !Matches(FPhotoDb->CameraPhotos.Items(tag).FileName);
            return !FPhotoDb->Photos.Has(tag) || !Matches(FPhotoDb->Photos.Items(tag).Name);
        });
    }
    FModel->Fill(cameraRoll, std::move(tags));
    PictureList->scrollToTop();
    if (FModel->rowCount() > 0)
        EnsureThumbnails(cameraRoll);
    PictureList->setUpdatesEnabled(true);
    WantVisible();
    NotFoundLb->setVisible(!FFilter.isEmpty() && FModel->rowCount() == 0);
    if (NotFoundLb->isVisible()) {
        NotFoundLb->setText("Not found: \u201c" + FFilter + "\u201d");
        NotFoundLb->resize(PictureList->viewport()->size());
    }
    return QString::number(FModel->rowCount()) + " pictures";
}

void TPicFrame::StartThumbnails(bool cameraRoll) {
    // A loader of the other list gives way; what it made stays and is not made again.
    FReplacing = true;
    FLoader.reset();
    FReplacing = false;
    FDevice.Busy = true;
    FLoading = true;
    FLoaded = false;
    FLoaderCameraRoll = cameraRoll;
    // The tree stays usable: the user may go to the camera roll while the library loads.
    AllPicCb->setEnabled(false);
    try {
        FLoader = std::make_unique<TLoadAllThumbnailThd>(
            FPhotoDb.get(), cameraRoll, [this](bool completed) { ThumbnailsDone(completed); },
            [this](int index, int total) { ThumbnailProgress(index, total); }, app::UiDispatcher());
    } catch (const std::exception&) {
        // No thread could be started: the view is usable without previews.
        FLoader.reset();
        ThumbnailsDone(false);
        return;
    }
    WantVisible();
}

void TPicFrame::EnsureThumbnails(bool cameraRoll) {
    // A list all of whose previews were made, a loader already at work on this list, or a
    // device gone start nothing.
    if (FListDone[cameraRoll ? 1 : 0] || FDeviceLost ||
        (FLoading && FLoaderCameraRoll == cameraRoll))
        return;
    StartThumbnails(cameraRoll);
}

void TPicFrame::WantVisible() {
    if (!FLoader || !FLoading || FModel->CameraRoll() != FLoaderCameraRoll)
        return;
    std::vector<int> tags;
    for (int row : PictureList->VisibleRows())
        tags.push_back(FModel->Tag(row));
    FLoader->Want(std::move(tags));
}

void TPicFrame::ThumbnailProgress(int index, int total) {
    const int count = FLoader ? FLoader->Count() - 1 : index;
    SetStatus("Loading preview:  " + QString::number(count) + " / " + QString::number(total));
    // The loader waits for this report, so a preview on screen is converted now, while the
    // lock is free; the rest are converted when drawn.
    const bool shown = FModel->CameraRoll() == FLoaderCameraRoll;
    const std::vector<int> rows = shown ? FModel->RowsOf(index) : std::vector<int>();
    bool onScreen = false;
    for (int row : rows)
        onScreen = onScreen || PictureList->RowOnScreen(row);
    FModel->PreviewChanged(FLoaderCameraRoll, index, onScreen);
    for (int row : rows)
        PictureList->update(FModel->index(row));
}

void TPicFrame::ThumbnailsDone(bool completed) {
    // The end of a loader that gives way to another is no end for the view.
    if (FReplacing)
        return;
    if (completed)
        FListDone[FLoaderCameraRoll ? 1 : 0] = true;
    FDevice.Busy = false;
    FLoading = false;
    FLoaded = true;
    SetStatus(completed ? StatusText : QString("Some pictures cannot be loaded this time"));
    PicList->setEnabled(true);
    AllPicCb->setEnabled(true);
}

void TPicFrame::PictureListItemCheckChange(int row, bool checked) {
    const int tag = FModel->Tag(row);
    if (FModel->CameraRoll()) {
        checked ? FPhotoDb->CameraPhotos.Check(tag) : FPhotoDb->CameraPhotos.Uncheck(tag);
    } else {
        checked ? FPhotoDb->Photos.Check(tag) : FPhotoDb->Photos.Uncheck(tag);
    }
}

void TPicFrame::AllPicCbClick(bool checked) {
    const int rows = FModel->rowCount();
    for (int row = 0; row < rows; ++row)
        PictureListItemCheckChange(row, checked);
    FModel->ChecksChanged();
}

void TPicFrame::ShowAllPicState() {
    const int rows = FModel->rowCount();
    int ticked = 0;
    for (int row = 0; row < rows; ++row)
        ticked += FModel->index(row).data(Qt::CheckStateRole).toInt() == Qt::Checked ? 1 : 0;
    FAllPicBox->ShowTicked(ticked, rows);
}

void TPicFrame::PicListCollapsing(QTreeWidgetItem* node) {
    node->setExpanded(true);
}

void TPicFrame::ShowCameraRollHint() {
    std::string name = FDevice.DisplayName();
    if (name.empty())
        name = "device";
    app::ShowMessage(this, QString::fromStdString(texts::CameraRollHint(name)),
                     app::TMessageKind::Information);
    // A mobile device has no folder on this computer to show.
    if (FDevice.IsIos())
        return;
    std::string folder = FDevice.DcimPath();
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    app::ShowInFileManager(QString::fromStdString(folder));
}

bool TPicFrame::Matches(const std::string& name) const {
    return FFilter.isEmpty() || QString::fromStdString(name).contains(FFilter, Qt::CaseInsensitive);
}

void TPicFrame::FilterText(const QString& text) {
    if (text == FFilter || !FPhotoDb)
        return;
    FFilter = text;
    // An album stays in the tree when its name or one of its pictures' names matches.
    for (int i = 0; i < FRootNode->childCount(); ++i) {
        QTreeWidgetItem* node = FRootNode->child(i);
        const int album = node->data(0, Qt::UserRole).toInt();
        bool keep = Matches(node->text(0).toStdString());
        if (!keep && album < FPhotoDb->Albums.Count()) {
            for (int32_t member : FPhotoDb->Albums.Items(album).Members)
                keep = keep || (FPhotoDb->Photos.Has(member) &&
                                Matches(FPhotoDb->Photos.Items(member).Name));
        }
        node->setHidden(!keep);
    }
    QTreeWidgetItem* current = PicList->currentItem();
    if (current != nullptr && current->isHidden()) {
        PicList->setCurrentItem(FRootNode);
        return;
    }
    if (current != nullptr)
        ShowNode(current);
}

bool TPicFrame::FindText(const QString& text) {
    // Every album is searched; the root (the whole library) and the camera roll are not albums.
    const QString wanted = text.toUpper();
    for (int i = 0; i < FRootNode->childCount(); ++i) {
        QTreeWidgetItem* node = FRootNode->child(i);
        if (node->text(0).toUpper().contains(wanted)) {
            PicList->setCurrentItem(node);
            return true;
        }
    }
    return false;
}

bool TPicFrame::StartTransfer() {
    if (FDevice.Busy) {
        app::ShowMessage(this, "Loading preview of pictures, please wait.",
                         app::TMessageKind::Information);
        return false;
    }
    if (!FPhotoDb)
        return false;
    const int cameraCount = FPhotoDb->CameraPhotos.CheckedCount;
    const int total = FPhotoDb->Photos.CheckedCount + cameraCount;
    if (total == 0) {
        app::ShowMessage(this,
                         "Please select photos you want to transfer by checking their checkboxes.",
                         app::TMessageKind::Information);
        return false;
    }
    QString summary = "Total " + QString::number(total) + " pictures";
    if (cameraCount > 0)
        summary += ", " + QString::number(cameraCount) + " pictures in camera roll";
    // The ticked pictures of the grid shown, each once.
    std::vector<int> shown;
    for (int row = 0; row < FModel->rowCount(); ++row) {
        const int tag = FModel->Tag(row);
        const bool ticked =
            FModel->CameraRoll()
                ? FPhotoDb->CameraPhotos.Has(tag) && FPhotoDb->CameraPhotos.Items(tag).Checked
                : FPhotoDb->Photos.Has(tag) && FPhotoDb->Photos.Items(tag).Checked;
        if (ticked)
            shown.push_back(tag);
    }
    std::sort(shown.begin(), shown.end());
    shown.erase(std::unique(shown.begin(), shown.end()), shown.end());
    const int shownCount = static_cast<int>(shown.size());

    std::string folder;
    bool shownOnly = false;
    {
        transfer::TTransForm form(this);
        form.Prepare(summary, false);
        // The whole library shown is what every tick means already.
        const QTreeWidgetItem* node = PicList->currentItem();
        if (node != nullptr && node != FRootNode && shownCount > 0 && shownCount < total)
            form.OfferShownOnly(node->text(0), QString::number(shownCount) +
                                                   (shownCount == 1 ? " picture" : " pictures"));
        if (form.DestEdt->text().isEmpty())
            form.DestEdt->setText(QString::fromStdString(FPhotoDb->DefaultDestination()));
        form.DestinationCheck = [this, &folder](std::string& chosen) {
            if (!FPhotoDb->PrepareDestination(chosen))
                return false;
            folder = chosen;
            return true;
        };
        if (form.exec() != QDialog::Accepted)
            return false;
        FPhotoDb->OrganizeByAlbum = form.Organize == transfer::TTransForm::kPhotoAlbumFolders;
        FPhotoDb->OrganizeByDate = form.Organize == transfer::TTransForm::kPhotoByDate;
        FPhotoDb->HeicToJpeg = form.HeicToJpeg();
        FPhotoDb->LiveVideo = form.LiveVideo();
        constexpr TEditedExport kEdited[] = {TEditedExport::AsEdited, TEditedExport::Originals,
                                             TEditedExport::Both};
        const int edited = form.EditedChoice();
        FPhotoDb->Edited = edited >= 0 && edited < 3 ? kEdited[edited] : TEditedExport::Both;
        shownOnly = form.ShownOnly();
    }
    // The device may have gone while the options were open.
    if (FDeviceLost)
        return false;
    // The shown pictures alone: every other tick is taken off for the transfer and put back
    // after it.
    std::vector<int> untickedPhotos;
    std::vector<int> untickedCamera;
    if (shownOnly) {
        const bool cameraShown = FModel->CameraRoll();
        auto untick = [&shown](auto& list, bool listShown, std::vector<int>& unticked) {
            for (int i = 0; i < list.Count(); ++i) {
                if (list.Items(i).Checked &&
                    !(listShown && std::binary_search(shown.begin(), shown.end(), i))) {
                    list.Uncheck(i);
                    unticked.push_back(i);
                }
            }
        };
        untick(FPhotoDb->Photos, !cameraShown, untickedPhotos);
        untick(FPhotoDb->CameraPhotos, cameraShown, untickedCamera);
    }
    auto progress = std::make_unique<transfer::TProgressDialog>(this);
    FProgress = progress.get();
    progress->Run(*FPhotoDb, QString::fromStdString(folder),
                  FPhotoDb->Photos.CheckedCount + FPhotoDb->CameraPhotos.CheckedCount, QString());
    for (int i : untickedPhotos)
        FPhotoDb->Photos.Check(i);
    for (int i : untickedCamera)
        FPhotoDb->CameraPhotos.Check(i);
    if (shownOnly)
        FModel->ChecksChanged();
    return true;
}

std::string TPicFrame::LogText() const {
    return FPhotoDb ? FPhotoDb->Log.Text() : std::string();
}

void TPicFrame::DeviceLost() {
    FDeviceLost = true;
    if (FLoader)
        FLoader->Terminate();
    if (FProgress && FProgress->Running())
        FProgress->DeviceLost();
}

}  // namespace corvane::views
