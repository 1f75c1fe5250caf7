#pragma once

#include "cron/SchedulePresetKind.h"

#include <optional>
#include <string>

namespace marrowbell::app {

// The schedule picker's controls: a shape and its number, weekday, day and time of
// day, read from cron text and turned back into it.
struct ScheduleControls {
    // The steppers' ranges.
    static constexpr int minInterval = 1, maxMinutes = 59, maxHours = 23;
    static constexpr int minDay = 1, maxDay = 31;

    SchedulePresetKind kind = SchedulePresetKind::weekdays;
    int interval = 15;
    int weekday = 1; // 0 = Sunday
    int dayOfMonth = 1;
    int hour = 0;
    int minute = 0;

    // Sets the shape and whichever values it carries from `cron`; the others stay.
    // A text whose values the controls cannot show (every 30 hours, 25:00) is custom,
    // so opening a job never rewrites its schedule.
    void load(const std::string& cron);
    // The cron text of the chosen shape, or none for custom (its text is typed).
    std::optional<std::string> cron() const;
    // Whether the shape uses the time of day.
    bool hasTime() const;

    friend bool operator==(const ScheduleControls&, const ScheduleControls&) = default;
};

} // namespace marrowbell::app
