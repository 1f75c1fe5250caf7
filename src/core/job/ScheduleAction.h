#pragma once

#include "base/Instant.h"

#include <string>
#include <variant>

namespace marrowbell {

// What the planner says about one job at one instant. Equal when the case and its
// values are equal.
struct ScheduleAction {
    // Run the job now, for the slot at `scheduledFor`.
    struct Run {
        Instant scheduledFor;
        friend bool operator==(const Run&, const Run&) = default;
    };
    // The slot at `scheduledFor` was missed by more than the catch-up grace; record it
    // as skipped, with `reason` as its message.
    struct SkipMissed {
        Instant scheduledFor;
        std::string reason;
        friend bool operator==(const SkipMissed&, const SkipMissed&) = default;
    };
    // Nothing is due; the next slot is at `until`.
    struct Wait {
        Instant until;
        friend bool operator==(const Wait&, const Wait&) = default;
    };
    // The job is paused, or its schedule never fires again.
    struct Paused {
        friend bool operator==(const Paused&, const Paused&) = default;
    };

    std::variant<Run, SkipMissed, Wait, Paused> value;

    static ScheduleAction run(Instant scheduledFor) { return {Run{scheduledFor}}; }
    static ScheduleAction skipMissed(Instant scheduledFor, std::string reason) {
        return {SkipMissed{scheduledFor, std::move(reason)}};
    }
    static ScheduleAction wait(Instant until) { return {Wait{until}}; }
    static ScheduleAction paused() { return {Paused{}}; }

    // The case's values, or null when the action is another case.
    template <class Case> const Case* as() const { return std::get_if<Case>(&value); }

    // "run(scheduledFor: 123.0)" and the like, for diagnostics and test output.
    std::string debugText() const;

    friend bool operator==(const ScheduleAction&, const ScheduleAction&) = default;
};

} // namespace marrowbell
