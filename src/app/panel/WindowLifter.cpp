#include "panel/WindowLifter.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>

namespace marrowbell::app::WindowLifter {

void bringForward(Predicate where) {
    QTimer::singleShot(0, qApp, [where = std::move(where)] { bringForwardNow(where); });
}

bool bringForwardNow(const Predicate& where) {
    for (QWidget* window : QApplication::topLevelWidgets()) {
        // A closed window stays closed: lifting follows opening.
        if (!window->isVisible() || !where(*window))
            continue;
        if (window->isMinimized())
            window->showNormal();
        window->raise();
        window->activateWindow();
        return true;
    }
    return false;
}

bool isSettings(const QWidget& window) {
    if (window.objectName().contains(QStringLiteral("settings"), Qt::CaseInsensitive))
        return true;
    static const QStringList tabs{QStringLiteral("General"), QStringLiteral("Endpoints"),
                                  QStringLiteral("Harnesses"), QStringLiteral("Settings")};
    return tabs.contains(window.windowTitle());
}

bool isJobEditor(const QWidget& window) {
    return window.windowTitle() == QStringLiteral("Scheduled Job");
}

} // namespace marrowbell::app::WindowLifter
