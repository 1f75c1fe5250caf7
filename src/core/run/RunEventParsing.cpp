#include "run/RunEventParsing.h"

namespace marrowbell {

RunSummary RunEventParsing::parse(std::string_view text) const {
    RunSummary summary;
    while (!text.empty()) {
        std::size_t newline = text.find('\n');
        std::string_view line = text.substr(0, newline);
        if (!line.empty())
            read(line, summary);
        if (newline == std::string_view::npos)
            break;
        text.remove_prefix(newline + 1);
    }
    finish(summary);
    return summary;
}

} // namespace marrowbell
