#include "run/PiJSONParser.h"

#include "run/JSONObject.h"
#include "run/OutputLine.h"

namespace marrowbell {

void PiJSONParser::read(std::string_view line, RunSummary& summary) const {
    std::optional<Json> document =
        OutputLine::decode(line, summary, {"session", "agent_end", "message_end"});
    if (!document)
        return;
    JSONObject event(*document);
    auto type = event.string("type");
    if (!type)
        return;
    if (*type == "session") {
        summary.append(RunEvent::Kind::started,
                       "session " + std::string(event.string("id").value_or("")));
    } else if (*type == "agent_end") {
        summary.append(RunEvent::Kind::finished, "finished");
    } else if (*type == "message_end") {
        auto message = event.object("message");
        if (!message || message->string("role") != "assistant")
            return;
        // One report per assistant message, each a model call of its own.
        if (auto usage = message->object("usage"))
            summary.addTokens(usage->integer("input"), usage->integer("output"));
        if (auto error = message->string("errorMessage")) {
            summary.failureMessage = std::string(*error);
            summary.append(RunEvent::Kind::error, std::string(*error));
            return;
        }
        if (message->string("stopReason") == "error") {
            summary.failureMessage = "The run stopped with an error.";
            summary.append(RunEvent::Kind::error, "The run stopped with an error.");
            return;
        }
        summary.failureMessage.reset(); // a later attempt succeeded
        if (auto text = message->joinedText("content")) {
            summary.resultText = *text; // the last assistant message wins
            summary.append(RunEvent::Kind::message, std::move(*text));
        }
    }
}

} // namespace marrowbell
