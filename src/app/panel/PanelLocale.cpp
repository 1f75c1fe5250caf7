#include "panel/PanelLocale.h"

#include <QLocale>

namespace marrowbell::app {

std::string icuLocaleName() {
    QLocale locale;
    if (locale.language() == QLocale::C)
        return "en_US_POSIX";
    return locale.name().toStdString();
}

} // namespace marrowbell::app
