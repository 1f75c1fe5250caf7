#pragma once

#include "model/LoginItem.h"

#include <filesystem>
#include <optional>

namespace marrowbell::app {

// The login item as an XDG autostart entry, "$XDG_CONFIG_HOME/autostart/marrowbell.desktop"
// (~/.config when XDG_CONFIG_HOME is unset), written atomically and starting
// `executable`. Enabled while that file is ours and not `Hidden=true`; not registered
// otherwise (approval is never needed here).
class AutostartLoginItem : public LoginItem {
public:
    static constexpr const char* fileName = "marrowbell.desktop";

    // `configHome` defaults to the XDG configuration folder.
    explicit AutostartLoginItem(std::filesystem::path executable,
                                std::optional<std::filesystem::path> configHome = std::nullopt);

    const std::filesystem::path& entry() const { return entry_; }

    Status status() const override;
    void setEnabled(bool enabled) override;

private:
    std::filesystem::path executable_;
    std::filesystem::path entry_;
};

} // namespace marrowbell::app
