#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>

namespace marrowbell {
namespace {

test::ProcessResult ctl(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), test::builtBinary("marrowbellctl").string());
    return test::runProcess(arguments, "", {});
}

TEST(CtlHelp, ListsTheCommandsByGroupWithALineEach) {
    auto result = ctl({"help"});
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    const std::size_t jobs = result.out.find("\nJobs:\n");
    const std::size_t running = result.out.find("\nRunning:\n");
    const std::size_t history = result.out.find("\nHistory:\n");
    const std::size_t endpoints = result.out.find("\nEndpoints and settings:\n");
    EXPECT_TRUE(jobs < running && running < history && history < endpoints &&
                endpoints != std::string::npos)
        << result.out;
    const std::size_t edit = result.out.find("\n  edit       change a job");
    EXPECT_TRUE(jobs < edit && edit < running) << result.out;
    EXPECT_EQ(ctl({}).err, result.out) << "bare marrowbellctl shows the same on standard error";
}

// Each way of asking prints the same text: usage, options and an example.
TEST(CtlHelp, EveryWayOfAskingForACommandsHelpAgrees) {
    auto help = ctl({"help", "add"});
    ASSERT_EQ(help.exitStatus, 0) << help.err;
    EXPECT_EQ(help.out.rfind("marrowbellctl add \u2014 create a job", 0), 0u) << help.out;
    EXPECT_NE(help.out.find("\nusage:\n  marrowbellctl add NAME --folder DIR"), std::string::npos);
    EXPECT_NE(help.out.find("\noptions:\n  --folder DIR"), std::string::npos);
    EXPECT_NE(help.out.find("\nexample:\n  marrowbellctl add "), std::string::npos);
    for (std::vector<std::string> asked : {std::vector<std::string>{"add", "--help"},
                                           {"add", "-h"},
                                           {"add", "Name", "--folder", "x", "-h"}}) {
        auto result = ctl(asked);
        EXPECT_EQ(result.exitStatus, 0);
        EXPECT_EQ(result.out, help.out) << asked.back();
    }
    auto unknown = ctl({"help", "frobnicate"});
    EXPECT_EQ(unknown.exitStatus, 2);
    EXPECT_NE(unknown.err.find("no command is called \u201Cfrobnicate\u201D"), std::string::npos);
}

TEST(CtlHelp, VersionIsTheProjectsVersion) {
    std::ifstream lists(std::string(MARROWBELL_SOURCE_DIR) + "/CMakeLists.txt");
    std::string text((std::istreambuf_iterator<char>(lists)), {});
    std::smatch version;
    ASSERT_TRUE(std::regex_search(text, version, std::regex(R"(project\(\w+ VERSION ([0-9.]+))")));
    auto result = ctl({"--version"});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.out, "marrowbellctl " + version[1].str() + "\n");
}

} // namespace
} // namespace marrowbell
