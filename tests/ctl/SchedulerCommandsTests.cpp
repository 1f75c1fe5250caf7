#include "control/ControlClient.h"
#include "ctl/SchedulerCommandSupport.h"

#include <algorithm>
#include <fstream>
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
    // says: "hang" writes "started" there and waits to be stopped, "fail" exits 3,
    // "chatty" prints 20,000 lines, "huge" ten lines of 10 MB.
    Scheduler() {
        for (const char* folder : {"hang", "fail", "chatty", "huge"})
            std::filesystem::create_directories(work() / folder);
        harness(std::string("cat >/dev/null\ncase \"$PWD\" in\n"
                            "*/hang) echo '{\"type\":\"system\",\"session_id\":\"s\"}'\n"
                            "  echo started > \"$PWD/started\"; exec sleep 60;;\n"
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
              Instant createdAt = Instant::now() - 120) const {
        Job job = this->job(name, createdAt);
        job.workingDirectory = FileUrl::fromPath(work() / folder, true);
        return CtlTest::saved(job);
    }
    bool started() const { return std::filesystem::exists(work() / "hang/started"); }
};

// Runs due jobs by itself, with a record each; a second scheduler is refused; a stop
// signal cancels the run in flight and records it.
TEST_F(Scheduler, DaemonRunsDueJobsAndCancelsTheRunInFlightWhenStopped) {
    Job quick = saved("Nightly review");
    Job slow = saved("Long job", "hang");
    auto daemon = start({"daemon"}, "daemon");
    ASSERT_TRUE(eventually([&] {
        return started() && daemon->out().find("finished") != std::string::npos;
    })) << daemon->out()
        << daemon->err();
    auto second = ctl({"daemon"});
    EXPECT_EQ(second.exitStatus, 1);
    EXPECT_THAT(second.err, HasSubstr("Another Marrowbell scheduler is already running"));

    daemon->signal(SIGINT);
    EXPECT_EQ(daemon->wait(), 0) << daemon->err();
    const std::string out = daemon->out();
    EXPECT_THAT(out, HasSubstr("started  Nightly review"));
    EXPECT_THAT(out, HasSubstr("finished Nightly review: Finished in "));
    EXPECT_THAT(out, HasSubstr(" — Reviewed 3 files"));
    auto runs = this->runs();
    auto of = [&](const Job& job) {
        return std::find_if(runs.begin(), runs.end(),
                            [&](const RunRecord& r) { return r.jobID == job.id; });
    };
    ASSERT_NE(of(quick), runs.end());
    EXPECT_TRUE(of(quick)->succeeded());
    EXPECT_EQ(of(quick)->resultText, "Reviewed 3 files");
    ASSERT_NE(of(slow), runs.end());
    EXPECT_TRUE(of(slow)->wasCancelled);
    EXPECT_EQ(of(slow)->failureMessage->rfind("Cancelled after ", 0), 0u);
}

// kill -9 of a scheduler during a run: the harness and what it started (here one that
// left its session) do not keep running, and the next scheduler records the run once
// and does not run its slot again.
TEST_F(Scheduler, ARunOfAKilledSchedulerIsEndedAndRecordedOnce) {
    harness("cat >/dev/null\n"
            "setsid sh -c 'echo $$ > \"$PWD/escaped\"; exec sleep 300' &\n"
            "echo $$ > \"$PWD/harness\"\n"
            "exec sleep 300\n");
    saved("Long job");
    auto pidIn = [&](const char* name) {
        return std::atoi(files::read(work() / name).value_or("0").c_str());
    };
    auto gone = [](pid_t pid) {
        std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
        std::string stat;
        std::getline(in, stat);
        return stat.empty() || stat.find(") Z ") != std::string::npos;
    };
    auto killed = start({"daemon"}, "killed");
    ASSERT_TRUE(eventually([&] { return pidIn("harness") > 0 && pidIn("escaped") > 0; }))
        << killed->err();
    killed->signal(SIGKILL);
    killed->wait();
    EXPECT_TRUE(eventually([&] { return gone(pidIn("harness")) && gone(pidIn("escaped")); }));

    auto next = start({"daemon"}, "next");
    ASSERT_TRUE(eventually([&] { return next->err().find("running") != std::string::npos; }));
    std::this_thread::sleep_for(3s); // a tick or two, had the slot still been owed
    next->signal(SIGTERM);
    EXPECT_EQ(next->wait(), 0) << next->err();
    auto runs = this->runs();
    auto interrupted = std::find_if(runs.begin(), runs.end(), [](const RunRecord& r) {
        return r.failureMessage == "The scheduler stopped during this run.";
    });
    ASSERT_NE(interrupted, runs.end()) << runs.size();
    EXPECT_EQ(
        std::count_if(runs.begin(), runs.end(),
                      [&](const RunRecord& r) { return r.startedAt == interrupted->startedAt; }),
        1);
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
    ASSERT_TRUE(eventually([&] { return started(); })) << run->err();
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
// deleted one never run after the command returned.
TEST_F(Scheduler, DaemonFollowsJobsAddedPausedAndDeletedWhileItRuns) {
    test::writeFile(root / "prompt.txt", "Review the open pull requests\n");
    auto daemon = start({"daemon"}, "daemon");
    ASSERT_TRUE(eventually([&] {
        return daemon->err().find("scheduler running") != std::string::npos;
    })) << daemon->err();
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
    daemon->signal(SIGTERM);
    EXPECT_EQ(daemon->wait(), 0) << daemon->err();
    EXPECT_EQ(jobs().size(), 99u);
}

// A setting changed from another terminal reaches the running scheduler, which tells
// its subscribers, within a second.
TEST_F(Scheduler, DaemonHearsASettingChangedByAnotherTerminal) {
    auto daemon = start({"daemon"}, "daemon");
    std::optional<ControlClient> client;
    ASSERT_TRUE(eventually([&] {
        if (auto connected = ControlClient::connect(runtime() / "marrowbell" / "control"))
            client.emplace(std::move(*connected));
        return client.has_value();
    })) << daemon->err();
    client->send({{"request", "subscribe"}});
    EXPECT_EQ(client->expect()["reply"], "subscribe");

    auto set = ctl({"settings", "set", "catch-up", "15m"});
    ASSERT_EQ(set.exitStatus, 0) << set.err;
    const auto deadline = std::chrono::steady_clock::now() + 1s;
    bool heard = false;
    Json message;
    auto left = [&] {
        return std::max(0ms, std::chrono::duration_cast<std::chrono::milliseconds>(
                                 deadline - std::chrono::steady_clock::now()));
    };
    while (!heard && client->read(message, left()) == ControlClient::Read::message)
        heard = message.value("event", "") == "changed" && message.value("what", "") == "settings";
    EXPECT_TRUE(heard) << daemon->err();
    EXPECT_EQ(Json::parse(ctl({"settings", "--json"}).out)["catchUpGraceSeconds"], 900);
    daemon->signal(SIGTERM);
    EXPECT_EQ(daemon->wait(), 0) << daemon->err();
}

} // namespace
} // namespace marrowbell
