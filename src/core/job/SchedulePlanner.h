#pragma once

#include "base/Instant.h"
#include "base/Uuid.h"
#include "job/Job.h"
#include "job/ScheduleAction.h"

#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace marrowbell {

// The catch-up rule: given a job, when it last ran and the present, whether it should
// run now, skip a slot it missed, wait, or stay paused. Any number of missed slots
// collapse into one decision about the most recent one, which still runs when it is no
// more than `catchUpGrace` late. A pure value: no state, no locks, any thread.
struct SchedulePlanner {
    // How late a slot may be and still run.
    Seconds catchUpGrace = 0;

    // How many slots past the first owed one a decision looks at; an every-minute job
    // after a lapse of more than a week decides about the slot a week in, and the next
    // decision, once that slot is recorded, continues from there.
    static constexpr int maxCatchUpSteps = 10080;

    // Slots at or before the later of the job's `earliestEligible` and `lastRun` are
    // never owed. `paused` for a paused job or a schedule that never fires again;
    // `wait` until the first owed slot when it is still ahead; otherwise `run` or
    // `skipMissed` for the latest owed slot not after `now`, with the reason "It was due
    // {elapsed} ago, past the {grace} catch-up window.".
    ScheduleAction decide(const Job& job, std::optional<Instant> lastRun, Instant now) const;

    // The earliest instant at which one of `jobs` needs attention: `now` when one is due
    // (to run or skip), else the earliest `wait`; none when every job is paused or the
    // list is empty. `lastRuns` maps job identifiers to last-run instants; absent means
    // never.
    std::optional<Instant> nextWakeUp(const std::vector<Job>& jobs,
                                      const std::unordered_map<Uuid, Instant>& lastRuns,
                                      Instant now) const;

    // The compact duration of skip reasons: whole minutes below an hour ("0m", "59m"),
    // then whole hours below a day ("1h", "23h"), then whole days ("1d"); truncated.
    static std::string readable(Seconds seconds);

    friend bool operator==(const SchedulePlanner&, const SchedulePlanner&) = default;
};

} // namespace marrowbell
