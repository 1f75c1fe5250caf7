#include "base/Files.h"
#include "base/Json.h"
#include "support/TestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace marrowbell;
using ::testing::HasSubstr;

namespace {

const std::string streams = std::string(MARROWBELL_TEST_DATA_DIR) + "/run/";

test::ProcessResult parse(const std::vector<std::string>& arguments,
                          const std::string& input = "") {
    test::TempDir home;
    std::vector<std::string> argv = {test::builtBinary("marrowbellctl").string(), "parse"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return test::runProcess(argv, input, {"XDG_DATA_HOME=" + home.path().string()});
}

} // namespace

TEST(ParseCommand, PrintsTheSummaryOfAFileAndExitsOneWhenItCannotBeRead) {
    auto result = parse({"claudeStreamJSON", streams + "claude-tool-denied.jsonl"});
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    for (const char* line :
         {"  message   DONE: hello from fake\n", "Result: DONE: hello from fake\n",
          "Tokens: 246 input, 34 output\n", "Failure: none\n",
          "Warning: Blocked \xE2\x80\x94 Bash needed permission"})
        EXPECT_THAT(result.out, HasSubstr(line));
    auto missing = parse({"piJSON", "/nonexistent/stream.jsonl"});
    EXPECT_EQ(missing.exitStatus, 1);
    EXPECT_THAT(missing.err, HasSubstr("cannot read /nonexistent/stream.jsonl"));
}

TEST(ParseCommand, JsonFromStandardInputHasIntegerTokensAndLeavesAbsentValuesOut) {
    auto result = parse({"--json", "opencodeJSON"}, *files::read(streams + "opencode-tool.jsonl"));
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    const Json summary = Json::parse(result.out);
    EXPECT_TRUE(summary["inputTokens"].is_number_integer());
    EXPECT_EQ(summary["inputTokens"], 246); // two steps of 123
    EXPECT_EQ(summary["resultText"], "DONE: hello from fake");
    EXPECT_FALSE(summary.contains("failureMessage"));
    EXPECT_FALSE(summary.contains("warning"));
    EXPECT_EQ(summary["events"][1], (Json{{"kind", "tool"}, {"text", "bash"}}));
}

// Standard input goes through a run's line splitting: invalid UTF-8 repaired, an
// unterminated last line read.
TEST(ParseCommand, RepairsInvalidUtf8AndReadsAnUnterminatedLastLine) {
    auto result = parse({"piJSON", "-", "--json"}, "not json \xFF\xFE\n{\"type\":\"agent_end\"}");
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    const Json events = Json::parse(result.out)["events"];
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0]["text"], "not json \xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(events[1]["kind"], "finished");
}
