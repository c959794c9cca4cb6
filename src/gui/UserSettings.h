// The per-user settings store of a brand: one INI file per brand key in the user's
// configuration folder, holding the same values the program keeps ("last", "MediaDest", ...).
#pragma once

#include <QSettings>
#include <QString>
#include <memory>

namespace corvane::app {

// The settings file of the key home (Product.Home when empty).
QString SettingsFileName(const QString& home = QString());

// Opens the store of the key home (Product.Home when empty), creating it when written.
std::unique_ptr<QSettings> OpenUserKey(const QString& home = QString());

}  // namespace corvane::app
