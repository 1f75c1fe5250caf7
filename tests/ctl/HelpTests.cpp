#include "support/TestSupport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <regex>

using ::testing::HasSubstr;
using ::testing::StartsWith;

namespace marrowbell {
namespace {

test::ProcessResult ctl(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), test::builtBinary("marrowbellctl").string());
    return test::runProcess(arguments, "", {});
}

TEST(CtlHelp, ListsTheCommandsByGroupAndTheVersion) {
    auto result = ctl({"help"});
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    const std::size_t jobs = result.out.find("\nJobs:\n");
    const std::size_t edit = result.out.find("\n  edit       change a job");
    const std::size_t running = result.out.find("\nRunning:\n");
    const std::size_t history = result.out.find("\nHistory:\n");
    const std::size_t endpoints = result.out.find("\nEndpoints and settings:\n");
    EXPECT_TRUE(jobs < edit && edit < running && running < history && history < endpoints &&
                endpoints != std::string::npos)
        << result.out;
    EXPECT_EQ(ctl({}).err, result.out) << "bare marrowbellctl shows the same on standard error";

    std::ifstream lists(std::string(MARROWBELL_SOURCE_DIR) + "/CMakeLists.txt");
    std::string text((std::istreambuf_iterator<char>(lists)), {});
    std::smatch version;
    ASSERT_TRUE(std::regex_search(text, version, std::regex(R"(project\(\w+ VERSION ([0-9.]+))")));
    EXPECT_EQ(ctl({"--version"}).out, "marrowbellctl " + version[1].str() + "\n");
}

// Each way of asking prints the same text: usage, options and an example.
TEST(CtlHelp, EveryWayOfAskingForACommandsHelpAgrees) {
    auto help = ctl({"help", "add"});
    ASSERT_EQ(help.exitStatus, 0) << help.err;
    EXPECT_THAT(help.out, StartsWith("marrowbellctl add \u2014 create a job"));
    EXPECT_THAT(help.out, HasSubstr("\nusage:\n  marrowbellctl add NAME --folder DIR"));
    EXPECT_THAT(help.out, HasSubstr("\noptions:\n  --folder DIR"));
    EXPECT_THAT(help.out, HasSubstr("\nexample:\n  marrowbellctl add "));
    for (std::vector<std::string> asked : {std::vector<std::string>{"add", "--help"},
                                           {"add", "-h"},
                                           {"add", "Name", "--folder", "x", "-h"}}) {
        auto result = ctl(asked);
        EXPECT_EQ(result.exitStatus, 0);
        EXPECT_EQ(result.out, help.out) << asked.back();
    }
}

} // namespace
} // namespace marrowbell
