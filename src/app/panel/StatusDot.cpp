#include "panel/StatusDot.h"

#include "panel/Theme.h"

#include <QPainter>

namespace marrowbell::app {

StatusDot::State StatusDot::state(bool running, bool paused,
                                  const std::optional<RunRecord>& lastRun) {
    if (running)
        return State::running;
    if (paused)
        return State::paused;
    if (!lastRun)
        return State::neverRun;
    if (lastRun->wasCancelled)
        return State::cancelled;
    if (lastRun->exitCode != 0 || lastRun->timedOut || lastRun->failureMessage)
        return State::failed;
    return State::succeeded;
}

void StatusDot::paint(QPainter& painter, const QRectF& rect, State state, const QPalette& palette,
                      int spinnerAngle) {
    constexpr double size = 7;
    QRectF dot(rect.center().x() - size / 2, rect.center().y() - size / 2, size, size);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    auto filled = [&](const QColor& color) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        painter.drawEllipse(dot);
    };
    auto ring = [&](const QColor& color) {
        painter.setPen(QPen(color, 1.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(dot.adjusted(0.75, 0.75, -0.75, -0.75));
    };
    switch (state) {
    case State::succeeded:
        filled(Theme::success(palette));
        break;
    case State::failed:
        filled(Theme::failure(palette));
        break;
    case State::cancelled:
        filled(Theme::tone(palette, Theme::Tone::secondary));
        break;
    case State::paused:
        ring(Theme::tone(palette, Theme::Tone::tertiary));
        break;
    case State::neverRun:
        ring(Theme::tone(palette, Theme::Tone::faintest));
        break;
    case State::running: {
        // A little larger than the dots, as a progress spinner reads better so.
        QRectF arc = dot.adjusted(-1, -1, 1, 1);
        painter.setPen(QPen(Theme::tone(palette, Theme::Tone::faintest), 1.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(arc);
        painter.setPen(QPen(Theme::ember(palette), 1.5, Qt::SolidLine, Qt::RoundCap));
        painter.drawArc(arc, -spinnerAngle * 16, 100 * 16);
        break;
    }
    }
    painter.restore();
}

QString StatusDot::accessibleText(State state) {
    switch (state) {
    case State::succeeded:
        return QStringLiteral("Succeeded");
    case State::failed:
        return QStringLiteral("Failed");
    case State::running:
        return QStringLiteral("Running");
    case State::paused:
        return QStringLiteral("Paused");
    case State::neverRun:
        return QStringLiteral("Never run");
    case State::cancelled:
        return QStringLiteral("Cancelled");
    }
    return {};
}

} // namespace marrowbell::app
