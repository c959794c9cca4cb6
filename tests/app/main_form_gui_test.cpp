#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <deque>
#include <filesystem>

#include "app/CrvMain.h"
#include "base/PlatformTexts.h"
#include "device/DeviceFolder.h"
#include "device/SimulatedDevice.h"
#include "fixtures/TempDir.h"
#include "gui/Brand.h"
#include "gui/FakeViews.h"
#include "gui/GuiTestSupport.h"
#include "gui/UserSettings.h"

namespace corvane::app {
namespace {

using corvane::testing::RunEventsFor;
using corvane::testing::TFakeView;
using corvane::testing::TFakeViewFactory;
using corvane::testing::TMessageRecorder;
using corvane::testing::TShellRecorder;
using corvane::testing::TTempDir;
using corvane::testing::WaitUntil;

// A folder served as a mobile device; every session gets a simulated library of its own, the
// first one with the device plugged in.
struct TPhone {
    TTempDir Root;
    std::vector<std::shared_ptr<TSimulatedDeviceControl>> Controls;  // one per session

    TDeviceSessionOptions Options() {
        TDeviceSessionOptions options;
        options.VolumeRule = nullptr;
        options.WatchMounts = false;
        options.LoadLibrary = [this] {
            TSimulatedDeviceOptions simulated;
            simulated.Root = Root.Path();
            simulated.PluggedAtStart = Controls.empty();
            TSimulatedDevice device = MakeSimulatedDevice(simulated);
            Controls.push_back(device.Control);
            return std::move(device.Library);
        };
        return options;
    }
};

// A folder that is a disk-mode iPod among the volumes; arrival and removal are mount changes.
struct TDiskIpod {
    TTempDir Root;
    TDiskIpod() { std::filesystem::create_directories(Root / "iPod_Control/iTunes"); }
    TDeviceSessionOptions Options() const { return OfflineSessionOptions({Root.Path()}); }
    TMountChange Change(bool added) const {
        TMountEntry entry;
        entry.MountPoint = Root.Path();
        TMountChange change;
        (added ? change.Added : change.Removed).push_back(entry);
        return change;
    }
};

class MainForm : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* home : {"CorvaneSoft", "QuilletSoft", "BrenmoorSoft"})
            OpenUserKey(home)->remove("last");
    }
    void TearDown() override {
        Form.reset();
        Product = BrandOf(1);
    }

    // The window over a brand file (nullptr: none), shown and past its first activation.
    TMainForm& Start(TDeviceSessionOptions options, const char* brandLine = nullptr) {
        if (brandLine != nullptr)
            corvane::testing::WriteFile(BrandDir / "pddata.dat", brandLine);
        Form = std::make_unique<TMainForm>(nullptr, QString::fromStdString(BrandDir.Path()));
        Form->SetSessionOptions(std::move(options));
        Form->SetViewFactory(Views.Maker());
        Form->SetProductChooser([this](QWidget*) {
            ++ChooserRuns;
            ChooserSawMusic = Product.IsMusic;
            if (Choices.empty())
                return 0;
            const int choice = Choices.front();
            Choices.pop_front();
            return choice;
        });
        Form->show();
        EXPECT_TRUE(WaitUntil([this] { return Form->Device() != nullptr; }));
        return *Form;
    }

    // Waits until the view of that kind is shown.
    TFakeView* WaitForView(bool music) {
        EXPECT_TRUE(WaitUntil([&] {
            TFakeView* view = Views.Last(music);
            return view != nullptr && view->isVisible();
        }));
        return Views.Last(music);
    }

    QString Last() const { return OpenUserKey()->value("last").toString(); }

    TMessageRecorder Messages;
    TShellRecorder Shell;
    TFakeViewFactory Views;
    TTempDir BrandDir;
    // Devices outlive the window (declared before it).
    TPhone Phone;
    TDiskIpod Ipod;
    std::deque<int> Choices;
    int ChooserRuns = 0;
    bool ChooserSawMusic = true;  // the mode the chooser offers first (Enter)
    std::unique_ptr<TMainForm> Form;
};

TEST_F(MainForm, EachBrandFileSetsTitlesButtonsAndTheChooserAtStart) {
    struct TCase {
        const char* Line;  // nullptr: no brand file
        const char* Title;
        bool ShowProducts;
        int Choice;      // the chooser's answer at start, when it runs
        bool MusicView;  // the view an attached iPod opens
    };
    const TCase cases[] = {
        {nullptr, "Corvane 8.2", true, 0, true},
        {"xy", "Brenmoor 8.2", true, 2, false},
        {"abc", "Quillet 8.2", false, 2, true},  // no chooser: music always
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Title);
        TDiskIpod ipod;
        Messages.Shown.clear();
        ChooserRuns = 0;
        Choices = {c.Choice};
        TMainForm& form = Start(ipod.Options(), c.Line);
        EXPECT_EQ(form.windowTitle(), c.Title);
        EXPECT_EQ(ChooserRuns, c.ShowProducts ? 1 : 0);
        EXPECT_EQ(form.ProductBtn->isVisible(), c.ShowProducts);
        // The first button of the row is Product, or Transfer in its place.
        QToolButton* first = c.ShowProducts ? form.ProductBtn : form.TransBtn;
        EXPECT_EQ(first->x(), form.ProductBtn->parentWidget()->layout()->contentsMargins().left());
        EXPECT_FALSE(form.TransBtn->isEnabled());
        EXPECT_FALSE(form.SearchEdt->isEnabled());
        // The session has no mobile-device library: the one warning, with this platform's text.
        EXPECT_EQ(Messages.Texts(), QStringList{texts::kNoMobileLibraryWarning});

        TFakeView* view = WaitForView(c.MusicView);
        ASSERT_NE(view, nullptr);
        EXPECT_EQ(form.windowTitle(), QString("iPod - ") + c.Title);
        EXPECT_EQ(Views.Count(!c.MusicView), 0);
        Form.reset();
        Views.Made.clear();
    }
}

TEST_F(MainForm, NotAskingAtStartOpensTheModeChosenLastAndTheButtonStillAsks) {
    OpenUserKey()->setValue("ProductNoAsk", 1);
    OpenUserKey()->setValue("ProductMode", 2);
    TMainForm& form = Start(Ipod.Options());
    ASSERT_NE(WaitForView(false), nullptr);
    EXPECT_EQ(ChooserRuns, 0);
    Choices = {1};
    form.ProductBtnClick();
    EXPECT_EQ(ChooserRuns, 1);
    EXPECT_NE(WaitForView(true), nullptr);

    // Asked at start again, the chooser offers the mode chosen last first.
    Form.reset();
    OpenUserKey()->remove("ProductNoAsk");
    ChooserRuns = 0;
    Choices = {0};
    Start(Ipod.Options());
    EXPECT_EQ(ChooserRuns, 1);
    EXPECT_FALSE(ChooserSawMusic);
    OpenUserKey()->remove("ProductMode");
}

TEST_F(MainForm, AnAttachedDeviceIsShownWhenTheTimerFiresWithItsName) {
    QElapsedTimer clock;
    clock.start();
    TMainForm& form = Start(Phone.Options());
    EXPECT_TRUE(WaitUntil([&] { return form.TipLb->isVisible(); }));
    clock.start();  // the attach report has started the timer
    EXPECT_FALSE(form.TipImg->isVisible());
    EXPECT_EQ(Views.Made.size(), 0u);

    TFakeView* view = WaitForView(true);
    ASSERT_NE(view, nullptr);
    EXPECT_GE(clock.elapsed(), 280);
    EXPECT_EQ(form.windowTitle(), "Demo iPhone - Corvane 8.2");
    EXPECT_EQ(view->PopulateCount, 1);
    EXPECT_EQ(form.MediaFrm(), view);
    EXPECT_FALSE(form.TipLb->isVisible());
    EXPECT_FALSE(form.TipImg->isVisible());
    EXPECT_TRUE(form.SearchEdt->isEnabled());
    EXPECT_TRUE(form.TransBtn->isEnabled());
    EXPECT_TRUE(Messages.Shown.empty());  // the library is there: no warning
}

TEST_F(MainForm, AttachThenLossBeforeTheTimerFiresActsOnceOnTheLossWithoutRestarting) {
    TMainForm& form = Start(Ipod.Options());  // the drive scan reports the attach
    Messages.Shown.clear();
    RunEventsFor(200);
    form.Device()->VolumeMessage(Ipod.Change(false));
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(WaitUntil([&] { return !Messages.Shown.empty(); }));
    EXPECT_LT(clock.elapsed(), 300);  // the loss did not start the timer again
    RunEventsFor(500);
    EXPECT_EQ(Messages.Texts(), QStringList{"Lost connection to iPod"});
    EXPECT_TRUE(Views.Made.empty());
    EXPECT_EQ(form.windowTitle(), "Corvane 8.2");
    EXPECT_TRUE(form.TipImg->isVisible());
    EXPECT_FALSE(form.TipLb->isVisible());
}

TEST_F(MainForm, LossShowsTheMessageFreesBothViewsAndANewSessionServesTheNextAttach) {
    TMainForm& form = Start(Phone.Options());
    WaitForView(true);
    Choices = {2};
    form.ProductBtnClick();  // both views exist now
    ASSERT_NE(WaitForView(false), nullptr);

    Phone.Controls[0]->Unplug();  // reported on the library's thread
    ASSERT_TRUE(WaitUntil([&] { return !Messages.Shown.empty(); }));
    EXPECT_EQ(Messages.Texts(), QStringList{"Lost connection to Demo iPhone"});
    EXPECT_EQ(Messages.Shown[0].Kind, TMessageKind::Warning);
    EXPECT_EQ(Views.Alive(true) + Views.Alive(false), 0);
    EXPECT_EQ(form.MediaFrm(), nullptr);
    EXPECT_EQ(form.PicFrm(), nullptr);
    EXPECT_EQ(form.windowTitle(), "Corvane 8.2");
    EXPECT_FALSE(form.SearchEdt->isEnabled());
    EXPECT_TRUE(form.TipImg->isVisible());
    EXPECT_FALSE(form.TipLb->isVisible());
    ASSERT_EQ(Phone.Controls.size(), 2u);  // a fresh session with a library of its own
    EXPECT_FALSE(form.Device()->Connected());
    // Transfer stays enabled and does nothing without a view.
    EXPECT_TRUE(form.TransBtn->isEnabled());
    form.TransBtnClick();
    EXPECT_EQ(Messages.Shown.size(), 1u);

    Phone.Controls[1]->Plug();
    TFakeView* view = WaitForView(false);  // the photo mode chosen last
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->PopulateCount, 1);
    EXPECT_EQ(form.windowTitle(), "Demo iPhone - Corvane 8.2");
}

TEST_F(MainForm, AFolderDeviceThatGoesAwayIsLostAndItsReturnLoadsItAgain) {
    struct TCase {
        const char* Name;
        const char* Marker;  // what makes the folder a device of that kind
        const char* Lost;
    };
    const TCase cases[] = {
        {"disk mode", "iPod_Control/iTunes", "Lost connection to iPod"},
        {"mobile", "iTunes_Control/iTunes", "Lost connection to Pocket"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TTempDir root;
        const std::string device = root / "Pocket";
        std::filesystem::create_directories(device + "/" + c.Marker);
        Messages.Shown.clear();
        TMainForm& form = Start(OptionsForDeviceFolder(device, true));
        ASSERT_NE(WaitForView(true), nullptr);
        Messages.Shown.clear();

        std::filesystem::rename(device, root / "away");
        ASSERT_TRUE(WaitUntil([&] { return !Messages.Shown.empty(); }, 5000));
        EXPECT_EQ(Messages.Texts(), QStringList{c.Lost});
        EXPECT_EQ(form.MediaFrm(), nullptr);
        EXPECT_TRUE(form.TipImg->isVisible());

        std::filesystem::rename(root / "away", device);
        ASSERT_TRUE(WaitUntil([&] { return form.MediaFrm() != nullptr; }, 5000));
        EXPECT_NE(WaitForView(true), nullptr);
        Form.reset();
        Views.Made.clear();
    }
}

TEST_F(MainForm, TheChooserSwitchesBetweenLoadedViewsWithoutReadingAgain) {
    TMainForm& form = Start(Ipod.Options());
    TFakeView* music = WaitForView(true);
    ASSERT_NE(music, nullptr);

    Choices = {2, 1, 0};
    form.ProductBtnClick();
    TFakeView* photo = Views.Last(false);
    ASSERT_NE(photo, nullptr);
    EXPECT_TRUE(photo->isVisible());
    EXPECT_TRUE(music->isHidden());  // kept alive, hidden
    EXPECT_FALSE(Product.IsMusic);
    form.ProductBtnClick();
    EXPECT_TRUE(music->isVisible());
    EXPECT_TRUE(photo->isHidden());
    form.ProductBtnClick();  // closed without a choice
    EXPECT_TRUE(music->isVisible());
    EXPECT_TRUE(Product.IsMusic);
    EXPECT_EQ(Views.Count(true), 1);
    EXPECT_EQ(Views.Count(false), 1);
    EXPECT_EQ(music->PopulateCount, 1);
    EXPECT_EQ(photo->PopulateCount, 1);
    EXPECT_EQ(ChooserRuns, 4);

    // While the shown view loads, the chooser is refused.
    music->IsLoaded = false;
    Messages.Shown.clear();
    form.ProductBtnClick();
    EXPECT_EQ(ChooserRuns, 4);
    EXPECT_EQ(
        Messages.Texts(),
        QStringList{"Loading in progress.\nPlease select the product after loading complete."});
}

TEST_F(MainForm, AReaderThatThrowsLeavesNoViewAndTheChooserTriesAgain) {
    Views.Setup = [](TFakeView& view) {
        if (!view.Music)
            view.PopulateError = "damaged library";
    };
    TMainForm& form = Start(Ipod.Options());
    ASSERT_NE(WaitForView(true), nullptr);

    Choices = {2, 2};
    Messages.Shown.clear();
    form.ProductBtnClick();
    EXPECT_EQ(Messages.Texts(),
              QStringList{"Cannot read the library of the device:\ndamaged library"});
    EXPECT_EQ(form.PicFrm(), nullptr);
    EXPECT_EQ(Views.Alive(false), 0);
    // The music view shown before comes back.
    EXPECT_TRUE(Views.Last(true)->isVisible());
    EXPECT_FALSE(form.TipLb->isVisible());
    // The chooser is not refused (no view is loading) and makes a new view.
    form.ProductBtnClick();
    EXPECT_EQ(Views.Count(false), 2);
}

TEST_F(MainForm, SearchActsOnEnterOrTheButtonWithTextOnly) {
    TMainForm& form = Start(Ipod.Options());
    TFakeView* music = WaitForView(true);
    ASSERT_NE(music, nullptr);

    form.SearchEdt->setText("   ");
    QTest::keyClick(form.SearchEdt, Qt::Key_Return);
    form.FindNextAct->trigger();
    EXPECT_TRUE(music->Searches.isEmpty());

    form.SearchEdt->setText(" Salt ");
    QTest::keyClick(form.SearchEdt, Qt::Key_Return);
    QTest::keyClick(form.SearchEdt, Qt::Key_Enter);
    form.FindNextAct->trigger();
    EXPECT_EQ(music->Searches, QStringList({" Salt ", " Salt ", " Salt "}));
    EXPECT_EQ(form.SearchEdt->text(), " Salt ");

    Choices = {2};
    form.ProductBtnClick();
    QTest::keyClick(form.SearchEdt, Qt::Key_Return);
    EXPECT_EQ(Views.Last(false)->Searches, QStringList{" Salt "});
    EXPECT_EQ(music->Searches.size(), 3);
}

TEST_F(MainForm, TransferRunsOnlyInALoadedViewAndWritesTheLastRecordWhenItRan) {
    TMainForm& form = Start(Ipod.Options());
    form.TransBtnClick();  // no view yet: nothing
    Views.Setup = [](TFakeView& view) {
        view.Log = view.Music ? "\r\nCopy tracks: 2" : "\r\nPhotos: 5";
    };
    TFakeView* music = WaitForView(true);
    ASSERT_NE(music, nullptr);
    Messages.Shown.clear();

    music->IsLoaded = false;
    form.TransBtnClick();
    EXPECT_EQ(music->TransferCount, 0);
    music->IsLoaded = true;
    form.TransBtnClick();  // the dialogs were cancelled: nothing ran
    EXPECT_EQ(music->TransferCount, 1);
    EXPECT_FALSE(OpenUserKey()->contains("last"));

    music->TransferResult = true;
    form.TransBtnClick();
    // The record names when the transfer ran, on its second line.
    const auto Untimed = [](QString text) {
        return text.replace(QRegularExpression("\r\nTransfer at \\d{4}-\\d\\d-\\d\\d "
                                               "\\d\\d:\\d\\d:\\d\\d\r\n"),
                            "\r\n");
    };
    const QString record = "Corvane 8.2\r\niTunes: False, connect: True, iOS: False\r\n";
    EXPECT_EQ(Untimed(Last()), record + "\r\nCopy tracks: 2");

    // A photo transfer.
    Choices = {2};
    form.ProductBtnClick();
    TFakeView* photo = Views.Last(false);
    photo->IsLoaded = false;
    form.TransBtnClick();
    photo->IsLoaded = true;
    photo->TransferResult = true;
    photo->Log = "\r\nCopy pictures: 5 of 5";
    form.TransBtnClick();
    EXPECT_EQ(photo->TransferCount, 1);
    // The record is that of the transfer that ran last, though the music view still exists.
    EXPECT_EQ(Untimed(Last()), record + "\r\nCopy pictures: 5 of 5");
    EXPECT_EQ(Messages.Texts(),
              QStringList({"Loading media library...\nPlease wait until it finished.",
                           "Loading thumbnail of photos...\nPlease wait until it finished."}));

    // The error log shows the stored record.
    QString shown;
    corvane::testing::WhenDialogShown<QDialog>([&](QDialog* dialog) {
        shown = dialog->findChild<QWidget*>("LogMem")->property("plainText").toString();
        dialog->reject();
    });
    form.LogMnu->trigger();
    EXPECT_TRUE(shown.contains("iTunes: False, connect: True, iOS: False")) << shown.toStdString();
    EXPECT_TRUE(shown.contains("Copy pictures: 5 of 5"));
}

TEST_F(MainForm, ALossDuringATransferWaitsUntilTheTransferReturns) {
    TMainForm& form = Start(Ipod.Options());
    TFakeView* music = WaitForView(true);
    ASSERT_NE(music, nullptr);
    Messages.Shown.clear();
    bool closed = true;
    music->OnTransfer = [&] {
        // The progress dialog runs its own event loop meanwhile.
        form.Device()->VolumeMessage(Ipod.Change(false));
        RunEventsFor(600);
        EXPECT_EQ(music->LostCount, 1);  // the view was told; its worker stops
        EXPECT_TRUE(Messages.Shown.empty());
        EXPECT_EQ(Views.Alive(true), 1);
        closed = form.close();
        return true;
    };
    form.TransBtnClick();
    EXPECT_FALSE(closed);  // the window stays open while the transfer runs
    EXPECT_EQ(Messages.Texts(), QStringList{"Lost connection to iPod"});
    EXPECT_EQ(Views.Alive(true), 0);
    EXPECT_TRUE(Last().startsWith("Corvane 8.2\r\nTransfer at "));
    EXPECT_TRUE(Last().contains("\r\niTunes: False, connect: False, iOS: False"));
    EXPECT_FALSE(form.Device()->Connected());  // the new session scans no drives
    RunEventsFor(500);
    EXPECT_EQ(Views.Count(true), 1);
    EXPECT_EQ(Messages.Shown.size(), 1u);
}

TEST_F(MainForm, AnIpodBackBeforeThePostponedLossIsFoundByTheNewSession) {
    TMainForm& form = Start(Ipod.Options());
    TFakeView* music = WaitForView(true);
    ASSERT_NE(music, nullptr);
    music->OnTransfer = [&] {
        form.Device()->VolumeMessage(Ipod.Change(false));
        RunEventsFor(500);
        form.Device()->VolumeMessage(Ipod.Change(true));
        RunEventsFor(500);
        return false;
    };
    form.TransBtnClick();
    EXPECT_EQ(Views.Alive(true), 0);
    EXPECT_TRUE(Messages.Texts().contains("Lost connection to iPod"));
    TFakeView* again = WaitForView(true);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(Views.Count(true), 2);  // a new view over the new session
    EXPECT_EQ(again->PopulateCount, 1);
}

TEST_F(MainForm, MenuHelpAboutAndThePlaceholderOpenTheBrandPages) {
    TMainForm& form = Start(TDiskIpod().Options(), "xy");
    form.resize(1100, 700);
    RunEventsFor(50);
    EXPECT_EQ(form.TipImg->x(), (form.MainPnl->width() - form.TipImg->width() - 20) / 2);
    EXPECT_EQ(form.TipImg->y(), (form.MainPnl->height() - form.TipImg->height() - 40) / 2);
    EXPECT_EQ(form.TipLb->x(), (form.MainPnl->width() - form.TipLb->width()) / 2);

    QTest::mouseClick(form.MoreBtn, Qt::LeftButton);
    ASSERT_TRUE(WaitUntil([&] { return form.HelpPop->isVisible(); }));
    EXPECT_EQ(form.HelpPop->pos(), form.MoreBtn->mapToGlobal(QPoint(0, form.MoreBtn->height())));
    QStringList items;
    for (QAction* action : form.HelpPop->actions()) {
        if (action->isVisible())
            items << (action->isSeparator() ? "-" : action->text());
    }
    EXPECT_EQ(items, QStringList({"Error log ...", "-", "Help", "About"}));
    form.HelpPop->hide();

    Messages.Shown.clear();
    Messages.Answer(false);
    form.AboutMnu->trigger();
    form.AboutMnu->trigger();
    form.HelpMnu->trigger();
    QTest::mouseClick(form.TipImg, Qt::LeftButton);
    EXPECT_EQ(Messages.Texts(),
              QStringList(2,
                          "Brenmoor 8.2\n\nhttps://brenmoor.example.com\nClick OK to visit "
                          "the official website."));
    QStringList opened;
    for (const auto& request : Shell.Requests)
        opened << request.Target;
    EXPECT_EQ(opened, QStringList({"https://brenmoor.example.com",
                                   "https://brenmoor.example.com/support.html",
                                   "https://brenmoor.example.com/corvaneguide.html"}));
}

TEST_F(MainForm, ClosingFreesTheViewsAndTheSession) {
    TMainForm& form = Start(Ipod.Options());
    WaitForView(true);
    EXPECT_TRUE(form.close());
    EXPECT_EQ(form.Device(), nullptr);
    EXPECT_EQ(Views.Alive(true), 0);
    form.OnDeviceChange(true);  // a report after the close reaches nothing
    RunEventsFor(450);
    EXPECT_EQ(Views.Count(true), 1);
}

}  // namespace
}  // namespace corvane::app
