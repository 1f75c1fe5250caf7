#pragma once

#include "base/Json.h"
#include "run/RunSummary.h"

#include <initializer_list>
#include <optional>
#include <string_view>

namespace marrowbell::OutputLine {

// Decodes one line of an event stream. Horizontal white space around it is ignored
// and a blank line yields nothing. A JSON object is returned (wrap it in a
// JSONObject to read it); anything else a harness prints (plain text, an array, a
// number) is recorded in `summary` as a `message` event with the trimmed line, so it
// still reaches the event list. Never throws on odd input.
//
// `types` (when not empty) lists the "type" values the caller reads: an object whose
// top-level "type" is anything else is only checked for being JSON, not built, which
// spares most of the work on the bulky events a parser ignores.
std::optional<Json> decode(std::string_view line, RunSummary& summary,
                           std::initializer_list<std::string_view> types = {});

// The text `decode` records of a line that does not open like an object (empty for a
// blank line); none for one that does.
std::optional<std::string_view> plainText(std::string_view line);

} // namespace marrowbell::OutputLine
