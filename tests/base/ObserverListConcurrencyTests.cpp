#include "base/ObserverList.h"
#include "job/JobStore.h"
#include "run/SerialQueue.h"
#include "support/JobFixture.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <future>
#include <set>
#include <thread>

using namespace marrowbell;

namespace {

// The three awkward observers at once, on a real store: one ends its own subscription
// inside its first call, one throws, one saves into the store from inside its call.
// Nothing deadlocks, and the plain observers hear of every change — the nested save
// included, after the change that caused it.
TEST(ObserverList, AwkwardObserversCostTheOthersNothing) {
    test::TempDir folder;
    JobStore store(folder.path() / "Jobs");
    std::vector<Uuid> before, after;
    int quitterCalls = 0;
    Subscription quitter = store.subscribe([&](const IdChanges&) {
        ++quitterCalls;
        quitter.reset();
    });
    auto first = store.subscribe(
        [&](const IdChanges& c) { before.insert(before.end(), c.saved.begin(), c.saved.end()); });
    auto thrower =
        store.subscribe([](const IdChanges&) { throw std::runtime_error("observer failed"); });
    Job echo = test::makeJob("echo");
    bool echoed = false;
    auto reentrant = store.subscribe([&](const IdChanges& c) {
        if (!echoed && c.saved.front() != echo.id) {
            echoed = true;
            store.save(echo); // back into the store, from inside a notification
        }
    });
    auto last = store.subscribe(
        [&](const IdChanges& c) { after.insert(after.end(), c.saved.begin(), c.saved.end()); });

    Job a = test::makeJob("a"), b = test::makeJob("b");
    store.save(a);
    store.save(b);
    const std::vector<Uuid> expected{a.id, echo.id, b.id};
    EXPECT_EQ(before, expected);
    EXPECT_EQ(after, expected);
    EXPECT_EQ(quitterCalls, 1);
    EXPECT_EQ(store.jobs().size(), 3u);
}

// Four threads notify while a fifth subscribes and unsubscribes over and over: a steady
// observer hears every change exactly once, and an observer whose subscription ended is
// never called afterwards.
TEST(ObserverList, ConcurrentNotificationsAndSubscriptions) {
    ObserverList<int> list;
    std::atomic<int> heard{0};
    auto steady = list.subscribe([&](const int&) { heard.fetch_add(1); });
    constexpr int perThread = 2000;
    std::atomic<bool> done{false};
    std::atomic<int> lateCalls{0};
    std::thread churn([&] {
        while (!done) {
            auto ended = std::make_shared<std::atomic<bool>>(false);
            auto sub = list.subscribe([ended, &lateCalls](const int&) {
                if (*ended)
                    lateCalls.fetch_add(1);
            });
            std::this_thread::yield();
            sub.reset();
            *ended = true; // after reset returns, no call may begin or be under way
        }
    });
    std::vector<std::thread> notifiers;
    for (int t = 0; t < 4; ++t)
        notifiers.emplace_back([&] {
            for (int i = 0; i < perThread; ++i)
                list.notify(i);
        });
    for (auto& n : notifiers)
        n.join();
    done = true;
    churn.join();
    EXPECT_EQ(heard, 4 * perThread);
    EXPECT_EQ(lateCalls, 0);
    EXPECT_EQ(list.size(), 1u);
}

// An executor chooses the thread: calls arrive on the subscriber's queue, in order;
// a call still queued when the subscription ends is dropped.
TEST(ObserverList, ExecutorDeliversOnTheSubscribersQueue) {
    ObserverList<int> list;
    SerialQueue queue("test.observer");
    std::thread::id queueThread;
    queue.sync([&] { queueThread = std::this_thread::get_id(); });
    std::vector<int> heard;
    std::set<std::thread::id> threads;
    auto sub = list.subscribe(
        [&](const int& value) {
            heard.push_back(value);
            threads.insert(std::this_thread::get_id());
        },
        [&](std::function<void()> call) { queue.async(std::move(call)); });
    std::thread([&] {
        for (int i = 0; i < 5; ++i)
            list.notify(i);
    }).join();
    queue.sync([] {});
    EXPECT_EQ(heard, (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_EQ(threads, std::set{queueThread});

    std::promise<void> gate;
    queue.async([f = gate.get_future().share()] { f.wait(); }); // holds the queue
    list.notify(5);
    sub.reset();
    gate.set_value();
    queue.sync([] {});
    EXPECT_EQ(heard.size(), 5u) << "the queued call of an ended subscription is dropped";
}

} // namespace
