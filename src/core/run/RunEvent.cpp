#include "run/RunEvent.h"

#include <array>
#include <utility>

namespace marrowbell {

static constexpr std::array<std::pair<RunEvent::Kind, std::string_view>, 5> kindNames{{
    {RunEvent::Kind::started, "started"},
    {RunEvent::Kind::message, "message"},
    {RunEvent::Kind::tool, "tool"},
    {RunEvent::Kind::error, "error"},
    {RunEvent::Kind::finished, "finished"},
}};

std::string_view rawValue(RunEvent::Kind kind) {
    for (const auto& [candidate, name] : kindNames)
        if (candidate == kind)
            return name;
    return "message";
}

std::optional<RunEvent::Kind> runEventKindFromRaw(std::string_view raw) {
    for (const auto& [kind, name] : kindNames)
        if (name == raw)
            return kind;
    return std::nullopt;
}

} // namespace marrowbell
