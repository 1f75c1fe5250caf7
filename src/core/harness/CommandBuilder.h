#pragma once

#include "harness/BuiltCommand.h"
#include "harness/EndpointCompatibility.h"
#include "harness/HarnessSpec.h"
#include "harness/ProviderCatalog.h"
#include "harness/RunRequest.h"
#include "harness/SandboxProfile.h"

#include <filesystem>
#include <map>
#include <optional>
#include <string>

namespace marrowbell {

// Turns a run request into the exact process to start for one harness: arguments,
// environment, working folder and standard input, wrapped in the sandbox launcher when
// the permission level and the harness call for it. Pure computation; never fails:
// whatever cannot be honoured becomes a warning.
class CommandBuilder {
public:
    static constexpr const char* baselinePath = "/usr/bin:/bin:/usr/sbin:/sbin";

    // "MarrowbellDiscovery" in the temporary folder ($TMPDIR, else /tmp), created on
    // use (a failure to create it is ignored): the working folder of listing commands.
    static std::filesystem::path discoveryDirectory();

    // The minimal child environment: PATH is the executable's folder then
    // `baselinePath`; HOME, USER, LANG, TMPDIR and SHELL are copied when set.
    // Nothing else from this process or the user's shell profile is passed.
    static std::map<std::string, std::string> environment(const std::filesystem::path& executable);

    // `executable` is the harness binary found by HarnessRegistry::resolveExecutable.
    // The environment also names the working folder in PWD, since some harnesses
    // (opencode) take their project folder from it rather than from the process.
    BuiltCommand build(const HarnessSpec& spec, const std::filesystem::path& executable,
                       const RunRequest& request) const;

    // The sandbox a run gets: none without manifest support or for full access; for
    // read-only only when the harness has no read-only flags of its own.
    static std::optional<SandboxProfile> sandboxProfile(const HarnessSpec& spec,
                                                        const RunRequest& request);

    // With a catalog, a harness that reaches endpoints through named providers is also
    // checked against its settings file.
    static EndpointCompatibility compatibility(const HarnessSpec& spec,
                                               const std::optional<Endpoint>& endpoint,
                                               const std::optional<ProviderCatalog>& catalog);

    // The model to pass: trimmed, none when blank, and "{prefix}/{model}" for a
    // harness that routes the endpoint's kind through a model prefix.
    static std::optional<std::string> resolvedModel(const HarnessSpec& spec,
                                                    const RunRequest& request);
};

} // namespace marrowbell
