// The program's main window: it owns the device session, turns its attach and loss reports
// into the music or photo view, and carries the toolbar commands (product, transfer, search,
// the "More" menu).
#pragma once

#include <QKeySequence>
#include <QMainWindow>
#include <QSize>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

#include "device/iPodDev.h"
#include "views/DeviceView.h"

class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QTimer;
class QToolButton;

namespace corvane::app {

class TMainForm : public QMainWindow {
    Q_OBJECT
public:
    // Makes a view of the device's library (music or photos) with owner as its parent.
    using TViewFactory = std::function<std::unique_ptr<views::TDeviceView>(
        bool music, QWidget* owner, TIpodDevice& device)>;
    // Runs the product chooser modally: 0 no choice, 1 music, 2 photos.
    using TProductChooser = std::function<int(QWidget* owner)>;

    // Reads the brand from "pddata.dat" in brandDir (the executable's folder when empty).
    explicit TMainForm(QWidget* parent = nullptr, const QString& brandDir = QString());
    ~TMainForm() override;

    // Set before the first activation: the options of every device session (default: the
    // folder named by CORVANE_DEVICE, else the real mounts and library). Dispatch is always
    // the user-interface thread's.
    void SetSessionOptions(TDeviceSessionOptions options);
    void SetViewFactory(TViewFactory factory);
    void SetProductChooser(TProductChooser chooser);

    TIpodDevice* Device() const { return FDevice.get(); }
    views::TDeviceView* MediaFrm() const { return FMediaFrm.get(); }
    views::TDeviceView* PicFrm() const { return FPicFrm.get(); }
    bool IsConnected() const { return FIsConnected; }

    // Handlers
    void FormActivate();
    void FormClose();
    void FormResize();
    void TimerTimer();
    void ProductBtnClick();
    void TransBtnClick();
    void MoreBtnClick();
    void LogMnuClick();
    void StopMnuClick();
    void HelpMnuClick();
    void AboutMnuClick();
    void TipImgClick();
    // Enter with text in the box: searches and swallows the key (true).
    bool SearchEdtKeyPress(int key);
    void SearchEdtRightButtonClick();

    // The device session's report; may run on any thread and never waits.
    void OnDeviceChange(bool connected);
    void OpenMusicView();
    void OpenPhotoView();
    void HideViews();
    void ShowView(views::TDeviceView* view);
    void CloseViews();
    void SetViewActive(bool active);
    void ChooseProduct();
    void SearchView(const QString& text);
    // The record of the transfer that view has just run.
    void WriteLastRecord(views::TDeviceView* view);
    // The search box's text as typed: the shown view narrows its list to it.
    void FilterView(const QString& text);

    // Small enough for the smallest screens the window is to fit (in logical pixels).
    static constexpr QSize kMinimumSize{760, 460};

    // Controls
    QToolButton* ProductBtn = nullptr;
    QToolButton* TransBtn = nullptr;
    QToolButton* MoreBtn = nullptr;
    QMenu* HelpPop = nullptr;
    QAction* LogMnu = nullptr;
    QAction* StopMnu = nullptr;
    QAction* HelpMnu = nullptr;
    QAction* AboutMnu = nullptr;
    QLineEdit* SearchEdt = nullptr;
    QAction* FindNextAct = nullptr;  // the search box's right-side button
    QWidget* MainPnl = nullptr;
    QLabel* TipImg = nullptr;
    QLabel* TipLb = nullptr;
    QLabel* TrustLb = nullptr;  // what to do on a device that does not trust us yet
    QLabel* IdleLb = nullptr;   // what to do while no device is connected
    QTimer* Timer = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormCreate(const QString& brandDir);
    void BuildControls();
    void AddShortcut(const QKeySequence& keys, std::function<void()> action);
    void CreateSession();
    void SessionChanged(unsigned generation, bool connected);
    void ShowDeviceChange(unsigned generation, bool connected);
    void PairingChanged(unsigned generation, const std::string& message);
    void OpenView(bool music);
    views::TDeviceView* VisibleView() const;
    void BeginViewCall();
    void EndViewCall();
    void HandleLoss();
    void ReplaceSession();

    bool FAlreadyRun = false;
    std::atomic<bool> FIsConnected{false};
    std::unique_ptr<views::TDeviceView> FMediaFrm;
    std::unique_ptr<views::TDeviceView> FPicFrm;
    std::unique_ptr<TIpodDevice> FDevice;

    std::optional<TDeviceSessionOptions> FSessionOptions;
    TViewFactory FViewFactory;
    TProductChooser FProductChooser;

    // Reports carry the generation of their session: one from a replaced session is dropped.
    std::mutex FReportLock;
    std::atomic<unsigned> FGeneration{0};
    bool FClosed = false;
    // Depth of calls into a view (populate, transfer) and of the loss handling; a loss seen
    // meanwhile waits until the outermost returns, so no view is freed under its own feet.
    int FViewCalls = 0;
    bool FLossPending = false;
};

}  // namespace corvane::app
