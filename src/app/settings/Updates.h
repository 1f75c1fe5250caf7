#pragma once

#include <string>
#include <string_view>

namespace marrowbell::app {

// What the settings window says about updates. A Linux installation is updated by
// its package manager, so this copy neither checks for updates nor offers to.
struct Updates {
    static constexpr bool canCheck = false;
    static constexpr bool automaticallyChecks = false;
    static constexpr std::string_view note = "Updates come from your package manager.";

    // This build's version: the project's version and, when it differs, the git
    // revision it was built from.
    static std::string version();
    // `version` ("—" when empty), then " ({build})" when `build` is set and differs.
    static std::string versionText(std::string_view version, std::string_view build);
};

} // namespace marrowbell::app
