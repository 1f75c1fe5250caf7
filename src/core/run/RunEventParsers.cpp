#include "run/RunEventParsers.h"

#include "run/ClaudeStreamJSONParser.h"
#include "run/CodexJSONLParser.h"
#include "run/OpencodeJSONParser.h"
#include "run/PiJSONParser.h"

namespace marrowbell {

const RunEventParsing& RunEventParsers::parser(EventFormat format) {
    static const ClaudeStreamJSONParser claude;
    static const CodexJSONLParser codex;
    static const OpencodeJSONParser opencode;
    static const PiJSONParser pi;
    switch (format) {
    case EventFormat::claudeStreamJSON:
        return claude;
    case EventFormat::codexJSONL:
        return codex;
    case EventFormat::opencodeJSON:
        return opencode;
    case EventFormat::piJSON:
        return pi;
    }
    return claude;
}

} // namespace marrowbell
