#include "app/LogForm.h"

#include <QClipboard>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QVBoxLayout>

#include "gui/MessageBox.h"
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

    CopyBtn = new QPushButton("Copy", this);
    CopyBtn->setObjectName("CopyBtn");
    CopyBtn->setAutoDefault(false);
    SaveBtn = new QPushButton("Save ...", this);
    SaveBtn->setObjectName("SaveBtn");
    SaveBtn->setAutoDefault(false);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(CopyBtn);
    buttons->addWidget(SaveBtn);
    buttons->addStretch(1);
    layout->addLayout(buttons);
    connect(CopyBtn, &QPushButton::clicked, this, &TLogForm::CopyBtnClick);
    connect(SaveBtn, &QPushButton::clicked, this, &TLogForm::SaveBtnClick);
}

void TLogForm::AppendRecord(const QString& text) {
    QString lines = LogMem->toPlainText() + text;
    // The record is written with "\r\n" line ends; the text box knows only "\n".
    lines.replace("\r\n", "\n");
    lines.replace('\r', '\n');
    LogMem->setPlainText(lines);
}

void TLogForm::CopyBtnClick() {
    QGuiApplication::clipboard()->setText(LogMem->toPlainText());
}

void TLogForm::SaveBtnClick() {
    const QString proposed = QDir::home().filePath("corvane-log.txt");
    const QString path = SaveChooser
                             ? SaveChooser(this, proposed)
                             : QFileDialog::getSaveFileName(this, "Save error log", proposed,
                                                            "Text files (*.txt);;All files (*)");
    if (path.isEmpty())
        return;
    QSaveFile file(path);
    const QByteArray bytes = LogMem->toPlainText().toUtf8() + '\n';
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        ShowMessage(this, "The log could not be saved to " + path + ": " + file.errorString(),
                    TMessageKind::Warning);
    }
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

QString TransferTimeLine() {
    return "Transfer at " + QDateTime::currentDateTime().toString("yyyy-MM-dd HH:mm:ss");
}

void ShowErrorLog(QWidget* owner) {
    ShowLogText(owner, ReadLastRecord());
}

void ShowLogText(QWidget* owner, const QString& text) {
    TLogForm form(owner);
    form.AppendRecord(text);
    form.exec();
}

}  // namespace corvane::app
