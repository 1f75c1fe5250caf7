#include "panel/NotificationSettings.h"

#include <QStandardPaths>

namespace marrowbell::app {

std::optional<QStringList> notificationSettingsCommand(const QStringList& desktops) {
    auto installed = [](const QStringList& command) -> std::optional<QStringList> {
        if (QStandardPaths::findExecutable(command.first()).isEmpty())
            return std::nullopt;
        return command;
    };
    for (const QString& desktop : desktops) {
        QString name = desktop.toUpper();
        if (name == QStringLiteral("GNOME") || name == QStringLiteral("UNITY") ||
            name == QStringLiteral("BUDGIE"))
            return installed(
                {QStringLiteral("gnome-control-center"), QStringLiteral("notifications")});
        if (name == QStringLiteral("KDE")) {
            if (auto command = installed(
                    {QStringLiteral("systemsettings"), QStringLiteral("kcm_notifications")}))
                return command;
            return installed({QStringLiteral("kcmshell5"), QStringLiteral("kcm_notifications")});
        }
    }
    return std::nullopt;
}

std::optional<QStringList> notificationSettingsCommand() {
    return notificationSettingsCommand(
        qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(QLatin1Char(':'), Qt::SkipEmptyParts));
}

} // namespace marrowbell::app
