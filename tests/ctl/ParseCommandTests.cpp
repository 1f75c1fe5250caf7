#include "base/Files.h"
#include "base/Json.h"
#include "support/TestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace marrowbell;

using ::testing::HasSubstr;
using ::testing::StartsWith;

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

TEST(ParseCommand, PrintsTheSummaryOfAFileAndExitsOneWhenItCannotBeRead) {
    auto result = parse({"claudeStreamJSON", streams() + "claude-tool-denied.jsonl"});
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_THAT(result.out, HasSubstr("  message   DONE: hello from fake\n"));
    EXPECT_THAT(result.out, HasSubstr("Result: DONE: hello from fake\n"));
    EXPECT_THAT(result.out, HasSubstr("Tokens: 246 input, 34 output\n"));
    EXPECT_THAT(result.out, HasSubstr("Failure: none\n"));
    EXPECT_THAT(result.out, HasSubstr("Warning: Blocked \xE2\x80\x94 Bash needed permission"));
    auto missing = parse({"piJSON", "/nonexistent/stream.jsonl"});
    EXPECT_EQ(missing.exitStatus, 1);
    EXPECT_THAT(missing.err, HasSubstr("cannot read /nonexistent/stream.jsonl"));
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
