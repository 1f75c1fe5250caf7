#include "panel/TimelineStrip.h"

#include "model/Format.h"
#include "panel/PanelLocale.h"
#include "panel/Theme.h"

#include <QHelpEvent>
#include <QPainter>
#include <QPainterPath>
#include <QToolTip>

namespace marrowbell::app {
namespace {

constexpr double summaryHeight = 18;
constexpr double gridHeight = 13;
constexpr double horizontalInset = 12;
// Runs this close to the start are drawn tall and in the accent colour.
constexpr Seconds imminentSeconds = 3600;

} // namespace

TimelineStrip::TimelineStrip(QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("timelineStrip"));
    setAccessibleName(QStringLiteral("Next 24 hours"));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void TimelineStrip::setTimeline(ScheduleTimeline timeline) {
    timeline_ = std::move(timeline);
    grid_ = timeline_.gridLabels(4, icuLocaleName().c_str());
    setAccessibleDescription(QString::fromStdString(timeline_.summary()));
    update();
}

QSize TimelineStrip::sizeHint() const {
    return {320, int(summaryHeight + railHeight + gridHeight + 4)};
}

double TimelineStrip::railTop() const {
    return summaryHeight;
}

QRectF TimelineStrip::tickRect(const ScheduleTimeline::Mark& mark) const {
    double width = this->width() - 2 * horizontalInset;
    double x = horizontalInset + width * timeline_.position(mark) - 1.5;
    bool imminent = mark.date - timeline_.start <= imminentSeconds;
    double top = railTop() + (imminent ? 0.16 : 0.32) * railHeight;
    return {x, top, 3, imminent ? 15.0 : 11.0};
}

QString TimelineStrip::tickToolTip(const ScheduleTimeline::Mark& mark) {
    return QString::fromStdString(mark.jobName) + QStringLiteral(" — ") +
           QString::fromStdString(Format::date(mark.date, "EEE h:mm a", icuLocaleName().c_str()));
}

std::optional<ScheduleTimeline::Mark> TimelineStrip::markAt(const QPointF& point) const {
    // The nearest tick within a few pixels, as 3-pixel ticks are hard to hit exactly.
    std::optional<ScheduleTimeline::Mark> found;
    double best = 4;
    for (const auto& mark : timeline_.marks) {
        QRectF rect = tickRect(mark);
        if (point.y() < rect.top() - 3 || point.y() > rect.bottom() + 3)
            continue;
        double distance = std::abs(rect.center().x() - point.x());
        if (distance <= best) {
            best = distance;
            found = mark;
        }
    }
    return found;
}

bool TimelineStrip::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        if (auto mark = markAt(help->pos()))
            QToolTip::showText(help->globalPos(), tickToolTip(*mark), this,
                               tickRect(*mark).toRect());
        else
            QToolTip::hideText();
        return true;
    }
    return QWidget::event(event);
}

void TimelineStrip::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette& palette = this->palette();
    const double width = this->width() - 2 * horizontalInset;

    painter.setFont(Theme::font(11, QFont::Medium));
    painter.setPen(Theme::tone(palette, Theme::Tone::secondary));
    painter.drawText(QRectF(horizontalInset, 0, width, summaryHeight),
                     Qt::AlignLeft | Qt::AlignVCenter, QString::fromStdString(timeline_.summary()));

    double railY = railTop() + 0.68 * railHeight;
    painter.setPen(QPen(Theme::tone(palette, Theme::Tone::faintest), 1));
    painter.drawLine(QPointF(horizontalInset, railY), QPointF(horizontalInset + width, railY));

    painter.setPen(Qt::NoPen);
    for (const auto& mark : timeline_.marks) {
        QRectF rect = tickRect(mark);
        bool imminent = rect.height() > 11;
        painter.setBrush(imminent ? Theme::ember(palette)
                                  : Theme::tone(palette, Theme::Tone::tertiary));
        painter.drawRoundedRect(rect, 1.5, 1.5);
    }

    QFont gridFont = Theme::font(9);
    painter.setFont(gridFont);
    painter.setPen(Theme::tone(palette, Theme::Tone::tertiary));
    QFontMetricsF metrics(gridFont);
    double gridTop = railTop() + railHeight;
    for (const auto& label : grid_) {
        QString text = QString::fromStdString(label.title);
        double textWidth = metrics.horizontalAdvance(text);
        double x = horizontalInset + width * label.position - textWidth / 2;
        // The first and last labels end at the rail's ends rather than past them.
        x = std::clamp(x, horizontalInset / 2, this->width() - horizontalInset / 2 - textWidth);
        painter.drawText(QRectF(x, gridTop, textWidth + 1, gridHeight),
                         Qt::AlignLeft | Qt::AlignVCenter, text);
    }
}

} // namespace marrowbell::app
