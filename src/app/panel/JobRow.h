#pragma once

#include "base/Instant.h"
#include "job/Job.h"
#include "panel/StatusDot.h"
#include "run/RunRecord.h"

#include <QString>

#include <optional>

namespace marrowbell::app {

// What the panel shows of one job, worked out once per refresh: a plain value the job
// list paints from.
struct JobRow {
    Job job;
    StatusDot::State dot = StatusDot::State::neverRun;
    QString name = {};
    QString schedule = {};        // the schedule in compact words
    QString permissionLabel = {}; // "read-only", …; empty for a paused job
    bool fullAccess = false;      // the label is drawn as a warning
    // "running"; the relative time of the next run ("in 2h 5m", "due", "paused" when
    // it never fires); for a paused job "paused · Mon 9:00 AM" when resuming would
    // run it, else "paused".
    QString next = {};
    // The tooltip: the cron text, "May touch: …", "Resuming would run it …" for a
    // paused job that would fire, "Last run: …" when it has run.
    QString helpText = {};

    static JobRow make(const Job& job, bool running, const std::optional<RunRecord>& lastRun,
                       Instant now);
    // The subtitle as one line ("Weekdays 9:00 AM · read-only").
    QString subtitle() const;
};

} // namespace marrowbell::app
