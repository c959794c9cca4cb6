// A music transfer as the user makes it: the main window over the demo iPod, the Transfer
// button, the options dialog, the progress dialog to its end, the marks in the list and the
// record of the transfer; and a transfer cancelled while it runs.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <filesystem>
#include <memory>

#include "app/CrvMain.h"
#include "device/DeviceFolder.h"
#include "fixtures/DemoDevice.h"
#include "fixtures/TempDir.h"
#include "gui/Brand.h"
#include "gui/GuiTestSupport.h"
#include "gui/UserSettings.h"
#include "music/iPodMusic.h"
#include "transfer/KelProgress.h"
#include "transfer/MusicTrans.h"
#include "views/KelMedia.h"

namespace corvane::app {
namespace {

using namespace corvane::testing;
namespace fs = std::filesystem;

// Presses Cancel from inside the progress dialog's first progress report.
class TCancelAtFirstTrack : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* dialog = qobject_cast<transfer::TProgressDialog*>(watched);
        if (dialog != nullptr && event->type() == QEvent::Show && !FHooked) {
            FHooked = true;
            connect(dialog, &transfer::TProgressDialog::ProgressShown, dialog, [dialog] {
                if (dialog->ActBtn->text() == "Cancel" && dialog->ActBtn->isEnabled())
                    dialog->ActBtn->click();
            });
        }
        return false;
    }

private:
    bool FHooked = false;
};

class TransferFlow : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(BuildDemoDevices(Demo.Path()));
        // A brand without the product chooser: the music view opens by itself.
        WriteFile(BrandDir / "pddata.dat", "abc");
        OpenUserKey("QuilletSoft")->clear();
        Form = std::make_unique<TMainForm>(nullptr, QString::fromStdString(BrandDir.Path()));
        Form->SetSessionOptions(OfflineSessionOptions({Demo / "ipod"}));
        Form->show();
        ASSERT_TRUE(WaitUntil([this] {
            return Form->MediaFrm() != nullptr && Form->MediaFrm()->isVisible() &&
                   Form->MediaFrm()->Loaded();
        }));
        Frame = qobject_cast<views::TMediaFrame*>(Form->MediaFrm());
        ASSERT_NE(Frame, nullptr);
        // The offline session has no mobile-device library and said so at the start.
        Messages.Shown.clear();
    }
    void TearDown() override {
        Form.reset();
        OpenUserKey("QuilletSoft")->clear();
        Product = BrandOf(1);
    }

    // Fills in the options dialog when it shows and confirms it.
    void ConfirmOptions(bool restore) {
        WhenDialogShown<transfer::TTransForm>([this, restore](transfer::TTransForm* options) {
            OptionsSummary = options->InfoLb->text();
            options->DestEdt->setText(QString::fromStdString(Dest.Path()));
            options->FormatCb->setCurrentIndex(1);
            options->LibraryCb->setCurrentIndex(
                static_cast<int>(restore ? TLibraryTarget::Tags : TLibraryTarget::None));
            options->OKBtn->click();
        });
    }

    int CopiedTracks() const {
        int copied = 0;
        for (int i = 0; i < Frame->MusicDb->Tracks.Count(); ++i)
            copied += Frame->MusicDb->Tracks.Items(i).TransferState == 1 ? 1 : 0;
        return copied;
    }

    TMessageRecorder Messages;
    TShellRecorder Shell;
    TTempDir Demo;
    TTempDir Dest;
    TTempDir BrandDir;
    std::unique_ptr<TMainForm> Form;
    views::TMediaFrame* Frame = nullptr;
    QString OptionsSummary;
};

TEST_F(TransferFlow, TheTransferCopiesEveryTickedTrackMarksItAndKeepsItsRecord) {
    const int tracks = static_cast<int>(Frame->MusicDb->Tracks.Count());
    ASSERT_GT(tracks, 1);
    ConfirmOptions(false);
    WhenDialogShown<transfer::TProgressDialog>(PressDoneAtTheEnd);
    Form->TransBtn->click();

    EXPECT_TRUE(OptionsSummary.startsWith("Transfer selected " + QString::number(tracks) +
                                          " tracks, about "))
        << OptionsSummary.toStdString();
    EXPECT_TRUE(Messages.Shown.empty()) << Messages.Texts().join(" | ").toStdString();
    EXPECT_EQ(CopiedTracks(), tracks);
    int files = 0;
    for (const auto& entry : fs::recursive_directory_iterator(Dest.Path()))
        files += entry.is_regular_file() ? 1 : 0;
    EXPECT_EQ(files, tracks);
    // The list shows the green mark of a copied track.
    QAbstractItemModel* model = Frame->MusicList->model();
    EXPECT_FALSE(model->index(0, 0).data(Qt::DecorationRole).isNull());
    // Done opened the destination.
    ASSERT_EQ(Shell.Requests.size(), 1u);
    EXPECT_EQ(Shell.Requests[0].Action, TShellAction::OpenFolder);
    // The record of the transfer, as the error log shows it.
    const QString last = OpenUserKey("QuilletSoft")->value("last").toString();
    EXPECT_TRUE(last.startsWith("Quillet 8.2\r\nTransfer at ")) << last.toStdString();
    EXPECT_TRUE(last.contains("\r\niTunes: ")) << last.toStdString();
    EXPECT_TRUE(last.contains(", connect: True, iOS: False\r\n")) << last.toStdString();
    EXPECT_TRUE(
        last.contains("Copy tracks: " + QString::number(tracks) + " of " + QString::number(tracks)))
        << last.toStdString();
    // The choices are remembered for the next transfer.
    auto settings = OpenUserKey("QuilletSoft");
    EXPECT_EQ(settings->value("Orgnize").toInt(), 1);
    EXPECT_EQ(settings->value("MediaDest").toString(), QString::fromStdString(Dest.Path()) + "/");
}

TEST_F(TransferFlow, CancelStopsTheTransferAfterTheNextTrack) {
    const int tracks = static_cast<int>(Frame->MusicDb->Tracks.Count());
    ASSERT_GT(tracks, 2);
    ConfirmOptions(true);
    // Cancel while the first track is reported (the worker waits for the report meanwhile):
    // that track and the next one are copied, the rest is not.
    TCancelAtFirstTrack cancel;
    qApp->installEventFilter(&cancel);
    WhenDialogShown<transfer::TProgressDialog>(PressDoneAtTheEnd);
    Form->TransBtn->click();
    qApp->removeEventFilter(&cancel);

    EXPECT_EQ(CopiedTracks(), 2);
    const QString last = OpenUserKey("QuilletSoft")->value("last").toString();
    EXPECT_TRUE(last.contains("Copy tracks: " + QString::number(CopiedTracks()) + " of " +
                              QString::number(tracks)))
        << last.toStdString();
}

}  // namespace
}  // namespace corvane::app
