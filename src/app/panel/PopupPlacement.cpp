#include "panel/PopupPlacement.h"

#include <algorithm>

namespace marrowbell::app {

QPoint popupPosition(QSize panel, const QRect& available, const QRect& icon,
                     std::optional<QPoint> pointer) {
    constexpr int gap = 4;
    QPoint at;
    if (icon.isValid() && !icon.isEmpty()) {
        bool below = icon.center().y() < available.center().y();
        at = {icon.center().x() - panel.width() / 2,
              below ? icon.bottom() + 1 + gap : icon.top() - gap - panel.height()};
    } else if (pointer && available.contains(*pointer)) {
        bool below = pointer->y() < available.center().y();
        at = {pointer->x() - panel.width() / 2,
              below ? pointer->y() + gap : pointer->y() - gap - panel.height()};
    } else {
        at = {available.right() + 1 - panel.width() - gap, available.top() + gap};
    }
    int maxX = std::max(available.left(), available.right() + 1 - panel.width());
    int maxY = std::max(available.top(), available.bottom() + 1 - panel.height());
    return {std::clamp(at.x(), available.left(), maxX), std::clamp(at.y(), available.top(), maxY)};
}

} // namespace marrowbell::app
