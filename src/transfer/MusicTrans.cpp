#include "transfer/MusicTrans.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QStandardItemModel>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

#include "base/PlatformTexts.h"
#include "gui/Icons.h"
#include "gui/MessageBox.h"
#include "gui/NameTemplateBox.h"
#include "gui/ThemeColours.h"
#include "gui/UserSettings.h"
#include "music/TrackNameTemplate.h"

namespace corvane::transfer {
namespace {

// Wide enough for the longest naming choice without eliding it.
constexpr int kDialogWidth = 540;
constexpr int kBandHeight = 49;

const QStringList& MusicChoices() {
    static const QStringList choices = {
        "Place files into album and artist folders (same as iTunes)",
        "Use song names as file names",
        "Name as: Artist - Song name",
        "Name as: Song name - Artist",
        "Name as: Album - Artist - Song name",
        "Name as: Artist - Album - Song name",
        "Name as: Song name - Album - Artist",
        "Name as: Song name - Artist - Album",
        "Name by a template of my own:",
    };
    return choices;
}

const QStringList& PhotoChoices() {
    static const QStringList choices = {
        "Place files into album folders",
        "Save to target folder directly",
        "Place files into folders by date taken (year, month)",
    };
    return choices;
}

// A saved choice index; anything that is not a number counts as 0.
int SavedIndex(const QSettings& key, const QString& name) {
    bool ok = false;
    const int index = key.value(name).toInt(&ok);
    return ok ? index : 0;
}

template <typename T>
T* Named(T* widget, const char* name) {
    widget->setObjectName(name);
    return widget;
}

}  // namespace

TTransForm::TTransForm(QWidget* owner) : QDialog(owner) {
    setWindowTitle("Prepare to transfer");
    setWindowFlag(Qt::MSWindowsFixedSizeDialogHint);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    Shp = Named(new QFrame(this), "Shp");
    Shp->setFixedHeight(kBandHeight);
    Shp->setStyleSheet(
        QString("#Shp { background-color: %1; border: 1px solid %2; }")
            .arg(app::SummaryBandColour(palette()).name(), palette().color(QPalette::Base).name()));
    InfoLb = Named(new QLabel("Ready", Shp), "InfoLb");
    InfoLb->setTextFormat(Qt::PlainText);
    InfoLb->setWordWrap(true);
    auto* band = new QHBoxLayout(Shp);
    band->setContentsMargins(16, 0, 16, 0);
    band->addWidget(InfoLb);

    ShownOnlyCb = Named(new QCheckBox(this), "ShownOnlyCb");
    ShownOnlyCb->setVisible(false);
    connect(ShownOnlyCb, &QCheckBox::toggled, this, &TTransForm::ShowSummary);

    auto* saveToLb = Named(new QLabel("Save to:", this), "SaveToLb");
    DestEdt = Named(new QLineEdit(this), "DestEdt");
    saveToLb->setBuddy(DestEdt);
    BrowseBtn = Named(new QToolButton(this), "BrowseBtn");
    BrowseBtn->setAutoRaise(true);
    QIcon folder = app::Icon("folder");
    // Until the picture is drawn, the style's folder keeps the button visible.
    if (folder.availableSizes().isEmpty())
        folder = style()->standardIcon(QStyle::SP_DirIcon);
    BrowseBtn->setIcon(folder);
    BrowseBtn->setIconSize(QSize(16, 16));
    BrowseBtn->setFocusPolicy(Qt::TabFocus);
    FormatCb = Named(new QComboBox(this), "FormatCb");
    FormatCb->setEditable(false);
    FormatCb->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    FormatCb->setMinimumContentsLength(20);
    TemplateBox = Named(new app::TNameTemplateBox(this), "TemplateBox");
    TemplateBox->setVisible(false);
    LibraryLb = Named(new QLabel(texts::kMediaLibraryLabel, this), "LibraryLb");
    LibraryCb = Named(new QComboBox(this), "LibraryCb");
    LibraryCb->addItems(
        {texts::kMediaLibraryNone, texts::kMediaLibraryMpd, texts::kMediaLibraryTags});
    LibraryLb->setBuddy(LibraryCb);
    PlaylistCb =
        Named(new QCheckBox("Also save playlists as playlist files (.m3u8)", this), "PlaylistCb");
    CoversCb = Named(new QCheckBox("Save the album art as cover.jpg in each album folder", this),
                     "CoversCb");
    EmbedCoversCb = Named(new QCheckBox("Embed the album art into copies that have none", this),
                          "EmbedCoversCb");
    HeicCb = Named(new QCheckBox("Write HEIC pictures as JPEG files", this), "HeicCb");
    LiveVideoCb =
        Named(new QCheckBox("Copy the video of each Live Photo beside it", this), "LiveVideoCb");
    LiveVideoCb->setChecked(true);
    EditedLb = Named(new QLabel("Edited photos:", this), "EditedLb");
    EditedCb = Named(new QComboBox(this), "EditedCb");
    EditedCb->addItems({"as edited", "originals", "both"});
    EditedCb->setCurrentIndex(2);
    EditedLb->setBuddy(EditedCb);

    auto* form = new QGridLayout;
    form->setContentsMargins(16, 16, 16, 8);
    form->setHorizontalSpacing(8);
    form->setVerticalSpacing(10);
    form->addWidget(saveToLb, 0, 0);
    form->addWidget(DestEdt, 0, 1);
    form->addWidget(BrowseBtn, 0, 2);
    auto* naming = new QVBoxLayout;
    naming->setSpacing(6);
    naming->addWidget(FormatCb);
    naming->addWidget(TemplateBox);
    form->addLayout(naming, 1, 1, 1, 2);
    auto* library = new QHBoxLayout;
    library->setSpacing(8);
    library->addWidget(LibraryLb);
    library->addWidget(LibraryCb, 1);
    form->addLayout(library, 2, 1, 1, 2);
    form->addWidget(PlaylistCb, 3, 1, 1, 2);
    form->addWidget(HeicCb, 4, 1, 1, 2);
    form->addWidget(LiveVideoCb, 5, 1, 1, 2);
    auto* edited = new QHBoxLayout;
    edited->addWidget(EditedLb);
    edited->addWidget(EditedCb, 1);
    form->addLayout(edited, 6, 1, 1, 2);
    form->addWidget(CoversCb, 7, 1, 1, 2);
    form->addWidget(EmbedCoversCb, 8, 1, 1, 2);
    form->setColumnStretch(1, 1);

    Bv = Named(new QFrame(this), "Bv");
    Bv->setFrameShape(QFrame::HLine);
    Bv->setFrameShadow(QFrame::Sunken);

    CancelBtn = Named(new QPushButton("Cancel", this), "CancelBtn");
    OKBtn = Named(new QPushButton("Start Transfer", this), "OKBtn");
    OKBtn->setDefault(true);
    CancelBtn->setAutoDefault(false);
    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(16, 8, 16, 14);
    buttons->addWidget(CancelBtn);
    buttons->addStretch(1);
    buttons->addWidget(OKBtn);

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);
    root->addWidget(Shp);
    auto* shownOnly = new QHBoxLayout;
    shownOnly->setContentsMargins(16, 10, 16, 0);
    shownOnly->addWidget(ShownOnlyCb);
    root->addLayout(shownOnly);
    root->addLayout(form);
    root->addSpacing(6);
    auto* line = new QHBoxLayout;
    line->setContentsMargins(16, 0, 16, 0);
    line->addWidget(Bv);
    root->addLayout(line);
    root->addLayout(buttons);

    connect(BrowseBtn, &QToolButton::clicked, this, &TTransForm::BrowseBtnClick);
    connect(OKBtn, &QPushButton::clicked, this, &TTransForm::OKBtnClick);
    connect(CancelBtn, &QPushButton::clicked, this, &QDialog::reject);
    connect(FormatCb, &QComboBox::currentIndexChanged, this, &TTransForm::ShowTemplateBox);

    setFixedSize(kDialogWidth, sizeHint().height());
}

void TTransForm::Prepare(const QString& summary, bool isMusic) {
    FIsMusic = isMusic;
    FSummary = summary;
    FShownSummary.clear();
    ShownOnlyCb->setVisible(false);
    ShowSummary();
    if (isMusic)
        OfferLibraryTargets();
    LibraryLb->setVisible(isMusic && AnyTargetEnabled());
    LibraryCb->setVisible(isMusic && AnyTargetEnabled());
    PlaylistCb->setVisible(isMusic);
    CoversCb->setVisible(isMusic);
    EmbedCoversCb->setVisible(isMusic);
    HeicCb->setVisible(!isMusic);
    LiveVideoCb->setVisible(!isMusic);
    EditedLb->setVisible(!isMusic);
    EditedCb->setVisible(!isMusic);
    FormatCb->clear();
    FormatCb->addItems(isMusic ? MusicChoices() : PhotoChoices());
    LoadSettings(isMusic);
    // Each form shows its own rows only.
    layout()->activate();
    setFixedSize(kDialogWidth, sizeHint().height());
}

void TTransForm::OfferShownOnly(const QString& nodeName, const QString& shownSummary) {
    FNodeName = nodeName;
    FShownSummary = shownSummary;
    ShownOnlyCb->setText("Only the ticked ones shown in \u201c" + nodeName + "\u201d");
    ShownOnlyCb->setVisible(true);
    // The user looking at a playlist or an album means its items; the rest is one click away.
    ShownOnlyCb->setChecked(true);
    ShowSummary();
    layout()->activate();
    setFixedSize(kDialogWidth, sizeHint().height());
}

bool TTransForm::ShownOnly() const {
    return !FShownSummary.isEmpty() && ShownOnlyCb->isChecked();
}

void TTransForm::ShowSummary() {
    if (ShownOnly())
        InfoLb->setText("Transfer selected " + FShownSummary + ", shown in " + FNodeName);
    else if (!FShownSummary.isEmpty())
        InfoLb->setText("Transfer selected " + FSummary + ", ticked in the whole library");
    else
        InfoLb->setText("Transfer selected " + FSummary);
}

void TTransForm::LoadSettings(bool isMusic) {
    Organize = 0;
    const std::unique_ptr<QSettings> key = app::OpenUserKey();
    const bool opened = key && key->status() == QSettings::NoError;
    if (isMusic)
        SelectLibraryTarget(SavedLibraryTarget(opened ? key.get() : nullptr));
    if (opened) {
        if (isMusic) {
            if (key->contains("MediaPlaylistFiles"))
                PlaylistCb->setChecked(key->value("MediaPlaylistFiles").toBool());
            CoversCb->setChecked(key->value("MediaCoverFiles").toBool());
            EmbedCoversCb->setChecked(key->value("MediaEmbedCovers").toBool());
            if (key->contains("Orgnize"))
                Organize = SavedIndex(*key, "Orgnize");
            DestEdt->setText(key->value("MediaDest").toString());
        } else {
            DestEdt->setText(key->value("PicDest").toString());
            if (key->contains("PicOrgnize"))
                Organize = SavedIndex(*key, "PicOrgnize");
            if (key->contains("PicHeicToJpeg"))
                HeicCb->setChecked(key->value("PicHeicToJpeg").toBool());
            if (key->contains("PicLiveVideo"))
                LiveVideoCb->setChecked(key->value("PicLiveVideo").toBool());
            if (const int choice = SavedIndex(*key, "PicEdited");
                key->contains("PicEdited") && choice >= 0 && choice < EditedCb->count())
                EditedCb->setCurrentIndex(choice);
        }
    }
    // A negative index would leave the list without a choice and hand -1 to the export, which
    // then silently takes another scheme than the one shown: start from the first instead.
    if (Organize < 0 || Organize >= FormatCb->count())
        Organize = 0;
    FormatCb->setCurrentIndex(Organize);
    if (isMusic) {
        const QString saved = opened ? key->value("MediaNameTemplate").toString() : QString();
        TemplateBox->SetTemplate(saved.isEmpty() ? TTrackNameTemplate::kDefault : saved);
    }
    ShowTemplateBox();
}

void TTransForm::SetSampleTrack(const TTrackItem& track) {
    TemplateBox->SetSample(track);
}

QString TTransForm::NameTemplate() const {
    return TemplateBox->Template();
}

bool TTransForm::NamesByTemplate() const {
    return FIsMusic && FormatCb->currentIndex() == kMusicTemplate;
}

void TTransForm::ShowTemplateBox() {
    const bool shown = NamesByTemplate();
    if (TemplateBox->isVisibleTo(this) == shown)
        return;
    TemplateBox->setVisible(shown);
    layout()->activate();
    setFixedSize(kDialogWidth, sizeHint().height());
}

void TTransForm::SaveSettings(bool isMusic) {
    const std::unique_ptr<QSettings> key = app::OpenUserKey();
    if (!key)
        return;
    if (isMusic) {
        key->setValue("MediaDest", DestEdt->text());
        key->setValue("MediaLibrary", LibraryCb->currentIndex());
        key->setValue("MediaPlaylistFiles", PlaylistCb->isChecked() ? 1 : 0);
        key->setValue("MediaCoverFiles", CoversCb->isChecked() ? 1 : 0);
        key->setValue("MediaEmbedCovers", EmbedCoversCb->isChecked() ? 1 : 0);
        key->setValue("Orgnize", FormatCb->currentIndex());
        key->setValue("MediaNameTemplate", TemplateBox->Template());
    } else {
        key->setValue("PicDest", DestEdt->text());
        key->setValue("PicOrgnize", FormatCb->currentIndex());
        key->setValue("PicHeicToJpeg", HeicCb->isChecked() ? 1 : 0);
        key->setValue("PicLiveVideo", LiveVideoCb->isChecked() ? 1 : 0);
        key->setValue("PicEdited", EditedCb->currentIndex());
    }
    key->sync();
}

QString TTransForm::Destination() const {
    return DestEdt->text();
}

TLibraryTarget TTransForm::LibraryTarget() const {
    if (!FIsMusic || !TargetEnabled(LibraryCb->currentIndex()))
        return TLibraryTarget::None;
    return static_cast<TLibraryTarget>(LibraryCb->currentIndex());
}

bool TTransForm::RestoreToITunes() const {
    return LibraryTarget() != TLibraryTarget::None;
}

void TTransForm::OfferLibraryTargets() {
    auto* model = qobject_cast<QStandardItemModel*>(LibraryCb->model());
    for (const TLibraryTarget target : {TLibraryTarget::Mpd, TLibraryTarget::Tags}) {
        const std::string why =
            TargetAvailable ? TargetAvailable(target) : LibraryTargetUnavailable(target);
        QStandardItem* item = model->item(static_cast<int>(target));
        item->setEnabled(why.empty());
        item->setToolTip(QString::fromStdString(why));
    }
}

// With no target that can work, the row offers nothing: it is left out.
bool TTransForm::AnyTargetEnabled() const {
    return TargetEnabled(static_cast<int>(TLibraryTarget::Mpd)) ||
           TargetEnabled(static_cast<int>(TLibraryTarget::Tags));
}

bool TTransForm::TargetEnabled(int index) const {
    const auto* model = qobject_cast<const QStandardItemModel*>(LibraryCb->model());
    const QStandardItem* item = model ? model->item(index) : nullptr;
    return item && item->isEnabled();
}

// The saved choice, or the old yes/no of the iTunes box: yes becomes the first target that
// works now (MPD, else the tags), as the box was ticked when nothing was saved.
TLibraryTarget TTransForm::SavedLibraryTarget(const QSettings* key) const {
    if (key && key->contains("MediaLibrary")) {
        bool ok = false;
        const int index = key->value("MediaLibrary").toInt(&ok);
        if (ok && index >= 0 && index <= static_cast<int>(TLibraryTarget::Tags))
            return static_cast<TLibraryTarget>(index);
    }
    if (key && key->contains("MediaToiTunes") && !key->value("MediaToiTunes").toBool())
        return TLibraryTarget::None;
    return TargetEnabled(static_cast<int>(TLibraryTarget::Mpd)) ? TLibraryTarget::Mpd
                                                                : TLibraryTarget::Tags;
}

// A remembered target that cannot work now is not chosen behind the user's back.
void TTransForm::SelectLibraryTarget(TLibraryTarget target) {
    const int index = static_cast<int>(target);
    LibraryCb->setCurrentIndex(TargetEnabled(index) ? index : 0);
}

bool TTransForm::WritePlaylistFiles() const {
    return FIsMusic && PlaylistCb->isChecked();
}

bool TTransForm::CoverFiles() const {
    return FIsMusic && CoversCb->isChecked();
}

bool TTransForm::EmbedCovers() const {
    return FIsMusic && EmbedCoversCb->isChecked();
}

bool TTransForm::HeicToJpeg() const {
    return !FIsMusic && HeicCb->isChecked();
}

bool TTransForm::LiveVideo() const {
    return !FIsMusic && LiveVideoCb->isChecked();
}

int TTransForm::EditedChoice() const {
    return EditedCb->currentIndex();
}

void TTransForm::BrowseBtnClick() {
    const QString title = "Save files to";
    // The folder typed so far when it is there, else the user's home: the file system's root
    // is where no user keeps music or pictures.
    const QString typed = DestEdt->text().trimmed();
    const QString start = !typed.isEmpty() && QDir(typed).exists() ? typed : QDir::homePath();
    const QString folder = FolderChooser ? FolderChooser(this, title, start)
                                         : QFileDialog::getExistingDirectory(this, title, start);
    if (!folder.isEmpty())
        DestEdt->setText(folder);
}

void TTransForm::OKBtnClick() {
    QString folder = DestEdt->text().trimmed();
    DestEdt->setText(folder);
    if (folder.isEmpty()) {
        app::ShowMessage(this, "Please input a valid folder to save the files.",
                         app::TMessageKind::Warning);
        return;
    }
    if (NamesByTemplate() && !TemplateBox->Error().isEmpty()) {
        app::ShowMessage(this, TemplateBox->Error(), app::TMessageKind::Warning);
        TemplateBox->TemplateEdt->setFocus();
        return;
    }
    if (!folder.endsWith('/'))
        folder += '/';
    DestEdt->setText(folder);
    if (DestinationCheck) {
        std::string checked = folder.toStdString();
        if (!DestinationCheck(checked)) {
            // A refused folder is neither closed over nor remembered: the user fixes it here.
            app::ShowMessage(this, QString::fromStdString(checked), app::TMessageKind::Warning);
            DestEdt->setFocus();
            return;
        }
        DestEdt->setText(QString::fromStdString(checked));
    }
    SaveSettings(FIsMusic);
    Organize = FormatCb->currentIndex();
    accept();
}

}  // namespace corvane::transfer
