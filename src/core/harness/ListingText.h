#pragma once

// Text helpers shared by the model and skill catalogs (not part of any contract).

#include <string>
#include <string_view>
#include <vector>

namespace marrowbell::listing {

// Lines split at "\n", "\r\n" or "\r".
std::vector<std::string_view> lines(std::string_view text);
// Cells of a text table row: split at every run of two spaces, trimmed, empty ones dropped.
std::vector<std::string> cells(std::string_view line);

} // namespace marrowbell::listing
