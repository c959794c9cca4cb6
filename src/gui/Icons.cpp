#include "gui/Icons.h"

namespace corvane::app {

QIcon Icon(const QString& name) {
    return QIcon(":/icons/" + name + ".png");
}

QPixmap Picture(const QString& name) {
    return QPixmap(":/icons/" + name + ".png");
}

}  // namespace corvane::app
