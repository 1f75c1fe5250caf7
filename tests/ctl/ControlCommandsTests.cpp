#include "ctl/SchedulerCommandSupport.h"

#include <algorithm>

namespace marrowbell {
namespace {

using namespace std::chrono_literals;
using test::eventually;

// Each run adds a line to "started" in the working folder, prints one event and one
// line of standard error, then waits to be stopped.
class ControlCommands : public test::CtlTest {
protected:
    ControlCommands() {
        harness("cat >/dev/null\n"
                "echo '{\"type\":\"system\",\"session_id\":\"s\"}'\n"
                "echo 'thinking hard' >&2\n"
                "echo $$ >> \"$PWD/started\"\n"
                "exec sleep 60\n");
        saved(job("Audit", Instant::now(), "0 3 1 1 *"));
    }
    int startedRuns() const {
        auto text = files::read(work() / "started");
        return text ? static_cast<int>(std::count(text->begin(), text->end(), '\n')) : 0;
    }
    bool answers() const { return ctl({"status"}).exitStatus == 0; }
    Json status() const { return Json::parse(ctl({"status", "--json"}).out); }
};

// Two terminals run the same job through the daemon: two runs, two records; Ctrl-C in
// one cancels only its own, `stop` the other; `status` and `follow` see them meanwhile.
TEST_F(ControlCommands, RunsFromTwoTerminalsGoThroughTheDaemon) {
    auto none = ctl({"status"});
    EXPECT_EQ(none.exitStatus, 3);
    EXPECT_EQ(none.out, "No Marrowbell scheduler is running.\n");
    EXPECT_EQ(status()["running"], false);

    auto daemon = start({"daemon"}, "daemon");
    ASSERT_TRUE(eventually([&] { return answers(); })) << daemon->err();
    auto first = start({"run", "Audit"}, "first");
    auto second = start({"run", "Audit"}, "second");
    ASSERT_TRUE(eventually([&] { return startedRuns() == 2; })) << first->err() << second->err();
    EXPECT_TRUE(eventually([&] { return first->out().find("session_id") != std::string::npos; }))
        << "the output streams live: " << first->out();

    auto shown = ctl({"status"});
    EXPECT_EQ(shown.exitStatus, 0);
    EXPECT_THAT(shown.out, HasSubstr("(daemon)"));
    EXPECT_THAT(shown.out, HasSubstr("Audit  started "));
    ASSERT_EQ(status()["runs"].size(), 2u);
    EXPECT_GT(status()["runs"][0]["pid"].get<int>(), 0);

    first->signal(SIGINT);
    EXPECT_EQ(first->wait(), 1);
    EXPECT_THAT(first->err(), HasSubstr("Audit: Cancelled after "));
    EXPECT_EQ(status()["runs"].size(), 1u);

    auto follower = start({"follow", "Audit"}, "follow");
    ASSERT_TRUE(eventually([&] {
        return follower->out().find("stderr: thinking hard") != std::string::npos;
    })) << "follow starts from the run's beginning: "
        << follower->out() << follower->err();
    EXPECT_EQ(ctl({"stop", "Audit"}).exitStatus, 0);
    EXPECT_EQ(second->wait(), 1);
    EXPECT_EQ(follower->wait(), 1) << "the followed run was cancelled";
    EXPECT_EQ(ctl({"stop", "Audit"}).exitStatus, 1) << "nothing left to stop";

    daemon->signal(SIGTERM);
    EXPECT_EQ(daemon->wait(), 0);
    auto runs = this->runs();
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_TRUE(runs[0].wasCancelled && runs[1].wasCancelled);
    EXPECT_THAT(ctl({"log", "Audit"}).out, HasSubstr("stderr: thinking hard"));
}

TEST_F(ControlCommands, ADaemonKilledMidRunLeavesAReadableTranscriptAndNoScheduler) {
    auto daemon = start({"daemon"}, "daemon");
    ASSERT_TRUE(eventually([&] { return answers(); })) << daemon->err();
    auto run = start({"run", "Audit"}, "run");
    ASSERT_TRUE(eventually([&] { return startedRuns() == 1; })) << run->err();
    Json shown = status();
    ASSERT_EQ(shown["runs"].size(), 1u);
    std::string runID = shown["runs"][0]["run"];
    pid_t harness = shown["runs"][0]["pid"];
    // The transcripts of a quiet harness reach the disk within a fraction of a second.
    std::this_thread::sleep_for(500ms);

    daemon->signal(SIGKILL);
    EXPECT_EQ(daemon->wait(), 128 + SIGKILL);
    ::kill(-harness, SIGKILL); // what the daemon would have stopped
    EXPECT_EQ(run->wait(), 1);
    EXPECT_THAT(run->err(), HasSubstr("went away"));
    EXPECT_EQ(ctl({"status"}).exitStatus, 3);
    auto log = ctl({"log", runID});
    EXPECT_EQ(log.exitStatus, 0) << log.err;
    EXPECT_THAT(log.out, HasSubstr("session_id"));
    EXPECT_THAT(log.out, HasSubstr("stderr: thinking hard"));

    daemon = start({"daemon"}, "daemon2");
    EXPECT_TRUE(eventually([&] { return answers(); })) << "the stale socket is replaced";
    daemon->signal(SIGTERM);
    EXPECT_EQ(daemon->wait(), 0);
}

} // namespace
} // namespace marrowbell
