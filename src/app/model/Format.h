#pragma once

#include "base/Instant.h"
#include "base/TimeZone.h"

#include <optional>
#include <string>
#include <string_view>

namespace marrowbell::app {

// The short time texts the windows share.
namespace Format {

// When the next run is, from `now`: "paused" for none, "due" for the past, "in <1m",
// "in 42m", "in 3h 5m", "in 2d 4h".
std::string relative(std::optional<Instant> date, Instant now);

// A date and time, short: "Mon 9:00 AM" within six days of `now` (past dates
// included), otherwise "14 Dec 9:00 AM". In the user's locale and zone unless
// `locale` (an ICU name such as "en_US") or `zone` is given.
std::string brief(Instant date, Instant now, const char* locale = nullptr,
                  const std::optional<TimeZone>& zone = std::nullopt);

// `date` written with an ICU date pattern ("EEE d MMM, h:mm a"), in the user's locale
// and zone unless given.
std::string date(Instant date, std::string_view pattern, const char* locale = nullptr,
                 const std::optional<TimeZone>& zone = std::nullopt);

} // namespace Format
} // namespace marrowbell::app
