// Helpers for tests of the desktop program: message boxes and shell calls answered and
// recorded, and waiting on the event loop.
#pragma once

#include <QString>
#include <deque>
#include <functional>
#include <vector>

#include "gui/MessageBox.h"
#include "gui/Shell.h"

namespace corvane::transfer {
class TProgressDialog;
}

namespace corvane::testing {

// Records every message box while alive and answers with the queued answers (then OK).
class TMessageRecorder {
public:
    TMessageRecorder();
    ~TMessageRecorder();
    TMessageRecorder(const TMessageRecorder&) = delete;
    TMessageRecorder& operator=(const TMessageRecorder&) = delete;

    void Answer(bool ok) { FAnswers.push_back(ok); }
    // Runs when a box is shown, before it is answered (a test may act meanwhile).
    std::function<void(const app::TMessageRequest&)> OnShown;

    std::vector<app::TMessageRequest> Shown;
    QStringList Texts() const;

private:
    std::deque<bool> FAnswers;
};

// Records the shell calls while alive; nothing is opened.
class TShellRecorder {
public:
    TShellRecorder();
    ~TShellRecorder();
    TShellRecorder(const TShellRecorder&) = delete;
    TShellRecorder& operator=(const TShellRecorder&) = delete;

    std::vector<app::TShellRequest> Requests;
};

// Runs the event loop (and the user-interface hand-over queue) until done() holds or
// timeoutMs passes; returns done().
bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 10000);

// Presses the progress dialog's Done once the transfer has ended (polls on the event loop).
void PressDoneAtTheEnd(transfer::TProgressDialog* dialog);

// Runs the event loop for ms milliseconds.
void RunEventsFor(int ms);

// Runs action on the event loop as soon as a modal dialog of type T is shown (polls every
// 10 ms, up to timeoutMs), passing it the dialog.
template <typename T>
void WhenDialogShown(std::function<void(T*)> action, int timeoutMs = 10000);

}  // namespace corvane::testing

#include "gui/GuiTestSupport.inl"
