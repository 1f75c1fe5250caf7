#pragma once

#include "base/Instant.h"
#include "base/TimeZone.h"
#include "base/Uuid.h"
#include "job/Job.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace marrowbell {

// The runs coming up in a window of time: every active job's next fire times laid
// onto [start, end], with what the panel's strip draws from them. A plain value,
// rebuilt whenever the jobs or the present change; it shows what the schedules say,
// regardless of catch-up, last runs or runs in progress.
struct ScheduleTimeline {
    // One upcoming run.
    struct Mark {
        Uuid id; // fresh on every build: marks are not stable across rebuilds
        Uuid jobID;
        std::string jobName; // the job's name when the timeline was built
        Instant date;

        friend bool operator==(const Mark&, const Mark&) = default;
    };

    // One line of the strip's hour grid.
    struct GridLabel {
        double position; // 0…1 across the window
        std::string title;

        friend bool operator==(const GridLabel&, const GridLabel&) = default;
    };

    Instant start;
    Instant end;
    std::vector<Mark> marks; // ascending by date; equal dates keep the jobs' order

    // Up to `limitPerJob` fire times of each job that is not paused, strictly after
    // `start` and no later than `start + hours`, each in the job's own time zone.
    static ScheduleTimeline upcoming(const std::vector<Job>& jobs, Instant start, double hours,
                                     std::int64_t limitPerJob);

    Seconds duration() const { return end - start; }
    bool isEmpty() const { return marks.empty(); }

    // Where the mark sits across the window, clamped to 0…1; 0 for an empty window.
    double position(const Mark& mark) const;
    // The marks, in order, at most `seconds` after `start`.
    std::vector<Mark> imminent(Seconds seconds) const;
    // `count` + 1 labels at positions i / count: "NOW", then each instant's hour as
    // "3 PM" (pattern "h a", upper-cased) in the locale and zone. Empty when count < 1
    // or the window is empty. `locale` (an ICU name such as "en_US") and `zone`
    // default to the user's.
    std::vector<GridLabel> gridLabels(int count, const char* locale = nullptr,
                                      const std::optional<TimeZone>& zone = std::nullopt) const;
    // "Nothing scheduled in the next 24 hours", or "Next 24 hours · 7 runs, 2 within
    // the hour" (the hour part only when some run is that close).
    std::string summary() const;

    friend bool operator==(const ScheduleTimeline&, const ScheduleTimeline&) = default;
};

} // namespace marrowbell
