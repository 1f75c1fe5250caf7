#include "run/RunEvent.h"

#include <array>
#include <cstdint>
#include <cstring>
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
    // SplitMix64 over a per-thread counter seeded by the system: a bijection of the
    // counter, so one thread never repeats itself, at a few cycles an identifier.
    thread_local std::uint64_t state = [] {
        Uuid seed = Uuid::random();
        std::uint64_t bits;
        std::memcpy(&bits, seed.bytes.data(), sizeof bits);
        return bits;
    }();
    auto next = [] {
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    };
    std::uint64_t halves[2] = {next(), next()};
    Uuid id;
    std::memcpy(id.bytes.data(), halves, sizeof halves);
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
