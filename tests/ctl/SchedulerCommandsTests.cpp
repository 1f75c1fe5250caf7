#include "control/ControlClient.h"
#include "ctl/SchedulerCommandSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sys/resource.h>

using namespace marrowbell;
using namespace std::chrono_literals;
using test::BackgroundCtl;
using test::CtlHome;
using test::eventually;

namespace {

const char* resultHarness = "cat >/dev/null\n"
                            "echo '{\"type\":\"result\",\"subtype\":\"success\",\"is_error\":false,"
                            "\"result\":\"Reviewed 3 files\"}'\n";

// Writes "started" in the working folder, then hangs until stopped.
const char* hangingHarness = "cat >/dev/null\n"
                             "echo '{\"type\":\"system\",\"session_id\":\"s\"}'\n"
                             "echo started > \"$PWD/started\"\n"
                             "exec sleep 60\n";

} // namespace

// A job saved to the store runs by itself under the daemon, its record in runs.json.
TEST(DaemonCommand, RunsADueJobByItselfAndStopsCleanly) {
    CtlHome home;
    home.harness(resultHarness);
    // Created two minutes ago: the current minute's slot is owed and within the grace.
    Job job = home.job("Nightly review", Instant::now() - 120);
    home.save(job);
    BackgroundCtl daemon({"daemon"}, home.environment(), home.root / "daemon");
    ASSERT_TRUE(eventually([&] { return daemon.out().find("finished") != std::string::npos; }))
        << daemon.out() << daemon.err();
    daemon.signal(SIGTERM);
    EXPECT_EQ(daemon.wait(), 0) << daemon.err();
    auto runs = home.runs();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].jobID, job.id);
    EXPECT_EQ(runs[0].resultText, "Reviewed 3 files");
    EXPECT_TRUE(runs[0].succeeded());
    std::string out = daemon.out();
    EXPECT_NE(out.find("started  Nightly review"), std::string::npos) << out;
    EXPECT_NE(out.find("finished Nightly review: Finished in "), std::string::npos) << out;
    EXPECT_NE(out.find(" — Reviewed 3 files"), std::string::npos) << out;
}

TEST(DaemonCommand, StopSignalCancelsTheRunInFlightAndRecordsIt) {
    CtlHome home;
    home.harness(hangingHarness);
    home.save(home.job("Long job", Instant::now() - 120));
    BackgroundCtl daemon({"daemon"}, home.environment(), home.root / "daemon");
    ASSERT_TRUE(eventually([&] { return std::filesystem::exists(home.work() / "started"); }))
        << daemon.err();
    daemon.signal(SIGINT);
    EXPECT_EQ(daemon.wait(), 0) << daemon.err();
    auto runs = home.runs();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_TRUE(runs[0].wasCancelled);
    EXPECT_EQ(runs[0].failureMessage->rfind("Cancelled after ", 0), 0u);
}

TEST(DaemonCommand, ASecondSchedulerRefusesToStart) {
    CtlHome home;
    BackgroundCtl first({"daemon"}, home.environment(), home.root / "first");
    ASSERT_TRUE(eventually([&] { return first.err().find("running") != std::string::npos; }));
    auto second = home.ctl({"daemon"});
    EXPECT_EQ(second.exitStatus, 1);
    EXPECT_NE(second.err.find("Another Marrowbell scheduler is already running"), std::string::npos)
        << second.err;
    first.signal(SIGTERM);
    EXPECT_EQ(first.wait(), 0);
}

// kill -9 of a scheduler during a run: the harness and what it started (here one that
// left its session) do not keep running, and the next scheduler records the run once
// and does not run its slot again.
TEST(DaemonCommand, ARunOfAKilledSchedulerIsEndedAndRecordedOnce) {
    CtlHome home;
    home.harness("cat >/dev/null\n"
                 "setsid sh -c 'echo $$ > \"$PWD/escaped\"; exec sleep 300' &\n"
                 "echo $$ > \"$PWD/harness\"\n"
                 "exec sleep 300\n");
    home.save(home.job("Long job", Instant::now() - 120));
    auto pidIn = [&](const char* name) {
        return std::atoi(files::read(home.work() / name).value_or("0").c_str());
    };
    auto gone = [](pid_t pid) {
        std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
        std::string stat;
        std::getline(in, stat);
        return stat.empty() || stat.find(") Z ") != std::string::npos;
    };
    {
        BackgroundCtl killed({"daemon"}, home.environment(), home.root / "killed");
        ASSERT_TRUE(eventually([&] { return pidIn("harness") > 0 && pidIn("escaped") > 0; }))
            << killed.err();
        killed.signal(SIGKILL);
        killed.wait();
    }
    EXPECT_TRUE(eventually([&] { return gone(pidIn("harness")) && gone(pidIn("escaped")); }));

    BackgroundCtl next({"daemon"}, home.environment(), home.root / "next");
    ASSERT_TRUE(eventually([&] { return next.err().find("running") != std::string::npos; }));
    std::this_thread::sleep_for(3s); // a tick or two, had the slot still been owed
    next.signal(SIGTERM);
    EXPECT_EQ(next.wait(), 0) << next.err();
    auto runs = home.runs();
    auto interrupted = std::find_if(runs.begin(), runs.end(), [](const RunRecord& r) {
        return r.failureMessage == "The scheduler stopped during this run.";
    });
    ASSERT_NE(interrupted, runs.end()) << runs.size();
    EXPECT_EQ(
        std::count_if(runs.begin(), runs.end(),
                      [&](const RunRecord& r) { return r.startedAt == interrupted->startedAt; }),
        1);
}

TEST(DaemonCommand, TakesNoArguments) {
    CtlHome home;
    EXPECT_EQ(home.ctl({"daemon", "now"}).exitStatus, 2);
}

TEST(RunCommand, RunsTheJobPrintingItsOutput) {
    CtlHome home;
    home.harness(resultHarness);
    Job job = home.job("Docs");
    job.skills = {"extra"}; // the stand-in manifest entry takes no skills: one warning
    home.save(job);
    auto result = home.ctl({"run", "docs"});
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(result.out.rfind("warning: ", 0), 0u) << "warnings come first: " << result.out;
    EXPECT_NE(result.out.find("Reviewed 3 files"), std::string::npos);
    EXPECT_NE(result.err.find("Docs: Finished in "), std::string::npos) << result.err;
    auto runs = home.runs();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_TRUE(runs[0].succeeded());
}

// Ten lines of 10 MB each: what the run keeps is bounded by bytes, not by lines.
TEST(RunCommand, StaysUnder64MBWhateverTheHarnessPrints) {
    CtlHome home;
    home.harness("cat >/dev/null\n"
                 "for i in 1 2 3 4 5 6 7 8 9 10; do head -c 10000000 /dev/zero | tr '\\0' x; echo; "
                 "done\n");
    home.save(home.job("Chatty"));
    auto result = home.ctl({"run", "Chatty"});
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_GE(result.out.size(), 100'000'000u);
    rusage usage{};
    ::getrusage(RUSAGE_CHILDREN, &usage);
#ifndef __SANITIZE_ADDRESS__ // its quarantine holds freed memory resident
    EXPECT_LT(usage.ru_maxrss, 64 * 1024) << "peak resident kilobytes";
#endif
}

TEST(RunCommand, FailedRunExitsOne) {
    CtlHome home;
    home.harness("cat >/dev/null\necho 'no credit left' >&2\nexit 3\n");
    Job job = home.job("Docs");
    home.save(job);
    auto result = home.ctl({"run", job.id.text()});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_NE(result.err.find("Exit 3 after 0s — no credit left"), std::string::npos) << result.err;
}

TEST(RunCommand, InterruptCancelsTheRunAndRecordsIt) {
    CtlHome home;
    home.harness(hangingHarness);
    home.save(home.job("Hanging"));
    BackgroundCtl run({"run", "Hanging"}, home.environment(), home.root / "run");
    ASSERT_TRUE(eventually([&] { return std::filesystem::exists(home.work() / "started"); }))
        << run.err();
    run.signal(SIGINT);
    EXPECT_EQ(run.wait(), 1);
    auto runs = home.runs();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_TRUE(runs[0].wasCancelled);
    EXPECT_NE(run.err().find("Cancelled after "), std::string::npos) << run.err();
}

TEST(RunCommand, UnknownJobIsAUsageError) {
    CtlHome home;
    auto result = home.ctl({"run", "nothing"});
    EXPECT_EQ(result.exitStatus, 2);
    EXPECT_EQ(home.ctl({"run"}).exitStatus, 2);
}

// The real-time test of a running daemon following marrowbellctl: a hundred `add`
// processes at once, then a `pause` and a `delete`. Every job lands on disk, valid;
// each of the 98 left runs at the next minute without a restart; the paused and the
// deleted one never run after the command returned.
TEST(DaemonCommand, FollowsJobsAddedPausedAndDeletedWhileItRuns) {
    CtlHome home;
    home.harness(resultHarness);
    test::writeFile(home.root / "prompt.txt", "Review the open pull requests\n");
    BackgroundCtl daemon({"daemon"}, home.environment(), home.root / "daemon");
    ASSERT_TRUE(eventually([&] {
        return daemon.err().find("scheduler running") != std::string::npos;
    })) << daemon.err();
    // Early in a minute, so that the changes usually land before the next one.
    auto secondOfMinute = [] {
        return std::chrono::duration_cast<std::chrono::seconds>(
                   std::chrono::system_clock::now().time_since_epoch())
                   .count() %
               60;
    };
    while (secondOfMinute() > 30 || secondOfMinute() == 0)
        std::this_thread::sleep_for(200ms);

    constexpr int count = 100;
    auto name = [](int i) { return "job " + std::to_string(i); };
    std::vector<std::unique_ptr<BackgroundCtl>> adds;
    for (int i = 0; i < count; ++i) {
        auto folder = home.work() / std::to_string(i); // one folder each: none waits for another
        std::filesystem::create_directories(folder);
        adds.push_back(std::make_unique<BackgroundCtl>(
            std::vector<std::string>{"add", name(i), "--folder", folder.string(), "--harness",
                                     "claude", "--schedule", "* * * * *", "--permission",
                                     "fullAccess", "--prompt-file",
                                     (home.root / "prompt.txt").string()},
            home.environment(), home.root / ("add-" + std::to_string(i))));
    }
    for (int i = 0; i < count; ++i)
        ASSERT_EQ(adds[i]->wait(120s), 0) << adds[i]->err();
    std::vector<Job> onDisk = JobStore(home.support() / "Jobs").jobs();
    ASSERT_EQ(onDisk.size(), std::size_t(count));

    ASSERT_EQ(home.ctl({"pause", name(0)}).exitStatus, 0);
    ASSERT_EQ(home.ctl({"delete", name(1)}).exitStatus, 0);
    const Instant changed = Instant::now() + 1; // the second a change may take to arrive
    std::map<std::string, Uuid> ids;
    for (const Job& job : onDisk)
        ids.emplace(job.name, job.id);

    // Every job left has run for a slot after the changes: the paused and the deleted
    // one were in the plan the daemon had then.
    auto ranSince = [&](const std::vector<RunRecord>& runs, const Uuid& id) {
        return std::any_of(runs.begin(), runs.end(), [&](const RunRecord& r) {
            return r.jobID == id && r.startedAt.sinceReference >= changed.sinceReference;
        });
    };
    std::vector<RunRecord> runs;
    EXPECT_TRUE(eventually(
        [&] {
            runs = home.runs();
            for (int i = 2; i < count; ++i)
                if (!ranSince(runs, ids.at(name(i))))
                    return false;
            return true;
        },
        180s))
        << runs.size() << " runs\n"
        << daemon.out() << daemon.err();
    EXPECT_FALSE(ranSince(runs, ids.at(name(0)))) << "paused";
    EXPECT_FALSE(ranSince(runs, ids.at(name(1)))) << "deleted";
    for (const RunRecord& run : runs)
        EXPECT_TRUE(run.succeeded()) << run.summary();
    daemon.signal(SIGTERM);
    EXPECT_EQ(daemon.wait(), 0) << daemon.err();
    EXPECT_EQ(JobStore(home.support() / "Jobs").jobs().size(), std::size_t(count - 1));
}

// A setting changed from another terminal reaches the running scheduler, which tells
// its subscribers, within a second.
TEST(DaemonCommand, HearsASettingChangedByAnotherTerminal) {
    CtlHome home;
    BackgroundCtl daemon({"daemon"}, home.environment(), home.root / "daemon");
    std::optional<ControlClient> client;
    ASSERT_TRUE(eventually([&] {
        if (auto connected = ControlClient::connect(home.runtime() / "marrowbell" / "control"))
            client.emplace(std::move(*connected));
        return client.has_value();
    })) << daemon.err();
    client->send({{"request", "subscribe"}});
    EXPECT_EQ(client->expect()["reply"], "subscribe");

    auto set = home.ctl({"settings", "set", "catch-up", "15m"});
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
    EXPECT_TRUE(heard) << daemon.err();
    auto shown = json::parse(home.ctl({"settings", "--json"}).out);
    ASSERT_TRUE(shown);
    EXPECT_EQ((*shown)["catchUpGraceSeconds"], 900);
    daemon.signal(SIGTERM);
    EXPECT_EQ(daemon.wait(), 0) << daemon.err();
}
