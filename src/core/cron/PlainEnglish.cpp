// The descriptions of a schedule in words. The wording is fixed English whatever
// the user's locale: names, times and ordinals come from "en_US_POSIX".
#include "cron/CronExpression.h"
#include "cron/ScheduleWords.h"

#include "base/IcuLibrary.h"

#include <cstdio>
#include <cstdlib>
#include <variant>

namespace marrowbell {

namespace {

constexpr const char* posix = "en_US_POSIX";

// A formatter of "h:mm a" in GMT, which also holds the locale's names of days; null
// without ICU or its data.
IcuLibrary::Owned<UDateFormat> timeFormat() {
    const IcuLibrary* icu = IcuLibrary::get();
    if (!icu)
        return {nullptr, nullptr};
    UErrorCode status = U_ZERO_ERROR;
    IcuLibrary::Owned<UDateFormat> format(
        icu->udat_open(UDAT_PATTERN, UDAT_PATTERN, posix, u"GMT", -1, u"h:mm a", -1, &status),
        icu->udat_close);
    if (U_FAILURE(status))
        return {nullptr, nullptr};
    return format;
}

// `type` is UDAT_STANDALONE_WEEKDAYS or UDAT_STANDALONE_SHORT_WEEKDAYS.
std::vector<std::string> weekdayNames(UDateFormatSymbolType type) {
    std::vector<std::string> out;
    if (auto format = timeFormat()) {
        const IcuLibrary* icu = IcuLibrary::get();
        // ICU's list is indexed by UCAL_SUNDAY (1) … UCAL_SATURDAY (7); index 0 is empty.
        const int32_t count = icu->udat_countSymbols(format.get(), type);
        for (int32_t i = 1; i < count; ++i) {
            UErrorCode status = U_ZERO_ERROR;
            std::u16string name = IcuLibrary::written(
                [&](UChar* buffer, int32_t capacity, UErrorCode& error) {
                    return icu->udat_getSymbols(format.get(), type, i, buffer, capacity, &error);
                },
                status);
            if (U_FAILURE(status))
                break;
            out.push_back(icu->utf8(name));
        }
        if (out.size() == 7)
            return out;
    }
    out.clear();
    for (const char* day :
         {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"})
        out.push_back(type == UDAT_STANDALONE_WEEKDAYS ? std::string(day) : std::string(day, 3));
    return out;
}

struct EveryMinute {};
struct EveryMinutes {
    std::int64_t n;
};
struct EveryHours {
    std::int64_t n;
};
struct Daily {
    int hour, minute;
};
struct Weekdays {
    int hour, minute;
};
struct Weekly {
    int weekday, hour, minute;
};
struct Monthly {
    int day, hour, minute;
};
using Shape = std::variant<std::monostate, EveryMinute, EveryMinutes, EveryHours, Daily, Weekdays,
                           Weekly, Monthly>;

Shape shapeOf(const CronExpression& e) {
    const bool anyMinute = e.minute().source == "*", anyHour = e.hour().source == "*",
               anyDay = e.dayOfMonth().source == "*", anyMonth = e.month().source == "*",
               anyWeekday = e.weekday().source == "*";
    if (anyMinute && anyHour && anyDay && anyMonth && anyWeekday)
        return EveryMinute{};
    if (auto n = e.minute().step(); n && anyHour && anyDay && anyMonth && anyWeekday)
        return EveryMinutes{*n};
    if (auto n = e.hour().step(); n && e.minute().singleValue() && anyDay && anyMonth && anyWeekday)
        return EveryHours{*n};
    auto hour = e.hour().singleValue();
    auto minute = e.minute().singleValue();
    if (!hour || !minute)
        return {};
    if (anyDay && anyMonth && anyWeekday)
        return Daily{*hour, *minute};
    if (anyDay && anyMonth && e.weekday().source == "1-5")
        return Weekdays{*hour, *minute};
    if (auto w = e.weekday().singleValue(); anyDay && anyMonth && w)
        return Weekly{*w, *hour, *minute};
    if (auto d = e.dayOfMonth().singleValue(); anyMonth && anyWeekday && d)
        return Monthly{*d, *hour, *minute};
    return {};
}

template <class... Ts> struct Overloaded : Ts... { using Ts::operator()...; };
template <class... Ts> Overloaded(Ts...) -> Overloaded<Ts...>;

} // namespace

namespace words {

std::string timeOfDay(int hour, int minute) {
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59)
        return std::to_string(hour) + ":" + std::to_string(minute);
    // Formatters are costly to make and not safe to share, so each thread keeps one.
    thread_local const IcuLibrary::Owned<UDateFormat> format = timeFormat();
    if (format) {
        const IcuLibrary* icu = IcuLibrary::get();
        UErrorCode status = U_ZERO_ERROR;
        std::u16string text = IcuLibrary::written(
            [&](UChar* buffer, int32_t capacity, UErrorCode& error) {
                return icu->udat_format(format.get(), (hour * 60.0 + minute) * 60000.0, buffer,
                                        capacity, nullptr, &error);
            },
            status);
        if (U_SUCCESS(status))
            return icu->utf8(text);
    }
    char text[16];
    std::snprintf(text, sizeof text, "%d:%02d %s", hour % 12 == 0 ? 12 : hour % 12, minute,
                  hour < 12 ? "AM" : "PM");
    return text;
}

const std::vector<std::string>& fullWeekdayNames() {
    static const std::vector<std::string> names = weekdayNames(UDAT_STANDALONE_WEEKDAYS);
    return names;
}

const std::vector<std::string>& shortWeekdayNames() {
    static const std::vector<std::string> names = weekdayNames(UDAT_STANDALONE_SHORT_WEEKDAYS);
    return names;
}

std::optional<std::string> name(int index, const std::vector<std::string>& names) {
    if (index < 0 || static_cast<std::size_t>(index) >= names.size())
        return std::nullopt;
    return names[static_cast<std::size_t>(index)];
}

std::string ordinal(int number) {
    thread_local const IcuLibrary::Owned<UNumberFormat> format =
        []() -> IcuLibrary::Owned<UNumberFormat> {
        const IcuLibrary* icu = IcuLibrary::get();
        if (!icu)
            return {nullptr, nullptr};
        UErrorCode status = U_ZERO_ERROR;
        IcuLibrary::Owned<UNumberFormat> f(
            icu->unum_open(UNUM_ORDINAL, nullptr, 0, posix, nullptr, &status), icu->unum_close);
        if (U_FAILURE(status))
            return {nullptr, nullptr};
        return f;
    }();
    if (format) {
        const IcuLibrary* icu = IcuLibrary::get();
        UErrorCode status = U_ZERO_ERROR;
        std::u16string text = IcuLibrary::written(
            [&](UChar* buffer, int32_t capacity, UErrorCode& error) {
                return icu->unum_format(format.get(), number, buffer, capacity, nullptr, &error);
            },
            status);
        if (U_SUCCESS(status))
            return icu->utf8(text);
    }
    const int lastTwo = std::abs(number % 100), last = lastTwo % 10;
    const char* suffix = lastTwo >= 11 && lastTwo <= 13 ? "th"
                         : last == 1                    ? "st"
                         : last == 2                    ? "nd"
                         : last == 3                    ? "rd"
                                                        : "th";
    return std::to_string(number) + suffix;
}

} // namespace words

std::string CronExpression::plainEnglish() const {
    using namespace words;
    return std::visit(
        Overloaded{
            [&](std::monostate) { return text_; },
            [](EveryMinute) { return std::string("Every minute"); },
            [](EveryMinutes s) { return "Every " + std::to_string(s.n) + " minutes"; },
            [](EveryHours s) { return "Every " + std::to_string(s.n) + " hours"; },
            [](Daily s) { return "Every day at " + timeOfDay(s.hour, s.minute); },
            [](Weekdays s) { return "Every weekday at " + timeOfDay(s.hour, s.minute); },
            [](Weekly s) {
                return "Every " + name(s.weekday, fullWeekdayNames()).value_or("") + " at " +
                       timeOfDay(s.hour, s.minute);
            },
            [](Monthly s) {
                return "Every month on the " + ordinal(s.day) + " at " +
                       timeOfDay(s.hour, s.minute);
            },
        },
        shapeOf(*this));
}

std::string CronExpression::compactEnglish() const {
    using namespace words;
    return std::visit(Overloaded{
                          [&](std::monostate) { return text_; },
                          [](EveryMinute) { return std::string("Every minute"); },
                          [](EveryMinutes s) { return "Every " + std::to_string(s.n) + " min"; },
                          [](EveryHours s) { return "Every " + std::to_string(s.n) + " hr"; },
                          [](Daily s) { return "Daily " + timeOfDay(s.hour, s.minute); },
                          [](Weekdays s) { return "Weekdays " + timeOfDay(s.hour, s.minute); },
                          [](Weekly s) {
                              return name(s.weekday, shortWeekdayNames()).value_or("") + " " +
                                     timeOfDay(s.hour, s.minute);
                          },
                          [](Monthly s) {
                              return "Monthly " + ordinal(s.day) + ", " +
                                     timeOfDay(s.hour, s.minute);
                          },
                      },
                      shapeOf(*this));
}

} // namespace marrowbell
