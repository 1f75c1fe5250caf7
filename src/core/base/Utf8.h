#pragma once

#include <string>
#include <string_view>

namespace marrowbell::utf8 {

// True when every byte of `bytes` is below 0x80 (and so well-formed UTF-8); fast.
bool isAscii(std::string_view bytes);

// True when `bytes` is well-formed UTF-8 (no overlongs, surrogates or values past U+10FFFF).
bool isValid(std::string_view bytes);

// `bytes` decoded as UTF-8 with each maximal invalid subsequence replaced by U+FFFD,
// the usual decoder behaviour: text from a child process is shown, never rejected.
std::string repaired(std::string_view bytes);

// `text` without leading and trailing white space: tabs and space separators
// (U+0020, U+00A0, U+1680, U+2000–U+200A, U+202F, U+205F, U+3000) and, when
// `andNewlines` is set, also U+000A–U+000D, U+0085, U+2028 and U+2029.
std::string_view trimmed(std::string_view text, bool andNewlines);

// `text` when it holds at most `limit` bytes; otherwise its start, cut at a character
// boundary, followed by "…", all within `limit` bytes (at least 3).
std::string capped(std::string_view text, std::size_t limit);

} // namespace marrowbell::utf8
