// The program's own pictures, compiled in as resources (resources/icons/<name>.png).
#pragma once

#include <QIcon>
#include <QPixmap>
#include <QString>

namespace corvane::app {

QIcon Icon(const QString& name);
QPixmap Picture(const QString& name);

}  // namespace corvane::app
