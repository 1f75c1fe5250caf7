#include "model/ModelTestSupport.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

namespace marrowbell::app {
namespace {

using test::ModelHome;

// Bulk changes ask nothing (the panel's test); a save asks while undecided. Deleting a
// job keeps its records.
TEST(Actions, SavingAsksForPermissionWhileUndecidedAndDeletingKeepsTheRecords) {
    ModelHome home;
    home.notifications.status = NotificationCenter::Authorization::notDetermined;
    home.notifications.grantOnRequest = false;
    auto model = home.model();
    EXPECT_TRUE(model->notificationsAllowed()); // undecided counts as allowed
    model->save(home.job("New"));
    EXPECT_EQ(home.notifications.requests, 1);
    EXPECT_FALSE(model->notificationsAllowed());
    ASSERT_EQ(model->jobs().size(), 1u);

    // Deleting the job keeps its records.
    const Job job = model->jobs().front();
    RunRecord record;
    record.jobID = job.id;
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
    job.name = "After";
    model->save(job);
    ASSERT_EQ(model->jobs().size(), 1u);
    EXPECT_EQ(model->jobs().front().name, "Before");
    EXPECT_FALSE(model->startupError());
}

// {succeeded, only failures wanted, notifications allowed, posts}; a refused centre coming
// back is the platform test's.
class AnnounceRule : public testing::TestWithParam<std::tuple<bool, bool, bool, bool>> {};

TEST_P(AnnounceRule, FailuresAlwaysSuccessesUnlessOnlyFailuresAreWantedNoneWhileRefused) {
    const auto [succeeded, onlyFailures, allowed, posts] = GetParam();
    ModelHome home;
    if (!allowed)
        home.notifications.status = NotificationCenter::Authorization::denied;
    Job job = home.job("Morning brief");
    auto model = home.model();
    EXPECT_EQ(model->notificationsAllowed(), allowed);
    model->updateSettings([&](AppSettings& s) { s.defaults.notifyOnFailureOnly = onlyFailures; });
    RunRecord record;
    record.duration = 5;
    record.exitCode = succeeded ? 0 : 1;
    model->announce(job, record);

    ASSERT_EQ(home.notifications.posted.size(), posts ? 1u : 0u);
    if (posts) {
        const auto& posted = home.notifications.posted.front();
        EXPECT_EQ(posted.identifier.toStdString(), record.id.text());
        EXPECT_EQ(posted.content.title, "Morning brief");
        EXPECT_EQ(posted.content.subtitle.toStdString(), record.outcomeSummary());
        EXPECT_EQ(posted.content.body.toStdString(), record.notificationDetail(300));
        EXPECT_EQ(posted.content.critical, !succeeded);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, AnnounceRule,
                         testing::Values(std::tuple(true, true, true, false),
                                         std::tuple(true, false, true, true),
                                         std::tuple(false, true, true, true),
                                         std::tuple(false, true, false, false)));

} // namespace
} // namespace marrowbell::app
