#pragma once

#include "base/Json.h"
#include "endpoint/EndpointKind.h"
#include "harness/HarnessSpec.h"

#include <string>
#include <vector>

namespace marrowbell {

// A version manager that puts shims in front of real binaries. A found executable
// whose path contains `pathMarker`, or that resolves to a file named `resolver`, is
// asked about with `resolver arguments… tool`.
struct ShimManager {
    std::string pathMarker;
    std::string resolver;
    std::vector<std::string> arguments;
    friend bool operator==(const ShimManager&, const ShimManager&) = default;
};

// An endpoint the settings window offers to add.
struct SuggestedEndpoint {
    std::string name;
    std::string baseURL;
    EndpointKind kind = EndpointKind::lmStudio;
    friend bool operator==(const SuggestedEndpoint&, const SuggestedEndpoint&) = default;
};

struct ManifestDefaults {
    std::string schedule;                         // cron text for new jobs
    std::vector<std::string> nonChatModelMarkers; // substrings of non-chat model names
    friend bool operator==(const ManifestDefaults&, const ManifestDefaults&) = default;
};

// The whole "harnesses.json" document. One bad entry fails it all.
struct HarnessManifest {
    std::vector<HarnessSpec> harnesses; // in the order they are offered
    std::vector<std::string> searchPaths;
    std::vector<ShimManager> shimManagers;
    std::vector<SuggestedEndpoint> suggestedEndpoints;
    ManifestDefaults defaults;

    static HarnessManifest decode(const Json& value);
    friend bool operator==(const HarnessManifest&, const HarnessManifest&) = default;
};

} // namespace marrowbell
