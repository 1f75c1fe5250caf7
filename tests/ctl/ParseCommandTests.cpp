#include "base/Files.h"
#include "base/Json.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace marrowbell;

namespace {

std::string streams() {
    return std::string(MARROWBELL_TEST_DATA_DIR) + "/run/";
}

test::ProcessResult parse(const std::vector<std::string>& arguments,
                          const std::string& input = "") {
    test::TempDir home;
    std::vector<std::string> argv = {test::builtBinary("marrowbellctl").string(), "parse"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return test::runProcess(argv, input, {"XDG_DATA_HOME=" + home.path().string()});
}

} // namespace

TEST(ParseCommand, PrintsTheSummaryOfAFile) {
    auto result = parse({"claudeStreamJSON", streams() + "claude-tool-denied.jsonl"});
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_NE(result.out.find("  message   DONE: hello from fake\n"), std::string::npos);
    EXPECT_NE(result.out.find("Result: DONE: hello from fake\n"), std::string::npos);
    EXPECT_NE(result.out.find("Tokens: 246 input, 34 output\n"), std::string::npos);
    EXPECT_NE(result.out.find("Failure: none\n"), std::string::npos);
    EXPECT_NE(result.out.find("Warning: Blocked \xE2\x80\x94 Bash needed permission"),
              std::string::npos);
}

TEST(ParseCommand, JsonFromStandardInputHasIntegerTokensAndLeavesAbsentValuesOut) {
    auto content = files::read(streams() + "opencode-tool.jsonl");
    ASSERT_TRUE(content);
    auto result = parse({"--json", "opencodeJSON"}, *content);
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    auto summary = json::parse(result.out);
    ASSERT_TRUE(summary) << result.out;
    EXPECT_TRUE((*summary)["inputTokens"].is_number_integer());
    EXPECT_EQ((*summary)["inputTokens"], 246); // two steps of 123
    EXPECT_EQ((*summary)["resultText"], "DONE: hello from fake");
    EXPECT_FALSE(summary->contains("failureMessage"));
    EXPECT_FALSE(summary->contains("warning"));
    EXPECT_EQ((*summary)["events"][1], (Json{{"kind", "tool"}, {"text", "bash"}}));
}

TEST(ParseCommand, RepairsInvalidUtf8AndReadsAnUnterminatedLastLine) {
    std::string input = "not json \xFF\xFE\n"
                        "{\"type\":\"session\",\"id\":\"s\xC3\"}\n"
                        "{\"type\":\"agent_end\"}";
    auto result = parse({"piJSON", "-", "--json"}, input);
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    auto summary = json::parse(result.out);
    ASSERT_TRUE(summary) << result.out;
    const Json& events = (*summary)["events"];
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0]["text"], "not json \xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(events[1]["text"], "session s\xEF\xBF\xBD");
    EXPECT_EQ(events[2]["kind"], "finished");
}

TEST(ParseCommand, ArgumentErrors) {
    EXPECT_EQ(parse({}).exitStatus, 2);
    auto unknown = parse({"yaml"});
    EXPECT_EQ(unknown.exitStatus, 2);
    EXPECT_NE(unknown.err.find("unknown format \"yaml\""), std::string::npos);
    EXPECT_EQ(parse({"piJSON", "a", "b"}).exitStatus, 2);
    EXPECT_EQ(parse({"piJSON", "--yaml"}).exitStatus, 2);
    auto missing = parse({"piJSON", "/nonexistent/stream.jsonl"});
    EXPECT_EQ(missing.exitStatus, 1);
    EXPECT_NE(missing.err.find("cannot read /nonexistent/stream.jsonl"), std::string::npos);
}
