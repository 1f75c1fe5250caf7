#pragma once

#include "harness/EventFormat.h"
#include "run/RunEventParsing.h"

namespace marrowbell {

// The parser for each event format. Parsers are stateless and live for the whole
// program, so the reference may be kept and shared freely.
struct RunEventParsers {
    static const RunEventParsing& parser(EventFormat format);
};

} // namespace marrowbell
