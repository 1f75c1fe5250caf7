#include "scheduler/SchedulerTestSupport.h"
#include "support/JobFixture.h"

#include <gtest/gtest.h>

#include <set>

using namespace marrowbell;
using test::SchedulerFixture;

namespace {

// 2026-03-{day} {hour}:{minute}:{second} UTC.
Instant at(int day, int hour, int minute, double second = 0) {
    return *TimeZone::utc().instant(LocalDateTime{2026, 3, day, hour, minute, second});
}

Job job(const std::string& name, const std::string& cron, const std::string& folder = "/srv/a") {
    Job j = test::makeJob(name, cron, at(5, 0, 0));
    j.workingDirectory = FileUrl::fromPath(folder, true);
    return j;
}

RunRecord ranAt(const Job& j, Instant startedAt) {
    RunRecord record;
    record.jobID = j.id;
    record.startedAt = startedAt;
    return record;
}

std::vector<RunRecord> records(const SchedulerFixture& f, const Job& j) {
    return f.history->runs(j.id);
}

} // namespace

TEST(SchedulerFolderKey, StandardisesTheFolderLexically) {
    EXPECT_EQ(SchedulerService::folderKey(job("b", "* * * * *", "/srv/work")), "/srv/work");
    EXPECT_EQ(SchedulerService::folderKey(job("c", "* * * * *", "/srv/other/../work/.")),
              "/srv/work");
    Job spaced = job("s", "* * * * *", "/home/me/My Project");
    EXPECT_EQ(SchedulerService::folderKey(spaced), "/home/me/My Project");
}

struct DelayCase {
    Seconds ahead;
    Seconds armed;
};
class SchedulerDelay : public ::testing::TestWithParam<DelayCase> {};

TEST_P(SchedulerDelay, IsClampedToOneSecondAndOneHour) {
    Instant now = at(5, 12, 0);
    EXPECT_EQ(SchedulerService::clampedDelay(now + GetParam().ahead, now), GetParam().armed);
}

INSTANTIATE_TEST_SUITE_P(Cases, SchedulerDelay,
                         ::testing::Values(DelayCase{10, 10}, DelayCase{0.2, 1}, DelayCase{-500, 1},
                                           DelayCase{2 * 86400, 3600}, DelayCase{3600, 3600}));

TEST(SchedulerService, ArmsTheTimerForTheNextSlot) {
    SchedulerFixture f(at(5, 11, 59, 50));
    Job noon = job("noon", "0 12 * * *");
    f.store->save(noon);
    f.service->start();
    EXPECT_EQ(f.timers->armed(), 10);
    // Created earlier in the day: nothing is owed before the noon slot.
    f.clock.set(at(5, 11, 59, 59.8));
    f.service->reschedule();
    EXPECT_EQ(f.timers->armed(), 1);
    EXPECT_EQ(f.timers->liveCount(), 1) << "each re-arm replaces the previous timer";
    f.clock.set(at(5, 12, 0, 1));
    f.store->save(job("far", "0 0 1 1 *", "/srv/b"));
    f.store->remove(noon.id);
    f.service->reschedule();
    EXPECT_EQ(f.timers->armed(), 3600);
}

TEST(SchedulerService, StopThenRescheduleLeavesNoTimer) {
    SchedulerFixture f(at(5, 11, 0));
    f.store->save(job("hourly", "0 * * * *"));
    f.service->start();
    ASSERT_TRUE(f.timers->armed());
    f.service->stop();
    EXPECT_FALSE(f.timers->armed());
    f.service->reschedule();
    EXPECT_FALSE(f.timers->armed());
    f.service->start();
    EXPECT_TRUE(f.timers->armed());
}

TEST(SchedulerService, NoTimerWhenNothingWillFire) {
    SchedulerFixture f(at(5, 11, 0));
    Job paused = job("paused", "* * * * *");
    paused.isPaused = true;
    f.store->save(paused);
    f.store->save(job("never", "0 0 31 2 *", "/srv/b"));
    f.service->start();
    EXPECT_FALSE(f.timers->armed());
    Job fresh = job("fresh", "30 11 * * *", "/srv/c");
    f.store->save(fresh);
    EXPECT_EQ(f.timers->armed(), 1800) << "a saved job is planned without a reschedule";
}

// Every change the stores report re-plans: a job saved, paused, removed; an endpoint or
// the settings changed. Before `start` nothing is armed.
TEST(SchedulerService, ReplansByItselfWhenTheStoresChange) {
    SchedulerFixture f(at(5, 11, 0));
    Job half = job("half past", "30 11 * * *");
    f.store->save(half);
    EXPECT_FALSE(f.timers->armed()) << "not started yet";
    f.service->start();
    EXPECT_EQ(f.timers->armed(), 1800);
    Job quarter = job("quarter", "15 11 * * *", "/srv/b");
    f.store->save(quarter);
    EXPECT_EQ(f.timers->armed(), 900);
    f.store->remove(quarter.id);
    EXPECT_EQ(f.timers->armed(), 1800);
    int made = f.timers->made();
    f.settings->update([](AppSettings& s) { s.catchUpGraceSeconds = 60; });
    EXPECT_EQ(f.timers->made(), made + 1);
    f.endpoints->save(
        Endpoint{Uuid::random(), "Local", Url{"http://127.0.0.1:1"}, EndpointKind::ollama});
    EXPECT_EQ(f.timers->made(), made + 2);
    half.isPaused = true;
    f.store->save(half);
    EXPECT_FALSE(f.timers->armed());
}

// A job changed while it runs: the run goes on and is recorded once; afterwards the job
// is planned from what the store holds.
enum class Midway { deleted, paused, edited };

class SchedulerChangeMidRun : public ::testing::TestWithParam<Midway> {};

TEST_P(SchedulerChangeMidRun, RunFinishesIsRecordedOnceAndThenFollowsTheStore) {
    SchedulerFixture f(at(5, 12, 0, 5), /*holdRuns=*/true);
    Job j = job("hourly", "0 * * * *");
    f.store->save(j);
    f.service->start();
    ASSERT_TRUE(f.timers->fire());
    ASSERT_TRUE(f.runner->waitForCalls(1));
    switch (GetParam()) {
    case Midway::deleted:
        f.store->remove(j.id);
        break;
    case Midway::paused:
        j.isPaused = true;
        f.store->save(j);
        break;
    case Midway::edited:
        j.schedule = CronExpression("20 * * * *");
        f.store->save(j);
        break;
    }
    EXPECT_TRUE(f.service->isRunning(j.id)) << "a change never cancels the run";
    f.runner->release();
    f.service->waitUntilIdle();
    auto runs = records(f, j);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_FALSE(runs[0].wasCancelled);
    EXPECT_EQ(f.runner->calls().size(), 1u);
    std::optional<Seconds> expected;
    if (GetParam() == Midway::edited)
        expected = 20 * 60 - 5;
    EXPECT_EQ(f.timers->armed(), expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, SchedulerChangeMidRun,
                         ::testing::Values(Midway::deleted, Midway::paused, Midway::edited));

TEST(SchedulerService, DueJobRunsOnceForItsSlotAndReportsIt) {
    SchedulerFixture f(at(5, 12, 0, 30));
    Job j = job("hourly", "0 * * * *");
    f.store->save(j);
    std::atomic<int> started = 0, finished = 0, changes = 0;
    f.service->setOnRunStarted([&](const Job& job) { started += job.id == j.id; });
    f.service->setOnRunFinished(
        [&](const Job&, const RunRecord& r) { finished += !r.wasCancelled; });
    f.service->setOnChange([&] { ++changes; });
    f.service->start();
    EXPECT_EQ(f.timers->armed(), 1) << "a job due now is handled a second later";
    ASSERT_TRUE(f.timers->fire());
    f.service->waitUntilIdle();
    ASSERT_EQ(records(f, j).size(), 1u);
    EXPECT_EQ(records(f, j)[0].startedAt, at(5, 12, 0)) << "the record starts at the slot";
    EXPECT_EQ(started, 1);
    EXPECT_EQ(finished, 1);
    EXPECT_GE(changes, 2) << "the tick and the run both report a change";

    // The same instant again: the slot is taken.
    f.timers->fire();
    f.service->waitUntilIdle();
    EXPECT_EQ(f.runner->calls().size(), 1u);
    EXPECT_EQ(f.timers->armed(), 3600 - 30) << "re-armed for the next slot";
}

TEST(SchedulerService, TwoDueJobsInOneFolderNeverRunAtOnce) {
    SchedulerFixture f(at(5, 12, 0, 5), /*holdRuns=*/true);
    Job first = job("first", "0 * * * *", "/srv/shared");
    Job second = job("second", "0 * * * *", "/srv/shared/.");
    second.createdAt = first.createdAt + 1; // store order: first, then second
    Job elsewhere = job("elsewhere", "0 * * * *", "/srv/other");
    elsewhere.createdAt = first.createdAt + 2;
    for (const Job& j : {first, second, elsewhere})
        f.store->save(j);
    f.service->start();
    f.timers->fire();
    ASSERT_TRUE(f.runner->waitForCalls(2));
    auto calls = f.runner->calls();
    ASSERT_EQ(calls.size(), 2u);
    // Each run starts on a thread of its own, in either order.
    std::set<Uuid> started{calls[0].jobID, calls[1].jobID};
    EXPECT_EQ(started, (std::set<Uuid>{first.id, elsewhere.id})) << "the first in store order";
    EXPECT_TRUE(f.service->isRunning(first.id));
    EXPECT_FALSE(f.service->isRunning(second.id));

    // While the folder is busy a tick leaves the second job alone, unrecorded.
    f.timers->fire();
    EXPECT_EQ(f.runner->calls().size(), 2u);
    EXPECT_TRUE(records(f, second).empty());

    f.runner->release(2);
    f.service->waitUntilIdle();
    EXPECT_EQ(f.timers->armed(), 1) << "freeing the folder makes the second job due";
    f.timers->fire();
    ASSERT_TRUE(f.runner->waitForCalls(3));
    EXPECT_EQ(f.runner->calls()[2].jobID, second.id);
    EXPECT_EQ(f.runner->calls()[2].now, at(5, 12, 0));
    f.runner->release();
    f.service->waitUntilIdle();
    EXPECT_EQ(f.runner->maxPerFolder(), 1);
}

TEST(SchedulerService, ManualRunKeepsItsJobOutOfPlanningButTakesNoFolder) {
    SchedulerFixture f(at(5, 12, 0, 5), /*holdRuns=*/true);
    Job manual = job("manual", "0 * * * *", "/srv/shared");
    Job neighbour = job("neighbour", "0 * * * *", "/srv/shared");
    neighbour.createdAt = manual.createdAt + 1;
    f.store->save(manual);
    f.store->save(neighbour);
    std::vector<std::string> lines;
    std::mutex linesMutex;
    auto record = f.service->runNow(manual, [&](std::string_view line) {
        std::lock_guard lock(linesMutex);
        lines.emplace_back(line);
    });
    ASSERT_TRUE(f.runner->waitForCalls(1));
    EXPECT_TRUE(f.service->isRunning(manual.id));
    EXPECT_EQ(f.runner->calls()[0].now, at(5, 12, 0, 5)) << "a manual run is for the present";

    f.service->start();
    f.timers->fire();
    ASSERT_TRUE(f.runner->waitForCalls(2));
    EXPECT_EQ(f.runner->calls()[1].jobID, neighbour.id) << "the folder is not taken";
    EXPECT_EQ(f.runner->calls().size(), 2u) << "the manual job is not planned";

    f.runner->release(2);
    RunRecord done = record.get();
    EXPECT_FALSE(f.service->isRunning(manual.id));
    EXPECT_EQ(done.startedAt, at(5, 12, 0, 5));
    EXPECT_EQ(lines, std::vector<std::string>{"hello from manual"});
    f.service->waitUntilIdle();
    // The manual run counts as the last run: the 12:00 slot is no longer owed.
    f.timers->fire();
    f.service->waitUntilIdle();
    EXPECT_EQ(f.runner->calls().size(), 2u);
}

TEST(SchedulerService, CancelStopsTheRunAndIgnoresJobsNotInFlight) {
    SchedulerFixture f(at(5, 12, 0, 5), /*holdRuns=*/true);
    Job j = job("long", "0 * * * *");
    f.store->save(j);
    f.service->cancel(j.id); // not in flight: nothing
    f.service->cancel(Uuid::random());
    auto future = f.service->runNow(j);
    ASSERT_TRUE(f.runner->waitForCalls(1));
    f.service->cancel(j.id);
    RunRecord record = future.get();
    EXPECT_TRUE(record.wasCancelled);
    EXPECT_FALSE(f.service->isRunning(j.id));
    ASSERT_EQ(records(f, j).size(), 1u) << "exactly one record";
}

TEST(SchedulerService, MissedSlotIsSkippedAndPlanningMovesToTheNext) {
    SchedulerFixture f(at(5, 12, 20), false, /*grace=*/900);
    Job j = job("hourly", "0 * * * *");
    f.store->save(j);
    f.history->record(ranAt(j, at(5, 8, 0)));
    std::vector<RunRecord> finished;
    f.service->setOnRunFinished([&](const Job&, const RunRecord& r) { finished.push_back(r); });
    f.service->start();
    f.timers->fire();
    f.service->waitUntilIdle();
    auto all = records(f, j);
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].startedAt, at(5, 12, 0));
    EXPECT_EQ(all[0].failureMessage, "Skipped — It was due 20m ago, past the 15m catch-up window.");
    EXPECT_EQ(all[0].exitCode, 0);
    EXPECT_EQ(all[0].duration, 0);
    EXPECT_FALSE(all[0].timedOut || all[0].wasCancelled);
    ASSERT_EQ(finished.size(), 1u);
    EXPECT_EQ(finished[0], all[0]);
    EXPECT_TRUE(f.runner->calls().empty());
    EXPECT_EQ(f.timers->armed(), 40 * 60) << "planning moved on to 13:00";
}

TEST(SchedulerService, SleepingThroughDaysYieldsOneDecisionNotABacklog) {
    SchedulerFixture f(at(5, 12, 0, 10), false, /*grace=*/900);
    Job j = job("every minute", "* * * * *");
    f.store->save(j);
    f.history->record(ranAt(j, at(5, 12, 0)));
    f.service->start();
    f.clock.set(at(8, 9, 30, 20)); // the machine slept for three days
    f.timers->fire();
    f.service->waitUntilIdle();
    auto all = records(f, j);
    ASSERT_EQ(all.size(), 2u) << "one decision for the most recent slot";
    EXPECT_EQ(all[0].startedAt, at(8, 9, 30));
    EXPECT_FALSE(all[0].failureMessage) << "within the grace it runs";

    f.settings->update([](AppSettings& s) { s.catchUpGraceSeconds = 0; });
    f.clock.set(at(12, 9, 30, 20));
    f.service->reschedule();
    f.timers->fire();
    f.service->waitUntilIdle();
    all = records(f, j);
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0].startedAt, at(12, 9, 30));
    EXPECT_EQ(all[0].failureMessage, "Skipped — It was due 0m ago, past the 0m catch-up window.");
}

TEST(SchedulerService, RunPassesTheJobsEndpointAndTheDefaultLimits) {
    SchedulerFixture f(at(5, 12, 0, 5));
    Endpoint endpoint{Uuid::random(), "Local", *Endpoint::validated("http://127.0.0.1:1234/v1"),
                      EndpointKind::lmStudio};
    f.endpoints->save(endpoint);
    f.settings->update([](AppSettings& s) { s.defaults.timeoutSeconds = 120; });
    Job with = job("with", "0 * * * *");
    with.endpointID = endpoint.id;
    Job gone = job("gone", "0 * * * *", "/srv/b");
    gone.endpointID = Uuid::random();
    f.service->runNow(with).get();
    f.service->runNow(gone).get();
    auto calls = f.runner->calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].endpoint, endpoint);
    EXPECT_EQ(calls[0].defaults.timeoutSeconds, 120);
    EXPECT_FALSE(calls[1].endpoint) << "an unknown endpoint is none";
}

TEST(SchedulerService, APendingTickDoesNothingOnceTheServiceIsGone) {
    SchedulerFixture f(at(5, 12, 0, 5));
    f.store->save(job("hourly", "0 * * * *"));
    f.service->start();
    ASSERT_TRUE(f.timers->armed());
    // The timer was cancelled with the service; a handler that still ran does nothing.
    std::weak_ptr<SchedulerService> weak = f.service;
    f.service.reset();
    EXPECT_TRUE(weak.expired());
    EXPECT_FALSE(f.timers->fire());
    EXPECT_TRUE(f.runner->calls().empty());
}
