#include "base/FileWatcher.h"
#include "base/Files.h"
#include "scheduler/SchedulerTestSupport.h"
#include "support/JobFixture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

using namespace marrowbell;
using namespace std::chrono_literals;
using test::SchedulerFixture;
namespace fs = std::filesystem;

namespace {

Instant at(int hour, int minute) {
    return *TimeZone::utc().instant(LocalDateTime{2026, 3, 5, hour, minute, 0});
}

Job job(const std::string& name, const std::string& cron, const std::string& folder = "/srv/a") {
    Job j = test::makeJob(name, cron, at(0, 0));
    j.workingDirectory = FileUrl::fromPath(folder, true);
    return j;
}

std::string text(const Job& j) {
    return json::pretty(j.toJson());
}

using test::eventually;

// A scheduler whose stores follow their files, planning one job due at 11:30 from 11:00.
struct FollowingScheduler : SchedulerFixture {
    FollowingScheduler()
        : SchedulerFixture(at(11, 0)) {
        store->save(halfPast);
        store->follow(watcher);
        endpoints->follow(watcher);
        settings->follow(watcher);
        service->start();
    }
    fs::path jobs() const { return store->directory(); }

    Job halfPast = job("half past", "30 11 * * *");
    FileWatcher watcher;
};

struct DiskChange {
    std::string label;
    // What another program does to the folder; returns the file it leaves behind, if any.
    std::function<fs::path(FollowingScheduler&)> act;
    std::optional<Seconds> armed; // the plan that must follow
    std::size_t jobs;
};

void PrintTo(const DiskChange& change, std::ostream* out) {
    *out << change.label;
}

class SchedulerFollowsDisk : public ::testing::TestWithParam<DiskChange> {};

// The scheduler plans exactly what is on disk a moment later, and leaves a foreign
// file as it found it.
TEST_P(SchedulerFollowsDisk, PlansWhatIsOnDiskAndLeavesTheFileAlone) {
    FollowingScheduler f;
    ASSERT_EQ(f.timers->armed(), 1800);
    fs::path left = GetParam().act(f);
    std::string written = left.empty() ? "" : files::read(left).value_or("");
    ASSERT_TRUE(eventually([&] { return f.timers->armed() == GetParam().armed; }))
        << "armed " << f.timers->armed().value_or(-1);
    EXPECT_EQ(f.store->jobs().size(), GetParam().jobs);
    // Whatever else happens now (a tick, a run, a re-plan) never touches the file.
    if (f.timers->armed())
        f.timers->fire();
    f.service->waitUntilIdle();
    if (!left.empty()) {
        EXPECT_EQ(files::read(left), written) << "never rewritten";
    }
    EXPECT_EQ(f.store->jobs().size(), GetParam().jobs);
}

fs::path ownFile(FollowingScheduler& f) {
    return f.store->fileFor(f.halfPast.id);
}

Job quarterPast(FollowingScheduler& f) {
    Job j = f.halfPast;
    j.schedule = CronExpression("15 11 * * *");
    return j;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SchedulerFollowsDisk,
    ::testing::Values(
        DiskChange{"a new job file",
                   [](FollowingScheduler& f) {
                       fs::path file = f.jobs() / "added by hand.json";
                       test::writeFile(file, text(job("quarter", "15 11 * * *", "/srv/b")));
                       return file;
                   },
                   900, 2},
        DiskChange{"replaced by rename",
                   [](FollowingScheduler& f) {
                       test::writeFile(f.jobs() / "incoming.tmp", text(quarterPast(f)));
                       fs::rename(f.jobs() / "incoming.tmp", ownFile(f));
                       return ownFile(f);
                   },
                   900, 1},
        DiskChange{"edited in place",
                   [](FollowingScheduler& f) {
                       std::ofstream(ownFile(f), std::ios::trunc) << text(quarterPast(f));
                       return ownFile(f);
                   },
                   900, 1},
        DiskChange{"deleted",
                   [](FollowingScheduler& f) {
                       fs::remove(ownFile(f));
                       return fs::path();
                   },
                   std::nullopt, 0},
        DiskChange{"replaced by a malformed file",
                   [](FollowingScheduler& f) {
                       test::writeFile(f.jobs() / "incoming.tmp", "{\"name\": \"half");
                       fs::rename(f.jobs() / "incoming.tmp", ownFile(f));
                       return ownFile(f);
                   },
                   std::nullopt, 0},
        DiskChange{"paused in another process's store",
                   [](FollowingScheduler& f) {
                       JobStore other(f.jobs());
                       Job paused = f.halfPast;
                       paused.isPaused = true;
                       other.save(paused);
                       return ownFile(f);
                   },
                   std::nullopt, 1}));

// Endpoints and settings written by another process reach the scheduler's stores; a
// settings file that cannot be decoded leaves the settings in force, and stays as it is.
TEST(SchedulerFollowsDisk, EndpointsAndSettingsFromAnotherProcess) {
    FollowingScheduler f;
    Endpoint local{Uuid::random(), "Local", Url{"http://127.0.0.1:1"}, EndpointKind::ollama};
    EndpointStore(f.endpoints->fileURL()).save(local);
    ASSERT_TRUE(eventually([&] { return f.endpoints->endpoint(local.id).has_value(); }));
    SettingsStore(f.settings->fileURL()).update([](AppSettings& s) { s.catchUpGraceSeconds = 60; });
    ASSERT_TRUE(eventually([&] { return f.settings->settings().catchUpGraceSeconds == 60; }));
    files::writeAtomically(f.settings->fileURL(), "{\"catchUpGraceSeconds\": \"soon\"}");
    // The watcher reports in order: once a later endpoint is in, the damaged file was read.
    Endpoint later{Uuid::random(), "Later", Url{"http://127.0.0.1:2"}, EndpointKind::ollama};
    EndpointStore(f.endpoints->fileURL()).save(later);
    ASSERT_TRUE(eventually([&] { return f.endpoints->endpoint(later.id).has_value(); }));
    EXPECT_EQ(f.settings->settings().catchUpGraceSeconds, 60);
    EXPECT_EQ(files::read(f.settings->fileURL()), "{\"catchUpGraceSeconds\": \"soon\"}");
}

// What the store writes itself is reported once, when it writes it, and not again
// when the folder reports the file.
TEST(JobStoreFollowing, OwnWritesDoNotEchoBack) {
    test::TempDir folder;
    JobStore store(folder / "Jobs");
    FileWatcher watcher;
    store.follow(watcher);
    std::mutex mutex;
    std::vector<IdChanges> heard;
    auto sub = store.subscribe([&](const IdChanges& c) {
        std::lock_guard lock(mutex);
        heard.push_back(c);
    });
    Job mine = test::makeJob("mine");
    store.save(mine);
    store.remove(mine.id);
    store.save(mine);
    // A file written by someone else afterwards: once it is heard of, so were ours.
    Job theirs = test::makeJob("theirs");
    test::writeFile(folder / "Jobs" / "theirs.json", text(theirs));
    ASSERT_TRUE(eventually([&] { return store.job(theirs.id).has_value(); }));
    std::lock_guard lock(mutex);
    ASSERT_EQ(heard.size(), 4u);
    EXPECT_EQ(heard[0].saved, std::vector{mine.id});
    EXPECT_EQ(heard[1].removed, std::vector{mine.id});
    EXPECT_EQ(heard[2].saved, std::vector{mine.id});
    EXPECT_EQ(heard[3].saved, std::vector{theirs.id});
}

// Two files holding one job: the one named after it is kept; removing it hands the job
// to the other, removing both forgets it.
TEST(JobStoreFollowing, AJobHeldByTwoFilesStaysWhileOneRemains) {
    test::TempDir folder;
    Job twin = test::makeJob("twin");
    test::writeFile(folder / "Jobs" / "copy.json", text(twin));
    JobStore store(folder / "Jobs");
    store.save(twin);
    FileWatcher watcher;
    store.follow(watcher);
    // The watcher reports in order: once a marker written later is read, so was the rest.
    int markers = 0;
    auto caughtUp = [&] {
        Job marker = test::makeJob("marker " + std::to_string(++markers));
        test::writeFile(folder / "Jobs" / ("marker" + std::to_string(markers) + ".json"),
                        text(marker));
        return eventually([&] { return store.job(marker.id).has_value(); });
    };
    Job renamed = twin;
    renamed.name = "renamed copy";
    test::writeFile(folder / "Jobs" / "copy.json", text(renamed));
    ASSERT_TRUE(caughtUp());
    EXPECT_EQ(store.job(twin.id)->name, "twin");
    fs::remove(store.fileFor(twin.id));
    ASSERT_TRUE(eventually([&] { return store.job(twin.id)->name == "renamed copy"; }));
    fs::remove(folder / "Jobs" / "copy.json");
    ASSERT_TRUE(eventually([&] { return !store.job(twin.id); }));
}

} // namespace
