#pragma once

#include <string>
#include <string_view>

namespace marrowbell::ctl {

// Text from a harness or a job, made safe for a terminal: control characters (escape
// sequences above all) are shown as U+FFFD instead of being obeyed; tabs stay, and
// line breaks too when `keepLineBreaks`.
std::string printable(std::string_view text, bool keepLineBreaks = false);

} // namespace marrowbell::ctl
