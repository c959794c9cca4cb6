#include <gtest/gtest.h>

#include <QCheckBox>
#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "app/ProductForm.h"
#include "gui/Brand.h"
#include "gui/GuiTestSupport.h"
#include "gui/UserSettings.h"

namespace corvane::app {
namespace {

using testing::TMessageRecorder;
using testing::TShellRecorder;
using testing::WhenDialogShown;

QString LabelText(const QWidget& form, const char* name) {
    const auto* label = form.findChild<QLabel*>(name);
    return label ? label->text() : QString("(no label %1)").arg(name);
}

QPushButton* Button(const QWidget& form, const char* name) {
    auto* button = form.findChild<QPushButton*>(name);
    EXPECT_NE(button, nullptr) << name;
    return button;
}

TEST(ProductForm, TitlesAndMoreButtonFollowTheProductName) {
    struct TCase {
        const char* Name;
        const char* MoreUrl;
        const char* Music;
        const char* Photo;
        bool MoreShown;
    };
    const TCase cases[] = {
        {"Corvane", "https://corvane.example.com/products.html", "Corvane Music", "Corvane Photo",
         true},
        {"", "", "Music Transfer", "Photo Transfer", false},
        {"Corvane", "", "Corvane Music", "Corvane Photo", false},
    };
    for (const auto& c : cases) {
        TProductForm form;
        form.SetProductName(c.Name, "https://other.example.com/get.html", c.MoreUrl);
        EXPECT_EQ(LabelText(form, "MLb"), c.Music);
        EXPECT_EQ(LabelText(form, "PLb"), c.Photo);
        EXPECT_FALSE(LabelText(form, "Label1").isEmpty());
        EXPECT_FALSE(LabelText(form, "Label2").isEmpty());
        EXPECT_EQ(Button(form, "MoreBtn")->isVisibleTo(&form), c.MoreShown) << c.Name;
        EXPECT_EQ(form.windowTitle(), "Select the Product");
    }
}

TEST(ProductForm, MusicAndPhotoChooseAndClose) {
    const std::pair<const char*, int> cases[] = {{"MusicBtn", 1}, {"PhotoBtn", 2}};
    for (const auto& [button, id] : cases) {
        TProductForm form;
        form.SetProductName("Corvane", "", "");
        WhenDialogShown<TProductForm>(
            [button](TProductForm* shown) { shown->findChild<QPushButton*>(button)->click(); });
        form.exec();
        EXPECT_EQ(form.SelectedProductId, id) << button;
        EXPECT_FALSE(form.isVisible());
    }
}

TEST(ProductForm, ClosingWithoutChoiceGivesZeroEvenAfterAnEarlierChoice) {
    TProductForm form;
    form.SelectedProductId = 2;
    form.SetProductName("", "", "");
    WhenDialogShown<TProductForm>([](TProductForm* shown) { shown->close(); });
    form.exec();
    EXPECT_EQ(form.SelectedProductId, 0);
}

TEST(ProductForm, OtherProductOpensItsPageOnlyAfterConfirmation) {
    TMessageRecorder messages;
    TShellRecorder shell;
    TProductForm form;
    form.SetProductName("Corvane", "https://corvane.example.com/other.html",
                        "https://corvane.example.com/products.html");
    form.show();

    messages.Answer(false);
    Button(form, "IpbBtn")->click();
    ASSERT_EQ(messages.Shown.size(), 1u);
    EXPECT_EQ(messages.Shown[0].Kind, TMessageKind::Confirmation);
    EXPECT_TRUE(messages.Shown[0].OkCancel);
    EXPECT_TRUE(shell.Requests.empty());

    messages.Answer(true);
    Button(form, "IpbBtn")->click();
    ASSERT_EQ(shell.Requests.size(), 1u);
    EXPECT_EQ(shell.Requests[0].Action, TShellAction::OpenUrl);
    EXPECT_EQ(shell.Requests[0].Target, "https://corvane.example.com/other.html");
    EXPECT_TRUE(form.isVisible());  // the dialog stays open
    EXPECT_EQ(form.SelectedProductId, 0);

    Button(form, "MoreBtn")->click();
    ASSERT_EQ(shell.Requests.size(), 2u);
    EXPECT_EQ(shell.Requests[1].Target, "https://corvane.example.com/products.html");
    EXPECT_EQ(messages.Shown.size(), 2u);  // no question before the product list
}

TEST(RunProductChooser, OnlyBrandOneShowsItsNameAndMoreProducts) {
    struct TCase {
        int Id;
        const char* Music;
        bool MoreShown;
        const char* MoreUrl;
    };
    const TCase cases[] = {
        {1, "Corvane Music", true, "https://corvane.example.com/products.html"},
        {2, "Music Transfer", false, ""},
        {0, "Music Transfer", false, ""},
    };
    for (const auto& c : cases) {
        Product = BrandOf(c.Id);
        QString music, moreUrl, otherUrl;
        bool moreShown = false;
        WhenDialogShown<TProductForm>([&](TProductForm* shown) {
            music = LabelText(*shown, "MLb");
            moreShown = shown->findChild<QPushButton*>("MoreBtn")->isVisible();
            moreUrl = shown->FMoreUrl;
            otherUrl = shown->FIPBUrl;
            shown->findChild<QPushButton*>("PhotoBtn")->click();
        });
        EXPECT_EQ(RunProductChooser(nullptr), 2) << c.Id;
        EXPECT_EQ(music, c.Music);
        EXPECT_EQ(moreShown, c.MoreShown);
        EXPECT_EQ(moreUrl, c.MoreUrl);
        EXPECT_TRUE(otherUrl.startsWith(QString::fromStdString(Product.Web) + "/"))
            << otherUrl.toStdString();
    }
    Product = BrandOf(1);
}

TEST(RunProductChooser, EnterTakesTheCurrentModeOverTheCentredDialogAndNotAskingIsRemembered) {
    Product = BrandOf(1);
    OpenUserKey()->remove("ProductNoAsk");
    OpenUserKey()->remove("ProductMode");
    QWidget owner;
    owner.setGeometry(60, 40, 640, 480);  // inside the offscreen screen of 800 x 600
    owner.show();
    ASSERT_TRUE(AskProductAtStart());
    EXPECT_EQ(SavedProductMode(), 1);

    struct TCase {
        bool IsMusic;
        bool NoAsk;
        int Choice;
        bool NoAskBefore;  // as the run before left it
    };
    for (const TCase c : {TCase{false, true, 2, false}, TCase{true, false, 1, true}}) {
        SCOPED_TRACE(c.Choice);
        Product.IsMusic = c.IsMusic;
        QPoint centre, ownerCentre, movedCentre, movedOwnerCentre;
        bool noAskShown = false;
        WhenDialogShown<TProductForm>([&](TProductForm* shown) {
            centre = shown->frameGeometry().center();
            ownerCentre = owner.frameGeometry().center();
            noAskShown = shown->NoAskCb->isChecked();
            // The window manager places the main window only after the chooser opened at
            // start: the chooser follows it.
            owner.move(owner.pos() + QPoint(30, 20));
            QCoreApplication::processEvents();
            movedCentre = shown->frameGeometry().center();
            movedOwnerCentre = owner.frameGeometry().center();
            owner.move(owner.pos() - QPoint(30, 20));
            shown->NoAskCb->setChecked(c.NoAsk);
            QTest::keyClick(shown, Qt::Key_Return);
        });
        EXPECT_EQ(RunProductChooser(&owner), c.Choice);
        EXPECT_LE((centre - ownerCentre).manhattanLength(), 2)
            << centre.x() << "," << centre.y() << " against " << ownerCentre.x() << ","
            << ownerCentre.y();
        EXPECT_LE((movedCentre - movedOwnerCentre).manhattanLength(), 2);
        EXPECT_NE(movedCentre, centre);
        // The box shows what the last run remembered; the choice is kept for the next start.
        EXPECT_EQ(noAskShown, c.NoAskBefore);
        EXPECT_EQ(AskProductAtStart(), !c.NoAsk);
        EXPECT_EQ(SavedProductMode(), c.Choice);
    }
    OpenUserKey()->remove("ProductNoAsk");
    OpenUserKey()->remove("ProductMode");
}

}  // namespace
}  // namespace corvane::app
