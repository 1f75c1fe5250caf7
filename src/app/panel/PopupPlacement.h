#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

#include <optional>

namespace marrowbell::app {

// Where the panel opens as a popup: beside the status icon when its place on screen
// is known (below it on a top panel, above it on a bottom one), else at the pointer,
// else in the screen's top-right corner; always whole within the available area.
QPoint popupPosition(QSize panel, const QRect& available, const QRect& icon,
                     std::optional<QPoint> pointer);

} // namespace marrowbell::app
