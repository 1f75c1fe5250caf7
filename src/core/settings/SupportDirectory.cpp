#include "settings/SupportDirectory.h"

#include <cerrno>
#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>
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
    // Private to the user: it holds the endpoint keys when no keyring runs, and every
    // run's prompt and output.
    // A folder left open to others by an earlier version is closed again.
    fs::path folder = data / "Marrowbell";
    if (::mkdir(folder.c_str(), 0700) != 0) {
        struct stat status {};
        if (errno != EEXIST || ::stat(folder.c_str(), &status) != 0)
            throw std::system_error(errno, std::generic_category(),
                                    "cannot create " + folder.string());
        if (status.st_uid == ::getuid() && (status.st_mode & 077) != 0)
            ::chmod(folder.c_str(), status.st_mode & 0700);
    }
    return folder;
}

fs::path file(std::string_view name) {
    return url() / fs::path(name);
}

} // namespace marrowbell::SupportDirectory
