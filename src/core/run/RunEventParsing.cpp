#include "run/RunEventParsing.h"

#include "run/OutputLine.h"

#include <vector>

namespace marrowbell {

void RunEventParsing::readLines(std::span<const std::string_view> lines,
                                RunSummary& summary) const {
    thread_local std::vector<std::string_view> texts;
    auto flush = [&] {
        summary.append(RunEvent::Kind::message, texts);
        texts.clear();
    };
    for (std::string_view line : lines) {
        if (auto text = OutputLine::plainText(line)) {
            if (!text->empty())
                texts.push_back(*text);
        } else {
            flush();
            read(line, summary);
        }
    }
    flush();
}

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
