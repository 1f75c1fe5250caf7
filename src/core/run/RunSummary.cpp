#include "run/RunSummary.h"

#include "base/Utf8.h"

namespace marrowbell {

void RunSummary::append(RunEvent event) {
    if (event.text.size() > eventTextLimit)
        event.text = utf8::capped(event.text, eventTextLimit);
    events.push_back(std::move(event));
    if (events.size() >= eventLimit)
        events.erase(events.begin(), events.end() - static_cast<std::ptrdiff_t>(eventsKept));
}

void RunSummary::addTokens(std::optional<std::int64_t> input, std::optional<std::int64_t> output) {
    if (input)
        inputTokens = inputTokens.value_or(0) + *input;
    if (output)
        outputTokens = outputTokens.value_or(0) + *output;
}

} // namespace marrowbell
