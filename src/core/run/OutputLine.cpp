#include "run/OutputLine.h"

#include "run/Utf8.h"

namespace marrowbell::OutputLine {

std::optional<Json> decode(std::string_view line, RunSummary& summary) {
    std::string_view trimmed = utf8::trimmed(line, false);
    if (trimmed.empty())
        return std::nullopt;
    // Only text that opens like an object can be one; skip parsing everything else.
    if (trimmed.front() == '{') {
        Json value = Json::parse(trimmed, nullptr, false);
        if (value.is_object())
            return value;
    }
    summary.append(RunEvent::Kind::message, utf8::repaired(trimmed));
    return std::nullopt;
}

} // namespace marrowbell::OutputLine
