#include "JobArgument.h"

#include "LoadProblems.h"

#include "service/NameLookup.h"

#include <filesystem>
#include <optional>

namespace marrowbell::ctl {

std::vector<Job> storedJobs() {
    std::filesystem::path directory = JobStore::defaultDirectory();
    if (!std::filesystem::is_directory(directory))
        return {};
    JobStore store(directory);
    warnAbout(store.loadProblems());
    return store.jobs();
}

int withJobArgument(Arguments arguments, const char* command,
                    const std::function<int(Job)>& action) {
    for (const std::string& argument : arguments)
        if (argument.starts_with("--"))
            return unknownOption(argument);
    if (arguments.size() != 1)
        return usage(std::string(command) + " needs exactly one JOB (a job's name or identifier)");
    std::optional<Job> found;
    try {
        found = NameLookup::job(storedJobs(), arguments[0]);
    } catch (const NameLookup::Error& error) {
        return usage(error.what());
    }
    return action(std::move(*found));
}

} // namespace marrowbell::ctl
