#include "run/ClaudeStreamJSONParser.h"

#include "run/OutputLine.h"

#include <algorithm>
#include <map>

namespace marrowbell {

std::string blockedToolsMessage(const std::vector<JSONObject>& denials) {
    std::map<std::string, int, std::less<>> counts;
    for (const JSONObject& denial : denials)
        if (auto name = denial.string("tool_name"))
            ++counts[std::string(*name)];
    std::vector<std::pair<std::string, int>> ordered(counts.begin(), counts.end());
    std::stable_sort(ordered.begin(), ordered.end(),
                     [](const auto& a, const auto& b) { return a.second > b.second; });
    std::string tools;
    for (const auto& [name, count] : ordered) {
        if (!tools.empty())
            tools += ", ";
        tools += name;
        if (count >= 2)
            tools += " \xC3\x97" + std::to_string(count);
    }
    if (tools.empty())
        tools = "A tool";
    return "Blocked \xE2\x80\x94 " + tools +
           " needed permission this job does not allow. Raise what it may touch, or ask for "
           "something it can do without that tool.";
}

void ClaudeStreamJSONParser::read(std::string_view line, RunSummary& summary) const {
    std::optional<Json> document =
        OutputLine::decode(line, summary, {"system", "assistant", "result"});
    if (!document)
        return;
    JSONObject event(*document);
    auto type = event.string("type");
    if (!type)
        return;
    if (*type == "system") {
        auto session = event.string("session_id");
        summary.append(RunEvent::Kind::started,
                       session ? "session " + std::string(*session) : "session started");
    } else if (*type == "assistant") {
        if (auto message = event.object("message"))
            if (auto text = message->joinedText("content"))
                summary.append(RunEvent::Kind::message, std::move(*text));
    } else if (*type == "result") {
        auto result = event.string("result");
        summary.resultText = result ? std::optional<std::string>(*result) : std::nullopt;
        if (auto usage = event.object("usage")) {
            summary.inputTokens = usage->integer("input_tokens");
            summary.outputTokens = usage->integer("output_tokens");
        }
        if (event.isTrue("is_error")) {
            summary.failureMessage =
                result ? std::string(*result) : std::string("The run reported an error.");
            summary.resultText.reset();
        }
        std::vector<JSONObject> denials = event.array("permission_denials");
        if (!denials.empty())
            summary.warning = blockedToolsMessage(denials);
        auto subtype = event.string("subtype");
        summary.append(RunEvent::Kind::finished, subtype ? std::string(*subtype) : "finished");
    }
}

} // namespace marrowbell
