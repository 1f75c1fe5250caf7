#pragma once

#include "base/Json.h"

#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace marrowbell {

// A second command that turns a model alias into its full name: `arguments` with
// "{model}" replaced by the alias; the answer is the string under `key` in the first
// JSON-object line of its output.
struct ModelResolution {
    std::vector<std::string> arguments;
    std::string key;
    friend bool operator==(const ModelResolution&, const ModelResolution&) = default;
};

// How a harness lists the models it accepts. Tagged by "kind" in the manifest; an
// unrecognised kind reads as `List`.
struct ModelSource {
    // One identifier per line.
    struct List {
        std::vector<std::string> arguments;
        friend bool operator==(const List&, const List&) = default;
    };
    // A text table; each identifier is `columns` joined by "/". Some tools print their
    // table on standard error, hence `fromStandardError` ("fromStandardError" in JSON,
    // default false).
    struct Table {
        std::vector<std::string> arguments;
        std::vector<int> columns;
        bool fromStandardError = false;
        friend bool operator==(const Table&, const Table&) = default;
    };
    // A JSON object whose list `array` holds objects carrying `identifier`.
    struct JsonList {
        std::vector<std::string> arguments;
        std::string array;
        std::string identifier;
        friend bool operator==(const JsonList&, const JsonList&) = default;
    };
    // Aliases quoted in the help text near `flag`, optionally resolved one by one.
    struct HelpAliases {
        std::string flag;
        std::optional<ModelResolution> resolve;
        friend bool operator==(const HelpAliases&, const HelpAliases&) = default;
    };

    std::variant<List, Table, JsonList, HelpAliases> kind;

    static ModelSource decode(const Json& value);
    friend bool operator==(const ModelSource&, const ModelSource&) = default;
};

} // namespace marrowbell
