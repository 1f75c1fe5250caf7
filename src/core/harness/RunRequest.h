#pragma once

#include "endpoint/Endpoint.h"
#include "job/PermissionLevel.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace marrowbell {

// Everything one run asks of a harness; the command builder turns it into a process.
struct RunRequest {
    std::string prompt;
    std::filesystem::path workingDirectory; // the job's folder, unchanged
    std::optional<std::string> model;       // as the user typed or picked it
    std::optional<Endpoint> endpoint;
    std::vector<std::string> skills; // the job's choice
    // The skills installed for the harness; filled for toggle-style harnesses only.
    std::vector<std::string> availableSkills;
    PermissionLevel permission = PermissionLevel::readOnly;
    std::optional<std::string> apiKey; // the endpoint's saved key
    // A folder of this run's own for the files the command needs (BuiltCommand::
    // privateFiles); it need not exist while the command is built.
    std::filesystem::path privateFolder;
    // Folders besides the working folder that a sandboxed run must write (the git
    // folder of the repository a worktree belongs to).
    std::vector<std::filesystem::path> writableFolders;

    friend bool operator==(const RunRequest&, const RunRequest&) = default;
};

} // namespace marrowbell
