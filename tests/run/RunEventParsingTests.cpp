#include "base/Files.h"
#include "harness/EventFormat.h"
#include "run/ClaudeStreamJSONParser.h"
#include "run/CodexJSONLParser.h"
#include "run/OpencodeJSONParser.h"
#include "run/OutputLine.h"
#include "run/PiJSONParser.h"
#include "run/RunEventParsers.h"
#include "run/RunEventStream.h"

#include <array>
#include <gtest/gtest.h>
#include <random>
#include <sstream>

using namespace marrowbell;
using Kind = RunEvent::Kind;
using Events = std::vector<std::string>;

namespace {

const ClaudeStreamJSONParser claude;
const CodexJSONLParser codex;
const OpencodeJSONParser opencode;
const PiJSONParser pi;
const EventFormat formats[] = {EventFormat::claudeStreamJSON, EventFormat::codexJSONL,
                               EventFormat::opencodeJSON, EventFormat::piJSON};

// The events as "kind: text", for compact comparisons.
Events described(const RunSummary& summary) {
    Events out;
    for (const RunEvent& event : summary.events)
        out.push_back(std::string(rawValue(event.kind)) + ": " + event.text);
    return out;
}

const std::string blocked = "Blocked \u2014 ";
const std::string blockedTail =
    " needed permission this job does not allow. Raise what it may touch, or ask for something "
    "it can do without that tool.";

} // namespace

// What a run keeps of its events is bounded in number (the newest 500 once 1000 are
// reached) and in bytes, whatever a harness prints.
TEST(RunSummary, KeepsTheNewest500WhenReaching1000EventsAndCutsLongTexts) {
    RunSummary summary;
    const std::string huge(1u << 20, 'x');
    for (int i = 0; i < 999; ++i)
        summary.append(Kind::message, std::to_string(i) + " " + huge);
    EXPECT_EQ(summary.events.size(), 999u);
    std::size_t kept = 0;
    for (const RunEvent& event : summary.events)
        kept += event.text.size();
    EXPECT_LE(kept, RunSummary::eventLimit * RunSummary::eventTextLimit);
    EXPECT_TRUE(summary.events.back().text.ends_with("\u2026"));
    summary.append(Kind::message, "999");
    ASSERT_EQ(summary.events.size(), 500u);
    EXPECT_TRUE(summary.events.front().text.starts_with("500 "));
    EXPECT_EQ(summary.events.back().text, "999");
    summary.append(Kind::message, "1000");
    EXPECT_EQ(summary.events.size(), 501u);
    EXPECT_NE(summary.events[0].id, summary.events[1].id);
}

// Plain lines read together make only the events that remain, which must be just
// what reading them one by one leaves, across the drops at 1000 events.
TEST(RunSummary, LinesReadTogetherLeaveWhatReadingThemOneByOneLeaves) {
    std::mt19937 random(7);
    for (EventFormat format : formats) {
        const RunEventParsing& parser = RunEventParsers::parser(format);
        RunSummary oneByOne, together;
        std::vector<std::string> batch;
        std::size_t batchSize = 1;
        for (int i = 0; i < 6000; ++i) {
            // Objects break the plain lines into runs; the big batches have none.
            switch (batchSize >= 700 ? random() % 3 : random() % 6) {
            case 0:
                batch.push_back("  ");
                break;
            case 1:
                batch.push_back("bad \xFF " + std::to_string(i));
                break;
            case 2:
                batch.push_back(std::string(5000, 'y') + std::to_string(i));
                break;
            case 3:
                batch.push_back(random() % 2 ? "{\"type\":\"other\"}" : "{\"cut\": ");
                break;
            default:
                batch.push_back(" line " + std::to_string(i));
                break;
            }
            if (batch.size() < batchSize && i != 5999)
                continue;
            batchSize = std::array<std::size_t, 4>{1, 97, 700, 1600}[random() % 4];
            std::vector<std::string_view> lines(batch.begin(), batch.end());
            for (std::string_view line : lines)
                parser.read(line, oneByOne);
            parser.readLines(lines, together);
            batch.clear();
            ASSERT_EQ(described(together), described(oneByOne)) << i;
        }
    }
}

TEST(OutputLine, BlankLinesChangeNothingAndNonObjectsBecomeMessages) {
    RunSummary summary;
    for (const char* line : {"", " \t\xC2\xA0 ", "  plain words here ",
                             "[1, {\"type\": \"system\"}]", "42", "{\"unterminated\": "})
        EXPECT_FALSE(OutputLine::decode(line, summary)) << line;
    EXPECT_EQ(described(summary),
              (Events{"message: plain words here", "message: [1, {\"type\": \"system\"}]",
                      "message: 42", "message: {\"unterminated\":"}));
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
    EXPECT_EQ(described(summary), (Events{"finished: finished", "finished: finished",
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
    EXPECT_FALSE(o.string("n") || o.string("i"));
    EXPECT_EQ(o.integer("i"), 12);
    EXPECT_EQ(o.integer("f"), 12);
    for (const char* notAnInt64 : {"h", "big", "u", "s"})
        EXPECT_FALSE(o.integer(notAnInt64)) << notAnInt64;
    EXPECT_TRUE(o.isTrue("b"));
    EXPECT_FALSE(o.isTrue("bs"));
    EXPECT_TRUE(o.object("o"));
    EXPECT_FALSE(o.object("a"));
    EXPECT_EQ(o.array("a").size(), 3u);
    EXPECT_EQ(o.joinedText("a"), "x\ny");
    EXPECT_TRUE(o.array("mixed").empty());
    EXPECT_FALSE(o.joinedText("mixed") || o.joinedText("missing"));
}

struct RealRun {
    const char* file; // in tests/data/run, captured from the real tool
    EventFormat format;
    std::optional<std::string> result, failure;
    bool toolRun = false;    // two model calls of 123 tokens in and 17 out
    std::string events = ""; // beginnings of events found in this order, "|" between
    std::size_t count = 0;   // of all the events, when not 0
    std::optional<std::string> warning = {};
};

class RealRuns : public testing::TestWithParam<RealRun> {};

TEST_P(RealRuns, YieldResultFailureTokensAndEvents) {
    const RealRun& c = GetParam();
    auto stream = files::read(std::string(MARROWBELL_TEST_DATA_DIR) + "/run/" + c.file + ".jsonl");
    ASSERT_TRUE(stream);
    RunSummary summary = RunEventParsers::parser(c.format).parse(*stream);
    EXPECT_EQ(summary.resultText, c.result);
    EXPECT_EQ(summary.failureMessage, c.failure);
    if (c.toolRun) {
        EXPECT_EQ(summary.inputTokens, 246);
        EXPECT_EQ(summary.outputTokens, 34);
    }
    EXPECT_EQ(summary.warning, c.warning);
    Events all = described(summary);
    EXPECT_TRUE(!c.count || all.size() == c.count) << testing::PrintToString(all);
    auto at = all.begin();
    std::istringstream events(c.events);
    for (std::string event; std::getline(events, event, '|');) {
        at =
            std::find_if(at, all.end(), [&](const std::string& e) { return e.starts_with(event); });
        EXPECT_NE(at, all.end()) << event << " in order in " << testing::PrintToString(all);
    }
}

const std::string done = "DONE: hello from fake", fake500 = "500 fake internal server error";
const std::string demand =
    "We\u2019re currently experiencing high demand, which may cause temporary errors.";
const std::nullopt_t none = std::nullopt;

// Each harness's tool run and failures; an error result with subtype "success" is a
// failure, and a successful retry clears the earlier attempt's failure though its event
// stays.
INSTANTIATE_TEST_SUITE_P(
    Harnesses, RealRuns,
    testing::Values(
        RealRun{"claude-tool-denied", EventFormat::claudeStreamJSON, done, none, true,
                "started: session 38c2fe94-467e-4ab6-981f-cf4464a2582a|message: I will use a "
                "tool.|message: " +
                    done + "|finished: success",
                4, blocked + "Bash" + blockedTail},
        RealRun{"claude-error401", EventFormat::claudeStreamJSON, none,
                "Invalid API key \u00B7 Fix external API key"},
        RealRun{"codex-tool-workspace", EventFormat::codexJSONL, done, none, true,
                "started: thread 01a24cf4-7c9d-7251-9088-610e36e3c92f|error: Model "
                "metadata|message: " +
                    done + "|finished: turn completed",
                4},
        RealRun{"codex-error500", EventFormat::codexJSONL, none, demand, false, "error: " + demand},
        RealRun{"opencode-tool", EventFormat::opencodeJSON, done, none, true,
                "started: session ses_db306bc83ffeDttkLXNip54XxG|tool: bash|finished: "
                "tool-calls|started: session ses_db306bc83ffeDttkLXNip54XxG|message: " +
                    done + "|finished: stop",
                6},
        RealRun{"opencode-error500", EventFormat::opencodeJSON, none, "fake internal server error"},
        RealRun{"pi-tool", EventFormat::piJSON, done, none, true, "finished: finished"},
        RealRun{"pi-error500", EventFormat::piJSON, none, fake500},
        RealRun{"pi-retry-success", EventFormat::piJSON, done, none, false,
                "error: " + fake500 + "|message: " + done}),
    [](const auto& info) {
        std::string name = info.param.file;
        std::erase(name, '-');
        return name;
    });

TEST(ClaudeStreamJSONParser, ResultRules) {
    RunSummary summary = claude.parse(
        "{\"type\":\"system\"}\n"
        "{\"type\":\"assistant\",\"message\":{\"content\":[{\"type\":\"tool_use\"}]}}\n"
        "{\"type\":\"result\",\"result\":\"partial\",\"usage\":{\"input_tokens\":5,\"output_"
        "tokens\":6}}\n"
        "{\"type\":\"result\",\"is_error\":true,\"usage\":{\"input_tokens\":7}}\n");
    EXPECT_EQ(described(summary),
              (Events{"started: session started", "finished: finished", "finished: finished"}));
    EXPECT_EQ(summary.failureMessage, "The run reported an error.");
    EXPECT_FALSE(summary.resultText); // cleared
    EXPECT_EQ(summary.inputTokens, 7);
    EXPECT_FALSE(summary.outputTokens); // replaced, not kept
}

struct DenialCase {
    const char* name;
    const char* denials;
    const char* tools; // none: no warning
};

class BlockedTools : public testing::TestWithParam<DenialCase> {};

TEST_P(BlockedTools, NamesToolsByCountThenName) {
    std::optional<std::string> warning =
        claude
            .parse(std::string("{\"type\":\"result\",\"permission_denials\":") +
                   GetParam().denials + "}")
            .warning;
    if (GetParam().tools)
        EXPECT_EQ(warning, blocked + GetParam().tools + blockedTail);
    else
        EXPECT_FALSE(warning) << *warning;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BlockedTools,
    testing::Values(
        DenialCase{"counted", R"([{"tool_name":"E"},{"tool_name":"B"},{"tool_name":"E"}])",
                   "E \u00D72, B"},
        DenialCase{"sorted", R"([{"tool_name":"Write"},{"tool_name":"Bash"}])", "Bash, Write"},
        DenialCase{"unnamed", R"([{"tool_name":1},{"other":"x"}])", "A tool"},
        DenialCase{"empty", "[]", nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CodexJSONLParser, UsageAgentMessagesAndFailedTurns) {
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
              (Events{"started: thread ", "message: one", "message: two", "tool: think",
                      "error: error", "finished: turn completed", "finished: turn completed"}));
    EXPECT_EQ(summary.resultText, "two");
    EXPECT_EQ(summary.inputTokens, 3); // a report without usage leaves the counts alone
    EXPECT_EQ(summary.outputTokens, 4);
    RunSummary partial = codex.parse(
        "{\"type\":\"turn.completed\",\"usage\":{\"input_tokens\":3,\"output_tokens\":4}}\n"
        "{\"type\":\"turn.completed\",\"usage\":{\"input_tokens\":9}}\n");
    EXPECT_EQ(partial.inputTokens, 9);
    EXPECT_FALSE(partial.outputTokens);
    RunSummary failed = codex.parse(R"({"type":"turn.failed","error":"text"})");
    EXPECT_EQ(failed.failureMessage, "The turn failed.");
    EXPECT_EQ(described(failed), Events{"error: The turn failed."});
}

TEST(OpencodeJSONParser, StepReportsAddUpAndTextPartsJoin) {
    RunSummary summary = opencode.parse(
        "{\"type\":\"step_finish\",\"part\":{\"tokens\":{\"input\":100,\"output\":10}}}\n"
        "{\"type\":\"step_finish\",\"part\":{\"tokens\":{\"input\":200}}}\n"
        "{\"type\":\"step_finish\",\"part\":{}}\n");
    EXPECT_EQ(summary.inputTokens, 300);
    EXPECT_EQ(summary.outputTokens, 10); // a count left out adds nothing
    EXPECT_FALSE(opencode.parse("{\"type\":\"step_finish\",\"part\":{}}\n").inputTokens);
    EXPECT_EQ(described(opencode.parse(R"({"type":"tool","part":{"tool":"edit"}})")),
              Events{"tool: edit"}); // the older tool events

    std::string stream = "{\"type\":\"text\",\"part\":{\"text\":\"  hel\"}}\n"
                         "{\"type\":\"text\",\"part\":{\"text\":\"lo\\n\"}}\n";
    RunSummary text = opencode.parse(stream);
    EXPECT_EQ(text.resultText, "hello");
    EXPECT_EQ(described(text), (Events{"message: hel", "message: lo"}));
    EXPECT_FALSE(opencode.parse(stream + "{\"type\":\"error\"}\n").resultText);
    // Lines needing a part are ignored without one.
    EXPECT_TRUE(opencode.parse("{\"type\":\"text\"}\n{\"type\":\"step_finish\"}").events.empty());
    EXPECT_EQ(opencode.parse(R"({"type":"error","error":{"name":"APIError"}})").failureMessage,
              "APIError");
    EXPECT_EQ(opencode.parse(R"({"type":"error"})").failureMessage, "The run reported an error.");
}

TEST(PiJSONParser, ErrorStopsWithoutAResultAndOnlyTheAssistantCounts) {
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
    const std::string deep(100000, '['), closed(100000, ']');
    std::vector<std::string> lines = {
        deep + closed,
        "{\"a\":" + deep + "}",
        "{\"type\":\"result\",\"usage\":" + deep + closed + "}",
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
        std::string& bytes = lines.emplace_back(static_cast<std::size_t>(random() % 300), '\0');
        for (char& c : bytes)
            c = static_cast<char>(random());
    }
    for (EventFormat format : formats) {
        const RunEventParsing& parser = RunEventParsers::parser(format);
        RunSummary summary;
        for (const std::string& line : lines)
            EXPECT_NO_THROW(parser.read(line, summary));
        parser.finish(summary);
        for (const RunEvent& event : summary.events)
            EXPECT_NO_THROW((void)Json(event.text).dump()) << rawValue(format);
    }
    EXPECT_FALSE(claude.parse(lines[6]).inputTokens); // too large for 64 bits
}
