#include "gui/MessageBox.h"

#include <QMessageBox>

#include "gui/Brand.h"

namespace corvane::app {
namespace {

TMessageHandler& Handler() {
    static TMessageHandler handler;
    return handler;
}

}  // namespace

void SetMessageHandler(TMessageHandler handler) {
    Handler() = std::move(handler);
}

bool ShowMessage(QWidget* parent, const QString& text, TMessageKind kind, bool okCancel) {
    if (Handler())
        return Handler()({kind, text, okCancel});
    QMessageBox box(parent);
    box.setWindowTitle(QString::fromStdString(Product.Name));
    box.setText(text);
    switch (kind) {
        case TMessageKind::Warning:
            box.setIcon(QMessageBox::Warning);
            break;
        case TMessageKind::Information:
            box.setIcon(QMessageBox::Information);
            break;
        case TMessageKind::Confirmation:
            box.setIcon(QMessageBox::Question);
            break;
    }
    box.setStandardButtons(okCancel ? QMessageBox::Ok | QMessageBox::Cancel : QMessageBox::Ok);
    box.setDefaultButton(QMessageBox::Ok);
    return box.exec() == QMessageBox::Ok;
}

}  // namespace corvane::app
