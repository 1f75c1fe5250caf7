#include "harness/PendingRecords.h"

namespace marrowbell {

std::optional<PermissionLevel> permissionLevelFromRaw(std::string_view raw) {
    for (auto level :
         {PermissionLevel::readOnly, PermissionLevel::scopedWrite, PermissionLevel::fullAccess})
        if (rawValue(level) == raw)
            return level;
    return std::nullopt;
}
std::string_view rawValue(PermissionLevel level) {
    switch (level) {
    case PermissionLevel::readOnly:
        return "readOnly";
    case PermissionLevel::scopedWrite:
        return "scopedWrite";
    case PermissionLevel::fullAccess:
        return "fullAccess";
    }
    return "";
}
std::string plainTitle(PermissionLevel level) {
    switch (level) {
    case PermissionLevel::readOnly:
        return "Look, don't touch (read-only)";
    case PermissionLevel::scopedWrite:
        return "Write in this folder only (scoped write)";
    case PermissionLevel::fullAccess:
        return "Anywhere on this Mac (full access)";
    }
    return "";
}

} // namespace marrowbell
