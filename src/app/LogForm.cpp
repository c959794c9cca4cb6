#include "app/LogForm.h"

#include <QPlainTextEdit>
#include <QVBoxLayout>

#include "gui/UserSettings.h"

namespace corvane::app {
namespace {

const char* const kLastValue = "last";

}  // namespace

TLogForm::TLogForm(QWidget* parent) : QDialog(parent) {
    setObjectName("LogForm");
    setWindowTitle("Error Log");
    resize(600, 400);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    LogMem = new QPlainTextEdit(this);
    LogMem->setObjectName("LogMem");
    LogMem->setReadOnly(true);
    LogMem->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    LogMem->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    LogMem->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    layout->addWidget(LogMem);
}

void TLogForm::AppendRecord(const QString& text) {
    QString lines = LogMem->toPlainText() + text;
    // The record is written with "\r\n" line ends; the text box knows only "\n".
    lines.replace("\r\n", "\n");
    lines.replace('\r', '\n');
    LogMem->setPlainText(lines);
}

QString ReadLastRecord() {
    const auto key = OpenUserKey();
    if (key->status() != QSettings::NoError)
        return QString();
    return key->value(kLastValue).toString();
}

void WriteLastRecord(const QString& text) {
    if (text.isEmpty())
        return;
    const auto key = OpenUserKey();
    if (key->status() != QSettings::NoError || !key->isWritable())
        return;
    key->setValue(kLastValue, text);
    key->sync();
}

void ShowErrorLog(QWidget* owner) {
    TLogForm form(owner);
    form.AppendRecord(ReadLastRecord());
    form.exec();
}

}  // namespace corvane::app
