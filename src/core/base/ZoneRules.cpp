#include "base/ZoneRules.h"

#include "base/TimeZone.h"

#include <algorithm>
#include <cstdlib>

namespace marrowbell {

namespace {

constexpr int maxOffset = 26 * 3600; // beyond any zone's, with room for odd footers

// Reads the big-endian fields of a TZif file; any read past the end spoils it.
struct TzifReader {
    std::string_view bytes;
    std::size_t at = 0;
    bool ok = true;

    bool has(std::uint64_t count) {
        ok = ok && count <= bytes.size() - at;
        return ok;
    }
    std::uint64_t number(int width) {
        if (!has(width))
            return 0;
        std::uint64_t value = 0;
        for (int i = 0; i < width; ++i)
            value = value << 8 | static_cast<unsigned char>(bytes[at++]);
        return value;
    }
    void skip(std::uint64_t count) {
        if (has(count))
            at += count;
    }
};

struct TzifHeader {
    char version = 0;
    std::uint64_t isUtCount = 0, isStdCount = 0, leapCount = 0, timeCount = 0, typeCount = 0,
                  charCount = 0;

    static std::optional<TzifHeader> read(TzifReader& in) {
        if (!in.has(44) || in.bytes.substr(in.at, 4) != "TZif")
            return std::nullopt;
        TzifHeader header;
        header.version = in.bytes[in.at + 4];
        in.skip(20);
        for (std::uint64_t* count : {&header.isUtCount, &header.isStdCount, &header.leapCount,
                                     &header.timeCount, &header.typeCount, &header.charCount})
            *count = in.number(4);
        return header;
    }
    std::uint64_t blockSize(int timeWidth) const {
        return timeCount * (timeWidth + 1) + typeCount * 6 + charCount +
               leapCount * (timeWidth + 4) + isStdCount + isUtCount;
    }
};

// A POSIX TZ string, consumed from the front.
struct PosixReader {
    std::string_view text;

    bool eat(char c) {
        if (text.empty() || text.front() != c)
            return false;
        text.remove_prefix(1);
        return true;
    }
    std::optional<int> integer(int most) {
        std::size_t n = 0;
        int value = 0;
        while (n < text.size() && n < 3 && text[n] >= '0' && text[n] <= '9')
            value = value * 10 + (text[n++] - '0');
        if (n == 0 || value > most)
            return std::nullopt;
        text.remove_prefix(n);
        return value;
    }
    // A zone abbreviation: three or more letters, or <…> of letters, digits and signs.
    bool name() {
        std::size_t n = 0;
        if (eat('<')) {
            while (n < text.size() && text[n] != '>')
                ++n;
            if (n < 3 || n == text.size())
                return false;
            text.remove_prefix(n + 1);
            return true;
        }
        while (n < text.size() && ((text[n] | 0x20) >= 'a' && (text[n] | 0x20) <= 'z'))
            ++n;
        text.remove_prefix(n);
        return n >= 3;
    }
    // [+-]hh[:mm[:ss]] in seconds; hours up to `mostHours`.
    std::optional<int> duration(int mostHours) {
        const int sign = eat('-') ? -1 : (eat('+'), 1);
        auto hours = integer(mostHours);
        if (!hours)
            return std::nullopt;
        int seconds = *hours * 3600;
        for (int unit : {60, 1}) {
            if (!eat(':'))
                break;
            auto part = integer(59);
            if (!part)
                return std::nullopt;
            seconds += *part * unit;
        }
        return sign * seconds;
    }
    std::optional<ZoneRules::Posix::Date> date() {
        ZoneRules::Posix::Date date;
        if (eat('J')) {
            auto day = integer(365);
            if (!day || *day < 1)
                return std::nullopt;
            date = {.kind = ZoneRules::Posix::Date::Kind::julian, .day = *day};
        } else if (eat('M')) {
            auto month = integer(12);
            auto week = month && eat('.') ? integer(5) : std::nullopt;
            auto weekday = week && eat('.') ? integer(6) : std::nullopt;
            if (!weekday || *month < 1 || *week < 1)
                return std::nullopt;
            date = {.kind = ZoneRules::Posix::Date::Kind::monthWeekDay,
                    .day = *weekday,
                    .month = *month,
                    .week = *week};
        } else {
            auto day = integer(365);
            if (!day)
                return std::nullopt;
            date = {.kind = ZoneRules::Posix::Date::Kind::zeroBased, .day = *day};
        }
        if (eat('/')) {
            auto time = duration(167);
            if (!time)
                return std::nullopt;
            date.time = *time;
        }
        return date;
    }
};

bool isLeap(std::int64_t year) {
    return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

// The local seconds since 1970 at which `date`'s change happens in `year`.
std::int64_t localSeconds(std::int64_t year, const ZoneRules::Posix::Date& date) {
    using Kind = ZoneRules::Posix::Date::Kind;
    std::int64_t days = civil::daysFromDate(year, 1, 1);
    if (date.kind == Kind::julian) {
        days += date.day - 1 + (isLeap(year) && date.day >= 60);
    } else if (date.kind == Kind::zeroBased) {
        days += date.day;
    } else {
        const std::int64_t first = civil::daysFromDate(year, date.month, 1);
        const int length = static_cast<int>(
            civil::daysFromDate(year + (date.month == 12), date.month % 12 + 1, 1) - first);
        int day = 1 + (date.day - civil::weekdayFromDays(first) + 7) % 7 + (date.week - 1) * 7;
        while (day > length)
            day -= 7;
        days = first + day - 1;
    }
    return days * 86400 + date.time;
}

std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
    return a / b - (a % b != 0 && (a < 0) != (b < 0));
}

} // namespace

std::optional<ZoneRules::Posix> ZoneRules::Posix::parse(std::string_view rule) {
    PosixReader in{rule};
    Posix posix;
    std::optional<int> standard = in.name() ? in.duration(24) : std::nullopt;
    if (!standard)
        return std::nullopt;
    posix.standardOffset = -*standard; // POSIX counts west of Greenwich
    if (in.text.empty())
        return posix;
    if (!in.name())
        return std::nullopt;
    posix.daylightOffset = posix.standardOffset + 3600;
    if (!in.text.empty() && in.text.front() != ',') {
        auto daylight = in.duration(24);
        if (!daylight)
            return std::nullopt;
        posix.daylightOffset = -*daylight;
    }
    // Without dates, the United States' rule, as the C library assumes.
    posix.start = {.kind = Date::Kind::monthWeekDay, .day = 0, .month = 3, .week = 2};
    posix.end = {.kind = Date::Kind::monthWeekDay, .day = 0, .month = 11, .week = 1};
    if (in.eat(',')) {
        auto start = in.date();
        auto end = start && in.eat(',') ? in.date() : std::nullopt;
        if (!end)
            return std::nullopt;
        posix.start = *start;
        posix.end = *end;
    }
    if (!in.text.empty())
        return std::nullopt;
    return posix;
}

int ZoneRules::Posix::offsetAt(std::int64_t unixSeconds) const {
    if (!daylightOffset)
        return standardOffset;
    std::int64_t year;
    int month, day;
    civil::dateFromDays(floorDiv(unixSeconds + standardOffset, 86400), year, month, day);
    const std::int64_t starts = localSeconds(year, start) - standardOffset;
    const std::int64_t ends = localSeconds(year, end) - *daylightOffset;
    // Southern zones keep daylight time across the new year.
    const bool daylight = starts < ends ? unixSeconds >= starts && unixSeconds < ends
                                        : !(unixSeconds >= ends && unixSeconds < starts);
    return daylight ? *daylightOffset : standardOffset;
}

std::optional<ZoneRules> ZoneRules::fromTzif(std::string_view bytes) {
    TzifReader in{bytes};
    auto header = TzifHeader::read(in);
    int timeWidth = 4;
    if (header && header->version >= '2') {
        // Version 2 on repeats the data with 64-bit times, then gives the POSIX footer.
        in.skip(header->blockSize(4));
        header = in.ok ? TzifHeader::read(in) : std::nullopt;
        timeWidth = 8;
    }
    if (!header || header->typeCount == 0 || header->typeCount > 256 ||
        !in.has(header->blockSize(timeWidth)))
        return std::nullopt;
    ZoneRules rules;
    std::vector<std::uint8_t> typeOf;
    for (std::uint64_t i = 0; i < header->timeCount; ++i) {
        const std::uint64_t raw = in.number(timeWidth);
        rules.transitions_.push_back(timeWidth == 8 ? static_cast<std::int64_t>(raw)
                                                    : static_cast<std::int32_t>(raw));
        if (i > 0 && rules.transitions_[i] <= rules.transitions_[i - 1])
            return std::nullopt;
    }
    for (std::uint64_t i = 0; i < header->timeCount; ++i)
        typeOf.push_back(static_cast<std::uint8_t>(in.number(1)));
    std::vector<int> offsets;
    for (std::uint64_t i = 0; i < header->typeCount; ++i) {
        const auto offset = static_cast<std::int32_t>(in.number(4));
        in.skip(2); // is-daylight flag, abbreviation index
        if (offset < -maxOffset || offset > maxOffset)
            return std::nullopt;
        offsets.push_back(offset);
    }
    for (std::uint8_t type : typeOf) {
        if (type >= offsets.size())
            return std::nullopt;
        rules.offsetAfter_.push_back(offsets[type]);
    }
    rules.offsetBefore_ = offsets.front();
    in.skip(header->charCount + header->leapCount * (timeWidth + 4) + header->isStdCount +
            header->isUtCount);
    if (timeWidth == 8 && in.ok && in.at < bytes.size() && bytes[in.at] == '\n') {
        const std::string_view rest = bytes.substr(in.at + 1);
        const std::size_t end = rest.find('\n');
        if (end == std::string_view::npos)
            return std::nullopt;
        if (end > 0 && !(rules.footer_ = Posix::parse(rest.substr(0, end))))
            return std::nullopt;
    }
    if (!in.ok)
        return std::nullopt;
    return rules;
}

std::optional<ZoneRules> ZoneRules::fromPosix(std::string_view rule) {
    auto posix = Posix::parse(rule);
    if (!posix)
        return std::nullopt;
    ZoneRules rules;
    rules.offsetBefore_ = posix->standardOffset;
    rules.footer_ = posix;
    return rules;
}

ZoneRules ZoneRules::fixed(int offsetSeconds) {
    ZoneRules rules;
    rules.offsetBefore_ = offsetSeconds;
    return rules;
}

int ZoneRules::offsetAt(std::int64_t unixSeconds) const {
    const auto after = std::upper_bound(transitions_.begin(), transitions_.end(), unixSeconds);
    if (after == transitions_.end() && footer_)
        return footer_->offsetAt(unixSeconds);
    if (after == transitions_.begin())
        return offsetBefore_;
    return offsetAfter_[after - transitions_.begin() - 1];
}

} // namespace marrowbell
