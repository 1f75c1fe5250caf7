#include "harness/HarnessSummary.h"

namespace marrowbell {

std::vector<std::string> HarnessSummary::facts(const HarnessSpec& spec,
                                               std::optional<int> skillCount,
                                               std::optional<int> modelCount) {
    auto counted = [](int count, const char* none, const char* one, const char* many) {
        if (count < 1)
            return std::string(none);
        if (count == 1)
            return std::string(one);
        return std::to_string(count) + " " + many;
    };
    std::vector<std::string> facts;
    if (!spec.skills)
        facts.push_back("no per-run skills");
    else if (skillCount)
        facts.push_back(counted(*skillCount, "no skills installed", "1 skill", "skills"));
    if (modelCount)
        facts.push_back(counted(*modelCount, "models not listable", "1 model", "models"));
    facts.emplace_back(shortLabel(spec.limitEnforcement));
    return facts;
}

std::string HarnessSummary::line(const HarnessSpec& spec, std::optional<int> skillCount,
                                 std::optional<int> modelCount) {
    std::string text;
    for (const std::string& fact : facts(spec, skillCount, modelCount))
        text += (text.empty() ? "" : " · ") + fact;
    return text;
}

} // namespace marrowbell
