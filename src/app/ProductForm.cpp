#include "app/ProductForm.h"

#include <QCheckBox>
#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>
#include <algorithm>
#include <memory>

#include "gui/Brand.h"
#include "gui/Icons.h"
#include "gui/MessageBox.h"
#include "gui/Shell.h"
#include "gui/UserSettings.h"

namespace corvane::app {
namespace {

// The maker's other product, offered in the third row.
const char* const kOtherProductName = "Ferrow Backup";
const char* const kOtherProductText = "Back up contacts, messages and notes from iPhone to PC";
const char* const kOtherProductPage = "/ferrow-backup.html";

constexpr int kRowPicture = 48;
constexpr int kOpenButtonWidth = 96;

struct TRowControls {
    QLabel* Title;
    QLabel* Description;
    QPushButton* OpenBtn;
};

// One row: picture, bold title over one line of description, and an "Open" button.
TRowControls AddRow(QDialog* dialog, QVBoxLayout* rows, const QString& picture,
                    const QString& pictureName, const QString& titleName,
                    const QString& descriptionName, const QString& buttonName) {
    auto* row = new QHBoxLayout;
    row->setSpacing(14);

    auto* image = new QLabel(dialog);
    image->setObjectName(pictureName);
    image->setFixedSize(kRowPicture, kRowPicture);
    image->setPixmap(Picture(picture));
    row->addWidget(image, 0, Qt::AlignVCenter);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(3);
    auto* title = new QLabel(dialog);
    title->setObjectName(titleName);
    QFont titleFont = title->font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.1);
    title->setFont(titleFont);
    auto* description = new QLabel(dialog);
    description->setObjectName(descriptionName);
    texts->addStretch();
    texts->addWidget(title);
    texts->addWidget(description);
    texts->addStretch();
    row->addLayout(texts, 1);

    auto* open = new QPushButton("Open", dialog);
    open->setObjectName(buttonName);
    open->setMinimumWidth(kOpenButtonWidth);
    open->setAutoDefault(false);
    row->addWidget(open, 0, Qt::AlignVCenter);

    rows->addLayout(row);
    return {title, description, open};
}

void AddSeparator(QDialog* dialog, QVBoxLayout* rows) {
    auto* line = new QFrame(dialog);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    rows->addWidget(line);
}

}  // namespace

TProductForm::TProductForm(QWidget* parent) : QDialog(parent) {
    setObjectName("ProductForm");
    setWindowTitle("Select the Product");

    auto* rows = new QVBoxLayout(this);
    rows->setContentsMargins(18, 18, 18, 14);
    rows->setSpacing(12);
    rows->setSizeConstraint(QLayout::SetFixedSize);

    const TRowControls music =
        AddRow(this, rows, "product-music", "MusicImg", "MLb", "MusicDescLb", "MusicBtn");
    music.Description->setText("Transfer music, movies and books to PC and iTunes library");
    MLb = music.Title;
    MusicBtn = music.OpenBtn;
    AddSeparator(this, rows);

    const TRowControls photo =
        AddRow(this, rows, "product-photo", "PhotoImg", "PLb", "PhotoDescLb", "PhotoBtn");
    photo.Description->setText("Transfer pictures and photos from iPod and iPhone to PC");
    PLb = photo.Title;
    PhotoBtn = photo.OpenBtn;
    AddSeparator(this, rows);

    const TRowControls other =
        AddRow(this, rows, "product-other", "IpbImg", "Label1", "Label2", "IpbBtn");
    Label1 = other.Title;
    Label2 = other.Description;
    Label1->setText(kOtherProductName);
    Label2->setText(kOtherProductText);
    IpbBtn = other.OpenBtn;

    auto* bottom = new QHBoxLayout;
    MoreBtn = new QPushButton(Icon("more"), "More products ...", this);
    MoreBtn->setObjectName("MoreBtn");
    MoreBtn->setAutoDefault(false);
    bottom->addWidget(MoreBtn);
    bottom->addStretch();
    NoAskCb = new QCheckBox("Do not ask at start", this);
    NoAskCb->setObjectName("NoAskCb");
    bottom->addWidget(NoAskCb);
    rows->addSpacing(4);
    rows->addLayout(bottom);

    connect(MusicBtn, &QPushButton::clicked, this, &TProductForm::MusicBtnClick);
    connect(PhotoBtn, &QPushButton::clicked, this, &TProductForm::PhotoBtnClick);
    connect(IpbBtn, &QPushButton::clicked, this, &TProductForm::IpbBtnClick);
    connect(MoreBtn, &QPushButton::clicked, this, &TProductForm::MoreBtnClick);

    SetProductName(QString(), QString(), QString());
    SetDefaultMode(true);
}

void TProductForm::SetDefaultMode(bool music) {
    MusicBtn->setDefault(music);
    PhotoBtn->setDefault(!music);
    (music ? MusicBtn : PhotoBtn)->setFocus();
}

QWidget* TProductForm::Owner() const {
    return parentWidget() ? parentWidget()->window() : nullptr;
}

void TProductForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (QWidget* owner = Owner())
        owner->installEventFilter(this);
    CentreOnOwner();
}

void TProductForm::hideEvent(QHideEvent* event) {
    if (QWidget* owner = Owner())
        owner->removeEventFilter(this);
    QDialog::hideEvent(event);
}

bool TProductForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Owner() && (event->type() == QEvent::Move || event->type() == QEvent::Resize))
        CentreOnOwner();
    return QDialog::eventFilter(watched, event);
}

void TProductForm::CentreOnOwner() {
    const QWidget* owner = Owner();
    if (owner == nullptr || !owner->isVisible())
        return;
    QRect frame = frameGeometry();
    frame.moveCenter(owner->frameGeometry().center());
    // Never past the edges of the owner's screen.
    if (const QScreen* screen = owner->screen()) {
        const QRect room = screen->availableGeometry();
        frame.moveLeft(std::clamp(frame.left(), room.left(),
                                  std::max(room.left(), room.right() - frame.width() + 1)));
        frame.moveTop(std::clamp(frame.top(), room.top(),
                                 std::max(room.top(), room.bottom() - frame.height() + 1)));
    }
    move(frame.topLeft());
}

void TProductForm::SetProductName(const QString& ProductName, const QString& IPBUrl,
                                  const QString& MoreUrl) {
    SelectedProductId = 0;
    if (!ProductName.isEmpty()) {
        MLb->setText(ProductName + " Music");
        PLb->setText(ProductName + " Photo");
    } else {
        MLb->setText("Music Transfer");
        PLb->setText("Photo Transfer");
    }
    FMoreUrl = MoreUrl;
    FIPBUrl = IPBUrl;
    MoreBtn->setVisible(!MoreUrl.isEmpty());
}

void TProductForm::MusicBtnClick() {
    SelectedProductId = 1;
    accept();
}

void TProductForm::PhotoBtnClick() {
    SelectedProductId = 2;
    accept();
}

void TProductForm::IpbBtnClick() {
    const QString question =
        QString("Do you want to download %1 now?").arg(QString(kOtherProductName));
    if (ShowMessage(this, question, TMessageKind::Confirmation, true))
        OpenUrl(FIPBUrl);
}

void TProductForm::MoreBtnClick() {
    OpenUrl(FMoreUrl);
}

QString OtherProductUrl() {
    return QString::fromStdString(Product.Web) + kOtherProductPage;
}

int RunProductChooser(QWidget* owner) {
    TProductForm form(owner);
    if (Product.Id == 1)
        form.SetProductName(QString::fromStdString(Product.Name), OtherProductUrl(),
                            QString::fromStdString(Product.Web) + "/products.html");
    else
        form.SetProductName(QString(), OtherProductUrl(), QString());
    form.SetDefaultMode(Product.IsMusic);
    form.NoAskCb->setChecked(!AskProductAtStart());
    form.exec();
    if (const std::unique_ptr<QSettings> key = OpenUserKey()) {
        key->setValue("ProductNoAsk", form.NoAskCb->isChecked() ? 1 : 0);
        if (form.SelectedProductId != 0)
            key->setValue("ProductMode", form.SelectedProductId);
        key->sync();
    }
    return form.SelectedProductId;
}

bool AskProductAtStart() {
    const std::unique_ptr<QSettings> key = OpenUserKey();
    return !key || !key->value("ProductNoAsk").toBool();
}

int SavedProductMode() {
    const std::unique_ptr<QSettings> key = OpenUserKey();
    return key && key->value("ProductMode").toInt() == 2 ? 2 : 1;
}

}  // namespace corvane::app
