#include "IsoTime.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace marrowbell::ctl {

std::string isoLocal(Instant instant, const TimeZone& zone) {
    const int offset = zone.offsetSeconds(instant);
    const LocalDateTime local = zone.local(instant);
    const int magnitude = std::abs(offset);
    char text[96];
    std::snprintf(text, sizeof text, "%04lld-%02d-%02dT%02d:%02d:%02d%c%02d:%02d",
                  static_cast<long long>(local.year), local.month, local.day, local.hour,
                  local.minute, static_cast<int>(local.second), offset < 0 ? '-' : '+',
                  magnitude / 3600, magnitude / 60 % 60);
    std::string result = text;
    if (magnitude % 60 != 0) {
        std::snprintf(text, sizeof text, ":%02d", magnitude % 60);
        result += text;
    }
    return result;
}

namespace {

// A cursor over the text; every read checks the bounds.
struct Reader {
    std::string_view text;
    std::size_t at = 0;

    bool done() const { return at == text.size(); }
    bool take(char c) {
        if (at < text.size() && text[at] == c) {
            ++at;
            return true;
        }
        return false;
    }
    std::optional<int> digits(std::size_t count) {
        if (text.size() - at < count)
            return std::nullopt;
        int value = 0;
        for (std::size_t i = 0; i < count; ++i) {
            char c = text[at + i];
            if (c < '0' || c > '9')
                return std::nullopt;
            value = value * 10 + (c - '0');
        }
        at += count;
        return value;
    }
};

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

std::optional<Instant> parseUnix(std::string_view text) {
    // Digits with an optional sign and one optional fraction; strtod alone would also
    // take "inf", hex and exponents.
    std::size_t i = text.size() > 0 && (text[0] == '-' || text[0] == '+') ? 1 : 0;
    bool sawDigit = false, sawPoint = false;
    for (std::size_t j = i; j < text.size(); ++j) {
        if (isDigit(text[j]))
            sawDigit = true;
        else if (text[j] == '.' && !sawPoint)
            sawPoint = true;
        else
            return std::nullopt;
    }
    if (!sawDigit || text.size() > 40)
        return std::nullopt;
    const double seconds = std::strtod(std::string(text).c_str(), nullptr);
    // Within the calendar's reach (about ±200,000 years).
    if (!std::isfinite(seconds) || std::fabs(seconds) > 6e12)
        return std::nullopt;
    return Instant::fromUnix(seconds);
}

} // namespace

std::optional<Instant> parseInstant(std::string_view text) {
    if (!text.empty() && text[0] == '@')
        return parseUnix(text.substr(1));
    Reader r{text};
    auto year = r.digits(4);
    if (!year || !r.take('-'))
        return std::nullopt;
    auto month = r.digits(2);
    if (!month || !r.take('-'))
        return std::nullopt;
    auto day = r.digits(2);
    if (!day || !(r.take('T') || r.take('t') || r.take(' ')))
        return std::nullopt;
    auto hour = r.digits(2);
    if (!hour || !r.take(':'))
        return std::nullopt;
    auto minute = r.digits(2);
    if (!minute)
        return std::nullopt;
    double second = 0;
    if (r.take(':')) {
        auto whole = r.digits(2);
        if (!whole)
            return std::nullopt;
        second = *whole;
        if (r.take('.') || r.take(',')) {
            double scale = 0.1;
            std::size_t start = r.at;
            while (!r.done() && isDigit(r.text[r.at])) {
                second += (r.text[r.at] - '0') * scale;
                scale /= 10;
                ++r.at;
            }
            if (r.at == start)
                return std::nullopt;
        }
    }
    int offset = 0;
    if (!(r.take('Z') || r.take('z'))) {
        int sign = r.take('+') ? 1 : r.take('-') ? -1 : 0;
        if (sign == 0)
            return std::nullopt; // a local time without an offset is ambiguous
        auto offsetHours = r.digits(2);
        if (!offsetHours)
            return std::nullopt;
        int offsetMinutes = 0;
        if (!r.done()) {
            r.take(':');
            auto m = r.digits(2);
            if (!m || *m > 59)
                return std::nullopt;
            offsetMinutes = *m;
        }
        if (*offsetHours > 18)
            return std::nullopt;
        offset = sign * (*offsetHours * 3600 + offsetMinutes * 60);
    }
    if (!r.done())
        return std::nullopt;
    if (*month < 1 || *month > 12 || *day < 1 || *hour > 23 || *minute > 59 || second >= 60)
        return std::nullopt;
    // The day must exist in that month (no 31 April, 29 February only in leap years).
    std::int64_t checkYear;
    int checkMonth, checkDay;
    const std::int64_t days = civil::daysFromDate(*year, *month, *day);
    civil::dateFromDays(days, checkYear, checkMonth, checkDay);
    if (checkMonth != *month || checkDay != *day)
        return std::nullopt;
    const double unix =
        static_cast<double>(days) * 86400.0 + *hour * 3600 + *minute * 60 + second - offset;
    return Instant::fromUnix(unix);
}

} // namespace marrowbell::ctl
