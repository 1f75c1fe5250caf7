#include "run/OpencodeJSONParser.h"

#include "base/Utf8.h"
#include "run/JSONObject.h"
#include "run/OutputLine.h"

namespace marrowbell {

void OpencodeJSONParser::read(std::string_view line, RunSummary& summary) const {
    std::optional<Json> document = OutputLine::decode(
        line, summary, {"step_start", "text", "tool", "tool_use", "step_finish", "error"});
    if (!document)
        return;
    JSONObject event(*document);
    auto type = event.string("type");
    if (!type)
        return;
    auto part = event.object("part");
    if (*type == "step_start") {
        auto session = event.string("sessionID");
        summary.append(RunEvent::Kind::started, "session " + std::string(session.value_or("")));
    } else if (*type == "text") {
        if (!part)
            return;
        if (auto text = part->string("text")) {
            if (summary.streamedText.size() < RunSummary::streamedTextLimit)
                summary.streamedText.append(
                    text->substr(0, RunSummary::streamedTextLimit - summary.streamedText.size()));
            summary.append(RunEvent::Kind::message, std::string(utf8::trimmed(*text, true)));
        }
    } else if (*type == "tool" || *type == "tool_use") {
        if (!part)
            return;
        if (auto tool = part->string("tool"))
            summary.append(RunEvent::Kind::tool, std::string(*tool));
    } else if (*type == "step_finish") {
        if (!part)
            return;
        // One report per step, each a model call of its own.
        if (auto tokens = part->object("tokens"))
            summary.addTokens(tokens->integer("input"), tokens->integer("output"));
        summary.append(RunEvent::Kind::finished,
                       std::string(part->string("reason").value_or("finished")));
    } else if (*type == "error") {
        std::string message = "The run reported an error.";
        if (auto error = event.object("error")) {
            auto data = error->object("data");
            auto dataMessage = data ? data->string("message") : std::nullopt;
            if (dataMessage)
                message = *dataMessage;
            else if (auto name = error->string("name"))
                message = *name;
        }
        summary.failureMessage = message;
        summary.append(RunEvent::Kind::error, std::move(message));
    }
}

void OpencodeJSONParser::finish(RunSummary& summary) const {
    if (!summary.failureMessage && !summary.streamedText.empty())
        summary.resultText = std::string(utf8::trimmed(summary.streamedText, true));
}

} // namespace marrowbell
