#pragma once

#include <ostream>
#include <string>
#include <string_view>

namespace marrowbell::ctl {

// Text made safe for a terminal: what a terminal would obey rather than show is
// written out visibly as "\u" and four hexadecimal digits — C0 controls (escape
// sequences above all) except tab, and newline when `keepLineBreaks`; DEL; C1
// controls (U+0080–U+009F, which some terminals obey as escape sequences too); the
// bidirectional embeddings, overrides and isolates (U+202A–U+202E, U+2066–U+2069),
// which reorder what is shown. Bytes that are not UTF-8 become U+FFFD.
std::string printable(std::string_view text, bool keepLineBreaks = false);

// Every human-readable line marrowbellctl prints goes through `printable` (line breaks
// kept): standard output and standard error are filtered from the start of main.
// Single-line fields (names) are passed through `printable` as well, so a line break
// in a name cannot forge a line of its own.
void makeStandardStreamsTerminalSafe();

// Standard output unfiltered, for --json: JSON text is exact, and escapes what it must.
std::ostream& jsonOutput();

} // namespace marrowbell::ctl
