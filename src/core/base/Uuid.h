#pragma once

#include <array>
#include <compare>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace marrowbell {

// A 128-bit identifier; its text form is the canonical upper-case hyphenated one
// (8-4-4-4-12 hexadecimal digits), the form every file of the support folder uses.
struct Uuid {
    std::array<std::uint8_t, 16> bytes{};

    // A new random (version 4) identifier.
    static Uuid random();
    // Accepts the canonical form in either case; anything else is none.
    static std::optional<Uuid> parse(std::string_view text);

    std::string text() const;

    friend auto operator<=>(const Uuid&, const Uuid&) = default;
};

} // namespace marrowbell

template <> struct std::hash<marrowbell::Uuid> {
    std::size_t operator()(const marrowbell::Uuid& id) const noexcept;
};
