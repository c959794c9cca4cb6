#include <gtest/gtest.h>

#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include "app/LogForm.h"
#include "gui/Brand.h"
#include "gui/GuiTestSupport.h"
#include "gui/MessageBox.h"
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

TEST_F(LogFormTest, CopyAndSaveHandOverTheShownTextAndAFailedSaveSaysSo) {
    TLogForm form;
    form.AppendRecord("Transfer at 2026-12-10 17:50:02\r\nSong: the device file could not be read");
    const QString shown = form.LogMem->toPlainText();
    form.CopyBtn->click();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), shown);

    QTemporaryDir dir;
    const QString path = dir.filePath("log.txt");
    TLogForm::SaveChooser = [&path](QWidget*, const QString&) { return path; };
    form.SaveBtn->click();
    QFile saved(path);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(saved.readAll()), shown + "\n");

    testing::TMessageRecorder messages;
    const QString blocked = dir.filePath("no/such/folder/log.txt");
    TLogForm::SaveChooser = [&blocked](QWidget*, const QString&) { return blocked; };
    form.SaveBtn->click();
    TLogForm::SaveChooser = nullptr;
    ASSERT_EQ(messages.Shown.size(), 1u);
    EXPECT_TRUE(messages.Shown[0].Text.contains(blocked));
}

}  // namespace
}  // namespace corvane::app
