#include "transfer/KelProgress.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "gui/Shell.h"
#include "gui/ThemeColours.h"
#include "gui/UiDispatcher.h"
#include "music/iPodMusic.h"
#include "photo/iPodPhoto.h"
#include "transfer/PlaylistFiles.h"

namespace corvane::transfer {
namespace {

constexpr int kDialogWidth = 480;

// The palette's own colours, so the dialog follows a light or a dark desktop theme.
const char* const kButtonStyle =
    "QPushButton#ActBtn { color: palette(button-text); border: 1px solid palette(mid);"
    " border-radius: 3px; padding: 5px 22px; min-width: 64px; }"
    "QPushButton#ActBtn:hover { background-color: palette(midlight); }"
    "QPushButton#ActBtn:pressed { background-color: palette(mid); }"
    "QPushButton#ActBtn:focus { border-color: palette(highlight); }"
    "QPushButton#ActBtn:disabled { color: palette(mid); }";

QProgressBar* Bar(QWidget* parent, const char* name, int height) {
    auto* bar = new QProgressBar(parent);
    bar->setObjectName(name);
    bar->setTextVisible(false);
    bar->setFixedHeight(height);
    return bar;
}

}  // namespace

TProgressDialog::TProgressDialog(QWidget* owner)
    : QDialog(owner, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setWindowTitle("Transfer");
    setModal(true);
    setAutoFillBackground(true);

    InfoLb = new QLabel("Transfer to computer:", this);
    InfoLb->setObjectName("InfoLb");
    QFont heading = InfoLb->font();
    heading.setBold(true);
    InfoLb->setFont(heading);
    CopyLb = new QLabel("Transferring", this);
    CopyLb->setObjectName("CopyLb");
    // Long track names are cut at the edge instead of widening the dialog.
    CopyLb->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    for (QLabel* label : {InfoLb, CopyLb})
        label->setTextFormat(Qt::PlainText);
    Pb = Bar(this, "Pb", 18);
    BytesLb = new QLabel(this);
    BytesLb->setObjectName("BytesLb");
    BytesLb->setTextFormat(Qt::PlainText);
    BytesLb->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    // Looked at a few times a second: the worker never waits for the screen while it copies.
    FBytesTimer = new QTimer(this);
    FBytesTimer->setInterval(250);
    connect(FBytesTimer, &QTimer::timeout, this, &TProgressDialog::ShowBytes);
    BusyPb = Bar(this, "BusyPb", 6);
    BusyPb->setRange(0, 0);
    ActBtn = new QPushButton("Cancel", this);
    ActBtn->setObjectName("ActBtn");
    ActBtn->setFlat(true);
    ActBtn->setStyleSheet(kButtonStyle);
    ActBtn->setAutoDefault(false);
    LogBtn = new QPushButton("Show error log", this);
    LogBtn->setObjectName("LogBtn");
    LogBtn->setFlat(true);
    LogBtn->setStyleSheet(QString(kButtonStyle).replace("#ActBtn", "#LogBtn"));
    LogBtn->setAutoDefault(false);
    LogBtn->hide();

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(20, 18, 20, 16);
    root->setSpacing(8);
    root->addWidget(InfoLb);
    root->addWidget(CopyLb);
    root->addSpacing(2);
    root->addWidget(Pb);
    root->addWidget(BytesLb);
    root->addWidget(BusyPb);
    root->addStretch(1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(LogBtn);
    buttons->addStretch(1);
    buttons->addWidget(ActBtn);
    root->addLayout(buttons);

    connect(ActBtn, &QPushButton::clicked, this, &TProgressDialog::ActBtnClick);
    connect(LogBtn, &QPushButton::clicked, this, [this] {
        if (LogViewer && FLogText)
            LogViewer(this, QString::fromStdString(FLogText()));
    });
    setFixedSize(kDialogWidth, sizeHint().height() + 8);
}

TProgressDialog::~TProgressDialog() {
    EndWorker();
}

void TProgressDialog::Run(TIpodMusicDb& music, const QString& folder, TLibraryTarget target,
                          int total, const QString& heading, bool writePlaylistFiles) {
    IsMusic = true;
    Folder = folder;
    std::function<void()> finished;
    if (writePlaylistFiles) {
        // The worker has left the library by now and waits for this report: the files list
        // exactly the tracks it copied, and are there when "Done" opens the folder.
        finished = [&music] { corvane::WritePlaylistFiles(music); };
    }
    FLogText = [&music] { return music.Log.Text(); };
    Start(std::make_unique<TMusicCopyThread>(music, target, app::UiDispatcher()), total, heading,
          std::move(finished));
}

void TProgressDialog::Run(TIpodPhotoDb& photos, const QString& folder, int total,
                          const QString& heading) {
    IsMusic = false;
    Folder = folder;
    FLogText = [&photos] { return photos.Log.Text(); };
    Start(std::make_unique<TPhotoCopyThread>(photos, true, app::UiDispatcher()), total, heading);
}

void TProgressDialog::Start(std::unique_ptr<TCopyThread> worker, int total, const QString& heading,
                            std::function<void()> finished) {
    EndWorker();
    InfoLb->setText(heading);
    CopyLb->setText("Transferring");
    FTotal = std::max(total, 0);
    Pb->setRange(0, kBarSteps);
    Pb->setValue(0);
    BytesLb->clear();
    BusyPb->show();
    ActBtn->setText("Cancel");
    ActBtn->setEnabled(true);
    LogBtn->hide();
    InfoLb->setStyleSheet(QString());
    FDeviceLost = false;

    FWorker = std::move(worker);
    FWorker->OnProgress = [this](const std::string& text) {
        ShowProgress(QString::fromStdString(text));
    };
    FWorker->OnStatus = [this, finished = std::move(finished)](const std::string& text,
                                                               uint8_t kind) {
        if (kind == kStatusEnded && finished)
            finished();
        ShowStatus(QString::fromStdString(text), kind);
    };
    FRunning = true;
    FWorker->Start();
    FBytesTimer->start();

    const QPointer<TProgressDialog> alive(this);
    exec();
    if (alive)
        EndWorker();
}

void TProgressDialog::EndWorker() {
    if (!FWorker)
        return;
    if (!FWorker->Finished()) {
        FWorker->Terminate();
        app::WaitPumping([this] { return FWorker->Finished(); });
    }
    FWorker->WaitFor();
    FWorker.reset();
    FRunning = false;
}

void TProgressDialog::ShowProgress(const QString& text) {
    CopyLb->setText(text);
    ShowBytes();
    emit ProgressShown(text);
}

void TProgressDialog::ShowBytes() {
    if (!FWorker)
        return;
    const TCopyThread::TBytesShown shown = FWorker->BytesShown();
    // A marquee (the long wait) has no value to show.
    if (Pb->maximum() > 0)
        Pb->setValue(static_cast<int>(shown.Fraction * kBarSteps + 0.5));
    BytesLb->setText(QString::fromStdString(shown.Text));
}

void TProgressDialog::ShowStatus(const QString& text, uint8_t kind) {
    InfoLb->setText(text);
    BusyPb->hide();
    if (kind == kStatusLongWait) {
        CopyLb->setText("This may take a few minutes, please wait ...");
        Pb->setRange(0, 0);
    } else if (kind == kStatusEnded) {
        FBytesTimer->stop();
        ShowEnd(text);
        CopyLb->clear();
        Pb->setRange(0, kBarSteps);
        ShowBytes();
        Pb->setValue(kBarSteps);
        ActBtn->setText("Done");
        ActBtn->setEnabled(true);
        ActBtn->setFocus();
        FRunning = false;
    }
    emit StatusShown(text, kind);
}

// The end names what happened; anything short of all copied stands out, with the way to
// the lines that say why.
void TProgressDialog::ShowEnd(const QString& text) {
    const TTransferCounts counts = FWorker ? FWorker->Counts() : TTransferCounts{};
    if (FDeviceLost)
        InfoLb->setText(QString::fromStdString(TransferSummaryText(counts, true)));
    else
        InfoLb->setText(text);
    const bool incomplete = FDeviceLost || counts.Incomplete();
    InfoLb->setStyleSheet(
        incomplete ? QStringLiteral("color: %1;").arg(app::FailureTextColour(palette()).name())
                   : QString());
    InfoLb->setProperty("failed", incomplete);
    const bool hasLog = FLogText && !FLogText().empty();
    LogBtn->setVisible(LogViewer && hasLog && incomplete);
}

void TProgressDialog::DeviceLost() {
    FDeviceLost = true;
    Cancel();
}

void TProgressDialog::Cancel() {
    if (!FRunning || !FWorker)
        return;
    FWorker->Terminate();
    // The copy stops at its next item; the greyed button shows the request was taken.
    ActBtn->setEnabled(false);
}

void TProgressDialog::ActBtnClick() {
    if (FRunning) {
        Cancel();
        return;
    }
    app::OpenFolder(Folder);
    accept();
}

void TProgressDialog::reject() {
    if (!FRunning)
        QDialog::reject();
}

void TProgressDialog::closeEvent(QCloseEvent* event) {
    if (FRunning)
        event->ignore();
    else
        QDialog::closeEvent(event);
}

void TProgressDialog::keyPressEvent(QKeyEvent* event) {
    if (FRunning && event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

}  // namespace corvane::transfer
