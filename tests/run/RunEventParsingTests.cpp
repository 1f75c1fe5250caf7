#include "base/Files.h"
#include "harness/EventFormat.h"
#include "run/ClaudeStreamJSONParser.h"
#include "run/CodexJSONLParser.h"
#include "run/OpencodeJSONParser.h"
#include "run/OutputLine.h"
#include "run/PiJSONParser.h"
#include "run/RunEventParsers.h"
#include "run/RunEventStream.h"

#include <gtest/gtest.h>
#include <random>

using namespace marrowbell;
using Kind = RunEvent::Kind;

namespace {

const ClaudeStreamJSONParser claude;
const CodexJSONLParser codex;
const OpencodeJSONParser opencode;
const PiJSONParser pi;

// The events as "kind: text", for compact comparisons.
std::vector<std::string> described(const RunSummary& summary) {
    std::vector<std::string> out;
    for (const RunEvent& event : summary.events)
        out.push_back(std::string(rawValue(event.kind)) + ": " + event.text);
    return out;
}

std::string fixture(const std::string& name) {
    auto content = files::read(std::string(MARROWBELL_TEST_DATA_DIR) + "/run/" + name);
    if (!content)
        throw std::runtime_error("missing fixture " + name);
    return *content;
}

const std::string blockedTail =
    " needed permission this job does not allow. Raise what it may touch, or ask for something "
    "it can do without that tool.";

} // namespace

TEST(EventFormat, RawValuesRoundTrip) {
    for (EventFormat format : {EventFormat::claudeStreamJSON, EventFormat::codexJSONL,
                               EventFormat::opencodeJSON, EventFormat::piJSON})
        EXPECT_EQ(eventFormatFromRaw(rawValue(format)), format);
    EXPECT_FALSE(eventFormatFromRaw("claude"));
}

TEST(RunSummary, KeepsTheNewest500WhenReaching1000Events) {
    RunSummary summary;
    for (int i = 0; i < 999; ++i)
        summary.append(Kind::message, std::to_string(i));
    EXPECT_EQ(summary.events.size(), 999u);
    summary.append(Kind::message, "999");
    ASSERT_EQ(summary.events.size(), 500u);
    EXPECT_EQ(summary.events.front().text, "500");
    EXPECT_EQ(summary.events.back().text, "999");
    summary.append(Kind::message, "1000");
    EXPECT_EQ(summary.events.size(), 501u);
    EXPECT_NE(summary.events[0].id, summary.events[1].id);
}

// What a run keeps of its events is bounded by bytes, whatever a harness prints.
TEST(RunSummary, EventTextsAreCutWithAVisibleMark) {
    RunSummary summary;
    const std::string huge(1u << 20, 'x');
    for (int i = 0; i < 999; ++i)
        summary.append(Kind::message, huge);
    std::size_t kept = 0;
    for (const RunEvent& event : summary.events)
        kept += event.text.size();
    EXPECT_LE(kept, RunSummary::eventLimit * RunSummary::eventTextLimit);
    EXPECT_TRUE(summary.events.back().text.ends_with("\u2026"));
}

TEST(OutputLine, BlankLinesChangeNothingAndNonObjectsBecomeMessages) {
    RunSummary summary;
    EXPECT_FALSE(OutputLine::decode("", summary));
    EXPECT_FALSE(OutputLine::decode(" \t\xC2\xA0 ", summary));
    EXPECT_TRUE(summary.events.empty());
    EXPECT_FALSE(OutputLine::decode("  plain words here ", summary));
    EXPECT_FALSE(OutputLine::decode("[1, {\"type\": \"system\"}]", summary));
    EXPECT_FALSE(OutputLine::decode("42", summary));
    EXPECT_FALSE(OutputLine::decode("{\"unterminated\": ", summary));
    EXPECT_EQ(described(summary),
              (std::vector<std::string>{"message: plain words here",
                                        "message: [1, {\"type\": \"system\"}]", "message: 42",
                                        "message: {\"unterminated\":"}));
    auto object = OutputLine::decode("\t{\"type\": \"x\"}\r", summary);
    ASSERT_TRUE(object);
    EXPECT_EQ((*object)["type"], "x");
}

// Objects of types a parser ignores are only validated; the outcome must not differ
// from parsing them in full.
TEST(OutputLine, IgnoredTypesAreRecognisedExactly) {
    RunSummary summary = claude.parse(
        "{\"typ\\u0065\":\"result\",\"result\":\"escaped key\"}\n"
        "{\"type\":\"user\",\"type\":\"result\",\"result\":\"last key wins\"}\n"
        "{\"message\":{\"type\":\"result\"},\"type\":\"user\",\"list\":[{\"type\":\"result\"}]}\n"
        "{\"type\":\"user\",\"broken\":\n"
        "{\"type\":\"user\"} trailing\n"
        "{\"type\":\"user\",\"text\":\"a \\\" quote, } and ] \\\\\"}\n");
    EXPECT_EQ(described(summary),
              (std::vector<std::string>{"finished: finished", "finished: finished",
                                        "message: {\"type\":\"user\",\"broken\":",
                                        "message: {\"type\":\"user\"} trailing"}));
    EXPECT_EQ(summary.resultText, "last key wins");
}

TEST(JSONObject, TypedReadsTreatWrongTypesAsAbsent) {
    Json raw = Json::parse(R"({"s": "t", "n": null, "i": 12, "f": 12.0, "h": 12.5, "big": 1e300,
        "u": 18446744073709551615, "b": true, "bs": "true", "o": {}, "a": [{"text": "x"}, {"text": 1}, {"text": "y"}],
        "mixed": [{"text": "x"}, 3]})");
    JSONObject o(raw);
    EXPECT_EQ(o.string("s"), "t");
    EXPECT_FALSE(o.string("n"));
    EXPECT_FALSE(o.string("i"));
    EXPECT_EQ(o.integer("i"), 12);
    EXPECT_EQ(o.integer("f"), 12);
    EXPECT_FALSE(o.integer("h"));
    EXPECT_FALSE(o.integer("big"));
    EXPECT_FALSE(o.integer("u"));
    EXPECT_FALSE(o.integer("s"));
    EXPECT_TRUE(o.isTrue("b"));
    EXPECT_FALSE(o.isTrue("bs"));
    EXPECT_TRUE(o.object("o"));
    EXPECT_FALSE(o.object("a"));
    EXPECT_EQ(o.array("a").size(), 3u);
    EXPECT_EQ(o.joinedText("a"), "x\ny");
    EXPECT_TRUE(o.array("mixed").empty());
    EXPECT_FALSE(o.joinedText("mixed"));
    EXPECT_FALSE(o.joinedText("missing"));
}

TEST(ClaudeStreamJSONParser, ReadsARealToolRunWithADenial) {
    RunSummary summary = claude.parse(fixture("claude-tool-denied.jsonl"));
    EXPECT_EQ(described(summary),
              (std::vector<std::string>{"started: session 38c2fe94-467e-4ab6-981f-cf4464a2582a",
                                        "message: I will use a tool.",
                                        "message: DONE: hello from fake", "finished: success"}));
    EXPECT_EQ(summary.resultText, "DONE: hello from fake");
    EXPECT_EQ(summary.inputTokens, 246);
    EXPECT_EQ(summary.outputTokens, 34);
    EXPECT_FALSE(summary.failureMessage);
    EXPECT_EQ(summary.warning, "Blocked \xE2\x80\x94 Bash" + blockedTail);
}

TEST(ClaudeStreamJSONParser, AnErrorResultWithSubtypeSuccessIsAFailure) {
    RunSummary summary = claude.parse(fixture("claude-error401.jsonl"));
    EXPECT_EQ(summary.failureMessage, "Invalid API key \xC2\xB7 Fix external API key");
    EXPECT_FALSE(summary.resultText);
}

TEST(ClaudeStreamJSONParser, ResultRules) {
    RunSummary summary = claude.parse(
        "{\"type\":\"system\"}\n"
        "{\"type\":\"assistant\",\"message\":{\"content\":[{\"type\":\"tool_use\"}]}}\n"
        "{\"type\":\"result\",\"result\":\"partial\",\"usage\":{\"input_tokens\":5,\"output_"
        "tokens\":6}}\n"
        "{\"type\":\"result\",\"is_error\":true,\"usage\":{\"input_tokens\":7}}\n");
    EXPECT_EQ(described(summary),
              (std::vector<std::string>{"started: session started", "finished: finished",
                                        "finished: finished"}));
    EXPECT_EQ(summary.failureMessage, "The run reported an error.");
    EXPECT_FALSE(summary.resultText); // cleared
    EXPECT_EQ(summary.inputTokens, 7);
    EXPECT_FALSE(summary.outputTokens); // replaced, not kept
}

struct DenialCase {
    const char* denials;
    const char* tools;
};

class BlockedTools : public testing::TestWithParam<DenialCase> {};

TEST_P(BlockedTools, NamesToolsByCountThenName) {
    RunSummary summary = claude.parse(std::string("{\"type\":\"result\",\"permission_denials\":") +
                                      GetParam().denials + "}");
    EXPECT_EQ(summary.warning,
              std::string("Blocked \xE2\x80\x94 ") + GetParam().tools + blockedTail);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BlockedTools,
    testing::Values(DenialCase{R"([{"tool_name":"E"},{"tool_name":"B"},{"tool_name":"E"}])",
                               "E \xC3\x97"
                               "2, B"},
                    DenialCase{R"([{"tool_name":"Write"},{"tool_name":"Bash"}])", "Bash, Write"},
                    DenialCase{R"([{"tool_name":1},{"other":"x"}])", "A tool"}));

TEST(ClaudeStreamJSONParser, NoWarningForEmptyOrMalformedDenials) {
    EXPECT_FALSE(claude.parse(R"({"type":"result","permission_denials":[]})").warning);
    EXPECT_FALSE(claude.parse(R"({"type":"result","permission_denials":["Bash"]})").warning);
    EXPECT_FALSE(claude.parse(R"({"type":"result","permission_denials":{"a":1}})").warning);
}

TEST(CodexJSONLParser, ReadsARealToolRun) {
    RunSummary summary = codex.parse(fixture("codex-tool-workspace.jsonl"));
    EXPECT_EQ(summary.events.front().text, "thread 01a24cf4-7c9d-7251-9088-610e36e3c92f");
    EXPECT_EQ(summary.events[1].kind, Kind::error);
    EXPECT_EQ(summary.resultText, "DONE: hello from fake");
    EXPECT_EQ(summary.inputTokens, 246);
    EXPECT_EQ(summary.outputTokens, 34);
    EXPECT_FALSE(summary.failureMessage);
}

TEST(CodexJSONLParser, AFailedTurnIsAFailure) {
    RunSummary summary = codex.parse(fixture("codex-error500.jsonl"));
    std::string message = "We\xE2\x80\x99re currently experiencing high demand, which may cause "
                          "temporary errors.";
    EXPECT_EQ(summary.failureMessage, message);
    EXPECT_EQ(described(summary).back(), "error: " + message);
    EXPECT_EQ(codex.parse(R"({"type":"turn.failed","error":"text"})").failureMessage,
              "The turn failed.");
}

TEST(CodexJSONLParser, UsageAndAgentMessages) {
    RunSummary summary = codex.parse(
        "{\"type\":\"thread.started\"}\n"
        "{\"type\":\"item.completed\",\"item\":{\"type\":\"agent_message\",\"text\":\"one\"}}\n"
        "{\"type\":\"item.completed\",\"item\":{\"type\":\"agent_message\",\"text\":\"two\"}}\n"
        "{\"type\":\"item.completed\",\"item\":{\"type\":\"reasoning\",\"text\":\"think\"}}\n"
        "{\"type\":\"item.completed\",\"item\":{\"type\":\"command_execution\"}}\n"
        "{\"type\":\"item.completed\",\"item\":{\"type\":\"error\"}}\n"
        "{\"type\":\"item.completed\",\"item\":\"none\"}\n"
        "{\"type\":\"turn.completed\",\"usage\":{\"input_tokens\":3,\"output_tokens\":4}}\n"
        "{\"type\":\"turn.completed\"}\n");
    EXPECT_EQ(described(summary),
              (std::vector<std::string>{"started: thread ", "message: one", "message: two",
                                        "tool: think", "error: error", "finished: turn completed",
                                        "finished: turn completed"}));
    EXPECT_EQ(summary.resultText, "two");
    EXPECT_EQ(summary.inputTokens, 3); // a report without usage leaves the counts alone
    EXPECT_EQ(summary.outputTokens, 4);
    RunSummary partial = codex.parse(
        "{\"type\":\"turn.completed\",\"usage\":{\"input_tokens\":3,\"output_tokens\":4}}\n"
        "{\"type\":\"turn.completed\",\"usage\":{\"input_tokens\":9}}\n");
    EXPECT_EQ(partial.inputTokens, 9);
    EXPECT_FALSE(partial.outputTokens);
}

TEST(OpencodeJSONParser, ReadsARealToolRunWithToolUseEvents) {
    RunSummary summary = opencode.parse(fixture("opencode-tool.jsonl"));
    EXPECT_EQ(described(summary),
              (std::vector<std::string>{"started: session ses_db306bc83ffeDttkLXNip54XxG",
                                        "tool: bash", "finished: tool-calls",
                                        "started: session ses_db306bc83ffeDttkLXNip54XxG",
                                        "message: DONE: hello from fake", "finished: stop"}));
    EXPECT_EQ(summary.resultText, "DONE: hello from fake");
    // Two steps, each reporting its own model call of 123 in and 17 out.
    EXPECT_EQ(summary.inputTokens, 246);
    EXPECT_EQ(summary.outputTokens, 34);
}

TEST(OpencodeJSONParser, StepReportsAddUpAndACountLeftOutAddsNothing) {
    RunSummary summary = opencode.parse(
        "{\"type\":\"step_finish\",\"part\":{\"tokens\":{\"input\":100,\"output\":10}}}\n"
        "{\"type\":\"step_finish\",\"part\":{\"tokens\":{\"input\":200}}}\n"
        "{\"type\":\"step_finish\",\"part\":{}}\n");
    EXPECT_EQ(summary.inputTokens, 300);
    EXPECT_EQ(summary.outputTokens, 10);
    EXPECT_FALSE(opencode.parse("{\"type\":\"step_finish\",\"part\":{}}\n").inputTokens);
}

TEST(OpencodeJSONParser, OlderToolEventsAreReadToo) {
    RunSummary summary = opencode.parse(R"({"type":"tool","part":{"tool":"edit"}})");
    EXPECT_EQ(described(summary), std::vector<std::string>{"tool: edit"});
}

TEST(OpencodeJSONParser, AnErrorIsAFailureAndKeepsTheResultEmpty) {
    RunSummary summary = opencode.parse(fixture("opencode-error500.jsonl"));
    EXPECT_EQ(summary.failureMessage, "fake internal server error");
    EXPECT_FALSE(summary.resultText);
    EXPECT_EQ(opencode.parse(R"({"type":"error","error":{"name":"APIError"}})").failureMessage,
              "APIError");
    EXPECT_EQ(opencode.parse(R"({"type":"error"})").failureMessage, "The run reported an error.");
}

TEST(OpencodeJSONParser, StreamedTextPartsJoinIntoTheResult) {
    std::string stream = "{\"type\":\"text\",\"part\":{\"text\":\"  hel\"}}\n"
                         "{\"type\":\"text\",\"part\":{\"text\":\"lo\\n\"}}\n";
    RunSummary summary = opencode.parse(stream);
    EXPECT_EQ(summary.resultText, "hello");
    EXPECT_EQ(described(summary), (std::vector<std::string>{"message: hel", "message: lo"}));
    RunSummary failed = opencode.parse(stream + "{\"type\":\"error\"}\n");
    EXPECT_FALSE(failed.resultText);
    // Lines needing a part are ignored without one.
    EXPECT_TRUE(opencode.parse("{\"type\":\"text\"}\n{\"type\":\"step_finish\"}").events.empty());
}

TEST(PiJSONParser, ReadsARealRun) {
    RunSummary summary = pi.parse(fixture("pi-tool.jsonl"));
    EXPECT_EQ(summary.resultText, "DONE: hello from fake");
    // Two assistant messages (the tool call, the answer), each 123 in and 17 out; the
    // user's and the tool's messages report nothing.
    EXPECT_EQ(summary.inputTokens, 246);
    EXPECT_EQ(summary.outputTokens, 34);
    EXPECT_FALSE(summary.failureMessage);
    EXPECT_EQ(described(summary).back(), "finished: finished");
}

TEST(PiJSONParser, EveryAttemptFailingIsAFailure) {
    RunSummary summary = pi.parse(fixture("pi-error500.jsonl"));
    EXPECT_EQ(summary.failureMessage, "500 fake internal server error");
    EXPECT_FALSE(summary.resultText);
}

TEST(PiJSONParser, ASuccessfulRetryClearsTheEarlierAttemptsFailure) {
    RunSummary summary = pi.parse(fixture("pi-retry-success.jsonl"));
    EXPECT_FALSE(summary.failureMessage);
    EXPECT_EQ(summary.resultText, "DONE: hello from fake");
    EXPECT_EQ(described(summary)[1], "error: 500 fake internal server error"); // still shown
}

TEST(PiJSONParser, ErrorStopsWithoutAResult) {
    RunSummary summary = pi.parse(
        R"({"type":"message_end","message":{"role":"assistant","stopReason":"error","content":[{"text":"x"}]}})");
    EXPECT_EQ(summary.failureMessage, "The run stopped with an error.");
    EXPECT_FALSE(summary.resultText);
    EXPECT_TRUE(
        pi.parse(R"({"type":"message_end","message":{"role":"user","content":[{"text":"x"}]}})")
            .events.empty());
}

TEST(RunEventStream, SummaryIsRepeatableAndIngestingContinues) {
    RunEventStream stream(RunEventParsers::parser(EventFormat::opencodeJSON));
    stream.ingest(R"({"type":"text","part":{"text":"a"}})");
    RunSummary first = stream.summary();
    EXPECT_EQ(first.resultText, "a");
    EXPECT_EQ(stream.summary(), first);
    stream.ingest(R"({"type":"text","part":{"text":"b"}})");
    EXPECT_EQ(stream.summary().resultText, "ab");
}

// Whatever bytes arrive, no parser throws or crashes, and every text it keeps is valid UTF-8.
TEST(RunEventParsing, SurvivesHostileInput) {
    std::vector<std::string> lines = {
        std::string(100000, '[') + std::string(100000, ']'),
        "{\"a\":" + std::string(100000, '[') + "}",
        "{\"type\":\"result\",\"usage\":" + std::string(100000, '[') + std::string(100000, ']') +
            "}",
        "{\"type\":\"assistant\",\"message\":{\"content\":[" + std::string(20000, '{'),
        std::string(50000, '{'),
        R"({"type":"result","usage":{"input_tokens":1e999,"output_tokens":-1e999}})",
        R"({"type":"result","usage":{"input_tokens":123456789012345678901234567890}})",
        R"({"type":"step_finish","part":{"tokens":{"input":9223372036854775807,"output":-9223372036854775808}}})",
        R"({"type":["result"],"result":7})",
        R"({"type":"result","result":{"x":1},"is_error":"true","permission_denials":[null]})",
        R"({"type":"message_end","message":{"role":"assistant","errorMessage":5,"content":"x"}})",
        R"({"type":"item.completed","item":{"type":null,"text":["x"]}})",
        R"({"type":"error","error":{"data":"x","name":3}})",
        "{\"type\":\"text\",\"part\":{\"text\":\"\\ud800\"}}",
        "\xFF\xFE{\"type\":\"system\"}",
        std::string("{\"type\":\"sys\0tem\"}", 18),
    };
    std::mt19937 random(7);
    for (int i = 0; i < 200; ++i) {
        std::string bytes(static_cast<std::size_t>(random() % 300), '\0');
        for (char& c : bytes)
            c = static_cast<char>(random());
        lines.push_back(bytes);
    }
    for (EventFormat format : {EventFormat::claudeStreamJSON, EventFormat::codexJSONL,
                               EventFormat::opencodeJSON, EventFormat::piJSON}) {
        const RunEventParsing& parser = RunEventParsers::parser(format);
        RunSummary summary;
        for (const std::string& line : lines)
            EXPECT_NO_THROW(parser.read(line, summary));
        parser.finish(summary);
        for (const RunEvent& event : summary.events)
            EXPECT_NO_THROW((void)Json(event.text).dump()) << rawValue(format);
    }
    RunSummary summary = claude.parse(lines[4]);
    EXPECT_FALSE(summary.inputTokens); // too large for 64 bits
}
