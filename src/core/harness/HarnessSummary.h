#pragma once

#include "harness/HarnessSpec.h"

#include <optional>
#include <string>
#include <vector>

namespace marrowbell {

// The one-line description of a harness in settings and in marrowbellctl.
struct HarnessSummary {
    // Up to three facts: skills, models, how its limits are enforced.
    static std::vector<std::string> facts(const HarnessSpec& spec, std::optional<int> skillCount,
                                          std::optional<int> modelCount);
    // The facts joined by " · ".
    static std::string line(const HarnessSpec& spec, std::optional<int> skillCount,
                            std::optional<int> modelCount);
};

} // namespace marrowbell
