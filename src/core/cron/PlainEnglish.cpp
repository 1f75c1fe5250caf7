// The descriptions of a schedule in words. The wording is fixed English whatever
// the user's locale: names, times and ordinals come from "en_US_POSIX".
#include "cron/CronExpression.h"
#include "cron/ScheduleWords.h"

#include <memory>
#include <unicode/dtfmtsym.h>
#include <unicode/rbnf.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>
#include <variant>

namespace marrowbell {

namespace {

const icu::Locale& posix() {
    static const icu::Locale locale("en_US_POSIX");
    return locale;
}

std::string utf8(const icu::UnicodeString& text) {
    std::string out;
    text.toUTF8String(out);
    return out;
}

std::vector<std::string> weekdayNames(icu::DateFormatSymbols::DtWidthType width) {
    UErrorCode status = U_ZERO_ERROR;
    icu::DateFormatSymbols symbols(posix(), status);
    if (U_FAILURE(status))
        return {};
    int32_t count = 0;
    const icu::UnicodeString* names =
        symbols.getWeekdays(count, icu::DateFormatSymbols::STANDALONE, width);
    // ICU's list is indexed by UCAL_SUNDAY (1) … UCAL_SATURDAY (7); index 0 is empty.
    std::vector<std::string> out;
    for (int32_t i = 1; names && i < count; ++i)
        out.push_back(utf8(names[i]));
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
    const std::string plain = std::to_string(hour) + ":" + std::to_string(minute);
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59)
        return plain;
    // Formatters are costly to make and not safe to share, so each thread keeps one.
    thread_local std::unique_ptr<icu::SimpleDateFormat> format = [] {
        UErrorCode status = U_ZERO_ERROR;
        auto f =
            std::make_unique<icu::SimpleDateFormat>(icu::UnicodeString(u"h:mm a"), posix(), status);
        if (U_FAILURE(status))
            return std::unique_ptr<icu::SimpleDateFormat>();
        f->adoptTimeZone(icu::TimeZone::getGMT()->clone());
        return f;
    }();
    if (!format)
        return plain;
    icu::UnicodeString text;
    format->format((hour * 60.0 + minute) * 60000.0, text);
    return utf8(text);
}

const std::vector<std::string>& fullWeekdayNames() {
    static const std::vector<std::string> names = weekdayNames(icu::DateFormatSymbols::WIDE);
    return names;
}

const std::vector<std::string>& shortWeekdayNames() {
    static const std::vector<std::string> names = weekdayNames(icu::DateFormatSymbols::ABBREVIATED);
    return names;
}

std::optional<std::string> name(int index, const std::vector<std::string>& names) {
    if (index < 0 || static_cast<std::size_t>(index) >= names.size())
        return std::nullopt;
    return names[static_cast<std::size_t>(index)];
}

std::string ordinal(int number) {
    thread_local std::unique_ptr<icu::RuleBasedNumberFormat> format = [] {
        UErrorCode status = U_ZERO_ERROR;
        auto f = std::make_unique<icu::RuleBasedNumberFormat>(icu::URBNF_ORDINAL, posix(), status);
        return U_SUCCESS(status) ? std::move(f) : nullptr;
    }();
    if (!format)
        return std::to_string(number);
    icu::UnicodeString text;
    format->format(static_cast<int32_t>(number), text);
    return utf8(text);
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
