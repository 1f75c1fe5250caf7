#include "platform/AutostartLoginItem.h"

namespace marrowbell::app {

AutostartLoginItem::AutostartLoginItem(std::filesystem::path executable,
                                       std::optional<std::filesystem::path> configHome)
    : executable_(std::move(executable))
    , entry_(configHome.value_or(std::filesystem::path()) / "autostart" / fileName) {}

LoginItem::Status AutostartLoginItem::status() const {
    return Status::notRegistered;
}

void AutostartLoginItem::setEnabled(bool) {}

} // namespace marrowbell::app
