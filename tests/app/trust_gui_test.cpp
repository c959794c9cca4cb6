// The desktop program over the real mobile-device library with an emulated iPhone that does
// not trust this computer yet.
#include <gtest/gtest.h>

#include <QLabel>

#include "app/CrvMain.h"
#include "fixtures/EmulatedPhone.h"
#include "fixtures/TempDir.h"
#include "gui/FakeViews.h"
#include "gui/GuiTestSupport.h"
#include "gui/UserSettings.h"

namespace corvane::app {
namespace {

using corvane::testing::TEmulatedPhone;
using corvane::testing::TFakeViewFactory;
using corvane::testing::TMessageRecorder;
using corvane::testing::TTempDir;
using corvane::testing::WaitUntil;
using corvane::testing::WriteFile;

TEST(TrustGui, TheWindowSaysWhatToDoAndShowsThePhoneOnceTrusted) {
    OpenUserKey("CorvaneSoft")->remove("last");
    TTempDir phoneFolder;
    WriteFile(phoneFolder / "iTunes_Control/iTunes/.keep", "");
    TEmulatedPhone phone(phoneFolder.Path(), {"--pairing", "unpaired", "--name", "Kitchen"});
    ASSERT_TRUE(phone.Ready()) << phone.Error();
    TMessageRecorder messages;
    TFakeViewFactory views;
    TTempDir brand;
    TDeviceSessionOptions options;
    options.VolumeRule = nullptr;
    options.WatchMounts = false;
    options.LoadLibrary = [] { return LoadMobileDevice(); };
    {
        TMainForm form(nullptr, QString::fromStdString(brand.Path()));
        form.SetSessionOptions(std::move(options));
        form.SetViewFactory(views.Maker());
        form.SetProductChooser([](QWidget*) { return 0; });
        form.show();

        ASSERT_TRUE(WaitUntil([&] { return form.TrustLb->isVisible(); }, 15000));
        EXPECT_TRUE(form.TrustLb->text().contains("Unlock the iPhone and tap Trust on its screen"))
            << form.TrustLb->text().toStdString();
        EXPECT_TRUE(form.TipImg->isVisible());
        EXPECT_EQ(views.Made.size(), 0u);

        phone.Control("trust");
        ASSERT_TRUE(WaitUntil(
            [&] {
                auto* view = views.Last(true);
                return view != nullptr && view->isVisible();
            },
            15000));
        EXPECT_FALSE(form.TrustLb->isVisible());
        EXPECT_TRUE(form.windowTitle().startsWith("Kitchen"));
    }
    EXPECT_EQ(phone.Stat("write_requests"), 0);
}

}  // namespace
}  // namespace corvane::app
