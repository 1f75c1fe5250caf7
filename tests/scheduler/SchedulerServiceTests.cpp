#include "scheduler/SchedulerTestSupport.h"

#include <set>

using namespace marrowbell;
using test::at;
using test::job;
using test::SchedulerFixture;

// The one timer is armed for the next slot, clamped to 1 s – 1 h, re-armed by every
// change the stores report, never armed before `start` or after `stop`, and cancelled
// with the service.
TEST(SchedulerService, TimerIsArmedForTheNextSlotByEveryChange) {
    SchedulerFixture f(at(5, 11, 0));
    Job half = job("half past", "30 11 * * *");
    Job paused = job("paused", "* * * * *", "/srv/p");
    paused.isPaused = true;
    Job never = job("never", "0 0 31 2 *", "/srv/n");
    for (const Job& j : {half, paused, never})
        f.store->save(j);
    EXPECT_FALSE(f.timers->armed()) << "not started yet";
    f.service->start();
    EXPECT_EQ(f.timers->armed(), 1800);
    Job quarter = job("quarter", "15 11 * * *", "/srv/b");
    f.store->save(quarter);
    EXPECT_EQ(f.timers->armed(), 900);
    f.store->remove(quarter.id);
    EXPECT_EQ(f.timers->armed(), 1800);
    int made = f.timers->made;
    f.settings->update([](AppSettings& s) { s.catchUpGraceSeconds = 60; });
    f.endpoints->save(
        Endpoint{Uuid::random(), "Local", Url{"http://127.0.0.1:1"}, EndpointKind::ollama});
    EXPECT_EQ(f.timers->made, made + 2);

    f.service->stop();
    EXPECT_FALSE(f.timers->armed());
    f.service->reschedule();
    EXPECT_FALSE(f.timers->armed());
    f.setClock(at(5, 11, 29, 59.8));
    f.service->start();
    EXPECT_EQ(f.timers->armed(), 1) << "never sooner than a second";
    Job far = job("far", "0 0 1 1 *", "/srv/f");
    f.store->save(far);
    half.isPaused = true;
    f.store->save(half);
    EXPECT_EQ(f.timers->armed(), 3600) << "never later than an hour";
    f.store->remove(far.id);
    EXPECT_FALSE(f.timers->armed()) << "nothing will fire";
    f.store->save(far);
    ASSERT_TRUE(f.timers->armed());
    f.service.reset();
    EXPECT_FALSE(f.timers->fire()) << "a pending tick is cancelled with the service";
}

// A job deleted, paused or edited while it runs: the run goes on and is recorded once;
// afterwards the job is planned from what the store holds.
TEST(SchedulerService, AJobChangedMidRunFinishesIsRecordedOnceAndThenFollowsTheStore) {
    for (std::string change : {"deleted", "paused", "edited"}) {
        SCOPED_TRACE(change);
        SchedulerFixture f(at(5, 12, 0, 5), /*holdRuns=*/true);
        Job j = job("hourly", "0 * * * *");
        f.store->save(j);
        f.service->start();
        ASSERT_TRUE(f.timers->fire());
        ASSERT_TRUE(f.runner->waitForCalls(1));
        j.isPaused = change == "paused";
        j.schedule = CronExpression(change == "edited" ? "20 * * * *" : "0 * * * *");
        change == "deleted" ? f.store->remove(j.id) : f.store->save(j);
        EXPECT_TRUE(f.service->isRunning(j.id)) << "a change never cancels the run";
        f.runner->release();
        f.service->waitUntilIdle();
        ASSERT_EQ(f.runs(j).size(), 1u);
        EXPECT_FALSE(f.runs(j)[0].wasCancelled);
        EXPECT_EQ(f.runner->calls().size(), 1u);
        EXPECT_EQ(f.timers->armed(),
                  change == "edited" ? std::optional<Seconds>(20 * 60 - 5) : std::nullopt);
    }
}

// A due job runs once for its slot, with its endpoint (none when unknown) and the
// default limits, and the run is reported. Missed slots yield one decision, not a backlog.
TEST(SchedulerService, DueJobRunsOnceForItsSlotAndMissedSlotsYieldOneDecision) {
    SchedulerFixture f(at(5, 12, 0, 30));
    Endpoint endpoint{Uuid::random(), "Local", *Endpoint::validated("http://127.0.0.1:1234/v1"),
                      EndpointKind::lmStudio};
    f.endpoints->save(endpoint);
    f.settings->update([](AppSettings& s) { s.defaults.timeoutSeconds = 120; });
    Job j = job("hourly", "0 * * * *"), gone = job("gone", "0 * * * *", "/srv/b");
    j.endpointID = endpoint.id;
    gone.endpointID = Uuid::random();
    gone.createdAt = j.createdAt + 1;
    f.store->save(j);
    f.store->save(gone);
    std::atomic<int> started = 0, finished = 0, changes = 0;
    f.service->setOnRunStarted([&](const Job& job) { started += job.id == j.id; });
    f.service->setOnRunFinished(
        [&](const Job& job, const RunRecord& r) { finished += job.id == j.id && !r.wasCancelled; });
    f.service->setOnChange([&] { ++changes; });
    f.service->start();
    EXPECT_EQ(f.timers->armed(), 1) << "a job due now is handled a second later";
    ASSERT_TRUE(f.timers->fire());
    f.service->waitUntilIdle();
    ASSERT_EQ(f.runs(j).size(), 1u);
    EXPECT_EQ(f.runs(j)[0].startedAt, at(5, 12, 0)) << "the record starts at the slot";
    EXPECT_EQ(started, 1);
    EXPECT_EQ(finished, 1);
    EXPECT_GE(changes, 3) << "the tick and each run report a change";
    f.timers->fire(); // the same instant again: the slots are taken
    f.service->waitUntilIdle();
    auto calls = f.runner->calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(f.timers->armed(), 3600 - 30) << "re-armed for the next slot";
    if (calls[0].jobID != j.id)
        std::swap(calls[0], calls[1]);
    EXPECT_EQ(calls[0].endpoint, endpoint);
    EXPECT_EQ(calls[0].defaults.timeoutSeconds, 120);
    EXPECT_FALSE(calls[1].endpoint) << "an unknown endpoint is none";

    // Missed slots beyond the grace (15m) are recorded as one skip, however many there
    // were, and reported; a machine waking days later within the grace (as it is now) of
    // the latest slot runs that one once.
    f.setClock(at(5, 15, 20));
    f.timers->fire();
    f.service->waitUntilIdle();
    auto all = f.runs(j);
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].startedAt, at(5, 15, 0));
    EXPECT_EQ(all[0].failureMessage, "Skipped — It was due 20m ago, past the 15m catch-up window.");
    EXPECT_TRUE(all[0].exitCode == 0 && all[0].duration == 0 && !all[0].timedOut &&
                !all[0].wasCancelled);
    EXPECT_EQ(finished, 2);
    EXPECT_EQ(f.runner->calls().size(), 2u);
    EXPECT_EQ(f.timers->armed(), 40 * 60) << "planning moved on to 16:00";
    f.settings->update([](AppSettings& s) { s.catchUpGraceSeconds = 3600; });
    f.setClock(at(8, 9, 50));
    f.timers->fire();
    f.service->waitUntilIdle();
    all = f.runs(j);
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0].startedAt, at(8, 9, 0));
    EXPECT_FALSE(all[0].failureMessage);
}

// Two due jobs in one folder never run at once: the first in store order runs, the
// other waits, unrecorded, for the folder and then runs for its slot. A manual run keeps
// its job out of planning but takes no folder, and counts as the job's last run. Only a
// job in flight can be cancelled. A folder is its decoded path, standardised lexically.
TEST(SchedulerService, JobsInOneFolderTakeTurnsAndManualRunsTakeNoFolder) {
    SchedulerFixture f(at(5, 12, 0, 5), /*holdRuns=*/true);
    Job manual = job("manual", "0 * * * *", "/srv/my share");
    Job first = job("first", "0 * * * *", "/srv/x/../my share/.");
    Job second = job("second", "0 * * * *", "/srv/my share");
    EXPECT_EQ(SchedulerService::folderKey(first), "/srv/my share");
    Job elsewhere = job("elsewhere", "0 * * * *", "/srv/other");
    int order = 0;
    for (Job* j : {&manual, &first, &second, &elsewhere}) {
        j->createdAt = j->createdAt + order++;
        f.store->save(*j);
    }
    f.service->cancel(second.id);   // not in flight: nothing
    std::vector<std::string> lines; // written by the run's thread before `get` returns
    auto record = f.service->runNow(manual, [&](std::string_view l) { lines.emplace_back(l); });
    ASSERT_TRUE(f.runner->waitForCalls(1));
    f.service->start();
    f.timers->fire();
    ASSERT_TRUE(f.runner->waitForCalls(3));
    auto calls = f.runner->calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ((std::set{calls[1].jobID, calls[2].jobID}), (std::set{first.id, elsewhere.id}));
    EXPECT_TRUE(f.service->isRunning(manual.id));
    EXPECT_FALSE(f.service->isRunning(second.id));
    f.timers->fire(); // while the folder is busy a tick leaves the second job alone
    EXPECT_EQ(f.runner->calls().size(), 3u);
    EXPECT_TRUE(f.runs(second).empty());

    f.service->cancel(elsewhere.id);
    f.runner->release(2);
    RunRecord done = record.get();
    EXPECT_FALSE(f.service->isRunning(manual.id));
    EXPECT_EQ(done.startedAt, at(5, 12, 0, 5)) << "a manual run is for the present";
    EXPECT_EQ(lines, std::vector<std::string>{"hello from manual"});
    f.service->waitUntilIdle();
    EXPECT_TRUE(f.runs(elsewhere).at(0).wasCancelled);
    EXPECT_EQ(f.timers->armed(), 1) << "freeing the folder makes the second job due";
    f.timers->fire();
    ASSERT_TRUE(f.runner->waitForCalls(4));
    EXPECT_EQ(f.runner->calls()[3].jobID, second.id);
    EXPECT_EQ(f.runner->calls()[3].now, at(5, 12, 0));
    f.runner->release();
    f.service->waitUntilIdle();
    EXPECT_EQ(f.runner->calls().size(), 4u) << "12:00 is not owed to the manual job";
    for (const Job& j : {manual, first, second, elsewhere})
        EXPECT_EQ(f.runs(j).size(), 1u) << j.name;
}
