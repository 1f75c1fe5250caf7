#pragma once

#include <optional>
#include <string_view>

namespace marrowbell {

// The four event-stream formats a harness can print, one JSON value per line.
enum class EventFormat { claudeStreamJSON, codexJSONL, opencodeJSON, piJSON };

// From the raw text stored in the manifest ("claudeStreamJSON"…); none for any other text.
std::optional<EventFormat> eventFormatFromRaw(std::string_view raw);
std::string_view rawValue(EventFormat format);

} // namespace marrowbell
