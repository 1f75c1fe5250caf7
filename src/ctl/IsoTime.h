#pragma once

#include "base/Instant.h"
#include "base/TimeZone.h"

#include <optional>
#include <string>
#include <string_view>

namespace marrowbell::ctl {

// "2026-03-09T02:30:00-04:00": the local date-time in `zone` with its UTC offset
// (seconds of the offset are added only for the odd historical zone that has them).
std::string isoLocal(Instant instant, const TimeZone& zone);

// Reads "YYYY-MM-DDTHH:MM[:SS[.fraction]]" followed by "Z" or an offset (+HH:MM,
// +HHMM, +HH), or "@" and Unix seconds with an optional fraction. None otherwise.
std::optional<Instant> parseInstant(std::string_view text);

} // namespace marrowbell::ctl
