#include "gui/GuiTestSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QThread>
#include <QTimer>

#include "gui/UiDispatcher.h"
#include "transfer/KelProgress.h"

namespace corvane::testing {

TMessageRecorder::TMessageRecorder() {
    app::SetMessageHandler([this](const app::TMessageRequest& request) {
        Shown.push_back(request);
        if (OnShown)
            OnShown(request);
        if (FAnswers.empty())
            return true;
        const bool answer = FAnswers.front();
        FAnswers.pop_front();
        return answer;
    });
}

TMessageRecorder::~TMessageRecorder() {
    app::SetMessageHandler(nullptr);
}

QStringList TMessageRecorder::Texts() const {
    QStringList texts;
    for (const auto& request : Shown)
        texts << request.Text;
    return texts;
}

TShellRecorder::TShellRecorder() {
    app::SetShellHandler(
        [this](const app::TShellRequest& request) { Requests.push_back(request); });
}

TShellRecorder::~TShellRecorder() {
    app::SetShellHandler(nullptr);
}

bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        app::PumpUiQueue();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

void PressDoneAtTheEnd(transfer::TProgressDialog* dialog) {
    if (dialog->ActBtn->text() == "Done") {
        dialog->ActBtn->click();
        return;
    }
    QTimer::singleShot(10, dialog, [dialog] { PressDoneAtTheEnd(dialog); });
}

void RunEventsFor(int ms) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) {
        app::PumpUiQueue();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
}

}  // namespace corvane::testing
