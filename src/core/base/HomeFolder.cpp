#include "base/HomeFolder.h"

#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace marrowbell {

std::string homeFolder() {
    if (const char* home = std::getenv("HOME"); home && *home)
        return home;
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir)
        return entry->pw_dir;
    return "/";
}

std::string expandingTilde(std::string_view path) {
    if (path == "~")
        return homeFolder();
    if (path.starts_with("~/")) {
        std::string home = homeFolder();
        if (home.ends_with('/'))
            home.pop_back();
        return home + std::string(path.substr(1));
    }
    return std::string(path);
}

std::string cacheFolder() {
    // A relative XDG_CACHE_HOME is invalid and ignored, as the base-directory rules say.
    if (const char* cache = std::getenv("XDG_CACHE_HOME"); cache && *cache == '/')
        return std::string(cache) + "/Marrowbell";
    return expandingTilde("~/.cache/Marrowbell");
}

std::string temporaryFolder() {
    if (const char* tmp = std::getenv("TMPDIR"); tmp && *tmp)
        return tmp;
    return "/tmp";
}

bool isPrivateFolder(const std::filesystem::path& folder, bool strict) {
    ::mkdir(folder.c_str(), 0700);
    struct stat status {};
    return ::lstat(folder.c_str(), &status) == 0 && S_ISDIR(status.st_mode) &&
           status.st_uid == ::getuid() && (status.st_mode & (strict ? 077 : 022)) == 0;
}

bool isExecutableFile(const std::filesystem::path& path) {
    std::error_code error;
    return std::filesystem::is_regular_file(path, error) && ::access(path.c_str(), X_OK) == 0;
}

} // namespace marrowbell
