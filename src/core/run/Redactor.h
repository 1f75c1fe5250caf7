#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace marrowbell {

// Hides a secret (the API key of a run's endpoint) in text a run produced before the
// text is shown or stored: every occurrence becomes "[redacted]". Without a secret,
// or with one too short to tell from ordinary text, text passes unchanged.
class Redactor {
public:
    static constexpr std::string_view mark = "[redacted]";
    static constexpr std::size_t shortestSecret = 4;

    explicit Redactor(std::optional<std::string> secret = std::nullopt);

    std::string operator()(std::string_view text) const;
    // `text` itself when it holds no secret (no copy); otherwise `storage`, filled
    // with the redacted text.
    std::string_view apply(std::string_view text, std::string& storage) const;
    std::optional<std::string> optional(const std::optional<std::string>& text) const;

private:
    std::string secret_; // empty: nothing to hide
};

} // namespace marrowbell
