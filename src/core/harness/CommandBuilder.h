#pragma once

#include <filesystem>
#include <map>
#include <string>

namespace marrowbell {

// Turns a run request into the exact process to start for one harness.
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
};

} // namespace marrowbell
