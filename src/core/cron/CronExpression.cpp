#include "cron/CronExpression.h"

#include <cmath>
#include <limits>

namespace marrowbell {

std::optional<std::int64_t> readCronInteger(std::string_view text) {
    std::size_t i = 0;
    bool negative = false;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        negative = text[0] == '-';
        i = 1;
    }
    if (i == text.size())
        return std::nullopt;
    // Accumulate negatively so that the most negative value fits as well.
    std::int64_t value = 0;
    constexpr std::int64_t min = std::numeric_limits<std::int64_t>::min();
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9')
            return std::nullopt;
        const int digit = c - '0';
        if (value < (min + digit) / 10)
            return std::nullopt;
        value = value * 10 - digit;
    }
    if (!negative) {
        if (value == min)
            return std::nullopt;
        value = -value;
    }
    return value;
}

std::optional<int> Field::singleValue() const {
    if (values.size() != 1)
        return std::nullopt;
    if (!readCronInteger(source))
        return std::nullopt;
    return *values.begin();
}

std::optional<std::int64_t> Field::step() const {
    if (source.size() < 2 || source.compare(0, 2, "*/") != 0)
        return std::nullopt;
    auto n = readCronInteger(std::string_view(source).substr(2));
    if (!n || *n < 1)
        return std::nullopt;
    return n;
}

namespace {

struct FieldRule {
    const char* name;
    int lower;
    int upper;
    bool foldsSeven; // weekday: 7 is Sunday, stored as 0
};

constexpr FieldRule minuteRule{"minute", 0, 59, false};
constexpr FieldRule hourRule{"hour", 0, 23, false};
constexpr FieldRule dayOfMonthRule{"day of month", 1, 31, false};
constexpr FieldRule monthRule{"month", 1, 12, false};
constexpr FieldRule weekdayRule{"weekday", 0, 7, true};

// Splits at `separator`, keeping empty pieces.
std::vector<std::string_view> splitKeepingEmpty(std::string_view text, char separator) {
    std::vector<std::string_view> pieces;
    std::size_t start = 0;
    for (;;) {
        std::size_t at = text.find(separator, start);
        if (at == std::string_view::npos) {
            pieces.push_back(text.substr(start));
            return pieces;
        }
        pieces.push_back(text.substr(start, at - start));
        start = at + 1;
    }
}

// Adds from, from+step, … up to at most `to`; false when the term is refused.
void addSteps(ValueSet& values, std::int64_t from, std::int64_t to, std::int64_t step) {
    for (std::int64_t v = from; v <= to; v += step) {
        values.insert(static_cast<int>(v));
        if (step > to - v) // the next value would pass `to` (or overflow)
            break;
    }
}

bool parseTerm(std::string_view term, const FieldRule& rule, ValueSet& values) {
    auto parts = splitKeepingEmpty(term, '/');
    if (parts.size() > 2)
        return false;
    std::int64_t step = 1;
    if (parts.size() == 2) {
        auto n = readCronInteger(parts[1]);
        if (!n || *n < 1)
            return false;
        step = *n;
    }
    std::string_view base = parts[0];
    if (base == "*") {
        addSteps(values, rule.lower, rule.upper, step);
        return true;
    }
    if (base.find('-') != std::string_view::npos) {
        auto ends = splitKeepingEmpty(base, '-');
        if (ends.size() != 2)
            return false;
        auto a = readCronInteger(ends[0]);
        auto b = readCronInteger(ends[1]);
        if (!a || !b || *a < rule.lower || *a > *b || *b > rule.upper)
            return false;
        addSteps(values, *a, *b, step);
        return true;
    }
    auto v = readCronInteger(base);
    if (!v || *v < rule.lower || *v > rule.upper)
        return false;
    addSteps(values, *v, parts.size() == 2 ? rule.upper : *v, step);
    return true;
}

Field parseField(std::string_view text, const FieldRule& rule) {
    Field field;
    field.source = std::string(text);
    for (std::string_view term : splitKeepingEmpty(text, ',')) {
        ValueSet termValues;
        if (!parseTerm(term, rule, termValues))
            throw CronError::invalidField(rule.name, std::string(term));
        for (int v : termValues)
            field.values.insert(rule.foldsSeven && v == 7 ? 0 : v);
    }
    if (field.values.empty())
        throw CronError::invalidField(rule.name, field.source);
    return field;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

} // namespace

CronExpression::CronExpression(std::string_view text) {
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    std::vector<std::string_view> pieces;
    for (std::string_view piece : splitKeepingEmpty(text, ' '))
        if (!piece.empty())
            pieces.push_back(piece);
    if (pieces.size() != 5)
        throw CronError::wrongFieldCount(static_cast<std::int64_t>(pieces.size()));
    text_ = std::string(pieces[0]);
    for (std::size_t i = 1; i < 5; ++i)
        text_.append(" ").append(pieces[i]);
    minute_ = parseField(pieces[0], minuteRule);
    hour_ = parseField(pieces[1], hourRule);
    dayOfMonth_ = parseField(pieces[2], dayOfMonthRule);
    month_ = parseField(pieces[3], monthRule);
    weekday_ = parseField(pieces[4], weekdayRule);
}

std::optional<Instant> CronExpression::nextDate(Instant after, const TimeZone& zone) const {
    const double afterUnix = after.unixSeconds();
    if (!std::isfinite(afterUnix))
        return std::nullopt;
    const Instant start = Instant::fromUnix(std::floor(afterUnix / 60.0) * 60.0 + 60.0);
    const LocalDateTime first = zone.local(start);

    const std::uint64_t dayOfMonthBits = dayOfMonth_.values.bits(),
                        monthBits = month_.values.bits(), weekdayBits = weekday_.values.bits();
    const bool anyDay = dayOfMonth_.source == "*";
    const bool anyWeekday = weekday_.source == "*";
    std::int64_t days = civil::daysFromDate(first.year, first.month, first.day);
    LocalDateTime candidate;
    // Days are walked in the proleptic Gregorian calendar directly; only the
    // candidate wall times of qualifying days go through the zone's rules.
    for (int index = 0; index < searchHorizonDays; ++index, ++days) {
        civil::dateFromDays(days, candidate.year, candidate.month, candidate.day);
        if (!(monthBits >> candidate.month & 1))
            continue;
        const bool dayMatches = dayOfMonthBits >> candidate.day & 1;
        const bool weekdayMatches = weekdayBits >> civil::weekdayFromDays(days) & 1;
        bool qualifies;
        if (anyDay && anyWeekday)
            qualifies = true;
        else if (anyDay)
            qualifies = weekdayMatches;
        else if (anyWeekday)
            qualifies = dayMatches;
        else
            qualifies = dayMatches || weekdayMatches;
        if (!qualifies)
            continue;
        // The sets iterate in ascending order, as the search needs.
        for (int h : hour_.values) {
            if (index == 0 && h < first.hour)
                continue;
            for (int m : minute_.values) {
                if (index == 0 && h == first.hour && m < first.minute)
                    continue;
                candidate.hour = h;
                candidate.minute = m;
                auto instant = zone.instant(candidate);
                if (instant && *instant > after)
                    return instant;
            }
        }
    }
    return std::nullopt;
}

std::vector<Instant> CronExpression::nextDates(std::int64_t count, Instant after,
                                               const TimeZone& zone) const {
    std::vector<Instant> dates;
    for (std::int64_t i = 0; i < count; ++i) {
        auto next = nextDate(after, zone);
        if (!next)
            break;
        dates.push_back(*next);
        after = *next;
    }
    return dates;
}

} // namespace marrowbell
