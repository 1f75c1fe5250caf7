#pragma once

#include <optional>
#include <string_view>

namespace marrowbell {

// The event-stream format a harness prints on standard output, one JSON value per
// line. Stored in the manifest as the case name ("claudeStreamJSON").
enum class EventFormat { claudeStreamJSON, codexJSONL, opencodeJSON, piJSON };

// The case name as stored; none for any other text.
std::optional<EventFormat> eventFormatFromRaw(std::string_view raw);
std::string_view rawValue(EventFormat format);

} // namespace marrowbell
