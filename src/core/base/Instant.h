#pragma once

#include <compare>
#include <limits>

namespace marrowbell {

// Seconds as a double, the unit of every duration and time limit.
using Seconds = double;

// An absolute point in time: seconds, with fraction, since 2001-01-01 00:00:00 UTC.
// That reference is also the JSON form of an instant in every stored file.
struct Instant {
    double sinceReference = 0;

    static constexpr double unixOffset = 978307200.0; // 1970-01-01 to 2001-01-01

    static Instant now();
    static constexpr Instant fromUnix(double unixSeconds) { return {unixSeconds - unixOffset}; }
    static constexpr Instant distantPast() { return {-63114076800.0}; }
    static constexpr Instant distantFuture() { return {63113904000.0}; }

    constexpr double unixSeconds() const { return sinceReference + unixOffset; }
    // Milliseconds since 1970, ICU's UDate.
    constexpr double unixMilliseconds() const { return unixSeconds() * 1000.0; }
    static constexpr Instant fromUnixMilliseconds(double ms) { return fromUnix(ms / 1000.0); }

    constexpr Instant operator+(Seconds s) const { return {sinceReference + s}; }
    constexpr Instant operator-(Seconds s) const { return {sinceReference - s}; }
    constexpr Seconds operator-(Instant other) const {
        return sinceReference - other.sinceReference;
    }
    Instant& operator+=(Seconds s) {
        sinceReference += s;
        return *this;
    }

    friend constexpr auto operator<=>(Instant, Instant) = default;
};

} // namespace marrowbell
