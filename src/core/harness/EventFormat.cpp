#include "harness/EventFormat.h"

#include <array>
#include <utility>

namespace marrowbell {

static constexpr std::array<std::pair<EventFormat, std::string_view>, 4> names{{
    {EventFormat::claudeStreamJSON, "claudeStreamJSON"},
    {EventFormat::codexJSONL, "codexJSONL"},
    {EventFormat::opencodeJSON, "opencodeJSON"},
    {EventFormat::piJSON, "piJSON"},
}};

std::optional<EventFormat> eventFormatFromRaw(std::string_view raw) {
    for (const auto& [format, name] : names)
        if (name == raw)
            return format;
    return std::nullopt;
}

std::string_view rawValue(EventFormat format) {
    for (const auto& [candidate, name] : names)
        if (candidate == format)
            return name;
    return "claudeStreamJSON"; // unreachable for a valid enumerator
}

} // namespace marrowbell
