#include "JobArgument.h"

#include "LoadProblems.h"

#include <filesystem>
#include <optional>
#include <unicode/unistr.h>

namespace marrowbell::ctl {

std::vector<Job> storedJobs() {
    std::filesystem::path directory = JobStore::defaultDirectory();
    if (!std::filesystem::is_directory(directory))
        return {};
    JobStore store(directory);
    warnAbout(store.loadProblems());
    return store.jobs();
}

static std::string folded(const std::string& text) {
    std::string out;
    return icu::UnicodeString::fromUTF8(text).foldCase().toUTF8String(out);
}

static Job single(const std::vector<const Job*>& matches, const std::string& argument) {
    if (matches.size() == 1)
        return *matches.front();
    std::string message = std::to_string(matches.size()) + " jobs are named \"" + argument +
                          "\"; name one by its identifier:";
    for (const Job* job : matches)
        message += "\n  " + job->id.text() + "  " + job->name;
    throw JobArgumentError(message);
}

Job resolveJob(const std::vector<Job>& jobs, const std::string& argument) {
    if (auto id = Uuid::parse(argument))
        for (const Job& job : jobs)
            if (job.id == *id)
                return job;

    std::vector<const Job*> exact, caseless;
    std::string key = folded(argument);
    for (const Job& job : jobs) {
        if (job.name == argument)
            exact.push_back(&job);
        else if (folded(job.name) == key)
            caseless.push_back(&job);
    }
    if (!exact.empty())
        return single(exact, argument);
    if (!caseless.empty())
        return single(caseless, argument);
    throw JobArgumentError("no job is named \"" + argument + "\" or has it as its identifier");
}

Job resolveJob(const JobStore& store, const std::string& argument) {
    return resolveJob(store.jobs(), argument);
}

int withJobArgument(Arguments arguments, const char* command,
                    const std::function<int(Job)>& action) {
    if (arguments.size() != 1)
        return usage(std::string(command) + " needs exactly one JOB (a job's name or identifier)");
    std::optional<Job> found;
    try {
        found = resolveJob(storedJobs(), arguments[0]);
    } catch (const JobArgumentError& error) {
        return usage(error.what());
    }
    return action(std::move(*found));
}

} // namespace marrowbell::ctl
