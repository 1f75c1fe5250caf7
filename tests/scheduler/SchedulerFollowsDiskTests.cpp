#include "base/FileWatcher.h"
#include "base/Files.h"
#include "scheduler/SchedulerTestSupport.h"

#include <fstream>

using namespace marrowbell;
using test::at;
using test::eventually;
using test::job;
namespace fs = std::filesystem;

namespace {

std::string text(const Job& j) {
    return json::pretty(j.toJson());
}

// A scheduler whose stores follow their files, planning one job due at 11:30 from 11:00.
struct FollowingScheduler : test::SchedulerFixture {
    FollowingScheduler()
        : SchedulerFixture(at(5, 11, 0)) {
        store->save(halfPast);
        store->follow(watcher);
        endpoints->follow(watcher);
        settings->follow(watcher);
        service->start();
    }
    Job halfPast = job("half past", "30 11 * * *");
    FileWatcher watcher;
};

// Each way another program changes the folder: the scheduler plans exactly what is on
// disk a moment later, and whatever it does next (a tick, a run, a re-plan) leaves the
// file it changed as it found it.
TEST(SchedulerFollowsDisk, PlansWhatIsOnDiskAndLeavesTheFilesAlone) {
    FollowingScheduler f;
    ASSERT_EQ(f.timers->armed(), 1800);
    fs::path own = f.store->fileFor(f.halfPast.id), added = f.store->directory() / "by hand.json";
    Job quarterPast = f.halfPast;
    quarterPast.schedule = CronExpression("15 11 * * *");
    auto follows = [&](const char* change, const fs::path& left, std::optional<Seconds> armed,
                       std::size_t jobs) {
        SCOPED_TRACE(change);
        std::optional<std::string> written = files::read(left);
        ASSERT_TRUE(eventually([&] { return f.timers->armed() == armed; }))
            << "armed " << f.timers->armed().value_or(-1);
        EXPECT_EQ(f.store->jobs().size(), jobs);
        f.timers->fire();
        f.service->waitUntilIdle();
        EXPECT_EQ(files::read(left), written) << "never rewritten";
        EXPECT_EQ(f.store->jobs().size(), jobs);
    };
    test::writeFile(added, text(job("quarter", "15 11 * * *", "/srv/b")));
    follows("new file", added, 900, 2);
    fs::remove(added);
    follows("another's file deleted", added, 1800, 1);
    test::writeFile(f.store->directory() / "incoming.tmp", text(quarterPast));
    fs::rename(f.store->directory() / "incoming.tmp", own);
    follows("replaced by rename", own, 900, 1);
    std::ofstream(own, std::ios::trunc) << text(f.halfPast);
    follows("edited in place", own, 1800, 1);
    fs::remove(own);
    follows("deleted", own, std::nullopt, 0);
    test::writeFile(own, text(f.halfPast));
    follows("written again", own, 1800, 1);
    files::writeAtomically(own, "{\"name\": \"half");
    follows("replaced by a malformed file", own, std::nullopt, 0);
}

// Endpoints and settings written by another process reach the scheduler's stores; a
// settings file that cannot be decoded leaves the settings in force, and stays as it is.
TEST(SchedulerFollowsDisk, EndpointsAndSettingsFromAnotherProcess) {
    FollowingScheduler f;
    auto addEndpoint = [&] {
        Endpoint e{Uuid::random(), "Local", Url{"http://127.0.0.1:1"}, EndpointKind::ollama};
        EndpointStore(f.endpoints->fileURL()).save(e);
        return eventually([&] { return f.endpoints->endpoint(e.id).has_value(); });
    };
    ASSERT_TRUE(addEndpoint());
    SettingsStore(f.settings->fileURL()).update([](AppSettings& s) { s.catchUpGraceSeconds = 60; });
    ASSERT_TRUE(eventually([&] { return f.settings->settings().catchUpGraceSeconds == 60; }));
    files::writeAtomically(f.settings->fileURL(), "{\"catchUpGraceSeconds\": \"soon\"}");
    // The watcher reports in order: once a later endpoint is in, the damaged file was read.
    ASSERT_TRUE(addEndpoint());
    EXPECT_EQ(f.settings->settings().catchUpGraceSeconds, 60);
    EXPECT_EQ(files::read(f.settings->fileURL()), "{\"catchUpGraceSeconds\": \"soon\"}");
}

// Following begins with a look at every file, which reports only the jobs changed or
// removed since the store read them. What the store writes itself is reported once, when it writes
// it, and not again when the folder reports the file.
TEST(JobStoreFollowing, TheFirstLookCatchesUpAndOwnWritesDoNotEchoBack) {
    test::TempDir folder;
    JobStore store(folder / "Jobs");
    Job mine = test::makeJob("mine"), theirs = test::makeJob("theirs"), edited = mine;
    Job gone = test::makeJob("gone");
    for (const Job& job : {test::makeJob("kept"), mine, gone})
        store.save(job);
    edited.name = "edited";
    test::writeFile(store.fileFor(mine.id), text(edited));
    fs::remove(store.fileFor(gone.id));
    std::mutex mutex;
    std::vector<std::pair<std::vector<Uuid>, std::vector<Uuid>>> heard; // saved, removed
    auto sub = store.subscribe([&](const IdChanges& c) {
        std::lock_guard lock(mutex);
        heard.emplace_back(c.saved, c.removed);
    });
    FileWatcher watcher;
    store.follow(watcher);
    ASSERT_TRUE(eventually([&] { return store.job(mine.id)->name == "edited"; }));
    EXPECT_FALSE(store.job(gone.id));
    store.save(mine);
    store.remove(mine.id);
    store.save(mine);
    // A file written by someone else afterwards: once it is heard of, so were ours.
    test::writeFile(folder / "Jobs" / "theirs.json", text(theirs));
    ASSERT_TRUE(eventually([&] { return store.job(theirs.id).has_value(); }));
    std::lock_guard lock(mutex);
    std::vector<Uuid> none, m{mine.id}, t{theirs.id}, g{gone.id};
    EXPECT_EQ(heard, (decltype(heard){{m, g}, {m, none}, {none, m}, {m, none}, {t, none}}));
}

// Two files holding one job: the one named after it is kept; removing it hands the job
// to the other, removing both forgets it.
TEST(JobStoreFollowing, AJobHeldByTwoFilesStaysWhileOneRemains) {
    test::TempDir folder;
    Job twin = test::makeJob("twin"), renamed = twin, marker = test::makeJob("marker");
    test::writeFile(folder / "Jobs" / "copy.json", text(twin));
    JobStore store(folder / "Jobs");
    store.save(twin);
    FileWatcher watcher;
    store.follow(watcher);
    renamed.name = "renamed copy";
    test::writeFile(folder / "Jobs" / "copy.json", text(renamed));
    // The watcher reports in order: once a marker written later is read, so was the copy.
    test::writeFile(folder / "Jobs" / "marker.json", text(marker));
    ASSERT_TRUE(eventually([&] { return store.job(marker.id).has_value(); }));
    EXPECT_EQ(store.job(twin.id)->name, "twin");
    fs::remove(store.fileFor(twin.id));
    ASSERT_TRUE(eventually([&] { return store.job(twin.id)->name == "renamed copy"; }));
    fs::remove(folder / "Jobs" / "copy.json");
    ASSERT_TRUE(eventually([&] { return !store.job(twin.id); }));
}

} // namespace
