#pragma once

#include "harness/ModelOption.h"
#include "harness/SkillCatalog.h"

#include <string>
#include <vector>

namespace marrowbell::app {

// What the settings window shows of one harness: where its executable is and what it
// offers.
struct HarnessStatus {
    static constexpr const char* notFound = "not found";

    std::string path = notFound; // the resolved executable, or `notFound`
    std::vector<Skill> skills;
    std::vector<ModelOption> models;

    friend bool operator==(const HarnessStatus&, const HarnessStatus&) = default;
};

} // namespace marrowbell::app
