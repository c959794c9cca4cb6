// The error log window and the stored record of the last transfer it shows.
#pragma once

#include <QDialog>
#include <QString>

class QPlainTextEdit;

namespace corvane::app {

// "Error Log": one read-only, vertically scrolling text.
class TLogForm : public QDialog {
    Q_OBJECT

public:
    explicit TLogForm(QWidget* parent = nullptr);

    // Appends text to the shown text; "\r\n" (or a lone "\r") ends a line.
    void AppendRecord(const QString& text);

    QPlainTextEdit* LogMem = nullptr;
};

// The value "last" of the brand's settings key; empty when absent or unreadable.
QString ReadLastRecord();

// Stores text as "last" under the brand's settings key; an empty text or a key that cannot
// be written leaves the store as it was.
void WriteLastRecord(const QString& text);

// Shows the stored record of the last transfer in a modal "Error Log" window over owner.
void ShowErrorLog(QWidget* owner);

}  // namespace corvane::app
