#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace marrowbell {

// How much of the machine a run may touch; stored by its raw value ("readOnly").
enum class PermissionLevel { readOnly, scopedWrite, fullAccess };

// In the order the choices are offered.
inline constexpr std::array<PermissionLevel, 3> allPermissionLevels{
    PermissionLevel::readOnly, PermissionLevel::scopedWrite, PermissionLevel::fullAccess};

std::string_view rawValue(PermissionLevel level);
std::optional<PermissionLevel> permissionLevelFromRaw(std::string_view raw);

// "Look, don't touch", "Write in this folder only", "Anywhere on this computer".
std::string_view phrase(PermissionLevel level);
// "read-only", "scoped write", "full access".
std::string_view compactTitle(PermissionLevel level);
// "{phrase} ({compactTitle})", e.g. "Look, don't touch (read-only)".
std::string plainTitle(PermissionLevel level);
// The title when the working folder is a git repository; only scoped write differs:
// "Write in a worktree (scoped write)".
std::string repositoryTitle(PermissionLevel level);

} // namespace marrowbell
