#include "run/RunSummary.h"

#include "run/Utf8.h"

namespace marrowbell {

void RunSummary::append(RunEvent event) {
    if (event.text.size() > eventTextLimit)
        event.text = utf8::capped(event.text, eventTextLimit);
    events.push_back(std::move(event));
    if (events.size() >= eventLimit)
        events.erase(events.begin(), events.end() - static_cast<std::ptrdiff_t>(eventsKept));
}

} // namespace marrowbell
