#pragma once

#include <QStringList>

#include <optional>

namespace marrowbell::app {

// The command that opens the desktop's notification settings, where the desktop has a
// known one (GNOME's control centre, KDE's system settings); none elsewhere.
// `desktops` is $XDG_CURRENT_DESKTOP's list; a command whose program is not installed
// counts as none.
std::optional<QStringList> notificationSettingsCommand(const QStringList& desktops);
// The same for this session.
std::optional<QStringList> notificationSettingsCommand();

} // namespace marrowbell::app
