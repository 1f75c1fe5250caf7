#include "base/TimeZone.h"

#include "base/Files.h"
#include "base/ZoneRules.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>

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

namespace fs = std::filesystem;

constexpr double msPerDay = 86400000.0;
constexpr std::size_t largestZoneFile = 1 << 20;

fs::path zoneFolder() {
    const char* folder = std::getenv("TZDIR");
    return folder && *folder ? folder : "/usr/share/zoneinfo";
}

// A tz identifier names a file below the zone folder, and nothing outside it.
bool isIdentifier(std::string_view id) {
    if (id.empty() || id.size() > 255)
        return false;
    for (char c : id)
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
              c == '/' || c == '_' || c == '-' || c == '+' || c == '.'))
            return false;
    for (std::size_t start = 0;;) {
        const std::size_t end = id.find('/', start);
        const std::string_view step = id.substr(start, end - start);
        if (step.empty() || step == "." || step == "..")
            return false;
        if (end == std::string_view::npos)
            return true;
        start = end + 1;
    }
}

std::shared_ptr<const ZoneRules> load(const fs::path& file) {
    files::Content content = files::readBounded(file, largestZoneFile);
    if (content.state != files::Content::State::read)
        return nullptr;
    auto rules = ZoneRules::fromTzif(content.bytes);
    return rules ? std::make_shared<const ZoneRules>(std::move(*rules)) : nullptr;
}

// The identifier a zone file's path shows: what follows ".../zoneinfo/".
std::string identifierOfPath(std::string_view path) {
    const std::size_t folder = path.rfind("zoneinfo/");
    if (folder == std::string_view::npos)
        return std::string(path);
    std::string_view id = path.substr(folder + 9);
    if (id.starts_with("posix/"))
        id.remove_prefix(6);
    return std::string(id);
}

} // namespace

TimeZone::TimeZone(std::shared_ptr<const ZoneRules> rules, std::string identifier)
    : rules_(std::move(rules))
    , identifier_(std::move(identifier)) {}

std::optional<TimeZone> TimeZone::named(std::string_view identifier) {
    // Zones are looked up often (every next-run question of a job), and reading a zone
    // file is far slower than the search itself, so known names are kept.
    static std::mutex mutex;
    static std::map<std::string, std::optional<TimeZone>, std::less<>> cache;
    {
        std::lock_guard lock(mutex);
        if (auto it = cache.find(identifier); it != cache.end())
            return it->second;
    }
    std::optional<TimeZone> result;
    if (isIdentifier(identifier))
        if (auto rules = load(zoneFolder() / identifier))
            result = TimeZone(std::move(rules), std::string(identifier));
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
    if (const char* variable = std::getenv("TZ")) {
        std::string_view tz = variable;
        if (tz.starts_with(':'))
            tz.remove_prefix(1);
        if (tz.starts_with('/')) {
            if (auto rules = load(fs::path(tz)))
                return TimeZone(std::move(rules), identifierOfPath(tz));
        } else if (auto zone = named(tz)) {
            return *zone;
        }
        if (auto rules = ZoneRules::fromPosix(tz))
            return TimeZone(std::make_shared<const ZoneRules>(std::move(*rules)), std::string(tz));
        return utc();
    }
    // Usually a link into the zone folder, whose path names the zone.
    std::error_code error;
    const fs::path target = fs::read_symlink("/etc/localtime", error);
    if (!error)
        if (auto zone = named(identifierOfPath(target.native())))
            return *zone;
    if (auto rules = load("/etc/localtime")) {
        std::string name;
        if (auto text = files::read("/etc/timezone"))
            name = text->substr(0, text->find('\n'));
        return TimeZone(std::move(rules), isIdentifier(name) ? name : "localtime");
    }
    return utc();
}

TimeZone TimeZone::utc() {
    static const TimeZone zone(std::make_shared<const ZoneRules>(ZoneRules::fixed(0)), "UTC");
    return zone;
}

int TimeZone::offsetSeconds(Instant instant) const {
    // Clamped far beyond any date a schedule reaches, so the conversion stays defined.
    const double seconds = std::floor(std::clamp(instant.unixSeconds(), -1e15, 1e15));
    return rules_->offsetAt(std::isnan(seconds) ? 0 : static_cast<std::int64_t>(seconds));
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
    const double wall = static_cast<double>(days) * 86400.0 + f.hour * 3600.0 + f.minute * 60.0 +
                        f.second; // the wall time read as if it were UTC
    if (!std::isfinite(wall))
        return std::nullopt;
    // The offset in force is one of those a day either side (no zone changes twice in
    // two days); each that maps back to this wall time is an occurrence, the earliest
    // wins.
    std::optional<double> earliest;
    for (double probe : {wall - 86400.0, wall, wall + 86400.0}) {
        const int offset = offsetSeconds(Instant::fromUnix(probe));
        const double unix = wall - offset;
        if (offsetSeconds(Instant::fromUnix(unix)) == offset && (!earliest || unix < *earliest))
            earliest = unix;
    }
    if (!earliest)
        return std::nullopt; // skipped when the clocks went forward
    const Instant result = Instant::fromUnix(*earliest);
    // A 31st of a short month reads back as another day.
    const LocalDateTime back = local(result);
    if (back.year != f.year || back.month != f.month || back.day != f.day || back.hour != f.hour ||
        back.minute != f.minute)
        return std::nullopt;
    return result;
}

} // namespace marrowbell
