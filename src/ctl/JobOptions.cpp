#include "JobOptions.h"

#include "JobArgument.h"

#include "settings/EndpointStore.h"

#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <unistd.h>

namespace marrowbell::ctl {

namespace fs = std::filesystem;

namespace {

std::string inQuotes(std::string_view text) {
    return "\u201C" + std::string(text) + "\u201D";
}

} // namespace

PermissionLevel permissionOption(const std::string& text) {
    if (const auto level = permissionLevelFromRaw(text))
        return *level;
    throw BadArgument("--permission takes readOnly, scopedWrite or fullAccess, not " +
                      inQuotes(text));
}

OfflinePolicy offlineOption(const std::string& text) {
    if (text == "skip")
        return OfflinePolicy::skipAndNotify;
    if (text == "fail")
        return OfflinePolicy::failAndNotify;
    if (const auto policy = offlinePolicyFromRaw(text))
        return *policy;
    throw BadArgument("--offline takes skip or fail, not " + inQuotes(text));
}

Seconds timeoutOption(const std::string& text) {
    double seconds = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, seconds);
    if (error != std::errc() || stop != end)
        throw BadArgument("--timeout takes a number of seconds, such as 900, not " +
                          inQuotes(text));
    return seconds;
}

std::string promptFrom(const std::optional<std::string>& file) {
    std::string text;
    if (file && *file != "-") {
        std::ifstream in(*file, std::ios::binary);
        if (!in || fs::is_directory(*file))
            throw BadArgument("cannot read the prompt file " + *file);
        text.assign(std::istreambuf_iterator<char>(in), {});
        if (in.bad())
            throw BadArgument("cannot read the prompt file " + *file);
    } else {
        if (::isatty(STDIN_FILENO))
            std::cerr << "Type the prompt, then press Ctrl-D on an empty line:\n";
        text.assign(std::istreambuf_iterator<char>(std::cin), {});
    }
    // The line end a file or a terminal leaves after the last line is not part of it.
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

std::vector<std::string> searchPaths(const HarnessRegistry& registry) {
    std::vector<std::string> folders = registry.expandedSearchPaths();
    if (const char* path = std::getenv("PATH")) {
        std::string_view rest = path;
        while (!rest.empty()) {
            const std::size_t colon = rest.find(':');
            if (colon != 0)
                folders.emplace_back(rest.substr(0, colon));
            rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
        }
    }
    return folders;
}

std::vector<Endpoint> storedEndpoints() {
    const fs::path file = EndpointStore::defaultFileURL();
    return fs::exists(file) ? EndpointStore(file).endpoints() : std::vector<Endpoint>{};
}

JobDraft::Context draftContext(const HarnessRegistry& registry) {
    return {registry, storedEndpoints(), storedJobs(), searchPaths(registry)};
}

JobDraft::Checked checkedWithPrompt(JobDraft& draft, const JobDraft::Context& context,
                                    const std::optional<std::string>& promptFile) {
    JobDraft::Checked checked = draft.check(context, Instant::now());
    if (checked.blocked() || draft.prompt)
        return checked;
    draft.prompt = promptFrom(promptFile);
    return draft.check(context, Instant::now());
}

void printProblems(const std::vector<JobDraft::Problem>& problems, bool blocking) {
    for (const JobDraft::Problem& problem : problems)
        if (problem.blocking == blocking)
            std::cerr << "marrowbellctl: " << (blocking ? "" : "note: ") << problem.message
                      << (problem.field == JobDraft::Field::prompt && blocking
                              ? "; give it with --prompt-file FILE or on standard input"
                              : "")
                      << "\n";
}

} // namespace marrowbell::ctl
