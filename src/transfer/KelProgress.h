// The modal progress dialog of a transfer: it starts the worker, shows one step per item,
// turns its bar into a marquee during a long wait, and lets the user cancel; after the end its
// button opens the destination folder.
#pragma once

#include <QDialog>
#include <QString>
#include <memory>

#include "transfer/CopyThreads.h"

class QLabel;
class QProgressBar;
class QPushButton;

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
    // when the user closes the dialog with Done.
    void Run(TIpodMusicDb& music, const QString& folder, bool restoreToITunes, int total,
             const QString& heading);
    // Runs a whole photo transfer (library photos, then the checked camera-roll files).
    void Run(TIpodPhotoDb& photos, const QString& folder, int total, const QString& heading);

    void ShowProgress(const QString& text);
    void ShowStatus(const QString& text, uint8_t kind);
    // Same as pressing Cancel while running: asks the worker to stop at its next item.
    void Cancel();
    bool Running() const;

    bool IsMusic = true;
    QString Folder;

    QLabel* InfoLb = nullptr;
    QLabel* CopyLb = nullptr;
    QProgressBar* Pb = nullptr;
    QProgressBar* BusyPb = nullptr;
    QPushButton* ActBtn = nullptr;

public slots:
    void ActBtnClick();

private:
    void Start(std::unique_ptr<TCopyThread> worker, int total, const QString& heading);

    std::unique_ptr<TCopyThread> FWorker;
};

}  // namespace corvane::transfer
