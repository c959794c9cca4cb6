#include "gui/UserSettings.h"

#include <QStandardPaths>

#include "gui/Brand.h"

namespace corvane::app {

QString SettingsFileName(const QString& home) {
    const QString key = home.isEmpty() ? QString::fromStdString(Product.Home) : home;
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + "/" + key +
           ".conf";
}

std::unique_ptr<QSettings> OpenUserKey(const QString& home) {
    return std::make_unique<QSettings>(SettingsFileName(home), QSettings::IniFormat);
}

}  // namespace corvane::app
