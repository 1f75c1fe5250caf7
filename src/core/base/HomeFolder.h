#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace marrowbell {

// The user's home folder: $HOME, else the user database's entry.
std::string homeFolder();

// "~" or a leading "~/" replaced by the home folder; any other text unchanged.
std::string expandingTilde(std::string_view path);

// $XDG_CACHE_HOME/Marrowbell, else ~/.cache/Marrowbell; not created here.
std::string cacheFolder();

// $TMPDIR, else /tmp.
std::string temporaryFolder();

// A regular file (after links) this user may execute.
bool isExecutableFile(const std::filesystem::path& path);

} // namespace marrowbell
