#include "panel/NotificationsBanner.h"

#include "panel/Theme.h"

#include <QPainter>

namespace marrowbell::app {
namespace {

constexpr int bellSize = 14;
constexpr int gap = 6;
constexpr int padding = 6;
constexpr int flags = Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignVCenter;

} // namespace

NotificationsBanner::NotificationsBanner(QWidget* parent)
    : QAbstractButton(parent) {
    setFont(Theme::font(11));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
}

QRect NotificationsBanner::textRect(int width) const {
    int left = padding + bellSize + gap;
    QRect bounds = fontMetrics().boundingRect(
        QRect(left, 0, std::max(1, width - left - padding), 1000), flags, text());
    return {left, padding, width - left - padding, bounds.height()};
}

int NotificationsBanner::heightForWidth(int width) const {
    return std::max(textRect(width).height(), bellSize) + 2 * padding;
}

QSize NotificationsBanner::sizeHint() const {
    int width = this->width() > 0 ? this->width() : 340;
    return {width, heightForWidth(width)};
}

void NotificationsBanner::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette& palette = this->palette();
    QColor fill = Theme::ember(palette);
    fill.setAlphaF(underMouse() || hasFocus() ? 0.2f : 0.12f);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);
    QRect text = textRect(width());
    icon().paint(&painter, QRect(padding, (height() - bellSize) / 2, bellSize, bellSize));
    painter.setPen(palette.color(QPalette::WindowText));
    painter.drawText(text.translated(0, (height() - 2 * padding - text.height()) / 2), flags,
                     this->text());
}

} // namespace marrowbell::app
