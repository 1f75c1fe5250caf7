#include "model/ModelTestSupport.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

namespace marrowbell::app {
namespace {

using test::ModelHome;

constexpr Instant fixedNow{800000000};

struct ClockedHome : ModelHome {
    AppPlatform platform() {
        AppPlatform services = ModelHome::platform();
        services.clock = [] { return fixedNow; };
        return services;
    }
    std::unique_ptr<AppModel> model() { return std::make_unique<AppModel>(platform()); }
};

TEST(Actions, ResumingOneJobStampsItLikeResumeAll) {
    ClockedHome home;
    Job job = home.job("Paused");
    job.isPaused = true;
    home.save(job);
    auto model = home.model();

    model->togglePause(model->jobs().front());
    ASSERT_EQ(model->jobs().size(), 1u);
    EXPECT_FALSE(model->jobs().front().isPaused);
    EXPECT_EQ(model->jobs().front().resumedAt, fixedNow);
    // Saving asks for notification permission; the platform asks only while undecided.
    EXPECT_EQ(home.notifications.requests, 0);

    model->togglePause(model->jobs().front());
    EXPECT_TRUE(model->jobs().front().isPaused);
    EXPECT_EQ(model->jobs().front().resumedAt, fixedNow);
}

TEST(Actions, BulkPauseAltersEveryJobOnceAndAsksNothing) {
    ClockedHome home;
    home.notifications.status = NotificationCenter::Authorization::notDetermined;
    Job a = home.job("A"), b = home.job("B");
    b.isPaused = true;
    home.save(a);
    home.save(b);
    auto model = home.model();
    QSignalSpy jobs(model.get(), &AppModel::jobsChanged);

    model->applyBulkPause(); // some are active: pause all
    EXPECT_EQ(jobs.count(), 1);
    EXPECT_EQ(model->pausedJobs().size(), 2u);
    model->applyBulkPause(); // all paused: resume all
    EXPECT_TRUE(model->pausedJobs().empty());
    for (const Job& job : model->jobs())
        EXPECT_EQ(job.resumedAt, fixedNow);
    EXPECT_EQ(home.notifications.requests, 0);
}

TEST(Actions, SavingAsksForPermissionWhileUndecided) {
    ModelHome home;
    home.notifications.status = NotificationCenter::Authorization::notDetermined;
    home.notifications.grantOnRequest = false;
    auto model = home.model();
    EXPECT_TRUE(model->notificationsAllowed()); // undecided counts as allowed

    model->save(home.job("New"));
    EXPECT_EQ(home.notifications.requests, 1);
    EXPECT_FALSE(model->notificationsAllowed());
    EXPECT_EQ(model->jobs().size(), 1u);
}

TEST(Actions, DeletingAJobKeepsItsRecords) {
    ModelHome home;
    Job job = home.job("Short-lived");
    home.save(job);
    auto model = home.model();
    RunRecord record;
    record.jobID = job.id;
    record.startedAt = Instant::now();
    model->history()->record(record);

    model->deleteJob(job);
    EXPECT_TRUE(model->jobs().empty());
    EXPECT_FALSE(std::filesystem::exists(model->store()->fileFor(job.id)));
    EXPECT_EQ(model->history()->runs(job.id).size(), 1u);
}

TEST(Actions, AFailedSaveLeavesTheListAsItIs) {
    marrowbell::test::SmallFilesystem disk;
    if (disk.unavailable())
        GTEST_SKIP() << *disk.unavailable();
    ModelHome home;
    test::ScopedEnv data("XDG_DATA_HOME", (disk / "data").string());
    Job job = home.job("Before");
    auto model = home.model();
    model->save(job);
    ASSERT_EQ(model->jobs().size(), 1u);

    disk.fill(); // no room for the new file
    Job renamed = job;
    renamed.name = "After";
    model->save(renamed);
    ASSERT_EQ(model->jobs().size(), 1u);
    EXPECT_EQ(model->jobs().front().name, "Before");
    EXPECT_FALSE(model->startupError());
}

TEST(Actions, SettingsChangesAreStoredAndShown) {
    ModelHome home;
    auto model = home.model();
    QSignalSpy settings(model.get(), &AppModel::settingsChanged);
    model->updateSettings([](AppSettings& s) { s.catchUpGraceSeconds = 0; });
    EXPECT_EQ(settings.count(), 1);
    EXPECT_EQ(model->settings().catchUpGraceSeconds, 0);
    EXPECT_EQ(SettingsStore(home.support() / "settings.json").settings().catchUpGraceSeconds, 0);
}

// The login item's failure is shown where the start-up error is; the status is read
// again either way.
class RefusingLoginItem : public LoginItem {
public:
    Status current = Status::notRegistered;
    int reads = 0;
    Status status() const override {
        ++const_cast<RefusingLoginItem*>(this)->reads;
        return current;
    }
    void setEnabled(bool) override { throw Error("The autostart folder is read-only."); }
};

TEST(Actions, AFailedLoginItemChangeIsReported) {
    ModelHome home;
    RefusingLoginItem item;
    AppPlatform platform = home.platform();
    platform.loginItem = &item;
    AppModel model(platform);
    const int readsAtStart = item.reads;
    QSignalSpy error(&model, &AppModel::startupErrorChanged);

    model.setLaunchAtLogin(true);
    EXPECT_EQ(error.count(), 1);
    EXPECT_EQ(model.startupError(),
              "Could not change the login item — The autostart folder is read-only.");
    EXPECT_EQ(item.reads, readsAtStart + 1);
    EXPECT_TRUE(model.scheduler()); // everything else goes on
}

} // namespace
} // namespace marrowbell::app
