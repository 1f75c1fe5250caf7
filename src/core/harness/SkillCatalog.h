#pragma once

#include "base/Instant.h"
#include "harness/Discovery.h"
#include "harness/SkillSupport.h"

#include <compare>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace marrowbell {

// An installed skill. Equal over all fields; ordered by `id` alone.
struct Skill {
    std::string id; // passed to the harness and stored in jobs
    std::string name;
    std::optional<std::string> summary;

    friend bool operator==(const Skill&, const Skill&) = default;
    friend bool operator<(const Skill& a, const Skill& b) { return a.id < b.id; }
};

// Lists the skills installed for a harness from the source its manifest names. Never
// fails: every problem gives an empty list. Lists are sorted by id.
struct SkillCatalog {
    // A hung harness must not block a listing forever.
    static constexpr Seconds listingTimeout = 30;

    static std::vector<Skill> skills(const std::optional<SkillSource>& source,
                                     const std::optional<std::filesystem::path>& executable);
    // Unavailable without a source, or for a command or table source without an
    // executable; otherwise the answer of `skills` (an empty one means none installed).
    static Discovery<Skill> discover(const std::optional<SkillSource>& source,
                                     const std::optional<std::filesystem::path>& executable);

    // The "key: value" pairs between the opening and closing "---" lines; "|" and ">"
    // open a block of indented lines joined by spaces. Values are kept verbatim.
    static std::map<std::string, std::string> frontmatter(std::string_view text);
    // Rejects table headers and punctuation: no spaces, none of :{}[]",` , not
    // starting with "/" or ending with ".", and an all-capitals name only below 3 letters.
    static bool isPlausibleName(std::string_view text);
    static std::vector<std::string> namesInListing(std::string_view output);
    static std::vector<std::string>
    namesInTable(std::string_view output, int column,
                 const std::optional<ColumnRequirement>& requirement);
};

} // namespace marrowbell
