// The window and every dialog fit the screens the program is used on: 1366 x 768 at the normal
// scale, and 1920 x 1080 at twice the scale, which leaves 960 x 540 points. Sizes are in points
// either way, so the offscreen screen tells them at any scale.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetrics>
#include <QHeaderView>
#include <QLabel>
#include <QTreeView>
#include <memory>

#include "app/CrvMain.h"
#include "app/LogForm.h"
#include "app/ProductForm.h"
#include "device/DeviceFolder.h"
#include "fixtures/DemoDevice.h"
#include "fixtures/TempDir.h"
#include "gui/Brand.h"
#include "gui/GuiTestSupport.h"
#include "gui/UserSettings.h"
#include "transfer/KelProgress.h"
#include "transfer/MusicTrans.h"
#include "views/KelMedia.h"
#include "views/KelPicture.h"
#include "views/TrackListModel.h"

namespace corvane::app {
namespace {

using namespace corvane::testing;

constexpr QSize kSmallScreen(1366, 768);
constexpr QSize kDoubledScreen(960, 540);
// What a title bar and a desktop panel take from a screen's height.
constexpr int kTitleAndPanel = 80;

QSize Room(QSize screen) {
    return screen - QSize(0, kTitleAndPanel);
}

// The smallest size a window can be given: its own minimum, or its layout's when larger.
QSize Smallest(const QWidget& window) {
    return window.minimumSize().expandedTo(window.minimumSizeHint());
}

void ExpectFits(const QWidget& window, QSize screen, const char* what) {
    const QSize room = Room(screen);
    EXPECT_LE(Smallest(window).width(), room.width()) << what;
    EXPECT_LE(Smallest(window).height(), room.height()) << what;
    EXPECT_LE(window.width(), room.width()) << what;
    EXPECT_LE(window.height(), room.height()) << what;
}

class ScreenFit : public ::testing::Test {
protected:
    void SetUp() override { OpenUserKey("CorvaneSoft")->clear(); }
    void TearDown() override {
        Form.reset();
        OpenUserKey("CorvaneSoft")->clear();
        Product = BrandOf(1);
    }

    // The window on the demo iPod with the view the chooser's answer opens (1: music), loaded.
    TMainForm& Start(int choice) {
        EXPECT_TRUE(BuildDemoDevices(Demo.Path()));
        Form = std::make_unique<TMainForm>(nullptr, QString::fromStdString(BrandDir.Path()));
        Form->SetSessionOptions(OfflineSessionOptions({Demo / "ipod"}));
        Form->SetProductChooser([choice](QWidget*) { return choice; });
        Form->show();
        EXPECT_TRUE(WaitUntil([this] {
            return Form->MediaFrm() != nullptr && Form->MediaFrm()->isVisible() &&
                   Form->MediaFrm()->Loaded();
        }));
        return *Form;
    }

    TMessageRecorder Messages;
    TShellRecorder Shell;
    TTempDir BrandDir;
    // Devices outlive the window (declared before it).
    TTempDir Demo;
    std::unique_ptr<TMainForm> Form;
};

TEST_F(ScreenFit, TheWindowShrinksToFitBothScreensWithEitherView) {
    TMainForm& form = Start(1);
    for (bool music : {true, false}) {
        SCOPED_TRACE(music ? "music view" : "photo view");
        if (!music) {
            form.OpenPhotoView();
            ASSERT_TRUE(WaitUntil([&] {
                auto* photos = form.findChild<views::TPicFrame*>();
                return photos != nullptr && photos->isVisible() && photos->Loaded();
            }));
        }
        ASSERT_EQ(form.MediaFrm()->isVisible(), music);
        for (QSize screen : {kSmallScreen, kDoubledScreen}) {
            ExpectFits(form, screen, "main window");
            // Nothing inside holds the window larger than its minimum.
            form.resize(Smallest(form));
            RunEventsFor(20);
            EXPECT_EQ(form.size(), Smallest(form));
        }
    }
}

TEST_F(ScreenFit, EveryDialogFitsTheScreenAtTwiceTheScale) {
    for (bool music : {true, false}) {
        transfer::TTransForm options(nullptr);
        options.Prepare(
            music ? "Transfer selected 4 tracks, about 101.6 KB" : "Transfer selected 8 pictures",
            music);
        options.show();
        RunEventsFor(20);
        ExpectFits(options, kDoubledScreen, music ? "music options" : "photo options");
    }
    transfer::TProgressDialog progress(nullptr);
    progress.show();
    TLogForm log(nullptr);
    log.AppendRecord(QString("Copy tracks: 4 of 4\n").repeated(200));
    log.show();
    TProductForm chooser(nullptr);
    chooser.show();
    RunEventsFor(20);
    ExpectFits(progress, kDoubledScreen, "progress");
    ExpectFits(log, kDoubledScreen, "error log");
    ExpectFits(chooser, kDoubledScreen, "product chooser");
}

TEST_F(ScreenFit, OnTheSmallScreenTheShortColumnsShowTheirTextWhole) {
    TMainForm& form = Start(1);
    auto* frame = qobject_cast<views::TMediaFrame*>(form.MediaFrm());
    ASSERT_NE(frame, nullptr);
    QTreeView* list = frame->MusicList;
    QHeaderView* header = list->header();
    const QFontMetrics metrics(list->font());
    // The window as it starts on that screen, and as wide as the screen.
    for (int width : {1024, kSmallScreen.width()}) {
        SCOPED_TRACE(width);
        form.resize(width, Room(kSmallScreen).height());
        RunEventsFor(50);
        // No column is pushed past the list's right edge.
        EXPECT_LE(header->length(), list->viewport()->width());
        for (int column : {views::tcTime, views::tcSize, views::tcPlays, views::tcKind}) {
            const int caption = metrics.horizontalAdvance(
                frame->MusicModel->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString());
            EXPECT_GE(header->sectionSize(column), caption) << "header of column " << column;
            for (int row = 0; row < frame->MusicModel->rowCount(); ++row) {
                const QString text = frame->MusicModel->index(row, column).data().toString();
                // Room for the cell's margins on both sides, as the view draws them.
                EXPECT_GE(header->sectionSize(column), metrics.horizontalAdvance(text) + 8)
                    << "column " << column << ": " << text.toStdString();
            }
        }
    }
}

}  // namespace
}  // namespace corvane::app
