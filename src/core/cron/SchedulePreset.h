#pragma once

#include "cron/SchedulePresetKind.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace marrowbell {

// A friendly schedule shape with its parameters, as the job editor's picker holds
// it, and the cron text it stands for. `cron()` does not validate; the text is
// parsed as a CronExpression before a job is saved.
struct SchedulePreset {
    struct EveryMinutes {
        std::int64_t interval;
        friend bool operator==(const EveryMinutes&, const EveryMinutes&) = default;
    };
    struct EveryHours {
        std::int64_t interval;
        friend bool operator==(const EveryHours&, const EveryHours&) = default;
    };
    struct Daily {
        std::int64_t hour, minute;
        friend bool operator==(const Daily&, const Daily&) = default;
    };
    struct Weekdays {
        std::int64_t hour, minute;
        friend bool operator==(const Weekdays&, const Weekdays&) = default;
    };
    struct Weekly {
        std::int64_t weekday, hour, minute; // weekday 0 = Sunday
        friend bool operator==(const Weekly&, const Weekly&) = default;
    };
    struct Monthly {
        std::int64_t day, hour, minute;
        friend bool operator==(const Monthly&, const Monthly&) = default;
    };
    struct Custom {
        std::string text;
        friend bool operator==(const Custom&, const Custom&) = default;
    };
    // Alternatives in the order of SchedulePresetKind.
    std::variant<EveryMinutes, EveryHours, Daily, Weekdays, Weekly, Monthly, Custom> value;

    // "*/{n} * * * *", "0 */{n} * * *", "{m} {h} * * *", "{m} {h} * * 1-5",
    // "{m} {h} * * {w}", "{m} {h} {d} * *", or the custom text unchanged.
    std::string cron() const;
    SchedulePresetKind kind() const { return static_cast<SchedulePresetKind>(value.index()); }
    // (hour, minute) for the daily, weekdays, weekly and monthly shapes.
    std::optional<std::pair<std::int64_t, std::int64_t>> timeOfDay() const;

    // Sunday … Saturday (index = cron weekday number); empty if the locale has none.
    static const std::vector<std::string>& weekdayNames();
    // The preset a cron text reads as; anything unrecognised is Custom with the text
    // exactly as given. Never fails.
    static SchedulePreset matching(std::string_view text);

    friend bool operator==(const SchedulePreset&, const SchedulePreset&) = default;
};

} // namespace marrowbell
