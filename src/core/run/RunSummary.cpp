#include "run/RunSummary.h"

namespace marrowbell {

void RunSummary::append(RunEvent event) {
    events.push_back(std::move(event));
    if (events.size() >= eventLimit)
        events.erase(events.begin(), events.end() - static_cast<std::ptrdiff_t>(eventsKept));
}

} // namespace marrowbell
