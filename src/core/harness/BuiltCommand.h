#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace marrowbell {

// The exact process to start for one run: what the command builder produces and
// the run executor starts. Nothing outside `environment` is inherited.
struct BuiltCommand {
    std::filesystem::path executable;
    std::vector<std::string> arguments;
    std::map<std::string, std::string> environment;
    std::filesystem::path workingDirectory;
    std::optional<std::string> standardInput;
    std::vector<std::string> warnings;
    // Files the harness reads for this run alone, by name: the runner writes them into
    // the request's private folder before starting and removes that folder afterwards.
    std::map<std::string, std::string> privateFiles;

    // The executable's file name, then the arguments; an element containing a space
    // is wrapped in double quotes (nothing is escaped); joined by single spaces.
    std::string displayString() const;

    friend bool operator==(const BuiltCommand&, const BuiltCommand&) = default;
};

} // namespace marrowbell
