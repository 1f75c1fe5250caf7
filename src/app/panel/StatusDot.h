#pragma once

#include "run/RunRecord.h"

#include <QColor>
#include <QPalette>
#include <QRectF>

#include <optional>

class QPainter;

namespace marrowbell::app {

// The mark at the start of a job's row: how its last run went, or that it runs now,
// is paused or never ran.
struct StatusDot {
    enum class State { succeeded, failed, running, paused, neverRun, cancelled };

    // The first that applies: running, paused, never run (no record), cancelled,
    // failed (a non-zero exit, a time-out or a failure message, so skips too),
    // succeeded.
    static State state(bool running, bool paused, const std::optional<RunRecord>& lastRun);

    // Draws the 7 × 7 dot centred in `rect`; a running dot is a spinner whose arc
    // starts at `spinnerAngle` degrees.
    static void paint(QPainter& painter, const QRectF& rect, State state, const QPalette& palette,
                      int spinnerAngle = 0);
    // Words for screen readers ("Succeeded", "Running", …).
    static QString accessibleText(State state);
};

} // namespace marrowbell::app
