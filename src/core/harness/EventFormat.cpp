#include "harness/EventFormat.h"

namespace marrowbell {

std::optional<EventFormat> eventFormatFromRaw(std::string_view raw) {
    for (EventFormat format : {EventFormat::claudeStreamJSON, EventFormat::codexJSONL,
                               EventFormat::opencodeJSON, EventFormat::piJSON})
        if (rawValue(format) == raw)
            return format;
    return std::nullopt;
}

std::string_view rawValue(EventFormat format) {
    switch (format) {
    case EventFormat::claudeStreamJSON:
        return "claudeStreamJSON";
    case EventFormat::codexJSONL:
        return "codexJSONL";
    case EventFormat::opencodeJSON:
        return "opencodeJSON";
    case EventFormat::piJSON:
        return "piJSON";
    }
    return "";
}

} // namespace marrowbell
