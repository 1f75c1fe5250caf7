#pragma once

#include <filesystem>
#include <string_view>

namespace marrowbell {

// The per-user support folder, $XDG_DATA_HOME/Marrowbell (by default
// ~/.local/share/Marrowbell), which every store shares:
//   Jobs/{UUID}.json, runs.json, settings.json, endpoints.json.
// The data folder is created when missing; "Marrowbell" itself is created by the
// first store that writes into it.
namespace SupportDirectory {

// Throws std::system_error when the data folder cannot be found or created.
std::filesystem::path url();
std::filesystem::path file(std::string_view name);

} // namespace SupportDirectory
} // namespace marrowbell
