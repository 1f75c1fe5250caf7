#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace marrowbell {

// The offsets of one time zone over time, as the tz database compiles them (a TZif
// file, RFC 8536): the recorded transitions, then the POSIX TZ rule of its footer for
// every instant after the last one. Immutable once built.
class ZoneRules {
public:
    // The rules of a TZif file's bytes (version 1 to 4); none when they are not one.
    static std::optional<ZoneRules> fromTzif(std::string_view bytes);
    // The rules of a POSIX TZ string ("CET-1CEST,M3.5.0,M10.5.0/3", "<+0330>-3:30");
    // none when it is not one.
    static std::optional<ZoneRules> fromPosix(std::string_view rule);
    static ZoneRules fixed(int offsetSeconds);

    // Seconds east of UTC in effect at the Unix time `unixSeconds`.
    int offsetAt(std::int64_t unixSeconds) const;

    // A POSIX rule: standard time all year, or daylight time between two dates.
    struct Posix {
        // A date of the rule: Julian day (1-365, February 29 never counted), zero-based
        // day of the year (leap days counted), or the week'th weekday of a month (week 5
        // meaning the last one); `time` is the local wall time of the change, which may
        // be negative or past midnight.
        struct Date {
            enum class Kind { julian, zeroBased, monthWeekDay } kind = Kind::monthWeekDay;
            int day = 0; // the day, or the weekday (0 = Sunday) for monthWeekDay
            int month = 0;
            int week = 0;
            int time = 7200;
        };
        int standardOffset = 0; // seconds east of UTC
        std::optional<int> daylightOffset;
        Date start, end;

        int offsetAt(std::int64_t unixSeconds) const;
        static std::optional<Posix> parse(std::string_view rule);
    };

private:
    ZoneRules() = default;

    std::vector<std::int64_t> transitions_;
    std::vector<int> offsetAfter_; // the offset from each transition on
    int offsetBefore_ = 0;         // before the first transition
    std::optional<Posix> footer_;  // after the last transition
};

} // namespace marrowbell
