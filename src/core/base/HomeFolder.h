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

// Creates `folder` with mode 0700 when missing, then whether it is a real folder (not
// a link) owned by this user that nobody else may write to — nor, with `strict`, read
// or enter. A folder another user planted in a shared /tmp fails the test.
bool isPrivateFolder(const std::filesystem::path& folder, bool strict = false);

// A regular file (after links) this user may execute.
bool isExecutableFile(const std::filesystem::path& path);

} // namespace marrowbell
