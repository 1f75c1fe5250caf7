#include "control/ControlClient.h"
#include "ctl/SchedulerCommandSupport.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <sys/resource.h>

namespace marrowbell {
namespace {

using namespace std::chrono_literals;
using test::eventually;

const char* result = "echo '{\"type\":\"result\",\"subtype\":\"success\",\"is_error\":false,"
                     "\"result\":\"Reviewed 3 files\"}'\n";

class Scheduler : public test::CtlTest {
protected:
    // The stand-in runs to its result, after doing first what its working folder's name
    // says: "hang" prints an event and a line of standard error, starts a process that
    // leaves its session, adds its process id to "started" there (the other's to
    // "escaped") and waits to be stopped; "fail" exits 3, "chatty" prints 20,000 lines,
    // "huge" ten lines of 10 MB.
    Scheduler() {
        for (const char* folder : {"hang", "fail", "chatty", "huge"})
            std::filesystem::create_directories(work() / folder);
        harness(std::string("cat >/dev/null\ncase \"$PWD\" in\n"
                            "*/hang) echo '{\"type\":\"system\",\"session_id\":\"s\"}'\n"
                            "  echo 'thinking hard' >&2\n"
                            "  setsid sh -c 'echo $$ >> \"$PWD/escaped\"; exec sleep 300' &\n"
                            "  echo $$ >> \"$PWD/started\"; exec sleep 300;;\n"
                            "*/fail) echo 'no credit left' >&2; exit 3;;\n"
                            "*/chatty) echo 'the very first line'\n"
                            "  yes 'padding padding padding padding' | head -n 20000;;\n"
                            "*/huge) for i in 1 2 3 4 5 6 7 8 9 10; do\n"
                            "  head -c 10000000 /dev/zero | tr '\\0' x; echo; done;;\nesac\n") +
                result);
    }
    // A saved job working in `folder`; by default created two minutes ago, so the
    // current minute's slot is owed and within the grace.
    Job saved(const std::string& name, const std::string& folder = "",
              Instant createdAt = Instant::now() - 120,
              const std::string& schedule = "* * * * *") const {
        Job job = this->job(name, createdAt, schedule);
        job.workingDirectory = FileUrl::fromPath(work() / folder, true);
        return CtlTest::saved(job);
    }
    // The process ids in a file of the "hang" folder.
    std::vector<pid_t> pids(const char* file) const {
        std::vector<pid_t> pids;
        std::istringstream lines(files::read(work() / "hang" / file).value_or(""));
        for (pid_t pid; lines >> pid;)
            pids.push_back(pid);
        return pids;
    }
    // A daily schedule of the current minute: owed once, by a job created before it.
    static std::string thisMinute() {
        const std::time_t now = std::time(nullptr);
        const std::tm* utc = std::gmtime(&now);
        return std::to_string(utc->tm_min) + " " + std::to_string(utc->tm_hour) + " * * *";
    }
    std::size_t startedRuns() const { return pids("started").size(); }
    bool answers() const { return ctl({"status"}).exitStatus == 0; }
    Json status() const { return Json::parse(ctl({"status", "--json"}).out); }
};

// Two terminals run the same job through the daemon: two runs, two records; Ctrl-C in
// one cancels only its own, `stop` the other; `status` and `follow` see them meanwhile.
// A setting changed from a terminal reaches the daemon's subscribers within a second.
TEST_F(Scheduler, RunsFromTwoTerminalsGoThroughTheDaemon) {
    saved("Audit", "hang", Instant::now(), "0 3 1 1 *");
    auto none = ctl({"status"});
    EXPECT_EQ(none.exitStatus, 3);
    EXPECT_EQ(none.out, "No Marrowbell scheduler is running.\n");
    EXPECT_EQ(status()["running"], false);

    auto daemon = start({"daemon"}, "daemon");
    ASSERT_TRUE(eventually([&] { return answers(); })) << daemon->err();
    auto subscriber = ControlClient::connect(runtime() / "marrowbell" / "control");
    ASSERT_TRUE(subscriber);
    subscriber->send({{"request", "subscribe"}});
    EXPECT_EQ(subscriber->expect()["reply"], "subscribe");
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

    ASSERT_EQ(ctl({"settings", "set", "catch-up", "15m"}).exitStatus, 0);
    // The run events before it are already buffered: only the change itself is waited for.
    bool heard = false;
    for (Json message; !heard && subscriber->read(message, 1s) == ControlClient::Read::message;)
        heard = message.value("event", "") == "changed" && message.value("what", "") == "settings";
    EXPECT_TRUE(heard) << daemon->err();
    EXPECT_EQ(Json::parse(ctl({"settings", "--json"}).out)["catchUpGraceSeconds"], 900);

    daemon->signal(SIGTERM);
    EXPECT_EQ(daemon->wait(), 0);
    auto runs = this->runs();
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_TRUE(runs[0].wasCancelled && runs[1].wasCancelled);
    EXPECT_THAT(ctl({"log", "Audit"}).out, HasSubstr("stderr: thinking hard"));
}

// kill -9 of the daemon during two runs, one of the slot it owed and one a terminal
// asked for: the terminal hears it went away; neither harness nor what it started (one
// left its session) keeps running; the transcripts stay readable; the next scheduler
// replaces the stale socket, records each run once and does not run the slot again.
TEST_F(Scheduler, ADaemonKilledMidRunLeavesNothingRunningAndEachRunRecordedOnce) {
    saved("Long job", "hang", Instant::now() - 120, thisMinute());
    auto killed = start({"daemon"}, "killed");
    ASSERT_TRUE(eventually([&] { return startedRuns() == 1; })) << killed->err();
    auto run = start({"run", "Long job"}, "run");
    ASSERT_TRUE(eventually([&] { return startedRuns() == 2 && pids("escaped").size() == 2; }))
        << run->err();
    const Json shown = status()["runs"];
    ASSERT_EQ(shown.size(), 2u);
    // The transcripts of a quiet harness reach the disk within a fraction of a second.
    std::this_thread::sleep_for(500ms);

    killed->signal(SIGKILL);
    EXPECT_EQ(killed->wait(), 128 + SIGKILL);
    EXPECT_EQ(run->wait(), 1);
    EXPECT_THAT(run->err(), HasSubstr("went away"));
    auto gone = [](pid_t pid) {
        std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
        std::string stat;
        std::getline(in, stat);
        return stat.empty() || stat.find(") Z ") != std::string::npos;
    };
    auto left = pids("started");
    for (pid_t escaped : pids("escaped"))
        left.push_back(escaped);
    EXPECT_TRUE(eventually([&] { return std::all_of(left.begin(), left.end(), gone); }));
    EXPECT_EQ(ctl({"status"}).exitStatus, 3);
    for (const Json& shownRun : shown) {
        auto log = ctl({"log", shownRun["run"]});
        EXPECT_EQ(log.exitStatus, 0) << log.err;
        EXPECT_THAT(log.out, HasSubstr("session_id"));
        EXPECT_THAT(log.out, HasSubstr("stderr: thinking hard"));
    }

    auto next = start({"daemon"}, "next");
    EXPECT_TRUE(eventually([&] { return answers(); })) << "the stale socket is replaced";
    std::this_thread::sleep_for(3s); // a tick or two, had the slot still been owed
    next->signal(SIGTERM);
    EXPECT_EQ(next->wait(), 0) << next->err();
    EXPECT_EQ(startedRuns(), 2u);
    auto runs = this->runs();
    ASSERT_EQ(runs.size(), 2u);
    for (const RunRecord& record : runs)
        EXPECT_EQ(record.failureMessage, "The scheduler stopped during this run.");
}

// Without a scheduler `run` runs in the terminal, warnings first; `log` then gives its
// whole output, well beyond what the record keeps.
TEST_F(Scheduler, RunPrintsTheOutputAndLogKeepsTheWholeTranscript) {
    Job job = this->job("Chatty");
    job.workingDirectory = FileUrl::fromPath(work() / "chatty", true);
    job.skills = {"extra"}; // the stand-in manifest entry takes no skills: one warning
    CtlTest::saved(job);
    auto run = ctl({"run", "chatty"});
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_THAT(run.out, StartsWith("warning: ")) << "warnings come first: " << run.out;
    EXPECT_THAT(run.out, HasSubstr("Reviewed 3 files"));
    EXPECT_THAT(run.err, HasSubstr("Chatty: Finished in "));
    auto runs = this->runs();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_TRUE(runs[0].succeeded());

    auto log = ctl({"log", "Chatty"});
    EXPECT_EQ(log.exitStatus, 0) << log.err;
    EXPECT_THAT(log.out, StartsWith("warning: Claude Code cannot load skills"));
    EXPECT_THAT(log.out, HasSubstr("\nthe very first line\n"));
    EXPECT_GT(log.out.size(), 600000u);
    EXPECT_EQ(ctl({"log", runs[0].id.text()}).out, log.out);
    auto json = ctl({"log", "--json", "Chatty"}).out;
    json = json.substr(json.find('\n') + 1); // after the warning
    EXPECT_EQ(Json::parse(json.substr(0, json.find('\n')))["line"], "the very first line");
}

// A failed run exits 1 with its reason; Ctrl-C cancels a run and records it; what a run
// keeps of ten lines of 10 MB each is bounded by bytes, not by lines.
TEST_F(Scheduler, RunExitsOneWhenItFailsOrIsCancelledAndStaysUnder64MB) {
    auto failed = ctl({"run", saved("Docs", "fail", Instant::now()).id.text()});
    EXPECT_EQ(failed.exitStatus, 1);
    EXPECT_THAT(failed.err, HasSubstr("Exit 3 after 0s — no credit left"));

    saved("Hanging", "hang", Instant::now());
    auto run = start({"run", "Hanging"}, "run");
    ASSERT_TRUE(eventually([&] { return startedRuns() > 0; })) << run->err();
    run->signal(SIGINT);
    EXPECT_EQ(run->wait(), 1);
    EXPECT_THAT(run->err(), HasSubstr("Cancelled after "));
    auto runs = this->runs();
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(std::count_if(runs.begin(), runs.end(), [](auto& r) { return r.wasCancelled; }), 1);

    saved("Huge", "huge", Instant::now());
    auto huge = ctl({"run", "Huge"});
    EXPECT_EQ(huge.exitStatus, 0) << huge.err;
    EXPECT_GE(huge.out.size(), 100'000'000u);
    rusage usage{};
    ::getrusage(RUSAGE_CHILDREN, &usage);
#ifndef __SANITIZE_ADDRESS__ // its quarantine holds freed memory resident
    EXPECT_LT(usage.ru_maxrss, 64 * 1024) << "peak resident kilobytes";
#endif
}

// The real-time test of a running daemon following marrowbellctl: a hundred `add`
// processes at once, then a `pause` and a `delete`. Every job lands on disk; each of the
// 98 left runs for a slot after the changes without a restart; the paused and the
// deleted one never run after the command returned. Meanwhile a second scheduler is
// refused, and a job the daemon found due at its start runs until the stop signal
// cancels it, with a record.
TEST_F(Scheduler, DaemonFollowsJobsAddedPausedAndDeletedWhileItRuns) {
    Job slow = saved("Long job", "hang", Instant::now() - 120, thisMinute());
    test::writeFile(root / "prompt.txt", "Review the open pull requests\n");
    auto daemon = start({"daemon"}, "daemon");
    ASSERT_TRUE(eventually([&] { return startedRuns() == 1; })) << daemon->err();
    auto second = ctl({"daemon"});
    EXPECT_EQ(second.exitStatus, 1);
    EXPECT_THAT(second.err, HasSubstr("Another Marrowbell scheduler is already running"));
    // Early in a minute, so that the changes usually land before the next one.
    while (std::time(nullptr) % 60 > 30 || std::time(nullptr) % 60 == 0)
        std::this_thread::sleep_for(200ms);
    std::vector<std::unique_ptr<test::BackgroundCtl>> adds;
    for (int i = 0; i < 100; ++i) {
        auto folder = work() / std::to_string(i); // one folder each: none waits for another
        std::filesystem::create_directories(folder);
        adds.push_back(
            start(test::split("add|job " + std::to_string(i) + "|--folder|" + folder.string() +
                              "|--harness|claude|--schedule|* * * * *|--permission|"
                              "fullAccess|--prompt-file|" +
                              (root / "prompt.txt").string()),
                  "add-" + std::to_string(i)));
    }
    for (auto& add : adds)
        ASSERT_EQ(add->wait(120s), 0) << add->err();
    std::map<std::string, Uuid> ids;
    for (const Job& job : jobs())
        if (job.id != slow.id)
            ids.emplace(job.name, job.id);
    ASSERT_EQ(ids.size(), 100u);
    ASSERT_EQ(ctl({"pause", "job 0"}).exitStatus, 0);
    ASSERT_EQ(ctl({"delete", "job 1"}).exitStatus, 0);
    const Instant changed = Instant::now() + 1; // the second a change may take to arrive

    std::vector<RunRecord> runs;
    auto ranSince = [&](const Uuid& id) {
        return std::any_of(runs.begin(), runs.end(), [&](const RunRecord& r) {
            return r.jobID == id && r.startedAt.sinceReference >= changed.sinceReference;
        });
    };
    EXPECT_TRUE(eventually(
        [&] {
            runs = this->runs();
            return std::all_of(ids.begin(), ids.end(), [&](const auto& entry) {
                return entry.first == "job 0" || entry.first == "job 1" || ranSince(entry.second);
            });
        },
        180s))
        << runs.size() << " runs\n"
        << daemon->err();
    EXPECT_FALSE(ranSince(ids["job 0"])) << "paused";
    EXPECT_FALSE(ranSince(ids["job 1"])) << "deleted";
    for (const RunRecord& run : runs)
        EXPECT_TRUE(run.succeeded()) << run.summary();
    daemon->signal(SIGINT);
    EXPECT_EQ(daemon->wait(), 0) << daemon->err();
    EXPECT_EQ(jobs().size(), 100u);
    const std::string out = daemon->out();
    EXPECT_THAT(out, HasSubstr("started  Long job"));
    EXPECT_THAT(out, HasSubstr("finished job 2: Finished in "));
    EXPECT_THAT(out, HasSubstr(" — Reviewed 3 files"));
    runs = this->runs();
    auto cancelled = std::find_if(runs.begin(), runs.end(),
                                  [&](const RunRecord& r) { return r.jobID == slow.id; });
    ASSERT_NE(cancelled, runs.end());
    EXPECT_TRUE(cancelled->wasCancelled);
    EXPECT_EQ(cancelled->failureMessage->rfind("Cancelled after ", 0), 0u);
}

} // namespace
} // namespace marrowbell
