#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace marrowbell {

// A profile that does not parse; the text names the line and what was wrong.
class SandboxPolicyError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The rules of a sandbox profile: everything is allowed except writing outside the
// writable folders, patterns and device files, and reading inside the unreadable
// folders. `text` writes the profile language and `parse` reads back exactly the
// rules `text` writes, so the launcher enforces what the command builder generated.
struct SandboxPolicy {
    std::vector<std::string> writableSubpaths;
    std::vector<std::string> unreadableSubpaths;
    std::vector<std::string> writablePatterns; // regular expressions over whole paths
    std::vector<std::string> writableLiterals; // single files, such as "/dev/null"

    // The shared temporary folders. A confined run sees each as a fresh, empty folder
    // of its own that vanishes with it, so nothing is planted in or read from the ones
    // other processes use; TMPDIR names the first.
    static constexpr const char* privateTemporaryFolders[] = {"/tmp", "/var/tmp", "/dev/shm"};

    // "(version 1)", "(allow default)", "(deny file-write*)", then one rule per
    // writable folder, unreadable folder and pattern, then one rule for all
    // literals; joined by line feeds, no final line feed.
    std::string text() const;

    // Throws SandboxPolicyError for anything `text` would not have written: other
    // forms, a missing or misplaced header, relative paths, unterminated strings.
    static SandboxPolicy parse(std::string_view text);

    // `text` between double quotes, a backslash before every double quote and
    // every backslash.
    static std::string quoted(std::string_view text);

    friend bool operator==(const SandboxPolicy&, const SandboxPolicy&) = default;
};

} // namespace marrowbell
