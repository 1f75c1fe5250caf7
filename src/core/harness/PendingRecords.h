#pragma once

// Stand-in for the job record's permission level until it lands on this branch.

#include <optional>
#include <string>
#include <string_view>

namespace marrowbell {

enum class PermissionLevel { readOnly, scopedWrite, fullAccess };
std::optional<PermissionLevel> permissionLevelFromRaw(std::string_view raw);
std::string_view rawValue(PermissionLevel level);
std::string plainTitle(PermissionLevel level);

} // namespace marrowbell
