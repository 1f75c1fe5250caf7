#include "harness/ShellPath.h"

#include "harness/ChildProcess.h"
#include "harness/HomeFolder.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>
#include <unordered_set>

namespace marrowbell {

ShellPath::ShellPath(std::vector<std::string> paths)
    : discovered_(std::move(paths)) {}

std::shared_ptr<ShellPath> ShellPath::shared() {
    static const std::shared_ptr<ShellPath> instance = std::make_shared<ShellPath>();
    return instance;
}

int ShellPath::generation() const {
    std::lock_guard guard(lock_);
    return answers_;
}

std::vector<std::string> ShellPath::paths() const {
    std::lock_guard guard(lock_);
    return discovered_;
}

void ShellPath::publish(std::vector<std::string> paths) {
    if (paths.empty())
        return;
    std::lock_guard guard(lock_);
    discovered_ = std::move(paths);
    ++answers_;
}

void ShellPath::prime(Seconds timeout) {
    publish(discover(loginShell(), timeout));
}

std::optional<std::filesystem::path> ShellPath::loginShell() {
    if (const char* shell = std::getenv("SHELL"); shell && *shell && isExecutableFile(shell))
        return std::filesystem::path(shell);
    if (const passwd* entry = ::getpwuid(::getuid());
        entry && entry->pw_shell && *entry->pw_shell && isExecutableFile(entry->pw_shell))
        return std::filesystem::path(entry->pw_shell);
    return std::nullopt;
}

std::vector<std::string> ShellPath::discover(const std::optional<std::filesystem::path>& shell,
                                             Seconds timeout) {
    if (!shell || !isExecutableFile(*shell))
        return {};
    ChildProcess process;
    process.executable = *shell;
    process.arguments = {"-l", "-i", "-c", "/usr/bin/env"};
    process.timeout = timeout;
    ChildProcess::Result result = process.run();
    if (!result.started || result.timedOut)
        return {};
    return usable(extract(result.output));
}

std::vector<std::string> ShellPath::extract(std::string_view output) {
    std::string_view found;
    bool any = false;
    std::size_t start = 0;
    while (start <= output.size()) {
        std::size_t end = output.find('\n', start);
        std::string_view line = output.substr(
            start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (line.starts_with("PATH=")) {
            found = line.substr(5);
            any = true;
        }
        if (end == std::string_view::npos)
            break;
        start = end + 1;
    }
    std::vector<std::string> folders;
    if (!any)
        return folders;
    std::size_t at = 0;
    while (at <= found.size()) {
        std::size_t colon = found.find(':', at);
        std::string_view piece =
            found.substr(at, colon == std::string_view::npos ? std::string_view::npos : colon - at);
        if (!piece.empty())
            folders.emplace_back(piece);
        if (colon == std::string_view::npos)
            break;
        at = colon + 1;
    }
    return folders;
}

std::vector<std::string> ShellPath::usable(const std::vector<std::string>& paths) {
    std::vector<std::string> kept;
    std::unordered_set<std::string> seen;
    for (const std::string& path : paths) {
        if (!path.starts_with('/') || seen.count(path))
            continue;
        std::error_code error;
        if (!std::filesystem::is_directory(path, error))
            continue;
        seen.insert(path);
        kept.push_back(path);
    }
    return kept;
}

} // namespace marrowbell
