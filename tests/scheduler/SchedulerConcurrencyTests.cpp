#include "scheduler/SchedulerTestSupport.h"
#include "scheduler/SerialTimerQueue.h"
#include "support/JobFixture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <future>
#include <random>
#include <thread>

using namespace marrowbell;
using namespace std::chrono_literals;
using test::SchedulerFixture;

namespace {

Instant at(int day, int hour, int minute, double second = 0) {
    return *TimeZone::utc().instant(LocalDateTime{2026, 3, day, hour, minute, second});
}

Job job(const std::string& name, const std::string& folder, Instant createdAt) {
    Job j = test::makeJob(name, "* * * * *", createdAt);
    j.workingDirectory = FileUrl::fromPath(folder, true);
    return j;
}

} // namespace

TEST(SerialTimerQueue, FiresOnceAfterItsDelayUnlessCancelled) {
    SerialTimerQueue queue("com.marrowbell.test");
    std::promise<void> fired;
    std::atomic<int> count = 0;
    auto started = std::chrono::steady_clock::now();
    auto timer = queue.makeTimer(0.05, [&] {
        if (++count == 1)
            fired.set_value();
    });
    std::atomic<bool> cancelledFired = false;
    auto cancelled = queue.makeTimer(0.01, [&] { cancelledFired = true; });
    cancelled->start();
    cancelled->cancel();
    auto neverStarted = queue.makeTimer(0, [&] { cancelledFired = true; });
    neverStarted->cancel();
    neverStarted->start(); // a cancelled timer stays cancelled
    timer->start();
    ASSERT_EQ(fired.get_future().wait_for(10s), std::future_status::ready);
    EXPECT_GE(std::chrono::steady_clock::now() - started, 50ms);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(count, 1);
    EXPECT_FALSE(cancelledFired);
}

TEST(SerialTimerQueue, CancellingTheTimerTheWorkerSleepsOnIsSafe) {
    SerialTimerQueue queue("com.marrowbell.test");
    std::atomic<bool> cancelledFired = false;
    auto sleptOn = queue.makeTimer(0.3, [&] { cancelledFired = true; });
    sleptOn->start();
    std::this_thread::sleep_for(50ms); // the worker is now waiting for that deadline
    sleptOn->cancel();
    std::promise<void> fired;
    auto next = queue.makeTimer(0.05, [&] { fired.set_value(); });
    next->start();
    ASSERT_EQ(fired.get_future().wait_for(10s), std::future_status::ready);
    std::this_thread::sleep_for(400ms);
    EXPECT_FALSE(cancelledFired);
}

TEST(SerialTimerQueue, AHandlerMayDropTheLastOwnerOfItsQueue) {
    auto queue = std::make_shared<SerialTimerQueue>("com.marrowbell.test");
    std::promise<void> done;
    auto timer = queue->makeTimer(0, [&done, owner = queue]() mutable {
        owner.reset();
        done.set_value();
    });
    timer->start();
    queue.reset(); // the handler now holds the last reference
    ASSERT_EQ(done.get_future().wait_for(10s), std::future_status::ready);
}

// The one test on the wall clock: the real timer fires a tick for a slot 1.5 s away (the
// clock is shifted so that a minute boundary is that close).
TEST(SchedulerRealTime, RealTimerStartsTheRunAtItsSlot) {
    Instant real = Instant::now();
    Instant boundary{std::floor(real.sinceReference / 60) * 60 + 60};
    Seconds offset = (boundary - 1.5) - real;
    test::TempDir folder;
    auto store = std::make_shared<JobStore>(folder / "Jobs");
    auto history = std::make_shared<RunHistory>(folder / "runs.json");
    auto endpoints = std::make_shared<EndpointStore>(folder / "endpoints.json");
    auto settings = std::make_shared<SettingsStore>(folder / "settings.json");
    auto runner = std::make_shared<test::FakeRunner>(history);
    auto service = SchedulerService::create(store, history, endpoints, settings, runner, nullptr,
                                            [offset] { return Instant::now() + offset; });
    Job j = job("soon", "/srv/a", boundary - 20);
    store->save(j);
    service->start();
    ASSERT_TRUE(runner->waitForCalls(1));
    service->waitUntilIdle();
    auto runs = history->runs(j.id);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].startedAt, boundary);
    EXPECT_GE(Instant::now() + offset, boundary);
    service->stop();
}

// Ticks, manual runs, cancellations and reschedules from many threads at once: every run
// yields one record, scheduled runs never share a folder, and nothing races.
TEST(SchedulerConcurrency, RunsStartedCancelledAndFinishedWhileRescheduling) {
    SchedulerFixture f(at(5, 12, 0, 5), false, /*grace=*/3600);
    f.runner->setPause(3ms);
    std::vector<Job> scheduled{job("a", "/srv/shared", at(5, 0, 0)),
                               job("b", "/srv/shared/.", at(5, 0, 0) + 1),
                               job("c", "/srv/other", at(5, 0, 0) + 2)};
    for (const Job& j : scheduled)
        f.store->save(j);
    std::atomic<int> finished = 0;
    f.service->setOnRunFinished([&](const Job&, const RunRecord&) { ++finished; });
    f.service->setOnChange([] {});
    f.service->start();

    std::atomic<bool> done = false;
    std::thread queue([&] { // plays the scheduler's serial queue
        while (!done) {
            f.timers->fire();
            f.clock.advance(20);
            std::this_thread::sleep_for(1ms);
        }
    });
    std::thread rescheduler([&] {
        while (!done) {
            f.service->reschedule();
            for (const Job& j : scheduled)
                f.service->cancel(j.id);
            std::this_thread::sleep_for(2ms);
        }
    });
    std::vector<std::thread> manual;
    std::atomic<int> manualRecords = 0;
    for (int t = 0; t < 4; ++t)
        manual.emplace_back([&, t] {
            for (int i = 0; i < 15; ++i) {
                // Manual jobs are not in the store and each has its own folder.
                Job j = job("manual", "/srv/manual/" + std::to_string(t) + "/" + std::to_string(i),
                            at(5, 0, 0));
                auto future = f.service->runNow(j);
                if (i % 3 == 0)
                    f.service->cancel(j.id);
                RunRecord record = future.get();
                EXPECT_EQ(record.jobID, j.id);
                ++manualRecords;
            }
        });
    for (auto& thread : manual)
        thread.join();
    done = true;
    queue.join();
    rescheduler.join();
    f.service->stop();
    f.service->waitUntilIdle();

    EXPECT_EQ(manualRecords, 60);
    EXPECT_EQ(f.runner->maxPerFolder(), 1);
    EXPECT_EQ(static_cast<int>(f.history->allRuns().size()), finished.load());
    std::size_t skips = 0;
    for (const RunRecord& record : f.history->allRuns())
        skips += record.failureMessage && record.failureMessage->starts_with("Skipped — ");
    EXPECT_EQ(f.runner->calls().size() + skips, f.history->allRuns().size());
    for (const Job& j : scheduled) {
        EXPECT_FALSE(f.service->isRunning(j.id));
        // Never twice for one slot.
        auto runs = f.history->runs(j.id);
        for (std::size_t i = 1; i < runs.size(); ++i)
            EXPECT_LT(runs[i].startedAt, runs[i - 1].startedAt);
    }
}

TEST(SchedulerConcurrency, RunsKeepTheServiceAliveAfterItsOwnerLetsGo) {
    SchedulerFixture f(at(5, 12, 0, 5), /*holdRuns=*/true);
    std::vector<std::future<RunRecord>> futures;
    for (int i = 0; i < 4; ++i)
        futures.push_back(f.service->runNow(job("held", "/srv/" + std::to_string(i), at(5, 0, 0))));
    ASSERT_TRUE(f.runner->waitForCalls(4));
    std::weak_ptr<SchedulerService> weak = f.service;
    f.service.reset();
    EXPECT_FALSE(weak.expired()) << "runs in progress hold the service";
    std::thread releaser([&] { f.runner->release(4); });
    for (auto& future : futures) {
        RunRecord record = future.get();
        EXPECT_NE(record.failureMessage, SchedulerService::wentAwayMessage);
    }
    releaser.join();
    EXPECT_TRUE(weak.expired()) << "the last run let it go before handing out its record";
    EXPECT_EQ(f.history->allRuns().size(), 4u);
}
