#include "base/TimeZone.h"

#include <cmath>
#include <map>
#include <mutex>
#include <unicode/basictz.h>
#include <unicode/timezone.h>
#include <unicode/ucal.h>

namespace marrowbell {

namespace civil {

// Howard Hinnant's days-from-civil algorithms, exact for every year an int64 holds
// comfortably.
std::int64_t daysFromDate(std::int64_t year, int month, int day) {
    year -= month <= 2;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const std::int64_t yoe = year - era * 400;
    const std::int64_t doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void dateFromDays(std::int64_t days, std::int64_t& year, int& month, int& day) {
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t doe = days - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = yoe + era * 400 + (month <= 2);
}

int weekdayFromDays(std::int64_t days) {
    // 1970-01-01 was a Thursday.
    const std::int64_t w = (days + 4) % 7;
    return static_cast<int>(w < 0 ? w + 7 : w);
}

} // namespace civil

namespace {

constexpr double msPerDay = 86400000.0;

std::shared_ptr<const icu::BasicTimeZone> adopt(icu::TimeZone* zone) {
    if (!zone)
        return nullptr;
    if (auto* basic = dynamic_cast<icu::BasicTimeZone*>(zone))
        return std::shared_ptr<const icu::BasicTimeZone>(basic);
    delete zone;
    return nullptr;
}

std::string idOf(const icu::TimeZone& zone) {
    icu::UnicodeString id;
    zone.getID(id);
    std::string text;
    id.toUTF8String(text);
    return text;
}

bool isUnknown(const icu::TimeZone& zone) {
    return zone == icu::TimeZone::getUnknown();
}

} // namespace

TimeZone::TimeZone(std::shared_ptr<const icu::BasicTimeZone> zone, std::string identifier)
    : zone_(std::move(zone))
    , identifier_(std::move(identifier)) {}

std::optional<TimeZone> TimeZone::named(std::string_view identifier) {
    // Zones are looked up often (every next-run question of a job), and creating one
    // from ICU's data is far slower than the search itself, so known names are kept.
    static std::mutex mutex;
    static std::map<std::string, std::optional<TimeZone>, std::less<>> cache;
    {
        std::lock_guard lock(mutex);
        if (auto it = cache.find(identifier); it != cache.end())
            return it->second;
    }
    std::optional<TimeZone> result;
    auto zone = adopt(icu::TimeZone::createTimeZone(icu::UnicodeString::fromUTF8(
        icu::StringPiece(identifier.data(), static_cast<int32_t>(identifier.size())))));
    if (zone && !isUnknown(*zone) && identifier != "Etc/Unknown")
        result = TimeZone(std::move(zone), std::string(identifier));
    std::lock_guard lock(mutex);
    if (cache.size() < 1024) // bounded: identifiers may come from hand-edited files
        cache.emplace(std::string(identifier), result);
    return result;
}

TimeZone TimeZone::namedOrSystem(std::string_view identifier) {
    if (auto zone = named(identifier))
        return *zone;
    return system();
}

TimeZone TimeZone::system() {
    auto zone = adopt(icu::TimeZone::detectHostTimeZone());
    if (!zone || isUnknown(*zone))
        return utc();
    std::string id = idOf(*zone);
    return TimeZone(std::move(zone), std::move(id));
}

TimeZone TimeZone::utc() {
    static const TimeZone zone(adopt(icu::TimeZone::getGMT()->clone()), "UTC");
    return zone;
}

const icu::TimeZone& TimeZone::icu() const {
    return *zone_;
}

int TimeZone::offsetSeconds(Instant instant) const {
    UErrorCode status = U_ZERO_ERROR;
    int32_t raw = 0, dst = 0;
    zone_->getOffset(instant.unixMilliseconds(), false, raw, dst, status);
    if (U_FAILURE(status))
        return 0;
    return (raw + dst) / 1000;
}

LocalDateTime TimeZone::local(Instant instant) const {
    const double localMs = instant.unixMilliseconds() + offsetSeconds(instant) * 1000.0;
    const double days = std::floor(localMs / msPerDay);
    double msOfDay = localMs - days * msPerDay;
    LocalDateTime fields;
    const auto dayNumber = static_cast<std::int64_t>(days);
    civil::dateFromDays(dayNumber, fields.year, fields.month, fields.day);
    fields.weekday = civil::weekdayFromDays(dayNumber);
    const double minutes = std::floor(msOfDay / 60000.0);
    fields.hour = static_cast<int>(minutes / 60);
    fields.minute = static_cast<int>(minutes - fields.hour * 60.0);
    fields.second = (msOfDay - minutes * 60000.0) / 1000.0;
    return fields;
}

std::optional<Instant> TimeZone::instant(const LocalDateTime& f) const {
    if (f.month < 1 || f.month > 12 || f.day < 1 || f.day > 31 || f.hour < 0 || f.hour > 23 ||
        f.minute < 0 || f.minute > 59 || !(f.second >= 0 && f.second < 60))
        return std::nullopt;
    const std::int64_t days = civil::daysFromDate(f.year, f.month, f.day);
    const double localMs = static_cast<double>(days) * msPerDay + f.hour * 3600000.0 +
                           f.minute * 60000.0 + f.second * 1000.0;
    if (!std::isfinite(localMs))
        return std::nullopt;
    UErrorCode status = U_ZERO_ERROR;
    int32_t raw = 0, dst = 0;
    zone_->getOffsetFromLocal(localMs, UCAL_TZ_LOCAL_FORMER, UCAL_TZ_LOCAL_FORMER, raw, dst,
                              status);
    if (U_FAILURE(status))
        return std::nullopt;
    const Instant result = Instant::fromUnixMilliseconds(localMs - (raw + dst));
    // A skipped wall time (or a 31st of a short month) reads back differently.
    const LocalDateTime back = local(result);
    if (back.year != f.year || back.month != f.month || back.day != f.day || back.hour != f.hour ||
        back.minute != f.minute)
        return std::nullopt;
    return result;
}

} // namespace marrowbell
