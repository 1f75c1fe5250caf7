#pragma once

#include "base/Instant.h"
#include "endpoint/SecretStore.h"
#include "harness/HarnessSpec.h"
#include "job/Job.h"

#include <string>
#include <vector>

namespace marrowbell::app::SettingsText {

// The first four model identifiers joined by ", ", then ", +{n} more" for the rest.
std::string modelsLine(const std::vector<std::string>& models);

// The names of `jobs` joined by ", ", or "no jobs".
std::string usedBy(const std::vector<Job>& jobs);

// Where a typed key goes, and which harnesses cannot take an endpoint for one run.
std::string apiKeyHint(SecretStore::Backend backend, const std::vector<HarnessSpec>& harnesses);

// The title of a grace no catch-up choice offers (set from a terminal): "Up to 5m 30s late".
std::string otherCatchUpTitle(Seconds graceSeconds);

} // namespace marrowbell::app::SettingsText
