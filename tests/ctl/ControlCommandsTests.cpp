#include "ctl/SchedulerCommandSupport.h"

#include <gtest/gtest.h>

using namespace marrowbell;
using namespace std::chrono_literals;
using test::BackgroundCtl;
using test::CtlHome;
using test::eventually;

namespace {

// Each run adds a line to "started" in the working folder, prints one event and one
// line of standard error, then waits to be stopped.
const char* hangingHarness = "cat >/dev/null\n"
                             "echo '{\"type\":\"system\",\"session_id\":\"s\"}'\n"
                             "echo 'thinking hard' >&2\n"
                             "echo $$ >> \"$PWD/started\"\n"
                             "exec sleep 60\n";

int startedRuns(const CtlHome& home) {
    auto text = files::read(home.work() / "started");
    return text ? static_cast<int>(std::count(text->begin(), text->end(), '\n')) : 0;
}

bool answers(const CtlHome& home) {
    return home.ctl({"status"}).exitStatus == 0;
}

} // namespace

TEST(StatusCommand, ExitsThreeWhenNoSchedulerRuns) {
    CtlHome home;
    auto text = home.ctl({"status"});
    EXPECT_EQ(text.exitStatus, 3);
    EXPECT_EQ(text.out, "No Marrowbell scheduler is running.\n");
    auto json = home.ctl({"status", "--json"});
    EXPECT_EQ(json.exitStatus, 3);
    EXPECT_EQ(Json::parse(json.out)["running"], false);
}

// Two terminals run the same job through the daemon: two runs, two records; Ctrl-C in
// one cancels only its own, `stop` the other; `status` and `follow` see them meanwhile.
TEST(ControlCommands, RunsFromTwoTerminalsGoThroughTheDaemon) {
    CtlHome home;
    home.harness(hangingHarness);
    Job job = home.job("Audit", Instant::now(), "0 3 1 1 *");
    home.save(job);
    BackgroundCtl daemon({"daemon"}, home.environment(), home.root / "daemon");
    ASSERT_TRUE(eventually([&] { return answers(home); })) << daemon.err();

    BackgroundCtl first({"run", "Audit"}, home.environment(), home.root / "first");
    BackgroundCtl second({"run", "Audit"}, home.environment(), home.root / "second");
    ASSERT_TRUE(eventually([&] { return startedRuns(home) == 2; })) << first.err() << second.err();
    EXPECT_TRUE(eventually([&] { return first.out().find("session_id") != std::string::npos; }))
        << "the output streams live: " << first.out();

    auto status = home.ctl({"status"});
    EXPECT_EQ(status.exitStatus, 0);
    EXPECT_NE(status.out.find("(daemon)"), std::string::npos) << status.out;
    EXPECT_NE(status.out.find("Audit  started "), std::string::npos) << status.out;
    auto json = Json::parse(home.ctl({"status", "--json"}).out);
    ASSERT_EQ(json["runs"].size(), 2u);
    EXPECT_GT(json["runs"][0]["pid"].get<int>(), 0);

    first.signal(SIGINT);
    EXPECT_EQ(first.wait(), 1);
    EXPECT_NE(first.err().find("Audit: Cancelled after "), std::string::npos) << first.err();
    EXPECT_EQ(Json::parse(home.ctl({"status", "--json"}).out)["runs"].size(), 1u);

    BackgroundCtl follower({"follow", "Audit"}, home.environment(), home.root / "follow");
    ASSERT_TRUE(eventually([&] {
        return follower.out().find("stderr: thinking hard") != std::string::npos;
    })) << "follow starts from the run's beginning: "
        << follower.out() << follower.err();
    auto stop = home.ctl({"stop", "Audit"});
    EXPECT_EQ(stop.exitStatus, 0) << stop.err;
    EXPECT_EQ(second.wait(), 1);
    EXPECT_EQ(follower.wait(), 1) << "the followed run was cancelled";
    EXPECT_EQ(home.ctl({"stop", "Audit"}).exitStatus, 1) << "nothing left to stop";

    daemon.signal(SIGTERM);
    EXPECT_EQ(daemon.wait(), 0);
    auto runs = home.runs();
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_TRUE(runs[0].wasCancelled && runs[1].wasCancelled);
    auto log = home.ctl({"log", "Audit"});
    EXPECT_EQ(log.exitStatus, 0);
    EXPECT_NE(log.out.find("stderr: thinking hard"), std::string::npos) << log.out;
}

TEST(ControlCommands, ADaemonKilledMidRunLeavesAReadableTranscriptAndNoScheduler) {
    CtlHome home;
    home.harness(hangingHarness);
    Job job = home.job("Audit", Instant::now(), "0 3 1 1 *");
    home.save(job);
    auto daemon = std::make_unique<BackgroundCtl>(std::vector<std::string>{"daemon"},
                                                  home.environment(), home.root / "daemon");
    ASSERT_TRUE(eventually([&] { return answers(home); })) << daemon->err();
    BackgroundCtl run({"run", "Audit"}, home.environment(), home.root / "run");
    ASSERT_TRUE(eventually([&] { return startedRuns(home) == 1; })) << run.err();
    Json status = Json::parse(home.ctl({"status", "--json"}).out);
    ASSERT_EQ(status["runs"].size(), 1u);
    std::string runID = status["runs"][0]["run"];
    pid_t harness = status["runs"][0]["pid"];
    // The transcripts of a quiet harness reach the disk within a fraction of a second.
    std::this_thread::sleep_for(500ms);

    daemon->signal(SIGKILL);
    EXPECT_EQ(daemon->wait(), 128 + SIGKILL);
    ::kill(-harness, SIGKILL); // what the daemon would have stopped
    EXPECT_EQ(run.wait(), 1);
    EXPECT_NE(run.err().find("went away"), std::string::npos) << run.err();
    EXPECT_EQ(home.ctl({"status"}).exitStatus, 3);
    auto log = home.ctl({"log", runID});
    EXPECT_EQ(log.exitStatus, 0) << log.err;
    EXPECT_NE(log.out.find("session_id"), std::string::npos) << log.out;
    EXPECT_NE(log.out.find("stderr: thinking hard"), std::string::npos) << log.out;

    daemon = std::make_unique<BackgroundCtl>(std::vector<std::string>{"daemon"}, home.environment(),
                                             home.root / "daemon2");
    EXPECT_TRUE(eventually([&] { return answers(home); })) << "the stale socket is replaced";
    daemon->signal(SIGTERM);
    EXPECT_EQ(daemon->wait(), 0);
}

// Without a scheduler `run` runs in the terminal as before; `log` then gives its whole
// output, well beyond what the record keeps.
TEST(ControlCommands, LogGivesTheWholeTranscriptOfAFinishedRun) {
    CtlHome home;
    home.harness("cat >/dev/null\n"
                 "echo 'the very first line'\n"
                 "yes 'padding padding padding padding' | head -n 20000\n"
                 "echo '{\"type\":\"result\",\"subtype\":\"success\",\"is_error\":false,"
                 "\"result\":\"ok\"}'\n");
    Job job = home.job("Chatty", Instant::now(), "0 3 1 1 *");
    home.save(job);
    auto run = home.ctl({"run", "Chatty"});
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    auto runs = home.runs();
    ASSERT_EQ(runs.size(), 1u);
    auto log = home.ctl({"log", "Chatty"});
    EXPECT_EQ(log.exitStatus, 0) << log.err;
    EXPECT_EQ(log.out.rfind("the very first line\n", 0), 0u);
    EXPECT_GT(log.out.size(), 600000u);
    EXPECT_EQ(home.ctl({"log", runs[0].id.text()}).out, log.out);
    auto json = home.ctl({"log", "--json", "Chatty"});
    EXPECT_EQ(Json::parse(json.out.substr(0, json.out.find('\n')))["line"], "the very first line");
    EXPECT_EQ(home.ctl({"log", "nothing"}).exitStatus, 2);
}
