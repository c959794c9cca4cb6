// What the main window needs of a view of the device's library (music or photos).
#pragma once

#include <QString>
#include <QWidget>
#include <string>

namespace corvane::views {

class TDeviceView : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;

    // Reads the device library into the view, on the user-interface thread.
    virtual void Populate() = 0;
    // Loading has completed (music: Populate succeeded; photos: the previews are loaded).
    virtual bool Loaded() const = 0;
    // Runs the transfer dialogs and the transfer; true when a transfer ran.
    virtual bool StartTransfer() = 0;
    // Selects the next item matching text; true when one was found.
    virtual bool FindText(const QString& text) = 0;
    // Narrows what the view shows to what matches text as the user types (empty: all).
    virtual void FilterText(const QString& text) { (void)text; }
    // The library reader's log.
    virtual std::string LogText() const = 0;
    // The device went away: a running transfer is asked to stop (it still ends through its
    // own dialog) and background loading stops. The view stays usable until it is freed.
    virtual void DeviceLost() = 0;
};

}  // namespace corvane::views
