#pragma once

#include "base/Instant.h"
#include "base/TimeZone.h"
#include "cron/CronError.h"
#include "cron/Field.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace marrowbell {

// A five-field cron schedule (minute hour day-of-month month weekday) holding only
// numbers, "*", ranges, lists and steps. An immutable value.
class CronExpression {
public:
    // Parses `text`; throws CronError (exactly one: the first problem found).
    explicit CronExpression(std::string_view text);
    static CronExpression parse(std::string_view text) { return CronExpression(text); }

    // How far ahead the next-fire search looks before answering none.
    static constexpr int searchHorizonDays = 1830;

    // The five field texts joined by single spaces.
    const std::string& text() const { return text_; }
    const Field& minute() const { return minute_; }
    const Field& hour() const { return hour_; }
    const Field& dayOfMonth() const { return dayOfMonth_; }
    const Field& month() const { return month_; }
    const Field& weekday() const { return weekday_; }

    // The first whole minute strictly after `after` at which the schedule fires, read
    // in `zone`. A wall time that occurs twice fires at its first occurrence only; one
    // that is skipped does not fire. None when nothing fires within the horizon.
    std::optional<Instant> nextDate(Instant after, const TimeZone& zone) const;
    // Up to `count` successive fire times, each searched from the one before.
    std::vector<Instant> nextDates(std::int64_t count, Instant after, const TimeZone& zone) const;

    // Descriptions in words ("Every weekday at 9:00 AM", "Weekdays 9:00 AM"); any
    // shape they do not recognise is shown as `text()`.
    std::string plainEnglish() const;
    std::string compactEnglish() const;

    friend bool operator==(const CronExpression& a, const CronExpression& b) {
        return a.text_ == b.text_ && a.minute_ == b.minute_ && a.hour_ == b.hour_ &&
               a.dayOfMonth_ == b.dayOfMonth_ && a.month_ == b.month_ && a.weekday_ == b.weekday_;
    }

private:
    std::string text_;
    Field minute_, hour_, dayOfMonth_, month_, weekday_;
};

} // namespace marrowbell

template <> struct std::hash<marrowbell::CronExpression> {
    std::size_t operator()(const marrowbell::CronExpression& e) const noexcept {
        // Equal expressions have equal texts.
        return std::hash<std::string>()(e.text());
    }
};
