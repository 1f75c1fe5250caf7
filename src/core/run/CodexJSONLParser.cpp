#include "run/CodexJSONLParser.h"

#include "run/JSONObject.h"
#include "run/OutputLine.h"

namespace marrowbell {

void CodexJSONLParser::read(std::string_view line, RunSummary& summary) const {
    std::optional<Json> document = OutputLine::decode(
        line, summary, {"thread.started", "item.completed", "turn.completed", "turn.failed"});
    if (!document)
        return;
    JSONObject event(*document);
    auto type = event.string("type");
    if (!type)
        return;
    if (*type == "thread.started") {
        summary.append(RunEvent::Kind::started,
                       "thread " + std::string(event.string("thread_id").value_or("")));
    } else if (*type == "item.completed") {
        auto item = event.object("item");
        if (!item)
            return;
        auto itemType = item->string("type");
        if (itemType == "agent_message") {
            std::string text(item->string("text").value_or(""));
            summary.resultText = text; // the last agent message wins
            summary.append(RunEvent::Kind::message, std::move(text));
        } else if (itemType == "error") {
            summary.append(RunEvent::Kind::error,
                           std::string(item->string("message").value_or("error")));
        } else if (auto text = item->string("text")) {
            summary.append(RunEvent::Kind::tool, std::string(*text));
        }
    } else if (*type == "turn.completed") {
        if (auto usage = event.object("usage")) {
            summary.inputTokens = usage->integer("input_tokens");
            summary.outputTokens = usage->integer("output_tokens");
        }
        summary.append(RunEvent::Kind::finished, "turn completed");
    } else if (*type == "turn.failed") {
        std::string message = "The turn failed.";
        if (auto error = event.object("error"))
            if (auto text = error->string("message"))
                message = *text;
        summary.failureMessage = message;
        summary.append(RunEvent::Kind::error, std::move(message));
    }
}

} // namespace marrowbell
