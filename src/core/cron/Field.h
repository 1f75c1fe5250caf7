#pragma once

#include "cron/ValueSet.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace marrowbell {

// One parsed field of a cron expression.
struct Field {
    ValueSet values;    // every admitted value after expanding ranges, steps and lists
    std::string source; // the field exactly as written ("*/15", "1-5")

    // The value when the field admits exactly one and is written as a plain integer
    // ("9", "09", "+9"; not "9-9" or "*/60"). Weekday "7" gives 0.
    std::optional<int> singleValue() const;
    // n for a source "*/n" with n ≥ 1; none otherwise ("0/15", "1-59/2", "*").
    std::optional<std::int64_t> step() const;

    friend bool operator==(const Field&, const Field&) = default;
};

// Reads decimal digits with an optional leading sign, nothing else, fitting 64 bits.
std::optional<std::int64_t> readCronInteger(std::string_view text);

} // namespace marrowbell
