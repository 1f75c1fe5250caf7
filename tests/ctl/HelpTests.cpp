#include "ctl/SchedulerCommandSupport.h"

#include <fstream>
#include <regex>

namespace marrowbell {
namespace {

using CtlHelp = test::CtlTest;

TEST_F(CtlHelp, ListsTheCommandsByGroupAndTheVersion) {
    auto result = ctl({"help"});
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    std::size_t at = 0;
    for (const char* next : {"\nJobs:\n", "\n  edit       change a job", "\nRunning:\n",
                             "\nHistory:\n", "\nEndpoints and settings:\n"})
        EXPECT_NE(at = result.out.find(next, at), std::string::npos) << next << result.out;
    EXPECT_EQ(ctl({}).err, result.out) << "bare marrowbellctl shows the same on standard error";

    std::ifstream lists(std::string(MARROWBELL_SOURCE_DIR) + "/CMakeLists.txt");
    std::string text((std::istreambuf_iterator<char>(lists)), {});
    std::smatch version;
    ASSERT_TRUE(std::regex_search(text, version, std::regex(R"(project\(\w+ VERSION ([0-9.]+))")));
    EXPECT_EQ(ctl({"--version"}).out, "marrowbellctl " + version[1].str() + "\n");
}

// Each way of asking prints the same text: usage, options and an example.
TEST_F(CtlHelp, EveryWayOfAskingForACommandsHelpAgrees) {
    auto help = ctl({"help", "add"});
    ASSERT_EQ(help.exitStatus, 0) << help.err;
    EXPECT_THAT(help.out, StartsWith("marrowbellctl add \u2014 create a job"));
    EXPECT_THAT(help.out, HasSubstr("\nusage:\n  marrowbellctl add NAME --folder DIR"));
    EXPECT_THAT(help.out, HasSubstr("\noptions:\n  --folder DIR"));
    EXPECT_THAT(help.out, HasSubstr("\nexample:\n  marrowbellctl add "));
    for (const char* asked : {"add|--help", "add|-h", "add|Name|--folder|x|-h"}) {
        auto result = ctl(test::split(asked));
        EXPECT_EQ(result.exitStatus, 0);
        EXPECT_EQ(result.out, help.out) << asked;
    }
}

} // namespace
} // namespace marrowbell
