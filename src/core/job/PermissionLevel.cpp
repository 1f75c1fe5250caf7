#include "job/PermissionLevel.h"

namespace marrowbell {

std::string_view rawValue(PermissionLevel level) {
    switch (level) {
    case PermissionLevel::readOnly:
        return "readOnly";
    case PermissionLevel::scopedWrite:
        return "scopedWrite";
    case PermissionLevel::fullAccess:
        return "fullAccess";
    }
    return "readOnly";
}

std::optional<PermissionLevel> permissionLevelFromRaw(std::string_view raw) {
    for (PermissionLevel level : allPermissionLevels)
        if (rawValue(level) == raw)
            return level;
    return std::nullopt;
}

std::string_view phrase(PermissionLevel level) {
    switch (level) {
    case PermissionLevel::readOnly:
        return "Look, don't touch";
    case PermissionLevel::scopedWrite:
        return "Write in this folder only";
    case PermissionLevel::fullAccess:
        return "Anywhere on this computer";
    }
    return "";
}

std::string_view compactTitle(PermissionLevel level) {
    switch (level) {
    case PermissionLevel::readOnly:
        return "read-only";
    case PermissionLevel::scopedWrite:
        return "scoped write";
    case PermissionLevel::fullAccess:
        return "full access";
    }
    return "";
}

std::string plainTitle(PermissionLevel level) {
    return std::string(phrase(level)) + " (" + std::string(compactTitle(level)) + ")";
}

std::string repositoryTitle(PermissionLevel level) {
    if (level == PermissionLevel::scopedWrite)
        return "Write in a worktree (scoped write)";
    return plainTitle(level);
}

} // namespace marrowbell
