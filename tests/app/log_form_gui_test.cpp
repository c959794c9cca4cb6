#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QPlainTextEdit>

#include "app/LogForm.h"
#include "gui/Brand.h"
#include "gui/GuiTestSupport.h"
#include "gui/UserSettings.h"

namespace corvane::app {
namespace {

using testing::WhenDialogShown;

const char* const kFirstHome = "LogFormTestFirstSoft";
const char* const kSecondHome = "LogFormTestSecondSoft";

// Runs each test under a brand key of its own, removed before and after.
class LogFormTest : public ::testing::Test {
protected:
    void SetUp() override {
        RemoveStores();
        Product = BrandOf(1);
        Product.Home = kFirstHome;
    }
    void TearDown() override {
        RemoveStores();
        Product = BrandOf(1);
    }
    static void RemoveStores() {
        for (const char* home : {kFirstHome, kSecondHome}) {
            QFile::remove(SettingsFileName(home));
            QDir(SettingsFileName(home)).removeRecursively();
        }
    }
    struct TShownLog {
        QString Text;
        QString Title;
        bool ReadOnly = false;
    };
    // The error log window as it shows.
    static TShownLog ShownLog() {
        TShownLog shown;
        WhenDialogShown<TLogForm>([&shown](TLogForm* form) {
            const auto* memo = form->findChild<QPlainTextEdit*>("LogMem");
            shown = {memo->toPlainText(), form->windowTitle(), memo->isReadOnly()};
            form->close();
        });
        ShowErrorLog(nullptr);
        return shown;
    }
};

TEST_F(LogFormTest, EmptyWhenNoTransferWasRecorded) {
    EXPECT_EQ(ReadLastRecord(), "");
    const TShownLog shown = ShownLog();
    EXPECT_EQ(shown.Text, "");
    EXPECT_EQ(shown.Title, "Error Log");
}

TEST_F(LogFormTest, ShowsTheLastRecordAsLines) {
    WriteLastRecord("Corvane 8.2\r\niTunes: False, connect: True, iOS: False\r\nold");
    const QString record =
        "Corvane 8.2\r\niTunes: False, connect: True, iOS: False\r\n\r\nCopy tracks: 2";
    WriteLastRecord(record);
    WriteLastRecord("");  // an empty record keeps the stored one
    EXPECT_EQ(ReadLastRecord(), record);

    const TShownLog shown = ShownLog();
    EXPECT_EQ(shown.Text,
              "Corvane 8.2\niTunes: False, connect: True, iOS: False\n\nCopy tracks: 2");
    EXPECT_TRUE(shown.ReadOnly);
}

TEST_F(LogFormTest, EachBrandKeyKeepsItsOwnRecord) {
    WriteLastRecord("first brand");
    Product.Home = kSecondHome;
    EXPECT_EQ(ReadLastRecord(), "");
    WriteLastRecord("second brand");
    EXPECT_EQ(ReadLastRecord(), "second brand");
    Product.Home = kFirstHome;
    EXPECT_EQ(ReadLastRecord(), "first brand");
}

TEST_F(LogFormTest, AnUnreadableKeyGivesNoRecordAndTakesNone) {
    // A folder where the settings file belongs cannot be read or written.
    ASSERT_TRUE(QDir().mkpath(SettingsFileName(kFirstHome)));
    WriteLastRecord("lost");
    EXPECT_EQ(ReadLastRecord(), "");
    EXPECT_TRUE(QFileInfo(SettingsFileName(kFirstHome)).isDir());
}

}  // namespace
}  // namespace corvane::app
