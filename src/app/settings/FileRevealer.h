#pragma once

#include <filesystem>

namespace marrowbell::app {

// Shows a file or folder in the desktop's file manager.
class FileRevealer {
public:
    virtual ~FileRevealer() = default;
    // Shows `item` selected in its folder; when no file manager can do that, opens
    // `fallbackFolder` instead. Returns at once; nothing is reported back.
    virtual void reveal(const std::filesystem::path& item,
                        const std::filesystem::path& fallbackFolder) = 0;
};

} // namespace marrowbell::app
