#include "job/ScheduleAction.h"

namespace marrowbell {

std::string ScheduleAction::debugText() const {
    auto instant = [](Instant i) { return std::to_string(i.sinceReference); };
    if (auto r = as<Run>())
        return "run(scheduledFor: " + instant(r->scheduledFor) + ")";
    if (auto s = as<SkipMissed>())
        return "skipMissed(scheduledFor: " + instant(s->scheduledFor) + ", reason: \"" + s->reason +
               "\")";
    if (auto w = as<Wait>())
        return "wait(until: " + instant(w->until) + ")";
    return "paused";
}

} // namespace marrowbell
