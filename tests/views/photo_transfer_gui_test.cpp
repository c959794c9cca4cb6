// A photo transfer as the user makes it: the photo view over the demo iPod, one camera-roll
// file ticked, the options dialog, the progress dialog to its end; pictures arrive in album
// folders or flat, as chosen, and the camera-roll file in its own folder.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <filesystem>
#include <memory>
#include <set>

#include "device/iPodDev.h"
#include "fixtures/DemoPhotos.h"
#include "fixtures/DeviceSessions.h"
#include "fixtures/ModernPhotoLibrary.h"
#include "fixtures/TempDir.h"
#include "gui/GuiTestSupport.h"
#include "photo/iPodPhoto.h"
#include "transfer/KelProgress.h"
#include "transfer/MusicTrans.h"
#include "views/KelPicture.h"
#include "views/PictureListModel.h"

namespace corvane::views {
namespace {

namespace fs = std::filesystem;
using namespace corvane::testing;

// Folder (relative to the destination, "" for the destination itself) of every file written.
std::multiset<std::string> FoldersOfFiles(const std::string& root) {
    std::multiset<std::string> folders;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.is_regular_file())
            folders.insert(fs::relative(entry.path().parent_path(), root).generic_string());
    }
    return folders;
}

TEST(PhotoTransfer, PicturesGoIntoAlbumFoldersOrFlatWithTheTickedCameraFile) {
    struct TCase {
        int Organize;
        bool ByAlbum;
    };
    for (const TCase c : {TCase{0, true}, TCase{1, false}}) {
        SCOPED_TRACE(c.Organize);
        TMessageRecorder messages;
        TShellRecorder shell;
        TTempDir root;
        TTempDir dest;
        BuildDemoIpodPhotos(root.Path());
        std::unique_ptr<TIpodDevice> device = DiskDevice(root.Path());
        TPicFrame frame(nullptr, *device);
        frame.resize(900, 600);
        frame.show();
        frame.Populate();
        ASSERT_TRUE(WaitUntil([&] { return frame.Loaded(); }));

        // The camera roll's first visit loads its previews; its files start unticked.
        const auto camera = frame.PicList->findItems("Camera roll", Qt::MatchExactly);
        ASSERT_EQ(camera.size(), 1);
        frame.PicList->setCurrentItem(camera.first());
        ASSERT_TRUE(WaitUntil([&] { return frame.Loaded(); }));
        ASSERT_GT(frame.PictureModel()->rowCount(), 0);
        frame.PictureModel()->setData(frame.PictureModel()->index(0), Qt::Checked,
                                      Qt::CheckStateRole);
        frame.PicList->setCurrentItem(frame.PicList->topLevelItem(0));

        const int photos = static_cast<int>(frame.PhotoDb()->Photos.CheckedCount);
        ASSERT_GT(photos, 0);
        QString summary;
        int barMaximum = 0;
        WhenDialogShown<transfer::TTransForm>([&](transfer::TTransForm* options) {
            summary = options->InfoLb->text();
            options->DestEdt->setText(QString::fromStdString(dest.Path()));
            options->FormatCb->setCurrentIndex(c.Organize);
            options->OKBtn->click();
            WhenDialogShown<transfer::TProgressDialog>([&](transfer::TProgressDialog* progress) {
                barMaximum = progress->Pb->maximum();
                PressDoneAtTheEnd(progress);
            });
        });
        ASSERT_TRUE(frame.StartTransfer());

        EXPECT_EQ(summary, "Transfer selected Total " + QString::number(photos + 1) +
                               " pictures, 1 pictures in camera roll");
        EXPECT_EQ(barMaximum, transfer::TProgressDialog::kBarSteps);
        EXPECT_TRUE(messages.Shown.empty()) << messages.Texts().join(" | ").toStdString();
        const std::multiset<std::string> folders = FoldersOfFiles(dest.Path());
        EXPECT_EQ(folders.count("Camera_Roll"), 1u);
        if (c.ByAlbum) {
            // Every photo sits in the folder of each album it belongs to, none at the top.
            EXPECT_EQ(folders.count("."), 0u);
            EXPECT_GE(folders.size(), static_cast<size_t>(photos) + 1);
        } else {
            EXPECT_EQ(folders.count("."), static_cast<size_t>(photos));
            EXPECT_EQ(folders.size(), static_cast<size_t>(photos) + 1);
        }
        ASSERT_EQ(shell.Requests.size(), 1u);
        EXPECT_EQ(shell.Requests[0].Action, app::TShellAction::OpenFolder);
        EXPECT_NE(frame.LogText().find("Copy pictures: " + std::to_string(photos) + " of "),
                  std::string::npos)
            << frame.LogText();
    }
}

TEST(PhotoTransfer, FromAnAlbumItsTickedPicturesAloneAreOfferedAndTheOthersKept) {
    TMessageRecorder messages;
    TShellRecorder shell;
    TTempDir root;
    TTempDir dest;
    BuildDemoIpodPhotos(root.Path());
    std::unique_ptr<TIpodDevice> device = DiskDevice(root.Path());
    TPicFrame frame(nullptr, *device);
    frame.resize(900, 600);
    frame.show();
    frame.Populate();
    ASSERT_TRUE(WaitUntil([&] { return frame.Loaded(); }));
    TIpodPhotoDb& photos = *frame.PhotoDb();
    const int ticked = photos.Photos.CheckedCount;
    QTreeWidgetItem* album = frame.PicList->topLevelItem(0)->child(0);
    ASSERT_NE(album, nullptr);
    frame.PicList->setCurrentItem(album);
    std::set<int> members;
    for (int row = 0; row < frame.PictureModel()->rowCount(); ++row)
        members.insert(frame.PictureModel()->Tag(row));
    ASSERT_GT(members.size(), 0u);
    ASSERT_LT(static_cast<int>(members.size()), ticked);

    QString summary;
    bool offered = false;
    WhenDialogShown<transfer::TTransForm>([&](transfer::TTransForm* options) {
        offered = options->ShownOnlyCb->isVisible() && options->ShownOnlyCb->isChecked();
        summary = options->InfoLb->text();
        options->DestEdt->setText(QString::fromStdString(dest.Path()));
        options->FormatCb->setCurrentIndex(transfer::TTransForm::kPhotoFlat);
        options->OKBtn->click();
        WhenDialogShown<transfer::TProgressDialog>(PressDoneAtTheEnd);
    });
    ASSERT_TRUE(frame.StartTransfer());
    EXPECT_TRUE(offered);
    EXPECT_EQ(summary, "Transfer selected " + QString::number(members.size()) +
                           " pictures, shown in " + album->text(0));
    EXPECT_EQ(FoldersOfFiles(dest.Path()).size(), members.size());
    EXPECT_EQ(photos.Photos.CheckedCount, ticked);
}

TEST(PhotoTransfer, ThePhoneLibraryGoesIntoDateFoldersWhenTheOptionsSaySo) {
    TMessageRecorder messages;
    TShellRecorder shell;
    TTempDir root;
    TTempDir dest;
    WriteModernLibrary(root.Path());
    ModernLibrary(TPhotosEra::Ios26).Write(root / "PhotoData/Photos.sqlite");
    std::unique_ptr<TIpodDevice> device = MobileDevice(root.Path());
    TPicFrame frame(nullptr, *device);
    frame.resize(900, 600);
    frame.show();
    frame.Populate();
    ASSERT_TRUE(WaitUntil([&] { return frame.Loaded(); }));
    ASSERT_EQ(frame.PhotoDb()->Photos.CheckedCount, 7);

    QString status;
    WhenDialogShown<transfer::TTransForm>([&](transfer::TTransForm* options) {
        options->DestEdt->setText(QString::fromStdString(dest.Path()));
        options->FormatCb->setCurrentIndex(transfer::TTransForm::kPhotoByDate);
        options->LiveVideoCb->setChecked(false);
        options->EditedCb->setCurrentIndex(1);  // originals
        options->OKBtn->click();
        WhenDialogShown<transfer::TProgressDialog>(
            [&](transfer::TProgressDialog* progress) { PressDoneAtTheEnd(progress); });
    });
    ASSERT_TRUE(frame.StartTransfer());
    EXPECT_TRUE(messages.Shown.empty()) << messages.Texts().join(" | ").toStdString();
    // Every original of the seven local photos in the month it was taken, nothing else.
    EXPECT_EQ(
        FoldersOfFiles(dest.Path()),
        (std::multiset<std::string>{"2017/2017-10", "2017/2017-10", "2017/2017-10", "2017/2017-10",
                                    "2017/2017-10", "2017/2017-10", "2017/2017-10"}));
    EXPECT_NE(frame.LogText().find("2 photos are only in iCloud and were not copied"),
              std::string::npos)
        << frame.LogText();
}

}  // namespace
}  // namespace corvane::views
