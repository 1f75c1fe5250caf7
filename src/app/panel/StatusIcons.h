#pragma once

#include <QIcon>
#include <QPalette>
#include <QString>

namespace marrowbell::app {

// The status icon's pictures, "idle", "running" and "attention": the icon theme's
// "marrowbell-{state}" when it has one, else our own symbolic drawing in the palette's
// text colour. Also the app icon and the small symbols of the panel.
namespace StatusIcons {

QIcon status(const QString& state, const QPalette& palette);
// Our symbolic picture `name` ("settings", "notifications-off"), unless the icon theme
// has `themeName`.
QIcon symbol(const QString& name, const QString& themeName, const QPalette& palette);
QIcon application();

} // namespace StatusIcons
} // namespace marrowbell::app
