// Opening things with the desktop: web pages and folders in the user's programs, and a
// device folder shown in the file manager. Tests replace it to see what would be opened.
#pragma once

#include <QString>
#include <functional>

namespace corvane::app {

enum class TShellAction {
    OpenUrl,     // a web address in the browser
    OpenFolder,  // a local folder in the file manager
    ShowFolder,  // a local folder shown selected in its parent (file manager's ShowItems)
};

struct TShellRequest {
    TShellAction Action = TShellAction::OpenUrl;
    QString Target;
};

void OpenUrl(const QString& url);
void OpenFolder(const QString& path);
// Asks the file manager over D-Bus to show the item; opens the folder when that fails.
void ShowInFileManager(const QString& path);

using TShellHandler = std::function<void(const TShellRequest&)>;
// Replaces the desktop by handler (tests); an empty handler restores it.
void SetShellHandler(TShellHandler handler);

}  // namespace corvane::app
