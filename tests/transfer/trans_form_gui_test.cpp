// The options dialog: what it shows from the saved settings, what OK saves and hands over,
// and that the music and photo settings stay apart.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMap>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QToolButton>
#include <QVariant>

#include "gui/GuiTestSupport.h"
#include "gui/UserSettings.h"
#include "transfer/MusicTrans.h"

// Readable failure messages for Qt texts.
static void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace corvane::transfer {
namespace {

using namespace corvane::testing;

using TValues = QMap<QString, QVariant>;

// The stored values as text, as the settings file holds them.
QMap<QString, QString> Saved() {
    QMap<QString, QString> values;
    const auto key = app::OpenUserKey();
    for (const QString& name : key->allKeys())
        values[name] = key->value(name).toString();
    return values;
}

void Store(const TValues& values) {
    const auto key = app::OpenUserKey();
    key->clear();
    for (auto it = values.begin(); it != values.end(); ++it)
        key->setValue(it.key(), it.value());
    key->sync();
}

class TransFormTest : public ::testing::Test {
protected:
    void SetUp() override { Store({}); }
    void TearDown() override {
        Store({});
        TTransForm::FolderChooser = nullptr;
    }
};

TEST_F(TransFormTest, ShowsTheSavedChoiceOrTheFirst) {
    struct TCase {
        bool IsMusic;
        TValues Stored;
        int Shown;
        QString Text;
    };
    const TCase cases[] = {
        {true, {}, 0, "Place files into album and artist folders (same as iTunes)"},
        {true, {{"Orgnize", 5}}, 5, "Name as:  Artist - Album - Song name"},
        {true, {{"Orgnize", 9}}, 0, "Place files into album and artist folders (same as iTunes)"},
        {true, {{"Orgnize", -1}}, 0, "Place files into album and artist folders (same as iTunes)"},
        {true, {{"Orgnize", "x"}}, 0, "Place files into album and artist folders (same as iTunes)"},
        {false, {{"PicOrgnize", 1}}, 1, "Save to target folder directly"},
        {false, {{"PicOrgnize", 2}}, 0, "Place files into album folders"},
        {false, {{"PicOrgnize", -3}, {"Orgnize", 1}}, 0, "Place files into album folders"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(QString("%1 %2").arg(c.IsMusic).arg(c.Stored.keys().join(",")).toStdString());
        Store(c.Stored);
        TTransForm form(nullptr);
        form.Prepare("3 tracks, about 9.5 MB", c.IsMusic);
        EXPECT_EQ(form.FormatCb->count(), c.IsMusic ? 8 : 2);
        EXPECT_EQ(form.Organize, c.Shown);
        EXPECT_EQ(form.FormatCb->currentIndex(), c.Shown);
        EXPECT_EQ(form.FormatCb->currentText(), c.Text);
    }
}

TEST_F(TransFormTest, MusicDefaultsAndTheSavedChecks) {
    {
        TTransForm form(nullptr);
        form.Prepare("3 tracks, about 9.5 MB", true);
        EXPECT_EQ(form.InfoLb->text(), "Transfer selected 3 tracks, about 9.5 MB");
        EXPECT_EQ(form.DestEdt->text(), "");
        EXPECT_TRUE(form.iTunesCb->isChecked());
        EXPECT_FALSE(form.PlaylistCb->isChecked());
        EXPECT_EQ(form.FormatCb->itemText(2), "Name as:  Artist - Song name");
    }
    Store({{"MediaDest", "/srv/music/"}, {"MediaToiTunes", 0}, {"MediaPlaylistFiles", 1}});
    TTransForm form(nullptr);
    form.Prepare("1 tracks, about 1 MB", true);
    EXPECT_EQ(form.DestEdt->text(), "/srv/music/");
    EXPECT_FALSE(form.iTunesCb->isChecked());
    EXPECT_TRUE(form.PlaylistCb->isChecked());
    EXPECT_FALSE(form.RestoreToITunes());
    EXPECT_TRUE(form.WritePlaylistFiles());
}

TEST_F(TransFormTest, OkTrimsAddsTheSeparatorSavesAndHandsOver) {
    struct TCase {
        QString Typed;
        QString Saved;
    };
    for (const TCase& c :
         {TCase{"  /tmp/My Music  ", "/tmp/My Music/"}, TCase{"/tmp/music/", "/tmp/music/"}}) {
        SCOPED_TRACE(c.Typed.toStdString());
        TTransForm form(nullptr);
        form.Prepare("2 tracks, about 4 MB", true);
        form.DestEdt->setText(c.Typed);
        form.FormatCb->setCurrentIndex(3);
        form.iTunesCb->setChecked(false);
        form.PlaylistCb->setChecked(true);
        // Return presses the default button, "Start Transfer".
        WhenDialogShown<TTransForm>(
            [](TTransForm* shown) { QTest::keyClick(shown, Qt::Key_Return); });
        ASSERT_EQ(form.exec(), QDialog::Accepted);
        EXPECT_EQ(form.Destination(), c.Saved);
        EXPECT_EQ(form.Organize, 3);
        EXPECT_FALSE(form.RestoreToITunes());
        EXPECT_TRUE(form.WritePlaylistFiles());
        EXPECT_EQ(Saved(), (QMap<QString, QString>{{"MediaDest", c.Saved},
                                                   {"Orgnize", "3"},
                                                   {"MediaToiTunes", "0"},
                                                   {"MediaPlaylistFiles", "1"}}));
    }
    // The next dialog starts from what was saved.
    TTransForm next(nullptr);
    next.Prepare("2 tracks, about 4 MB", true);
    EXPECT_EQ(next.DestEdt->text(), "/tmp/music/");
    EXPECT_EQ(next.FormatCb->currentIndex(), 3);
    EXPECT_FALSE(next.iTunesCb->isChecked());
    EXPECT_TRUE(next.PlaylistCb->isChecked());
}

TEST_F(TransFormTest, EmptyDestinationWarnsAndCancelSavesNothing) {
    Store({{"MediaDest", "/old/"}, {"Orgnize", 2}, {"MediaToiTunes", 1}});
    const auto before = Saved();
    TMessageRecorder messages;
    TTransForm form(nullptr);
    form.Prepare("2 tracks, about 4 MB", true);
    form.show();
    form.DestEdt->setText("   ");
    form.OKBtn->click();
    EXPECT_EQ(messages.Texts(), QStringList{"Please input a valid folder to save the files."});
    ASSERT_EQ(messages.Shown.size(), 1u);
    EXPECT_EQ(messages.Shown[0].Kind, app::TMessageKind::Warning);
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(form.DestEdt->text(), "");

    form.DestEdt->setText("/new");
    form.FormatCb->setCurrentIndex(6);
    form.iTunesCb->setChecked(false);
    form.CancelBtn->click();
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(form.result(), QDialog::Rejected);
    EXPECT_EQ(Saved(), before);
}

TEST_F(TransFormTest, PhotoDialogHidesTheMusicOptionsAndKeepsTheMusicValues) {
    Store({{"MediaDest", "/m/"},
           {"MediaToiTunes", 0},
           {"Orgnize", 4},
           {"MediaPlaylistFiles", 1},
           {"PicDest", "/p/"}});
    auto expected = Saved();
    TTransForm form(nullptr);
    form.Prepare("Total 8 pictures, 3 pictures in camera roll", false);
    form.show();
    EXPECT_EQ(form.InfoLb->text(), "Transfer selected Total 8 pictures, 3 pictures in camera roll");
    EXPECT_FALSE(form.iTunesCb->isVisible());
    EXPECT_FALSE(form.PlaylistCb->isVisible());
    EXPECT_FALSE(form.RestoreToITunes());
    EXPECT_FALSE(form.WritePlaylistFiles());
    EXPECT_EQ(form.DestEdt->text(), "/p/");
    form.DestEdt->setText(" /home/me/Pictures");
    form.FormatCb->setCurrentIndex(1);
    form.OKBtn->click();
    EXPECT_EQ(form.result(), QDialog::Accepted);
    EXPECT_EQ(form.Organize, 1);

    expected["PicDest"] = "/home/me/Pictures/";
    expected["PicOrgnize"] = "1";
    EXPECT_EQ(Saved(), expected);
}

TEST_F(TransFormTest, BrowseShowsTheChosenFolder) {
    QString title;
    QString start;
    QString answer = "/media/backup/Music";
    TTransForm::FolderChooser = [&](QWidget*, const QString& t, const QString& s) {
        title = t;
        start = s;
        return answer;
    };
    TTransForm form(nullptr);
    form.Prepare("1 tracks, about 1 MB", true);
    form.BrowseBtn->click();
    EXPECT_EQ(title, "Save files to");
    EXPECT_EQ(start, "/");
    EXPECT_EQ(form.DestEdt->text(), "/media/backup/Music");
    answer.clear();  // the browser was cancelled
    form.BrowseBtn->click();
    EXPECT_EQ(form.DestEdt->text(), "/media/backup/Music");
}

}  // namespace
}  // namespace corvane::transfer
