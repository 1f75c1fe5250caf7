#pragma once

#include "base/Instant.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace marrowbell {

// The values a person may give the global settings, for every front end: the
// settings window's controls offer exactly these, and `marrowbellctl settings set`
// refuses anything else. A value another program wrote into the file is used as it is.
struct SettingRules {
    // One choice of "Catch up on missed runs".
    struct CatchUpChoice {
        std::string_view name;  // on the command line: never, 15m, 1h, 4h
        std::string_view title; // in the settings window
        Seconds graceSeconds;
    };
    static constexpr std::array<CatchUpChoice, 4> catchUpChoices{{
        {"never", "Never \u2014 always skip", 0},
        {"15m", "Up to 15 minutes late", 900},
        {"1h", "Up to 1 hour late", 3600},
        {"4h", "Up to 4 hours late", 14400},
    }};
    // The choice of that grace; none for a value no choice offers.
    static std::optional<CatchUpChoice> catchUpChoice(Seconds graceSeconds);

    // "Stop after": whole minutes, 1 to 240.
    static constexpr int minTimeoutMinutes = 1;
    static constexpr int maxTimeoutMinutes = 240;
    // A limit in whole minutes, truncated, as the control shows it.
    static int timeoutMinutes(Seconds timeoutSeconds);
    // "1 minute", "45 minutes", "1 hour", "1 hour 1 minute", "2 hours 30 minutes".
    static std::string timeoutLabel(int minutes);

    // What the run transcripts may take together: 1 MiB to 1 TiB.
    static constexpr std::uint64_t minTranscriptLimitBytes = std::uint64_t(1) << 20;
    static constexpr std::uint64_t maxTranscriptLimitBytes = std::uint64_t(1) << 40;
    // A size as people write it: bytes, or a number with K, M, G or T (powers of
    // 1024; "MB", "MiB" and lower case read the same), such as 512M or 1.5G. None for
    // anything else, or a size outside the limits above.
    static std::optional<std::uint64_t> transcriptLimit(std::string_view text);
    // The limit in the largest unit that writes it whole: "512 MiB", "1 GiB", "1000 bytes".
    static std::string sizeText(std::uint64_t bytes);
};

} // namespace marrowbell
