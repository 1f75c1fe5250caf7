#pragma once

#include <string>

namespace marrowbell::app {

// The ICU name of the default QLocale ("en_US"; "en_US_POSIX" for C), so that dates
// formatted through ICU follow the same locale as the rest of the window.
std::string icuLocaleName();

} // namespace marrowbell::app
