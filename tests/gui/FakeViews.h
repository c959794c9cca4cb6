// Views that stand in for the music and photo views in tests of the main window: each records
// what the window asks of it and answers as the test sets it up.
#pragma once

#include <QPointer>
#include <QStringList>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "views/DeviceView.h"

namespace corvane {
class TIpodDevice;
}

namespace corvane::testing {

class TFakeView : public views::TDeviceView {
public:
    TFakeView(QWidget* owner, bool music) : TDeviceView(owner), Music(music) {}

    void Populate() override;
    bool Loaded() const override { return IsLoaded; }
    bool StartTransfer() override;
    bool FindText(const QString& text) override;
    std::string LogText() const override { return Log; }
    void DeviceLost() override { ++LostCount; }

    const bool Music;
    // Answers
    bool IsLoaded = true;
    bool TransferResult = false;
    std::string Log;
    // Populate throws std::runtime_error with this text when it is not empty.
    std::string PopulateError;
    // Runs inside StartTransfer (a transfer "running"); its result replaces TransferResult.
    std::function<bool()> OnTransfer;
    // Records
    int PopulateCount = 0;
    int TransferCount = 0;
    int LostCount = 0;
    QStringList Searches;
};

// Makes fake views and keeps track of them; a freed view's entry turns null.
class TFakeViewFactory {
public:
    // Suits TMainForm::SetViewFactory.
    std::function<std::unique_ptr<views::TDeviceView>(bool, QWidget*, TIpodDevice&)> Maker();

    // Applied to every view made, before the window populates it.
    std::function<void(TFakeView&)> Setup;
    struct TMade {
        bool Music;
        QPointer<TFakeView> View;  // null once freed
    };
    std::vector<TMade> Made;
    // Views of that kind made so far, and those of them still alive.
    int Count(bool music) const;
    int Alive(bool music) const;
    // The most recent view of that kind, null when none or freed.
    TFakeView* Last(bool music) const;
};

}  // namespace corvane::testing
