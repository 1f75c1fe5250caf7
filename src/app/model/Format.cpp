#include "model/Format.h"

#include <cmath>
#include <cstdint>
#include <unicode/locid.h>
#include <unicode/simpletz.h>
#include <unicode/smpdtfmt.h>

namespace marrowbell::app::Format {

std::string relative(std::optional<Instant> date, Instant now) {
    if (!date)
        return "paused";
    const Seconds d = *date - now;
    if (d < 0)
        return "due";
    if (d < 60)
        return "in <1m";
    // Beyond any schedule's reach; keeps the conversion defined.
    const auto s = static_cast<std::int64_t>(std::min(std::trunc(d), 1e15));
    const std::int64_t m = s / 60;
    if (s < 3600)
        return "in " + std::to_string(m) + "m";
    if (m < 1440)
        return "in " + std::to_string(m / 60) + "h " + std::to_string(m % 60) + "m";
    return "in " + std::to_string(m / 1440) + "d " + std::to_string((m / 60) % 24) + "h";
}

std::string brief(Instant when, Instant now, const char* locale,
                  const std::optional<TimeZone>& zone) {
    constexpr Seconds sixDays = 518400;
    return date(when, when - now < sixDays ? "EEE h:mm a" : "d MMM h:mm a", locale, zone);
}

std::string date(Instant when, std::string_view pattern, const char* locale,
                 const std::optional<TimeZone>& zone) {
    const icu::Locale where = locale ? icu::Locale(locale) : icu::Locale::getDefault();
    UErrorCode status = U_ZERO_ERROR;
    icu::SimpleDateFormat format(icu::UnicodeString::fromUTF8(icu::StringPiece(
                                     pattern.data(), static_cast<std::int32_t>(pattern.size()))),
                                 where, status);
    if (U_FAILURE(status))
        return {};
    // The wall time comes from our zone; ICU is given its offset at that instant.
    const TimeZone& inZone = zone ? *zone : TimeZone::system();
    format.adoptTimeZone(new icu::SimpleTimeZone(
        inZone.offsetSeconds(when) * 1000, icu::UnicodeString::fromUTF8(inZone.identifier())));
    icu::UnicodeString text;
    format.format(when.unixMilliseconds(), text);
    std::string result;
    text.toUTF8String(result);
    return result;
}

} // namespace marrowbell::app::Format
