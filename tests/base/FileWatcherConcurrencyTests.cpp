#include "base/FileWatcher.h"
#include "base/Files.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <set>
#include <thread>

using namespace marrowbell;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

// What a handler was given, batch by batch, for the test to wait on; `hold` keeps the
// handler busy until it is lifted. `lookedAtEverything`: the first batch, before anything
// changed, asked for a look at everything.
struct Batches {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::vector<std::string>> batches;
    bool holding = false, lookedAtEverything = false;
    int calls = 0;

    FileWatcher::Handler handler() {
        return [this](const FileWatcher::Changes& changes) {
            std::unique_lock lock(mutex);
            if (calls++ == 0)
                lookedAtEverything = changes.touches("anything");
            if (changes.names.empty())
                return;
            batches.push_back(changes.names);
            changed.notify_all();
            changed.wait(lock, [&] { return !holding; });
        };
    }
    // Waits until the names seen so far include `name`; then every batch so far.
    std::optional<std::vector<std::vector<std::string>>> waitFor(const std::string& name) {
        std::unique_lock lock(mutex);
        auto named = [&](const auto& batch) {
            return std::ranges::find(batch, name) != batch.end();
        };
        if (!changed.wait_for(lock, 20s, [&] { return std::ranges::any_of(batches, named); }))
            return std::nullopt;
        return batches;
    }
    void hold(bool on) {
        std::lock_guard lock(mutex);
        holding = on;
        changed.notify_all();
    }
};

bool eachNameOnce(const std::vector<std::string>& batch) {
    return std::set(batch.begin(), batch.end()).size() == batch.size();
}

// A new subscription is first told to look at everything; then each way another program
// changes an entry is reported by its name, once per batch.
TEST(FileWatcher, ReportsEachKindOfChangeByName) {
    test::TempDir folder;
    test::writeFile(folder / "old.json", "{}");
    test::writeFile(folder / "gone.json", "{}");
    FileWatcher watcher;
    Batches seen;
    Subscription watching = watcher.watch(folder.path(), seen.handler());
    test::writeFile(folder / "new.json", "{}");
    EXPECT_TRUE(seen.waitFor("new.json")) << "created and written";
    files::writeAtomically(folder / "old.json", "{\"a\": 1}");
    EXPECT_TRUE(seen.waitFor("old.json")) << "replaced by rename";
    fs::remove(folder / "gone.json");
    EXPECT_TRUE(seen.waitFor("gone.json")) << "removed";
    fs::rename(folder / "new.json", folder / "new.txt");
    auto batches = seen.waitFor("new.txt");
    ASSERT_TRUE(batches) << "renamed";
    EXPECT_TRUE(std::ranges::all_of(*batches, eachNameOnce));
    EXPECT_TRUE(seen.lookedAtEverything);
}

// While a handler runs, later changes queue up and arrive as one batch, each name once.
TEST(FileWatcher, CoalescesABurstIntoOneBatch) {
    test::TempDir folder;
    FileWatcher watcher;
    Batches seen;
    Subscription watching = watcher.watch(folder.path(), seen.handler());
    seen.hold(true);
    test::writeFile(folder / "first", "");
    ASSERT_TRUE(seen.waitFor("first"));
    for (int round = 0; round < 3; ++round)
        for (int i = 0; i < 50; ++i)
            test::writeFile(folder / ("burst-" + std::to_string(i)), std::to_string(round));
    seen.hold(false);
    auto batches = seen.waitFor("burst-49");
    ASSERT_TRUE(batches);
    ASSERT_EQ(batches->size(), 2u);
    EXPECT_TRUE(eachNameOnce(batches->at(1)));
    EXPECT_EQ(
        std::ranges::count_if(batches->at(1), [](auto& n) { return n.starts_with("burst-"); }), 50);
}

// Two subscriptions on one folder share the kernel's watch: ending one keeps the other.
// A subscription ended from inside its handler, or after the watcher is gone, is fine.
TEST(FileWatcher, SubscriptionsEndIndependently) {
    test::TempDir folder;
    Batches kept;
    Subscription keep, quit;
    int quitCalls = 0;
    // The handler reaches `quit` only after it is assigned; the file written in between
    // orders the two, but through the kernel, where ThreadSanitizer cannot see it.
    std::atomic<bool> assigned = false;
    {
        FileWatcher watcher;
        keep = watcher.watch(folder.path(), kept.handler());
        quit = watcher.watch(folder.path(), [&](const FileWatcher::Changes&) {
            while (!assigned.load(std::memory_order_acquire))
                std::this_thread::yield();
            ++quitCalls;
            quit.reset();
        });
        assigned.store(true, std::memory_order_release);
        test::writeFile(folder / "one", "");
        ASSERT_TRUE(kept.waitFor("one"));
        test::writeFile(folder / "two", "");
        ASSERT_TRUE(kept.waitFor("two"));
        EXPECT_THROW(auto s = watcher.watch(folder / "missing", kept.handler()), std::system_error);
    }
    EXPECT_EQ(quitCalls, 1);
    keep.reset();
}

} // namespace
