// The error log window and the stored record of the last transfer it shows.
#pragma once

#include <QDialog>
#include <QString>
#include <functional>

class QPlainTextEdit;
class QPushButton;

namespace corvane::app {

// "Error Log": one read-only, vertically scrolling text, with buttons that copy it to the
// clipboard and save it as a text file.
class TLogForm : public QDialog {
    Q_OBJECT

public:
    explicit TLogForm(QWidget* parent = nullptr);

    // Appends text to the shown text; "\r\n" (or a lone "\r") ends a line.
    void AppendRecord(const QString& text);

    // Asks where to save (parent, proposed path); empty when the user cancels. Unset, the
    // platform's file dialog runs; tests set it.
    using TSaveChooser = std::function<QString(QWidget* parent, const QString& proposed)>;
    static inline TSaveChooser SaveChooser;

    QPlainTextEdit* LogMem = nullptr;
    QPushButton* CopyBtn = nullptr;
    QPushButton* SaveBtn = nullptr;

public slots:
    void CopyBtnClick();
    // Writes the text to the chosen file; a file that cannot be written gets a message.
    void SaveBtnClick();
};

// The value "last" of the brand's settings key; empty when absent or unreadable.
QString ReadLastRecord();

// Stores text as "last" under the brand's settings key; an empty text or a key that cannot
// be written leaves the store as it was.
void WriteLastRecord(const QString& text);

// The line of a record that says when its transfer ended: "Transfer at 2026-12-10 17:50:02".
QString TransferTimeLine();

// Shows the stored record of the last transfer in a modal "Error Log" window over owner.
void ShowErrorLog(QWidget* owner);
// Shows text (a transfer's log as it stands) in the same window.
void ShowLogText(QWidget* owner, const QString& text);

}  // namespace corvane::app
