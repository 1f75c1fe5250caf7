#pragma once

#include "base/Uuid.h"

#include <optional>
#include <string>
#include <string_view>

namespace marrowbell {

// One displayable event of a run's stream.
struct RunEvent {
    // Stored as the case name ("started", "tool", …).
    enum class Kind { started, message, tool, error, finished };

    Uuid id = freshId(); // fresh for every event
    Kind kind = Kind::message;
    std::string text;

    static RunEvent make(Kind kind, std::string text) { return {freshId(), kind, std::move(text)}; }

    // A random version-4 identifier from a per-thread generator seeded by the system:
    // events are made by the thousand per run, far too many for a system call each.
    static Uuid freshId();

    friend bool operator==(const RunEvent&, const RunEvent&) = default;
};

std::string_view rawValue(RunEvent::Kind kind);
std::optional<RunEvent::Kind> runEventKindFromRaw(std::string_view raw);

} // namespace marrowbell
