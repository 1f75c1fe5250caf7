#include "harness/ShimResolver.h"

#include "harness/ChildProcess.h"
#include "harness/CommandBuilder.h"
#include "harness/HomeFolder.h"

namespace marrowbell {

std::filesystem::path ShimResolver::resolve(const std::filesystem::path& candidate,
                                            const std::string& toolName,
                                            const std::vector<std::string>& searchPaths,
                                            const std::vector<ShimManager>& managers) {
    std::error_code error;
    std::filesystem::path real = std::filesystem::canonical(candidate, error);
    if (error)
        real = candidate;
    const ShimManager* manager = nullptr;
    for (const ShimManager& each : managers)
        if (candidate.string().find(each.pathMarker) != std::string::npos) {
            manager = &each;
            break;
        }
    if (!manager)
        for (const ShimManager& each : managers)
            if (real.filename() == each.resolver) {
                manager = &each;
                break;
            }
    if (!manager)
        return candidate;
    auto resolver = locate(manager->resolver, searchPaths);
    if (!resolver)
        return candidate;
    std::vector<std::string> arguments = manager->arguments;
    arguments.push_back(toolName);
    auto answer = ask(*resolver, arguments);
    if (answer && answer->is_absolute() && isExecutableFile(*answer))
        return *answer;
    return candidate;
}

std::optional<std::filesystem::path> ShimResolver::locate(const std::string& name,
                                                          const std::vector<std::string>& folders) {
    for (const std::string& folder : folders) {
        std::filesystem::path candidate = std::filesystem::path(folder) / name;
        if (isExecutableFile(candidate))
            return candidate;
    }
    return std::nullopt;
}

std::optional<std::filesystem::path> ShimResolver::ask(const std::filesystem::path& resolver,
                                                       const std::vector<std::string>& arguments,
                                                       Seconds timeout) {
    ChildProcess process;
    process.executable = resolver;
    process.arguments = arguments;
    process.environment = CommandBuilder::environment(resolver);
    process.timeout = timeout;
    ChildProcess::Result result = process.run();
    if (!result.started || result.timedOut || result.exitStatus != 0)
        return std::nullopt;
    const char* space = " \t\r\n\v\f";
    std::size_t first = result.output.find_first_not_of(space);
    if (first == std::string::npos)
        return std::nullopt;
    std::size_t last = result.output.find_last_not_of(space);
    return std::filesystem::path(result.output.substr(first, last - first + 1));
}

} // namespace marrowbell
