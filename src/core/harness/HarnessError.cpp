#include "harness/HarnessError.h"

namespace marrowbell {

HarnessError::HarnessError(Kind kind, std::string identifier, std::vector<std::string> searched,
                           const std::string& message)
    : std::runtime_error(message)
    , kind_(kind)
    , identifier_(std::move(identifier))
    , searched_(std::move(searched)) {}

HarnessError HarnessError::unknownHarness(const std::string& id) {
    return {Kind::unknownHarness,
            id,
            {},
            "No harness called \"" + id + "\" is described in the manifest."};
}

HarnessError HarnessError::executableNotFound(const std::string& harness,
                                              const std::vector<std::string>& searched) {
    std::string list;
    for (const std::string& path : searched)
        list += (list.empty() ? "" : ", ") + path;
    return {Kind::executableNotFound, harness, searched,
            "Could not find the " + harness + " binary. Looked for: " + list + "."};
}

HarnessError HarnessError::manifestMissing() {
    return {Kind::manifestMissing, "", {}, "The bundled harness manifest could not be read."};
}

} // namespace marrowbell
