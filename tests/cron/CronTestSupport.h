#pragma once

#include "base/TimeZone.h"

#include <gtest/gtest.h>
#include <sstream>
#include <stdexcept>

namespace marrowbell::test {

inline TimeZone zone(const char* identifier) {
    auto z = TimeZone::named(identifier);
    if (!z)
        throw std::runtime_error(std::string("unknown zone ") + identifier);
    return *z;
}

// The instants showing these wall times in `z` (first occurrences), written
// "2026-6-1 9:00[:30.5]" and separated by commas.
inline std::vector<Instant> walls(const TimeZone& z, const std::string& text) {
    std::vector<Instant> instants;
    std::istringstream in(text);
    LocalDateTime t;
    char sep;
    while (in >> t.year >> sep >> t.month >> sep >> t.day >> t.hour >> sep >> t.minute) {
        t.second = in.peek() == ':' ? (in >> sep >> t.second, t.second) : 0;
        auto instant = z.instant(t);
        if (!instant)
            throw std::runtime_error("wall time does not exist");
        instants.push_back(*instant);
        in >> sep;
    }
    return instants;
}

} // namespace marrowbell::test
