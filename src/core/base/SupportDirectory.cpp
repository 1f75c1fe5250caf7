#include "base/SupportDirectory.h"

#include <cstdlib>
#include <pwd.h>
#include <system_error>
#include <unistd.h>

namespace marrowbell::SupportDirectory {

namespace fs = std::filesystem;

static fs::path homeFolder() {
    if (const char* home = std::getenv("HOME"); home && *home == '/')
        return home;
    if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir && *entry->pw_dir == '/')
        return entry->pw_dir;
    throw std::system_error(ENOENT, std::generic_category(), "no home folder for this user");
}

static fs::path dataFolder() {
    // A relative XDG_DATA_HOME is invalid and ignored, as the base-directory rules say.
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data == '/')
        return data;
    return homeFolder() / ".local" / "share";
}

fs::path url() {
    fs::path data = dataFolder();
    fs::create_directories(data); // throws std::filesystem::filesystem_error (a system_error)
    return data / "Marrowbell";
}

fs::path file(std::string_view name) {
    return url() / fs::path(name);
}

} // namespace marrowbell::SupportDirectory
