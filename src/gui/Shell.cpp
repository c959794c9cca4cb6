#include "gui/Shell.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

namespace corvane::app {
namespace {

TShellHandler& Handler() {
    static TShellHandler handler;
    return handler;
}

bool Intercepted(TShellAction action, const QString& target) {
    if (!Handler())
        return false;
    Handler()({action, target});
    return true;
}

}  // namespace

void SetShellHandler(TShellHandler handler) {
    Handler() = std::move(handler);
}

void OpenUrl(const QString& url) {
    if (!Intercepted(TShellAction::OpenUrl, url))
        QDesktopServices::openUrl(QUrl(url));
}

void OpenFolder(const QString& path) {
    if (!Intercepted(TShellAction::OpenFolder, path))
        QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void ShowInFileManager(const QString& path) {
    if (Intercepted(TShellAction::ShowFolder, path))
        return;
    QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.FileManager1",
                                                       "/org/freedesktop/FileManager1",
                                                       "org.freedesktop.FileManager1", "ShowItems");
    call << QStringList{QUrl::fromLocalFile(path).toString()} << QString();
    QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 3000);
    if (reply.type() != QDBusMessage::ReplyMessage)
        QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(path).absolutePath()));
}

}  // namespace corvane::app
