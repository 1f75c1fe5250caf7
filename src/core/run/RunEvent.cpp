#include "run/RunEvent.h"

#include <array>
#include <random>
#include <utility>

namespace marrowbell {

static constexpr std::array<std::pair<RunEvent::Kind, std::string_view>, 5> kindNames{{
    {RunEvent::Kind::started, "started"},
    {RunEvent::Kind::message, "message"},
    {RunEvent::Kind::tool, "tool"},
    {RunEvent::Kind::error, "error"},
    {RunEvent::Kind::finished, "finished"},
}};

Uuid RunEvent::freshId() {
    thread_local std::mt19937_64 generator = [] {
        Uuid seed = Uuid::random();
        std::seed_seq sequence(seed.bytes.begin(), seed.bytes.end());
        return std::mt19937_64(sequence);
    }();
    Uuid id;
    for (std::size_t half = 0; half < 2; ++half) {
        std::uint64_t bits = generator();
        for (std::size_t i = 0; i < 8; ++i)
            id.bytes[half * 8 + i] = static_cast<std::uint8_t>(bits >> (8 * i));
    }
    id.bytes[6] = static_cast<std::uint8_t>((id.bytes[6] & 0x0F) | 0x40);
    id.bytes[8] = static_cast<std::uint8_t>((id.bytes[8] & 0x3F) | 0x80);
    return id;
}

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
