// The photo view: the album tree (and the device's camera roll) on the left, a grid of
// checkable previews of the selected node on the right, previews loaded in the background with
// a count in the status bar, and the photo transfer.
#pragma once

#include <QPointer>
#include <QString>
#include <memory>
#include <string>

#include "views/DeviceView.h"

class QCheckBox;
class QFrame;
class QLabel;
class QSplitter;
class QStatusBar;
class QTreeWidget;
class QTreeWidgetItem;

namespace corvane {
class TIpodDevice;
class TIpodPhotoDb;
class TLoadAllThumbnailThd;
}  // namespace corvane

namespace corvane::transfer {
class TProgressDialog;
}

namespace corvane::views {

class TPictureGridView;
class TPictureListModel;
class TTriStateBox;

class TPicFrame : public TDeviceView {
    Q_OBJECT
public:
    // Creates the frame and its photo library (camera roll included) over device.
    TPicFrame(QWidget* owner, TIpodDevice& device);
    // Stops and waits for the preview loader, empties the grid, then frees the library.
    ~TPicFrame() override;

    void Populate() override;
    bool Loaded() const override { return FLoaded; }
    bool StartTransfer() override;
    bool FindText(const QString& text) override;
    std::string LogText() const override;
    void DeviceLost() override;
    // Shows the pictures whose name holds text, all of an album whose name holds it, and
    // hides the albums with neither (empty text: everything).
    void FilterText(const QString& text) override;

    TIpodPhotoDb* PhotoDb() const { return FPhotoDb.get(); }
    TPictureListModel* PictureModel() const { return FModel; }
    // The summary of the shown node ("12 pictures").
    QString StatusText;

    // Controls (object names as the fields).
    QTreeWidget* PicList = nullptr;
    QSplitter* Splitter1 = nullptr;
    QWidget* HeaderPnl = nullptr;
    QCheckBox* AllPicCb = nullptr;
    QFrame* LineShp = nullptr;
    TPictureGridView* PictureList = nullptr;
    QStatusBar* Sb = nullptr;
    QLabel* SbPanel = nullptr;     // the status bar's one centred panel
    QLabel* NotFoundLb = nullptr;  // over the grid when the search leaves nothing

    // Handlers
    void ShowNode(QTreeWidgetItem* node);
    void PictureListItemCheckChange(int row, bool checked);
    void AllPicCbClick(bool checked);
    void PicListCollapsing(QTreeWidgetItem* node);
    void ThumbnailProgress(int index, int total);
    void ThumbnailsDone(bool completed);

private:
    void CreateControls();
    void SetCellSize();
    void FillTree();
    QString FillList(int index);
    // Starts a loader for the library or the camera roll, in place of any other.
    void StartThumbnails(bool cameraRoll);
    // Starts one for the list shown unless its previews are all made or being made.
    void EnsureThumbnails(bool cameraRoll);
    // Tells the loader which pictures are on screen, to be made first.
    void WantVisible();
    void ShowCameraRollHint();
    bool CameraRollShown() const;
    void SetStatus(const QString& text);
    void ShowAllPicState();
    bool Matches(const std::string& name) const;

    TIpodDevice& FDevice;
    // Declared before the loader, which uses it: the loader goes first.
    std::unique_ptr<TIpodPhotoDb> FPhotoDb;
    std::unique_ptr<TLoadAllThumbnailThd> FLoader;
    bool FLoaded = false;
    bool FLoading = false;               // a loader runs: from its start to its OnDone
    bool FLoaderCameraRoll = false;      // the list the last loader fills
    bool FListDone[2] = {false, false};  // library, camera roll: every preview made
    bool FReplacing = false;             // a loader is being stopped to start another
    bool FDeviceLost = false;
    QString FFilter;
    QPointer<transfer::TProgressDialog> FProgress;
    TPictureListModel* FModel = nullptr;
    TTriStateBox* FAllPicBox = nullptr;  // AllPicCb
    QTreeWidgetItem* FRootNode = nullptr;
    QTreeWidgetItem* FCameraNode = nullptr;
};

}  // namespace corvane::views
