#pragma once

#include "base/Instant.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace marrowbell {

class ZoneRules;

// Wall-clock fields of the proleptic Gregorian calendar. `weekday` is 0 = Sunday …
// 6 = Saturday; it is filled in by `TimeZone::local` and ignored on conversion.
struct LocalDateTime {
    std::int64_t year = 2001;
    int month = 1; // 1 = January
    int day = 1;
    int hour = 0;
    int minute = 0;
    double second = 0; // with fraction
    int weekday = 1;

    friend bool operator==(const LocalDateTime&, const LocalDateTime&) = default;
};

// A time zone of the tz database, read from the system's compiled zone files
// ($TZDIR, else /usr/share/zoneinfo): an immutable value that is cheap to copy and
// safe to share between threads.
class TimeZone {
public:
    // The zone named by a tz identifier ("Europe/London", "UTC"); none when the
    // system has no such zone.
    static std::optional<TimeZone> named(std::string_view identifier);
    // The named zone, or the system's current zone when the name is unknown.
    static TimeZone namedOrSystem(std::string_view identifier);
    // The system's current zone, read afresh on each call: $TZ as the C library reads
    // it (a zone name, a file, or a POSIX rule; UTC when it is none of them), else
    // /etc/localtime.
    static TimeZone system();
    static TimeZone utc();

    const std::string& identifier() const { return identifier_; }

    // Seconds east of UTC in effect at `instant` (daylight saving included).
    int offsetSeconds(Instant instant) const;
    LocalDateTime local(Instant instant) const;
    // The instant that shows these wall-clock fields. A wall time that occurs twice
    // (clocks set back) gives its first occurrence; one that never occurs (clocks set
    // forward) or fields out of their ranges give none.
    std::optional<Instant> instant(const LocalDateTime& fields) const;

    friend bool operator==(const TimeZone& a, const TimeZone& b) {
        return a.identifier_ == b.identifier_;
    }

private:
    TimeZone(std::shared_ptr<const ZoneRules> rules, std::string identifier);

    std::shared_ptr<const ZoneRules> rules_;
    std::string identifier_;
};

namespace civil {
// Days since 1970-01-01 of a proleptic Gregorian date, and back.
std::int64_t daysFromDate(std::int64_t year, int month, int day);
void dateFromDays(std::int64_t days, std::int64_t& year, int& month, int& day);
// 0 = Sunday … 6 = Saturday.
int weekdayFromDays(std::int64_t days);
} // namespace civil

} // namespace marrowbell
