#include "run/RunSummary.h"

#include "base/Utf8.h"

namespace marrowbell {

namespace {

// Texts of dropped events, kept for the next ones; small ones only, so what a thread
// keeps stays within eventLimit times this.
constexpr std::size_t spareCapacity = 256;
thread_local std::vector<std::string> spareTexts;

} // namespace

void RunSummary::append(RunEvent event) {
    if (event.text.size() > eventTextLimit)
        event.text = utf8::capped(event.text, eventTextLimit);
    events.push_back(std::move(event));
    if (events.size() >= eventLimit)
        dropOldest(events.size() - eventsKept);
}

void RunSummary::append(RunEvent::Kind kind, std::string_view text) {
    std::string storage;
    if (!spareTexts.empty()) {
        storage = std::move(spareTexts.back());
        spareTexts.pop_back();
    }
    if (utf8::isValid(text))
        storage.assign(text);
    else
        storage = utf8::repaired(text);
    append(RunEvent::make(kind, std::move(storage)));
}

void RunSummary::append(RunEvent::Kind kind, std::span<const std::string_view> texts) {
    if (events.size() >= eventLimit) { // not left so by appending: take them one by one
        for (std::string_view text : texts)
            append(kind, text);
        return;
    }
    // One at a time, the count climbs to eventLimit, falls to eventsKept, climbs again.
    const std::size_t total = events.size() + texts.size();
    const std::size_t remaining =
        total < eventLimit ? total : eventsKept + (total - eventLimit) % (eventLimit - eventsKept);
    const std::size_t fresh = std::min(texts.size(), remaining);
    dropOldest(events.size() - (remaining - fresh));
    for (std::string_view text : texts.last(fresh))
        append(kind, text);
}

void RunSummary::dropOldest(std::size_t count) {
    const auto dropped = events.begin() + static_cast<std::ptrdiff_t>(count);
    for (auto it = events.begin(); it != dropped; ++it)
        if (it->text.capacity() <= spareCapacity && spareTexts.size() < eventLimit)
            spareTexts.push_back(std::move(it->text));
    events.erase(events.begin(), dropped);
}

void RunSummary::addTokens(std::optional<std::int64_t> input, std::optional<std::int64_t> output) {
    if (input)
        inputTokens = inputTokens.value_or(0) + *input;
    if (output)
        outputTokens = outputTokens.value_or(0) + *output;
}

} // namespace marrowbell
