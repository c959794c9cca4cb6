#include <QApplication>

#include "app/CrvMain.h"
#include "app/Icons.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Corvane");
    QApplication::setWindowIcon(corvane::app::Icon("corvane"));
    corvane::app::TMainForm form;
    form.show();
    return app.exec();
}
