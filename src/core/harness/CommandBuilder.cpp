#include "harness/CommandBuilder.h"

#include <cstdlib>

namespace marrowbell {

static std::filesystem::path temporaryFolder() {
    if (const char* tmp = std::getenv("TMPDIR"); tmp && *tmp)
        return tmp;
    return "/tmp";
}

std::filesystem::path CommandBuilder::discoveryDirectory() {
    std::filesystem::path folder = temporaryFolder() / "MarrowbellDiscovery";
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);
    return folder;
}

std::map<std::string, std::string>
CommandBuilder::environment(const std::filesystem::path& executable) {
    std::map<std::string, std::string> environment;
    environment["PATH"] = executable.parent_path().string() + ":" + baselinePath;
    for (const char* name : {"HOME", "USER", "LANG", "TMPDIR", "SHELL"})
        if (const char* value = std::getenv(name))
            environment[name] = value;
    return environment;
}

} // namespace marrowbell
