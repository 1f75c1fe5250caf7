#pragma once

#include "base/TimeZone.h"

#include <gtest/gtest.h>
#include <stdexcept>

namespace marrowbell::test {

inline TimeZone zone(const char* identifier) {
    auto z = TimeZone::named(identifier);
    if (!z)
        throw std::runtime_error(std::string("unknown zone ") + identifier);
    return *z;
}

// The instant showing this wall time in `z` (its first occurrence).
inline Instant wall(const TimeZone& z, int year, int month, int day, int hour, int minute,
                    double second = 0) {
    auto instant = z.instant({year, month, day, hour, minute, second});
    if (!instant)
        throw std::runtime_error("wall time does not exist");
    return *instant;
}

} // namespace marrowbell::test
