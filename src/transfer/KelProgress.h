// The modal progress dialog of a transfer: it starts the worker, shows one step per item,
// turns its bar into a marquee during a long wait, and lets the user cancel; after the end its
// button opens the destination folder.
#pragma once

#include <QDialog>
#include <QString>
#include <functional>
#include <memory>

#include "transfer/CopyThreads.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

namespace corvane {
class TIpodMusicDb;
class TIpodPhotoDb;
}  // namespace corvane

namespace corvane::transfer {

class TProgressDialog : public QDialog {
    Q_OBJECT
public:
    explicit TProgressDialog(QWidget* owner);
    // Waits for a worker that is still running (its reports keep being shown meanwhile).
    ~TProgressDialog() override;

    // Runs a whole music transfer (export, then the restore when asked) into folder; returns
    // when the user closes the dialog with Done. With writePlaylistFiles, the device's
    // playlists are written into the library's DestFolder as .m3u8 files once the worker has
    // ended, before "Done" shows (their log lines join the library's log).
    void Run(TIpodMusicDb& music, const QString& folder, TLibraryTarget target, int total,
             const QString& heading, bool writePlaylistFiles = false);
    // Runs a whole photo transfer (library photos, then the checked camera-roll files).
    void Run(TIpodPhotoDb& photos, const QString& folder, int total, const QString& heading);

    void ShowProgress(const QString& text);
    // The bar and BytesLb take the worker's count of bytes.
    void ShowBytes();
    // The bar's range: it shows the share of the bytes done, not a count of items.
    static constexpr int kBarSteps = 1000;
    void ShowStatus(const QString& text, uint8_t kind);
    // Same as pressing Cancel while running: asks the worker to stop at its next item.
    void Cancel();
    // The device went away: the transfer stops and its end says so.
    void DeviceLost();
    // From Run's start until the final status has arrived.
    bool Running() const { return FRunning; }

    bool IsMusic = true;
    QString Folder;

    QLabel* InfoLb = nullptr;
    QLabel* CopyLb = nullptr;
    QProgressBar* Pb = nullptr;
    QLabel* BytesLb = nullptr;  // bytes done of the total, speed, time left
    QProgressBar* BusyPb = nullptr;
    QPushButton* ActBtn = nullptr;
    // Shown at the end when the log of the transfer has lines: opens it.
    QPushButton* LogBtn = nullptr;

    // Shows the log of the transfer that just ended (owner, text). Unset, LogBtn stays hidden;
    // the program sets it to its error log window.
    using TLogViewer = std::function<void(QWidget* owner, const QString& text)>;
    static inline TLogViewer LogViewer;

public slots:
    void ActBtnClick();
    // Closes only after the end: while running, Esc and closing the window do nothing.
    void reject() override;

signals:
    // Emitted once each report has been shown, while the worker still waits for it.
    void ProgressShown(const QString& text);
    void StatusShown(const QString& text, int kind);

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // finished runs on this thread when the final status arrives, before it is shown.
    void Start(std::unique_ptr<TCopyThread> worker, int total, const QString& heading,
               std::function<void()> finished = {});
    void ShowEnd(const QString& text);

    // Stops a worker that still runs (showing its reports meanwhile) and frees it.
    void EndWorker();

    std::unique_ptr<TCopyThread> FWorker;
    QTimer* FBytesTimer = nullptr;
    bool FRunning = false;
    bool FDeviceLost = false;
    int FTotal = 0;
    std::function<std::string()> FLogText;
};

}  // namespace corvane::transfer
