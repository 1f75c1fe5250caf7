#pragma once

#include "base/Json.h"

#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace marrowbell {

enum class SkillStyle { additive, toggle };

// A table row counts only when cell `column` starts with `hasPrefix`.
struct ColumnRequirement {
    int column = 0;
    std::string hasPrefix;
    friend bool operator==(const ColumnRequirement&, const ColumnRequirement&) = default;
};

// Where the installed skills of a harness are listed. Tagged by "kind"; an
// unrecognised kind reads as `Command`.
struct SkillSource {
    // One sub-folder per skill under `path` (may start with "~"), described by the
    // file `manifest` inside it.
    struct Directory {
        std::string path;
        std::string manifest;
        friend bool operator==(const Directory&, const Directory&) = default;
    };
    struct Table {
        std::vector<std::string> arguments;
        int column = 0;
        std::optional<ColumnRequirement> requirement; // "requires" in JSON
        friend bool operator==(const Table&, const Table&) = default;
    };
    struct Command {
        std::vector<std::string> arguments;
        friend bool operator==(const Command&, const Command&) = default;
    };

    std::variant<Directory, Table, Command> kind;

    static SkillSource decode(const Json& value);
    friend bool operator==(const SkillSource&, const SkillSource&) = default;
};

// How a harness takes skills for one run.
struct SkillSupport {
    std::string flag;
    bool repeatable = false;
    SkillStyle style = SkillStyle::additive;
    // For toggle style: the text after the flag, with "{skill}" and "{enabled}".
    std::optional<std::string> templateText;
    std::optional<SkillSource> source;

    // The template with every "{skill}" then every "{enabled}" ("true"/"false")
    // replaced literally; none without a template.
    std::optional<std::string> rendered(const std::string& skill, bool enabled) const;

    static SkillSupport decode(const Json& value);
    friend bool operator==(const SkillSupport&, const SkillSupport&) = default;
};

} // namespace marrowbell
