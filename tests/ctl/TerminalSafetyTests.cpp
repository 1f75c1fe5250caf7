#include "ctl/SchedulerCommandSupport.h"

#include <algorithm>

namespace marrowbell {
namespace {

// A name that would clear the screen, open a control sequence through C1 and print
// the rest of the line mirrored, were it obeyed.
const std::string hostile = "Evil\x1b[2J\xc2\x9b"
                            "1m\u202Eexe.gnp\n";

class CtlTerminalSafety : public test::CtlTest, public testing::WithParamInterface<const char*> {};

TEST_P(CtlTerminalSafety, NamesAndAgentTextArePrintedVisiblyNeverObeyed) {
    Job job = this->job(hostile, Instant::now(), "*/5 * * * *");
    job.isPaused = std::string(GetParam()).starts_with("resume");
    saved(job);
    endpoint(hostile);
    RunRecord run;
    run.jobID = job.id;
    run.resultText = "done " + hostile;
    RunHistory(support() / "runs.json").record(run);

    auto arguments = test::split(GetParam());
    std::replace(arguments.begin(), arguments.end(), std::string("{job}"), job.id.text());
    auto result = ctl(arguments);
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    const std::string printed = result.out + result.err;
    for (const char* obeyed : {"\x1b", "\xc2\x9b", "\u202E"})
        EXPECT_THAT(printed, Not(HasSubstr(obeyed)));
    EXPECT_THAT(printed, HasSubstr("Evil\\u001B[2J\\u009B1m\\u202Eexe.gnp\\u000A"));
}

INSTANTIATE_TEST_SUITE_P(Commands, CtlTerminalSafety,
                         testing::Values("jobs", "upcoming", "pause|{job}", "resume|{job}",
                                         "delete|{job}", "endpoints", "runs"));

using CtlJson = test::CtlTest;

// JSON is for programs: the name comes back exactly.
TEST_F(CtlJson, KeepsNamesExact) {
    saved(job(hostile));
    EXPECT_EQ(Json::parse(ctl({"jobs", "--json"}).out)[0]["name"], hostile);
}

} // namespace
} // namespace marrowbell
