#include <QApplication>
#include <QStringList>
#include <csignal>
#include <cstdio>

#include "app/CrvMain.h"
#include "app/LogForm.h"
#include "app/ScreenshotTour.h"
#include "gui/Icons.h"
#include "transfer/KelProgress.h"

int main(int argc, char** argv) {
    // The mobile-device library writes to sockets of a phone that may be unplugged at any
    // moment; the write must fail, not end the program.
    std::signal(SIGPIPE, SIG_IGN);
    QApplication app(argc, argv);
    QApplication::setApplicationName("Corvane");
    QGuiApplication::setDesktopFileName("corvane");
    QApplication::setWindowIcon(corvane::app::Icon("corvane"));
    // A transfer that fell short offers its log from the progress dialog.
    corvane::transfer::TProgressDialog::LogViewer = corvane::app::ShowLogText;
    corvane::app::TMainForm form;
    form.show();
    // --screenshot-tour WALK DIR: the documentation's pictures (tools/screenshots.sh).
    const QStringList args = QApplication::arguments();
    if (const qsizetype at = args.indexOf("--screenshot-tour"); at >= 0) {
        if (at + 2 >= args.size() ||
            !corvane::app::StartScreenshotTour(&form, args[at + 1], args[at + 2])) {
            std::fprintf(stderr,
                         "usage: corvane --screenshot-tour idle|music|photo|photo-iphone DIR\n");
            return 2;
        }
    }
    return app.exec();
}
