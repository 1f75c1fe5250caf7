#pragma once

#include "base/Instant.h"
#include "endpoint/SecretStore.h"
#include "harness/HarnessSpec.h"
#include "job/Job.h"

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace marrowbell::app::SettingsText {

// The "Stop after" label for a limit of `minutes`: "45 minutes", "1 hour",
// "1 hour 1 minute", "2 hours 30 minutes", "4 hours".
std::string timeoutLabel(int minutes);

// The first four model identifiers joined by ", ", then ", +{n} more" for the rest.
std::string modelsLine(const std::vector<std::string>& models);

// The names of `jobs` joined by ", ", or "no jobs".
std::string usedBy(const std::vector<Job>& jobs);

// Where a typed key goes, and which harnesses cannot take an endpoint for one run.
std::string apiKeyHint(SecretStore::Backend backend, const std::vector<HarnessSpec>& harnesses);

// One choice of "Catch up on missed runs".
struct CatchUpChoice {
    std::string_view title;
    Seconds graceSeconds;
};
inline constexpr std::array<CatchUpChoice, 4> catchUpChoices{{
    {"Never \u2014 always skip", 0},
    {"Up to 15 minutes late", 900},
    {"Up to 1 hour late", 3600},
    {"Up to 4 hours late", 14400},
}};
// The title of a grace no choice offers (set from a terminal): "Up to 5m 30s late".
std::string otherCatchUpTitle(Seconds graceSeconds);

} // namespace marrowbell::app::SettingsText
