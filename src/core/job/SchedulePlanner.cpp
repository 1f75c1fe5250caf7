#include "job/SchedulePlanner.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace marrowbell {

std::string SchedulePlanner::readable(Seconds seconds) {
    // Clamped so that no value, however odd, overflows the conversion to an integer.
    double clamped = std::isnan(seconds) ? 0.0 : std::clamp(seconds, -9.0e15, 9.0e15);
    auto s = static_cast<std::int64_t>(clamped); // toward zero
    std::int64_t m = s / 60;
    if (s < 3600)
        return std::to_string(m) + "m";
    if (m > 1439)
        return std::to_string(m / 1440) + "d";
    return std::to_string(m / 60) + "h";
}

ScheduleAction SchedulePlanner::decide(const Job& job, std::optional<Instant> lastRun,
                                       Instant now) const {
    if (job.isPaused)
        return ScheduleAction::paused();
    Instant eligible = job.earliestEligible();
    Instant base = std::max(eligible, lastRun.value_or(eligible));
    TimeZone zone = job.timeZone();
    std::optional<Instant> first = job.schedule.nextDate(base, zone);
    if (!first)
        return ScheduleAction::paused();
    if (*first > now)
        return ScheduleAction::wait(*first);

    Instant latest = *first;
    for (int step = 0; step < maxCatchUpSteps; ++step) {
        std::optional<Instant> next = job.schedule.nextDate(latest, zone);
        if (!next || *next > now)
            break;
        latest = *next;
    }
    Seconds elapsed = std::max(0.0, now - latest);
    if (elapsed > catchUpGrace)
        return ScheduleAction::skipMissed(latest, "It was due " + readable(elapsed) +
                                                      " ago, past the " + readable(catchUpGrace) +
                                                      " catch-up window.");
    return ScheduleAction::run(latest);
}

std::optional<Instant>
SchedulePlanner::nextWakeUp(const std::vector<Job>& jobs,
                            const std::unordered_map<Uuid, Instant>& lastRuns, Instant now) const {
    std::optional<Instant> earliest;
    auto consider = [&](Instant when) {
        if (!earliest || when < *earliest)
            earliest = when;
    };
    for (const Job& job : jobs) {
        auto found = lastRuns.find(job.id);
        std::optional<Instant> lastRun =
            found == lastRuns.end() ? std::nullopt : std::optional(found->second);
        ScheduleAction action = decide(job, lastRun, now);
        if (auto wait = action.as<ScheduleAction::Wait>())
            consider(wait->until);
        else if (!action.as<ScheduleAction::Paused>())
            consider(now);
    }
    return earliest;
}

} // namespace marrowbell
