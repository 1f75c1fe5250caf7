#include "harness/SandboxProfile.h"

#include "base/Files.h"
#include "base/HomeFolder.h"
#include "harness/SandboxPolicy.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace marrowbell {

namespace fs = std::filesystem;

namespace {

// Written as literals so that a tool can always discard output. The terminal is not
// among them: a confined tool has none, and writing to it would reach past our output
// filter or push input into the user's shell.
const std::vector<std::string> deviceLiterals = {"/dev/null", "/dev/stdout", "/dev/stderr",
                                                 "/dev/dtracehelper", "/dev/urandom"};

// The per-user temporary tree of macOS; it does not exist on Linux, where the launcher
// passes over it, but it stays in the list so profiles read the same everywhere.
const char* const systemTemporaryTree = "/private/var/folders";

// Claude Code's per-session working-folder markers (under $TMPDIR on Linux).
const char* const claudeMarkerPattern = "^/private/tmp/claude-[0-9A-Fa-f]+-cwd$";

// Private folders kept from the tool whenever they are listed.
const char* const fixedCandidates[] = {
    "~/Library/Messages",
    "~/Library/Mail",
    "~/Library/Safari",
    "~/Library/Cookies",
    "~/Library/Calendars",
    "~/Library/IdentityServices",
    "~/Library/HomeKit",
    "~/Library/Metadata/CoreSpotlight",
    "~/Library/Suggestions",
    "~/Library/Application Support/AddressBook",
    "~/Library/Application Support/com.apple.TCC",
    "~/Library/Containers/com.apple.Safari",
    "~/Music",
    "~/Pictures",
    "~/Movies",
    "/Volumes",
};

// What a confined run may never read on Linux: browsers, mail, keyrings, passwords,
// credentials of other tools and of every harness (a harness's own folders are
// unhidden by the protected-path rule below), and removable media. Listed only where
// they exist, so a profile names nothing the machine does not have. The README's
// sandbox section documents this list.
const char* const linuxCandidates[] = {
    // Browsers and mail.
    "~/.mozilla",
    "~/.thunderbird",
    "~/.local/share/evolution",
    "~/.config/google-chrome",
    "~/.config/chromium",
    // Keys, passwords and credentials.
    "~/.ssh",
    "~/.gnupg",
    "~/.local/share/keyrings",
    "~/.password-store",
    "~/.netrc",
    "~/.git-credentials",
    "~/.config/gh",
    "~/.aws",
    "~/.azure",
    "~/.config/gcloud",
    "~/.kube",
    "~/.docker/config.json",
    // The harnesses' own logins and settings.
    "~/.claude",
    "~/.claude.json",
    "~/.codex",
    "~/.config/opencode",
    "~/.local/share/opencode",
    "~/.pi",
    // Media.
    "~/Videos",
    "/media",
    "/run/media",
};

// Folders named by the environment that hold keys or the sockets of the user's other
// processes (session bus, agents, multiplexers): the support folder with the endpoint
// keys and the runtime folder.
std::vector<std::string> environmentCandidates() {
    std::vector<std::string> result;
    const char* data = std::getenv("XDG_DATA_HOME");
    result.push_back((data && *data == '/' ? std::string(data) : expandingTilde("~/.local/share")) +
                     "/Marrowbell");
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime == '/')
        result.push_back(runtime);
    result.push_back("/run/user/" + std::to_string(::getuid()));
    return result;
}

std::string replacingUid(std::string path) {
    const std::string placeholder = "{uid}";
    const std::string uid = std::to_string(::getuid());
    for (std::size_t at = path.find(placeholder); at != std::string::npos;
         at = path.find(placeholder, at + uid.size()))
        path.replace(at, placeholder.size(), uid);
    return path;
}

std::string withSlash(const std::string& path) {
    return path.ends_with('/') ? path : path + "/";
}

} // namespace

std::string SandboxProfile::resolved(const fs::path& path) {
    fs::path current = path.lexically_normal();
    // A folder written with a trailing slash names the same folder.
    while (current.has_relative_path() && !current.has_filename())
        current = current.parent_path();
    std::vector<fs::path> missing;
    while (!current.empty() && current != current.root_path()) {
        char buffer[PATH_MAX];
        if (::realpath(current.c_str(), buffer)) {
            fs::path result = buffer;
            for (auto component = missing.rbegin(); component != missing.rend(); ++component)
                result /= *component;
            return result.string();
        }
        missing.push_back(current.filename());
        current = current.parent_path();
    }
    return path.string();
}

std::vector<std::string> SandboxProfile::writableSubpaths() const {
    std::vector<std::string> paths;
    if (workspaceWritable)
        paths.push_back(resolved(workspace));
    for (const char* folder : SandboxPolicy::privateTemporaryFolders)
        paths.push_back(folder);
    paths.push_back(systemTemporaryTree);
    for (const auto& harnessPath : harnessPaths)
        paths.push_back(resolved(expandingTilde(replacingUid(harnessPath))));
    for (auto& path : paths)
        if (path.size() > 1 && path.ends_with('/'))
            path.pop_back();
    std::sort(paths.begin(), paths.end());
    paths.erase(std::unique(paths.begin(), paths.end()), paths.end());
    return paths;
}

std::vector<std::string> SandboxProfile::unreadableSubpaths() const {
    std::vector<std::string> protectedPaths = {resolved(expandingTilde(workspace.string()))};
    for (const auto& harnessPath : harnessPaths)
        protectedPaths.push_back(resolved(expandingTilde(replacingUid(harnessPath))));

    std::vector<std::string> candidates;
    for (const char* candidate : fixedCandidates)
        candidates.push_back(resolved(expandingTilde(candidate)));
    std::vector<std::string> existingCandidates = environmentCandidates();
    for (const char* candidate : linuxCandidates)
        existingCandidates.push_back(expandingTilde(candidate));
    for (const auto& path : existingCandidates) {
        std::error_code error;
        if (fs::exists(path, error))
            candidates.push_back(resolved(path));
    }

    std::erase_if(candidates, [&](const std::string& candidate) {
        return std::any_of(protectedPaths.begin(), protectedPaths.end(), [&](const auto& path) {
            return path == candidate || path.starts_with(withSlash(candidate)) ||
                   candidate.starts_with(withSlash(path));
        });
    });
    std::sort(candidates.begin(), candidates.end());
    candidates.erase(std::unique(candidates.begin(), candidates.end()), candidates.end());
    return candidates;
}

std::string SandboxProfile::text() const {
    SandboxPolicy policy;
    policy.writableSubpaths = writableSubpaths();
    policy.unreadableSubpaths = unreadableSubpaths();
    policy.writablePatterns = {claudeMarkerPattern};
    policy.writableLiterals = deviceLiterals;
    return policy.text();
}

fs::path SandboxProfile::executable() {
    return files::executableDirectory() / "marrowbell-sandbox";
}

} // namespace marrowbell
