// The one seam through which the program shows modal message boxes, so that tests can read
// and answer them.
#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace corvane::app {

enum class TMessageKind { Warning, Information, Confirmation };

struct TMessageRequest {
    TMessageKind Kind = TMessageKind::Information;
    QString Text;
    bool OkCancel = false;  // OK and Cancel buttons; OK alone otherwise
};

// Shows a modal box; true when the user pressed OK.
bool ShowMessage(QWidget* parent, const QString& text, TMessageKind kind, bool okCancel = false);

// Replaces the boxes by handler (tests); an empty handler restores the real boxes. The
// handler's result is the answer (true = OK).
using TMessageHandler = std::function<bool(const TMessageRequest&)>;
void SetMessageHandler(TMessageHandler handler);

}  // namespace corvane::app
