#include "scheduler/SchedulerTestSupport.h"
#include "scheduler/SerialTimerQueue.h"

#include <cmath>
#include <future>
#include <thread>

using namespace marrowbell;
using namespace std::chrono_literals;
using test::at;
using test::SchedulerFixture;

namespace {

Job job(const std::string& folder, Instant createdAt = at(5, 0, 0)) {
    Job j = test::job("job", "* * * * *", folder);
    j.createdAt = createdAt;
    return j;
}

} // namespace

// A timer fires once, after its delay; one cancelled (started or not, even the one the
// worker sleeps on) never fires.
TEST(SerialTimerQueue, FiresOnceAfterItsDelayUnlessCancelled) {
    SerialTimerQueue queue("com.marrowbell.test");
    std::atomic<bool> cancelledFired = false;
    auto sleptOn = queue.makeTimer(0.3, [&] { cancelledFired = true; });
    sleptOn->start();
    std::this_thread::sleep_for(50ms); // the worker is now waiting for that deadline
    sleptOn->cancel();
    auto cancelled = queue.makeTimer(0.01, [&] { cancelledFired = true; });
    cancelled->start();
    cancelled->cancel();
    auto neverStarted = queue.makeTimer(0, [&] { cancelledFired = true; });
    neverStarted->cancel();
    neverStarted->start(); // a cancelled timer stays cancelled
    std::promise<void> fired;
    std::atomic<int> count = 0;
    auto started = std::chrono::steady_clock::now();
    auto timer = queue.makeTimer(0.05, [&] {
        if (++count == 1)
            fired.set_value();
    });
    timer->start();
    ASSERT_EQ(fired.get_future().wait_for(10s), std::future_status::ready);
    EXPECT_GE(std::chrono::steady_clock::now() - started, 50ms);
    std::this_thread::sleep_for(400ms);
    EXPECT_EQ(count, 1);
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
    SchedulerFixture f(real);
    f.service = SchedulerService::create(f.store, f.history, f.endpoints, f.settings, f.runner,
                                         nullptr, [offset] { return Instant::now() + offset; });
    Job j = job("/srv/a", boundary - 20);
    f.store->save(j);
    f.service->start();
    ASSERT_TRUE(f.runner->waitForCalls(1));
    f.service->waitUntilIdle();
    ASSERT_EQ(f.runs(j).size(), 1u);
    EXPECT_EQ(f.runs(j)[0].startedAt, boundary);
    EXPECT_GE(Instant::now() + offset, boundary);
    f.service->stop();
}

// Ticks, manual runs, cancellations and reschedules from many threads at once: every run
// yields one record, scheduled runs never share a folder, and nothing races.
TEST(SchedulerConcurrency, RunsStartedCancelledAndFinishedWhileRescheduling) {
    SchedulerFixture f(at(5, 12, 0, 5), false, /*grace=*/3600);
    f.runner->pause = 3ms;
    std::vector<Job> scheduled{job("/srv/shared"), job("/srv/shared/.", at(5, 0, 0) + 1),
                               job("/srv/other", at(5, 0, 0) + 2)};
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
            f.clock.fetch_add(20);
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
                Job j = job("/srv/manual/" + std::to_string(t) + "/" + std::to_string(i));
                auto future = f.service->runNow(j);
                if (i % 3 == 0)
                    f.service->cancel(j.id);
                EXPECT_EQ(future.get().jobID, j.id);
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
    auto all = f.history->allRuns();
    EXPECT_EQ(static_cast<int>(all.size()), finished.load());
    auto skips = std::count_if(all.begin(), all.end(), [](const RunRecord& r) {
        return r.failureMessage && r.failureMessage->starts_with("Skipped — ");
    });
    EXPECT_EQ(f.runner->calls().size() + skips, all.size());
    for (const Job& j : scheduled) {
        EXPECT_FALSE(f.service->isRunning(j.id));
        auto runs = f.runs(j); // never twice for one slot
        for (std::size_t i = 1; i < runs.size(); ++i)
            EXPECT_LT(runs[i].startedAt, runs[i - 1].startedAt);
    }
}

TEST(SchedulerConcurrency, RunsKeepTheServiceAliveAfterItsOwnerLetsGo) {
    SchedulerFixture f(at(5, 12, 0, 5), /*holdRuns=*/true);
    std::vector<std::future<RunRecord>> futures;
    for (int i = 0; i < 4; ++i)
        futures.push_back(f.service->runNow(job("/srv/" + std::to_string(i))));
    ASSERT_TRUE(f.runner->waitForCalls(4));
    std::weak_ptr<SchedulerService> weak = f.service;
    f.service.reset();
    EXPECT_FALSE(weak.expired()) << "runs in progress hold the service";
    std::thread releaser([&] { f.runner->release(4); });
    for (auto& future : futures)
        EXPECT_NE(future.get().failureMessage, SchedulerService::wentAwayMessage);
    releaser.join();
    EXPECT_TRUE(weak.expired()) << "the last run let it go before handing out its record";
    EXPECT_EQ(f.history->allRuns().size(), 4u);
}
