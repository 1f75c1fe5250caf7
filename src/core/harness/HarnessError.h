#pragma once

#include <stdexcept>
#include <string>
#include <vector>

namespace marrowbell {

// The errors of the harness area; `what()` is the user-facing message.
class HarnessError : public std::runtime_error {
public:
    enum class Kind { unknownHarness, executableNotFound, manifestMissing };

    // "No harness called "{id}" is described in the manifest."
    static HarnessError unknownHarness(const std::string& id);
    // "Could not find the {harness} binary. Looked for: {searched, joined by ", "}."
    static HarnessError executableNotFound(const std::string& harness,
                                           const std::vector<std::string>& searched);
    // "The bundled harness manifest could not be read."
    static HarnessError manifestMissing();

    Kind kind() const { return kind_; }
    const std::string& identifier() const { return identifier_; } // id, or harness name
    const std::vector<std::string>& searched() const { return searched_; }

    friend bool operator==(const HarnessError& a, const HarnessError& b) {
        return a.kind_ == b.kind_ && a.identifier_ == b.identifier_ && a.searched_ == b.searched_;
    }

private:
    HarnessError(Kind kind, std::string identifier, std::vector<std::string> searched,
                 const std::string& message);

    Kind kind_;
    std::string identifier_;
    std::vector<std::string> searched_;
};

} // namespace marrowbell
