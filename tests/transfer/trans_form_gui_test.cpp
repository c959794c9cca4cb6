// The options dialog: what it shows from the saved settings, what OK saves and hands over,
// and that the music and photo settings stay apart.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMap>
#include <QPushButton>
#include <QSettings>
#include <QStandardItemModel>
#include <QTest>
#include <QToolButton>
#include <QVariant>

#include "fixtures/TempDir.h"
#include "gui/GuiTestSupport.h"
#include "gui/NameTemplateBox.h"
#include "gui/UserSettings.h"
#include "music/TrackNameTemplate.h"
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
    void SetUp() override {
        Store({});
        TTransForm::TargetAvailable = [this](TLibraryTarget target) {
            return target != TLibraryTarget::Mpd || MpdAnswers ? std::string()
                                                               : std::string("no server");
        };
    }
    void TearDown() override {
        Store({});
        TTransForm::FolderChooser = nullptr;
        TTransForm::TargetAvailable = nullptr;
    }
    bool MpdAnswers = false;
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
        {true, {{"Orgnize", 5}}, 5, "Name as: Artist - Album - Song name"},
        {true, {{"Orgnize", 8}}, 8, "Name by a template of my own:"},
        {true, {{"Orgnize", 9}}, 0, "Place files into album and artist folders (same as iTunes)"},
        {true, {{"Orgnize", -1}}, 0, "Place files into album and artist folders (same as iTunes)"},
        {true, {{"Orgnize", "x"}}, 0, "Place files into album and artist folders (same as iTunes)"},
        {false, {{"PicOrgnize", 1}}, 1, "Save to target folder directly"},
        {false, {{"PicOrgnize", 2}}, 2, "Place files into folders by date taken (year, month)"},
        {false, {{"PicOrgnize", 3}}, 0, "Place files into album folders"},
        {false, {{"PicOrgnize", -3}, {"Orgnize", 1}}, 0, "Place files into album folders"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(QString("%1 %2").arg(c.IsMusic).arg(c.Stored.keys().join(",")).toStdString());
        Store(c.Stored);
        TTransForm form(nullptr);
        form.Prepare("3 tracks, about 9.5 MB", c.IsMusic);
        EXPECT_EQ(form.FormatCb->count(), c.IsMusic ? 9 : 3);
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
        // No server answers here: the restore that was on by default goes into the tags.
        EXPECT_EQ(form.LibraryTarget(), TLibraryTarget::Tags);
        EXPECT_FALSE(form.PlaylistCb->isChecked());
        EXPECT_EQ(form.FormatCb->itemText(2), "Name as: Artist - Song name");
    }
    Store({{"MediaDest", "/srv/music/"}, {"MediaToiTunes", 0}, {"MediaPlaylistFiles", 1}});
    TTransForm form(nullptr);
    form.Prepare("1 tracks, about 1 MB", true);
    EXPECT_EQ(form.DestEdt->text(), "/srv/music/");
    EXPECT_EQ(form.LibraryCb->currentIndex(), 0);
    EXPECT_TRUE(form.PlaylistCb->isChecked());
    EXPECT_FALSE(form.RestoreToITunes());
    EXPECT_TRUE(form.WritePlaylistFiles());
}

TEST_F(TransFormTest, LibraryChoiceIsOfferedWhenItWorksAndRemembered) {
    struct TCase {
        TValues Stored;
        bool MpdUp;
        TLibraryTarget Shown;
    };
    const TCase cases[] = {
        // Nothing saved, or the old box ticked: the first target that works.
        {{}, true, TLibraryTarget::Mpd},
        {{}, false, TLibraryTarget::Tags},
        {{{"MediaToiTunes", 1}}, true, TLibraryTarget::Mpd},
        {{{"MediaToiTunes", 1}}, false, TLibraryTarget::Tags},
        {{{"MediaToiTunes", 0}}, true, TLibraryTarget::None},
        // The choice itself wins over the old box; one that cannot work now is not taken.
        {{{"MediaLibrary", 2}, {"MediaToiTunes", 0}}, true, TLibraryTarget::Tags},
        {{{"MediaLibrary", 1}}, true, TLibraryTarget::Mpd},
        {{{"MediaLibrary", 1}}, false, TLibraryTarget::None},
        {{{"MediaLibrary", 7}, {"MediaToiTunes", 0}}, true, TLibraryTarget::None},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(
            QString("%1 mpd %2").arg(c.Stored.keys().join(",")).arg(c.MpdUp).toStdString());
        Store(c.Stored);
        MpdAnswers = c.MpdUp;
        TTransForm form(nullptr);
        form.Prepare("1 tracks, about 1 MB", true);
        EXPECT_EQ(form.LibraryTarget(), c.Shown);
        EXPECT_EQ(form.LibraryCb->currentIndex(), static_cast<int>(c.Shown));
        const auto* model = qobject_cast<QStandardItemModel*>(form.LibraryCb->model());
        ASSERT_NE(model, nullptr);
        EXPECT_EQ(model->item(1)->isEnabled(), c.MpdUp);
        EXPECT_EQ(model->item(1)->toolTip(), c.MpdUp ? "" : "no server");
        EXPECT_TRUE(model->item(2)->isEnabled());
    }

    MpdAnswers = true;
    Store({{"MediaToiTunes", 1}});
    {
        TTransForm form(nullptr);
        form.Prepare("1 tracks, about 1 MB", true);
        EXPECT_EQ(form.LibraryLb->text(), "Add to my media library:");
        EXPECT_EQ(form.LibraryCb->itemText(0), "none");
        EXPECT_EQ(form.LibraryCb->itemText(1), "MPD");
        EXPECT_EQ(form.LibraryCb->itemText(2), "ratings and play counts in the files' tags");
        form.DestEdt->setText("/tmp/music");
        form.LibraryCb->setCurrentIndex(2);
        form.OKBtn->click();
        EXPECT_EQ(form.LibraryTarget(), TLibraryTarget::Tags);
        EXPECT_TRUE(form.RestoreToITunes());
        EXPECT_EQ(Saved().value("MediaLibrary"), "2");
    }
    TTransForm next(nullptr);
    next.Prepare("1 tracks, about 1 MB", true);
    EXPECT_EQ(next.LibraryTarget(), TLibraryTarget::Tags);
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
        form.LibraryCb->setCurrentIndex(0);
        form.PlaylistCb->setChecked(true);
        form.EmbedCoversCb->setChecked(true);
        // Return presses the default button, "Start Transfer".
        WhenDialogShown<TTransForm>(
            [](TTransForm* shown) { QTest::keyClick(shown, Qt::Key_Return); });
        ASSERT_EQ(form.exec(), QDialog::Accepted);
        EXPECT_EQ(form.Destination(), c.Saved);
        EXPECT_EQ(form.Organize, 3);
        EXPECT_FALSE(form.RestoreToITunes());
        EXPECT_TRUE(form.WritePlaylistFiles());
        EXPECT_FALSE(form.CoverFiles());
        EXPECT_TRUE(form.EmbedCovers());
        EXPECT_EQ(Saved(),
                  (QMap<QString, QString>{{"MediaDest", c.Saved},
                                          {"Orgnize", "3"},
                                          {"MediaLibrary", "0"},
                                          {"MediaPlaylistFiles", "1"},
                                          {"MediaNameTemplate", TTrackNameTemplate::kDefault},
                                          {"MediaCoverFiles", "0"},
                                          {"MediaEmbedCovers", "1"}}));
    }
    // The next dialog starts from what was saved.
    TTransForm next(nullptr);
    next.Prepare("2 tracks, about 4 MB", true);
    EXPECT_EQ(next.DestEdt->text(), "/tmp/music/");
    EXPECT_EQ(next.FormatCb->currentIndex(), 3);
    EXPECT_EQ(next.LibraryCb->currentIndex(), 0);
    EXPECT_TRUE(next.PlaylistCb->isChecked());
    EXPECT_TRUE(next.EmbedCoversCb->isChecked());
    EXPECT_FALSE(next.CoversCb->isChecked());
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
    form.LibraryCb->setCurrentIndex(0);
    form.CancelBtn->click();
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(form.result(), QDialog::Rejected);
    EXPECT_EQ(Saved(), before);
}

TEST_F(TransFormTest, NoWorkingLibraryTargetLeavesTheRowOutAndRestoresNothing) {
    Store({{"MediaLibrary", 2}});
    TTransForm::TargetAvailable = [](TLibraryTarget) { return std::string("cannot"); };
    TTransForm form(nullptr);
    form.Prepare("2 tracks, about 4 MB", true);
    EXPECT_TRUE(form.LibraryCb->isHidden());
    EXPECT_TRUE(form.LibraryLb->isHidden());
    EXPECT_FALSE(form.RestoreToITunes());
}

TEST_F(TransFormTest, ARefusedDestinationKeepsTheDialogOpenAndIsNotRemembered) {
    Store({{"MediaDest", "/old/"}});
    TMessageRecorder messages;
    TTransForm form(nullptr);
    form.Prepare("2 tracks, about 4 MB", true);
    form.show();
    std::vector<std::string> asked;
    form.DestinationCheck = [&asked](std::string& folder) {
        asked.push_back(folder);
        if (folder == "/refused/") {
            folder = "Cannot create folder /refused/";
            return false;
        }
        return true;
    };
    form.DestEdt->setText("/refused");
    form.OKBtn->click();
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(messages.Texts(), QStringList{"Cannot create folder /refused/"});
    EXPECT_EQ(app::OpenUserKey()->value("MediaDest").toString(), "/old/");

    form.DestEdt->setText("/fine");
    form.OKBtn->click();
    EXPECT_EQ(form.result(), QDialog::Accepted);
    EXPECT_EQ(asked, (std::vector<std::string>{"/refused/", "/fine/"}));
    EXPECT_EQ(app::OpenUserKey()->value("MediaDest").toString(), "/fine/");
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
    EXPECT_FALSE(form.LibraryCb->isVisible());
    EXPECT_FALSE(form.PlaylistCb->isVisible());
    EXPECT_FALSE(form.RestoreToITunes());
    EXPECT_FALSE(form.WritePlaylistFiles());
    EXPECT_EQ(form.DestEdt->text(), "/p/");
    // The photo options, at their defaults: HEIC kept, Live Photo clips, both of an edit.
    EXPECT_TRUE(form.HeicCb->isVisible());
    EXPECT_FALSE(form.HeicCb->isChecked());
    EXPECT_TRUE(form.LiveVideoCb->isChecked());
    EXPECT_EQ(form.EditedCb->currentText(), "both");
    form.DestEdt->setText(" /home/me/Pictures");
    form.FormatCb->setCurrentIndex(TTransForm::kPhotoByDate);
    form.HeicCb->setChecked(true);
    form.LiveVideoCb->setChecked(false);
    form.EditedCb->setCurrentIndex(1);
    form.OKBtn->click();
    EXPECT_EQ(form.result(), QDialog::Accepted);
    EXPECT_EQ(form.Organize, TTransForm::kPhotoByDate);
    EXPECT_TRUE(form.HeicToJpeg());
    EXPECT_FALSE(form.LiveVideo());
    EXPECT_EQ(form.EditedChoice(), 1);

    expected["PicDest"] = "/home/me/Pictures/";
    expected["PicOrgnize"] = "2";
    expected["PicHeicToJpeg"] = "1";
    expected["PicLiveVideo"] = "0";
    expected["PicEdited"] = "1";
    EXPECT_EQ(Saved(), expected);

    // The next photo transfer starts from these choices; the music form shows none of them.
    TTransForm again(nullptr);
    again.Prepare("Total 1 pictures", false);
    EXPECT_EQ(again.FormatCb->currentText(),
              "Place files into folders by date taken (year, month)");
    EXPECT_TRUE(again.HeicCb->isChecked());
    EXPECT_FALSE(again.LiveVideoCb->isChecked());
    EXPECT_EQ(again.EditedCb->currentText(), "originals");
    TTransForm music(nullptr);
    music.Prepare("1 tracks, about 1 MB", true);
    music.show();
    EXPECT_FALSE(music.HeicCb->isVisible());
    EXPECT_FALSE(music.EditedCb->isVisible());
    EXPECT_FALSE(music.HeicToJpeg());
}

TEST_F(TransFormTest, TemplateShowsItsPreviewAsTypedAndIsRemembered) {
    TTrackItem sample;
    sample.Title = "Harbour Lights";
    sample.Artist = "The Tide";
    sample.Album = "Coast";
    sample.TrackNumber = 7;
    sample.Location = "iTunes_Control/Music/F01/ABCD.m4a";
    TMessageRecorder messages;
    {
        TTransForm form(nullptr);
        form.Prepare("1 tracks, about 1 MB", true);
        form.SetSampleTrack(sample);
        form.show();
        EXPECT_FALSE(form.TemplateBox->isVisible());  // only for its own choice
        form.FormatCb->setCurrentIndex(TTransForm::kMusicTemplate);
        ASSERT_TRUE(form.TemplateBox->isVisible());
        EXPECT_EQ(form.TemplateBox->PreviewLb->text(),
                  "Example: The Tide/Coast/07 Harbour Lights.m4a");
        // Every key stroke updates the preview, an unknown token says so.
        form.TemplateBox->TemplateEdt->clear();
        QTest::keyClicks(form.TemplateBox->TemplateEdt, "%year%/%title");
        EXPECT_NE(form.TemplateBox->PreviewLb->text().indexOf("no closing"), -1);
        QTest::keyClicks(form.TemplateBox->TemplateEdt, "%");
        EXPECT_EQ(form.TemplateBox->PreviewLb->text(), "Example: Harbour Lights.m4a");
        QTest::keyClicks(form.TemplateBox->TemplateEdt, " %mood%");
        EXPECT_NE(form.TemplateBox->PreviewLb->text().indexOf("Unknown token %mood%"), -1);

        // A template that cannot name files keeps the dialog open and is not saved.
        form.DestEdt->setText("/tmp/music");
        form.OKBtn->click();
        ASSERT_EQ(messages.Shown.size(), 1u);
        EXPECT_NE(messages.Shown[0].Text.indexOf("%mood%"), -1);
        EXPECT_TRUE(form.isVisible());
        EXPECT_FALSE(Saved().contains("MediaNameTemplate"));

        form.TemplateBox->TemplateEdt->setText("%albumartist% - %title%");
        EXPECT_EQ(form.TemplateBox->PreviewLb->text(), "Example: The Tide - Harbour Lights.m4a");
        form.OKBtn->click();
        EXPECT_EQ(form.result(), QDialog::Accepted);
        EXPECT_TRUE(form.NamesByTemplate());
        EXPECT_EQ(form.Organize, TTransForm::kMusicTemplate);
        EXPECT_EQ(form.NameTemplate(), "%albumartist% - %title%");
    }
    TTransForm next(nullptr);
    next.Prepare("1 tracks, about 1 MB", true);
    next.show();
    EXPECT_TRUE(next.TemplateBox->isVisible());
    EXPECT_EQ(next.TemplateBox->Template(), "%albumartist% - %title%");
    // Without a sample track the preview lists the tokens.
    EXPECT_NE(next.TemplateBox->PreviewLb->text().indexOf("%albumartist%"), -1);
    TTransForm photos(nullptr);
    photos.Prepare("Total 1 pictures", false);
    photos.show();
    EXPECT_FALSE(photos.TemplateBox->isVisible());
}

TEST_F(TransFormTest, BrowseStartsAtTheTypedFolderOrHomeAndShowsTheChosenOne) {
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
    TTempDir typed;
    for (const QString& text : {QString(), QString::fromStdString(typed / "not yet")}) {
        form.DestEdt->setText(text);
        answer.clear();
        form.BrowseBtn->click();
        EXPECT_EQ(start, QDir::homePath()) << text.toStdString();
    }
    form.DestEdt->setText(" " + QString::fromStdString(typed.Path()) + " ");
    answer = "/media/backup/Music";
    form.BrowseBtn->click();
    EXPECT_EQ(title, "Save files to");
    EXPECT_EQ(start, QString::fromStdString(typed.Path()));
    EXPECT_EQ(form.DestEdt->text(), "/media/backup/Music");
    answer.clear();  // the browser was cancelled
    form.BrowseBtn->click();
    EXPECT_EQ(form.DestEdt->text(), "/media/backup/Music");
}

}  // namespace
}  // namespace corvane::transfer
