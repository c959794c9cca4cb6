#include "app/CrvMain.h"

#include <algorithm>
#include <exception>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QScreen>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/DeviceOptions.h"
#include "app/LogForm.h"
#include "app/ProductForm.h"
#include "base/PlatformTexts.h"
#include "gui/Brand.h"
#include "gui/Icons.h"
#include "gui/MessageBox.h"
#include "gui/Shell.h"
#include "gui/UiDispatcher.h"
#include "views/ViewFactory.h"

namespace corvane::app {

namespace {

QString Title() {
    return QString::fromStdString(ProductTitle());
}

QString Web() {
    return QString::fromStdString(Product.Web);
}

const char* TrueFalse(bool value) {
    return value ? "True" : "False";
}

QToolButton* MakeToolButton(QWidget* parent, const char* name, const QString& text,
                            const QString& icon) {
    auto* button = new QToolButton(parent);
    button->setObjectName(name);
    button->setText(text);
    button->setIcon(Icon(icon));
    button->setIconSize(QSize(24, 24));
    button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    button->setAutoRaise(true);
    button->setMinimumHeight(36);
    return button;
}

}  // namespace

TMainForm::TMainForm(QWidget* parent, const QString& brandDir)
    : QMainWindow(parent),
      FViewFactory([](bool music, QWidget* owner, TIpodDevice& device) {
          return music ? views::CreateMusicView(owner, device)
                       : views::CreatePhotoView(owner, device);
      }),
      FProductChooser(RunProductChooser) {
    BuildControls();
    FormCreate(brandDir);
}

TMainForm::~TMainForm() {
    FormClose();
}

void TMainForm::SetSessionOptions(TDeviceSessionOptions options) {
    FSessionOptions = std::move(options);
}

void TMainForm::SetViewFactory(TViewFactory factory) {
    FViewFactory = std::move(factory);
}

void TMainForm::SetProductChooser(TProductChooser chooser) {
    FProductChooser = std::move(chooser);
}

void TMainForm::BuildControls() {
    setObjectName("MainForm");
    auto* central = new QWidget(this);
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    auto* bar = new QWidget(central);
    bar->setObjectName("ToolPnl");
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(10, 6, 10, 6);
    row->setSpacing(4);
    ProductBtn = MakeToolButton(bar, "ProductBtn", "Product", "product");
    TransBtn = MakeToolButton(bar, "TransBtn", "Transfer", "transfer");
    TransBtn->setEnabled(false);
    MoreBtn = MakeToolButton(bar, "MoreBtn", "More", "more");
    MoreBtn->setToolTip("More");
    row->addWidget(ProductBtn);
    row->addWidget(TransBtn);
    row->addWidget(MoreBtn);
    row->addStretch(1);
    SearchEdt = new QLineEdit(bar);
    SearchEdt->setObjectName("SearchEdt");
    SearchEdt->setPlaceholderText("Search");
    SearchEdt->setToolTip("Search");
    SearchEdt->setFixedWidth(260);
    SearchEdt->setMinimumHeight(28);
    SearchEdt->setEnabled(false);
    FindNextAct = SearchEdt->addAction(Icon("find-next"), QLineEdit::TrailingPosition);
    FindNextAct->setObjectName("FindNextAct");
    FindNextAct->setText("Find next");
    FindNextAct->setToolTip("Find next");
    row->addWidget(SearchEdt);
    column->addWidget(bar);

    auto* line = new QFrame(central);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    column->addWidget(line);

    MainPnl = new QWidget(central);
    MainPnl->setObjectName("MainPnl");
    auto* views = new QVBoxLayout(MainPnl);
    views->setContentsMargins(0, 0, 0, 0);
    column->addWidget(MainPnl, 1);

    // Placeholder and label sit outside the layout: FormResize keeps them centred.
    TipImg = new QLabel(MainPnl);
    TipImg->setObjectName("TipImg");
    const QPixmap picture = Picture("connect-device");
    TipImg->setPixmap(picture);
    TipImg->resize(picture.isNull() ? QSize(320, 240) : picture.size());
    TipImg->setCursor(Qt::PointingHandCursor);
    TipLb = new QLabel("Loading, please wait ...", MainPnl);
    TipLb->setObjectName("TipLb");
    TipLb->setAlignment(Qt::AlignCenter);
    QFont font = TipLb->font();
    font.setPointSizeF(font.pointSizeF() * 1.25);
    TipLb->setFont(font);
    TipLb->adjustSize();
    TipLb->hide();
    TrustLb = new QLabel(MainPnl);
    TrustLb->setObjectName("TrustLb");
    TrustLb->setAlignment(Qt::AlignCenter);
    TrustLb->setWordWrap(true);
    TrustLb->setFont(font);
    TrustLb->hide();
    // Under the picture while no device is there: what the user is to do.
    IdleLb = new QLabel("Connect an iPod or iPhone with its cable\u2026", MainPnl);
    IdleLb->setObjectName("IdleLb");
    IdleLb->setAlignment(Qt::AlignCenter);
    IdleLb->setFont(font);
    IdleLb->adjustSize();
    setCentralWidget(central);

    Timer = new QTimer(this);
    Timer->setObjectName("Timer");
    Timer->setSingleShot(true);
    Timer->setInterval(350);

    HelpPop = new QMenu(this);
    HelpPop->setObjectName("HelpPop");
    LogMnu = HelpPop->addAction("Error log ...");
    LogMnu->setObjectName("LogMnu");
    StopMnu = HelpPop->addAction("Stop iTunes auto-sync");
    StopMnu->setObjectName("StopMnu");
    StopMnu->setVisible(false);  // nothing to stop on this platform
    HelpPop->addSeparator();
    HelpMnu = HelpPop->addAction("Help");
    HelpMnu->setObjectName("HelpMnu");
    AboutMnu = HelpPop->addAction("About");
    AboutMnu->setObjectName("AboutMnu");

    connect(Timer, &QTimer::timeout, this, &TMainForm::TimerTimer);
    connect(ProductBtn, &QToolButton::clicked, this, &TMainForm::ProductBtnClick);
    connect(TransBtn, &QToolButton::clicked, this, &TMainForm::TransBtnClick);
    connect(MoreBtn, &QToolButton::clicked, this, &TMainForm::MoreBtnClick);
    connect(LogMnu, &QAction::triggered, this, &TMainForm::LogMnuClick);
    connect(StopMnu, &QAction::triggered, this, &TMainForm::StopMnuClick);
    connect(HelpMnu, &QAction::triggered, this, &TMainForm::HelpMnuClick);
    connect(AboutMnu, &QAction::triggered, this, &TMainForm::AboutMnuClick);
    connect(FindNextAct, &QAction::triggered, this, &TMainForm::SearchEdtRightButtonClick);
    MainPnl->installEventFilter(this);
    SearchEdt->installEventFilter(this);
    TipImg->installEventFilter(this);

    connect(SearchEdt, &QLineEdit::textChanged, this, &TMainForm::FilterView);
    AddShortcut(QKeySequence::Find, [this] {
        SearchEdt->setFocus(Qt::ShortcutFocusReason);
        SearchEdt->selectAll();
    });
    AddShortcut(QKeySequence(Qt::CTRL | Qt::Key_T), [this] {
        if (TransBtn->isEnabled())
            TransBtnClick();
    });
    AddShortcut(QKeySequence::HelpContents, [this] { HelpMnuClick(); });
    AddShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q), [this] { close(); });

    // Small enough for a 1366 x 768 screen, and for 1920 x 1080 at twice the scale (960 x 540
    // logical, less the panel and the title bar); the first size gives way to a small screen.
    setMinimumSize(kMinimumSize);
    QSize start(1024, 680);
    if (const QScreen* shown = screen()) {
        const QSize room = shown->availableGeometry().size() - QSize(40, 60);
        start = start.boundedTo(room).expandedTo(kMinimumSize);
    }
    resize(start);
}

void TMainForm::AddShortcut(const QKeySequence& keys, std::function<void()> action) {
    auto* shortcut = new QAction(this);
    shortcut->setShortcut(keys);
    shortcut->setShortcutContext(Qt::WindowShortcut);
    addAction(shortcut);
    connect(shortcut, &QAction::triggered, this, std::move(action));
}

void TMainForm::FilterView(const QString& text) {
    if (views::TDeviceView* view = VisibleView())
        view->FilterText(text);
}

void TMainForm::FormCreate(const QString& brandDir) {
    LoadBrand(
        (brandDir.isEmpty() ? QCoreApplication::applicationDirPath() : brandDir).toStdString());
    setWindowTitle(Title());
    // The task bar shows the window title here; message boxes take the brand's name.
    // The layout moves TransBtn into the place of a hidden ProductBtn.
    ProductBtn->setHidden(!Product.ShowProducts);
}

void TMainForm::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    // Activation work runs once the window is on screen, so the chooser opens over it.
    if (!FAlreadyRun)
        QTimer::singleShot(0, this, &TMainForm::FormActivate);
}

void TMainForm::FormActivate() {
    if (FAlreadyRun || FClosed)
        return;
    FAlreadyRun = true;
    // The mode chosen last is the one Enter picks, and the one opened for a user who asked
    // not to be asked.
    if (Product.ShowProducts) {
        Product.IsMusic = SavedProductMode() != 2;
        if (AskProductAtStart())
            ChooseProduct();
    }
    if (FClosed)
        return;
    if (!FSessionOptions)
        FSessionOptions = SessionOptionsFromEnvironment();
    CreateSession();
    if (FDevice->NoLibrary())
        ShowMessage(this, texts::kNoMobileLibraryWarning, TMessageKind::Warning);
    FDevice->ScanDrives();
}

void TMainForm::CreateSession() {
    TDeviceSessionOptions options = *FSessionOptions;
    options.Dispatch = UiDispatcher();
    const unsigned generation = FGeneration;
    FDevice = std::make_unique<TIpodDevice>(
        [this, generation](bool connected) { SessionChanged(generation, connected); },
        std::move(options));
    FDevice->SetOnPairing(
        [this, generation](const std::string& message) { PairingChanged(generation, message); });
}

void TMainForm::PairingChanged(unsigned generation, const std::string& message) {
    // Runs on a thread of the file service, like SessionChanged.
    std::lock_guard lock(FReportLock);
    if (FClosed || generation != FGeneration)
        return;
    const QString text = QString::fromStdString(message);
    QMetaObject::invokeMethod(
        this,
        [this, generation, text] {
            if (generation != FGeneration)
                return;
            TrustLb->setText(text);
            TrustLb->setVisible(!text.isEmpty() && !FIsConnected);
            FormResize();
        },
        Qt::QueuedConnection);
}

void TMainForm::OnDeviceChange(bool connected) {
    SessionChanged(FGeneration, connected);
}

void TMainForm::SessionChanged(unsigned generation, bool connected) {
    // Runs on the reporting thread: record the state, hand the rest over, never wait.
    std::lock_guard lock(FReportLock);
    if (FClosed || generation != FGeneration)
        return;
    FIsConnected = connected;
    QMetaObject::invokeMethod(
        this, [this, generation, connected] { ShowDeviceChange(generation, connected); },
        Qt::QueuedConnection);
}

void TMainForm::ShowDeviceChange(unsigned generation, bool connected) {
    if (generation != FGeneration)
        return;
    TipImg->setVisible(!connected);
    IdleLb->setVisible(!connected);
    FormResize();
    TipLb->setVisible(connected);
    if (connected)
        TrustLb->hide();
    // Reports before the timer fires do not restart it: it acts once, on the last state.
    if (!Timer->isActive())
        Timer->start();
}

void TMainForm::TimerTimer() {
    Timer->stop();
    if (!FDevice)
        return;
    if (FViewCalls > 0) {
        // A view is loading or transferring: ask it to stop and free nothing until it returns.
        if (!FIsConnected && !FLossPending) {
            FLossPending = true;
            for (auto* view : {FMediaFrm.get(), FPicFrm.get()}) {
                if (view != nullptr)
                    view->DeviceLost();
            }
        }
        return;
    }
    if (!FIsConnected) {
        HandleLoss();
        return;
    }
    const unsigned generation = FGeneration;
    setWindowTitle(QString::fromStdString(FDevice->DisplayName()) + " - " + Title());
    OpenView(Product.IsMusic);
    if (generation != FGeneration || VisibleView() == nullptr)
        return;
    SetViewActive(true);
    // Loading may have learnt the device's own name (a disk-mode iPod's library name).
    setWindowTitle(QString::fromStdString(FDevice->DisplayName()) + " - " + Title());
}

void TMainForm::HandleLoss() {
    FLossPending = false;
    ++FViewCalls;
    setWindowTitle(Title());
    SetViewActive(false);
    ShowMessage(this, "Lost connection to " + QString::fromStdString(FDevice->DisplayName()),
                TMessageKind::Warning);
    CloseViews();
    --FViewCalls;
    ReplaceSession();
    // A loss reported meanwhile was the replaced session's.
    FLossPending = false;
}

void TMainForm::ReplaceSession() {
    bool back = false;
    {
        std::lock_guard lock(FReportLock);
        ++FGeneration;
        back = FIsConnected;
        FIsConnected = false;
    }
    Timer->stop();
    FDevice->SetOnChange(nullptr);
    FDevice.reset();
    CreateSession();
    // The device came back while the loss waited for a view: the old session saw its
    // arrival, so the new one looks for it.
    if (back)
        FDevice->ScanDrives();
}

void TMainForm::BeginViewCall() {
    ++FViewCalls;
}

void TMainForm::EndViewCall() {
    if (--FViewCalls == 0 && FLossPending && !FClosed)
        HandleLoss();
}

void TMainForm::OpenMusicView() {
    OpenView(true);
}

void TMainForm::OpenPhotoView() {
    OpenView(false);
}

void TMainForm::OpenView(bool music) {
    if (!FIsConnected || !FDevice)
        return;
    BeginViewCall();
    HideViews();
    std::unique_ptr<views::TDeviceView>& slot = music ? FMediaFrm : FPicFrm;
    if (!slot && !FLossPending && FIsConnected) {
        slot = FViewFactory(music, MainPnl, *FDevice);
        if (slot) {
            slot->setObjectName(music ? "MediaFrm" : "PicFrm");
            slot->hide();
            // A reader that gives up with an exception must not take the program with it
            // (nothing may leave a Qt event handler): the view goes, the user is told, and
            // choosing the product again tries anew.
            try {
                slot->Populate();
            } catch (const std::exception& error) {
                slot.reset();
                ShowMessage(this,
                            QString("Cannot read the library of the device:\n") + error.what(),
                            TMessageKind::Warning);
            }
        }
    }
    std::unique_ptr<views::TDeviceView>& other = music ? FPicFrm : FMediaFrm;
    if (slot && !FLossPending && FIsConnected) {
        ShowView(slot.get());
        SearchEdt->setEnabled(true);
    } else if (other && !FLossPending && FIsConnected) {
        // The view could not be made: the one shown before comes back.
        ShowView(other.get());
    } else {
        TipLb->hide();
    }
    EndViewCall();
}

void TMainForm::HideViews() {
    BeginViewCall();
    for (auto* slot : {&FMediaFrm, &FPicFrm}) {
        if (*slot && !(*slot)->isHidden()) {
            (*slot)->hide();
            TipLb->show();
            TipLb->raise();
            QCoreApplication::processEvents();  // the label is drawn before the next step
        }
    }
    EndViewCall();
}

void TMainForm::ShowView(views::TDeviceView* view) {
    TipLb->hide();
    if (MainPnl->layout()->indexOf(view) < 0)
        MainPnl->layout()->addWidget(view);
    view->show();
    view->FilterText(SearchEdt->text());
    QCoreApplication::processEvents();
    TransBtn->setEnabled(true);
}

void TMainForm::CloseViews() {
    BeginViewCall();
    HideViews();
    TipLb->hide();
    FMediaFrm.reset();
    FPicFrm.reset();
    EndViewCall();
}

void TMainForm::SetViewActive(bool active) {
    TipImg->setVisible(!active);
    IdleLb->setVisible(!active);
    SearchEdt->setEnabled(active);
}

views::TDeviceView* TMainForm::VisibleView() const {
    if (FMediaFrm && !FMediaFrm->isHidden())
        return FMediaFrm.get();
    if (FPicFrm && !FPicFrm->isHidden())
        return FPicFrm.get();
    return nullptr;
}

void TMainForm::ChooseProduct() {
    const int choice = FProductChooser ? FProductChooser(this) : 0;
    if (choice == 1) {
        Product.IsMusic = true;
        OpenMusicView();
    } else if (choice == 2) {
        Product.IsMusic = false;
        OpenPhotoView();
    }
}

void TMainForm::ProductBtnClick() {
    if (views::TDeviceView* view = VisibleView(); view != nullptr && !view->Loaded()) {
        ShowMessage(this, "Loading in progress.\nPlease select the product after loading complete.",
                    TMessageKind::Information);
        return;
    }
    ChooseProduct();
}

void TMainForm::TransBtnClick() {
    views::TDeviceView* view = VisibleView();
    if (view == nullptr)
        return;
    if (!view->Loaded()) {
        ShowMessage(this,
                    view == FMediaFrm.get()
                        ? "Loading media library...\nPlease wait until it finished."
                        : "Loading thumbnail of photos...\nPlease wait until it finished.",
                    TMessageKind::Information);
        return;
    }
    BeginViewCall();
    if (view->StartTransfer())
        WriteLastRecord(view);
    EndViewCall();  // a loss seen during the transfer is handled now
}

void TMainForm::WriteLastRecord(views::TDeviceView* view) {
    if (view == nullptr || !FDevice)
        return;
    const QString text = Title() + "\r\n" + TransferTimeLine() + "\r\n" +
                         "iTunes: " + TrueFalse(!FDevice->NoLibrary()) +
                         ", connect: " + TrueFalse(FDevice->Connected()) +
                         ", iOS: " + TrueFalse(FDevice->IsIos()) + "\r\n" +
                         QString::fromStdString(view->LogText());
    app::WriteLastRecord(text);
}

void TMainForm::MoreBtnClick() {
    HelpPop->popup(MoreBtn->mapToGlobal(QPoint(0, MoreBtn->height())));
}

void TMainForm::LogMnuClick() {
    ShowErrorLog(this);
}

void TMainForm::StopMnuClick() {
    if (!FDevice)
        return;
    if (FDevice->IsITunesRunning()) {
        ShowMessage(this, "The iTunes is still running!\nPlease close the iTunes first.",
                    TMessageKind::Warning);
        return;
    }
    if (!ShowMessage(this,
                     "Do you want to stop the iTunes from automatically syncing once iPod "
                     "pluged in?",
                     TMessageKind::Confirmation, true))
        return;
    FDevice->StopAutoSync();
    ShowMessage(this, "Done.", TMessageKind::Information);
}

void TMainForm::HelpMnuClick() {
    OpenUrl(Web() + "/support.html");
}

void TMainForm::AboutMnuClick() {
    if (ShowMessage(this,
                    Title() + "\n\n" + Web() + "\n" + "Click OK to visit the official website.",
                    TMessageKind::Information, true))
        OpenUrl(Web());
}

void TMainForm::TipImgClick() {
    OpenUrl(Web() + "/corvaneguide.html");
}

bool TMainForm::SearchEdtKeyPress(int key) {
    if (key != Qt::Key_Return && key != Qt::Key_Enter)
        return false;
    const QString text = SearchEdt->text();
    if (text.trimmed().isEmpty())
        return false;
    SearchView(text);
    return true;
}

void TMainForm::SearchEdtRightButtonClick() {
    const QString text = SearchEdt->text();
    if (!text.trimmed().isEmpty())
        SearchView(text);
}

void TMainForm::SearchView(const QString& text) {
    if (views::TDeviceView* view = VisibleView())
        view->FindText(text);
}

void TMainForm::FormResize() {
    const int width = MainPnl->width();
    const int height = MainPnl->height();
    const int top = (height - TipImg->height() - 40) / 2;
    TipImg->move((width - TipImg->width() - 20) / 2, top);
    TipLb->move((width - TipLb->width()) / 2, top);
    IdleLb->move((width - IdleLb->width()) / 2, top + TipImg->height() + 12);
    const int trustTop =
        top + TipImg->height() + 12 + (IdleLb->isVisibleTo(MainPnl) ? IdleLb->height() + 8 : 0);
    TrustLb->setFixedWidth(std::max(100, std::min(width - 40, 600)));
    TrustLb->adjustSize();
    TrustLb->move((width - TrustLb->width()) / 2, trustTop);
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == MainPnl && event->type() == QEvent::Resize) {
        FormResize();
    } else if (watched == SearchEdt && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Escape && !SearchEdt->text().isEmpty()) {
            SearchEdt->clear();
            return true;
        }
        if (SearchEdtKeyPress(key))
            return true;  // swallowed: Enter never reaches the box
    } else if (watched == TipImg && event->type() == QEvent::MouseButtonRelease &&
               static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        TipImgClick();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void TMainForm::closeEvent(QCloseEvent* event) {
    // A view still working (a transfer's dialogs) keeps the window open.
    if (FViewCalls > 0) {
        event->ignore();
        return;
    }
    FormClose();
    QMainWindow::closeEvent(event);
}

void TMainForm::FormClose() {
    {
        std::lock_guard lock(FReportLock);
        if (FClosed)
            return;
        FClosed = true;
        ++FGeneration;  // drops reports already queued
    }
    FLossPending = false;
    Timer->stop();
    if (FDevice)
        FDevice->SetOnChange(nullptr);
    CloseViews();
    FDevice.reset();
}

}  // namespace corvane::app
