#include "run/DurationText.h"

#include <cmath>

namespace marrowbell {

std::string readable(Seconds seconds) {
    // Not-a-number and negative durations (a clock stepping back) read as nothing elapsed.
    if (!(seconds > 0))
        return "0s";
    if (seconds < 60)
        return std::to_string(static_cast<long long>(std::llround(seconds))) + "s";
    double whole = std::min(std::trunc(seconds), 9.0e15);
    auto total = static_cast<long long>(whole);
    return std::to_string(total / 60) + "m " + std::to_string(total % 60) + "s";
}

} // namespace marrowbell
