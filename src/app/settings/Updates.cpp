#include "settings/Updates.h"

// Both are defined for this file by the build, from the project's version and the
// revision checked out when it was configured.
#ifndef MARROWBELL_VERSION
#define MARROWBELL_VERSION ""
#endif
#ifndef MARROWBELL_REVISION
#define MARROWBELL_REVISION ""
#endif

namespace marrowbell::app {

std::string Updates::version() {
    return versionText(MARROWBELL_VERSION, MARROWBELL_REVISION);
}

std::string Updates::versionText(std::string_view version, std::string_view build) {
    std::string text = version.empty() ? "\u2014" : std::string(version);
    if (!build.empty() && build != version)
        text += " (" + std::string(build) + ")";
    return text;
}

} // namespace marrowbell::app
