#include "model/ModelTestSupport.h"

#include "harness/HarnessError.h"
#include "scheduler/SchedulerLock.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

namespace marrowbell::app {
namespace {

using test::ModelHome;

// What a failed start leaves: the state before start-up, the error, nothing running.
void expectNothingStarted(const AppModel& model) {
    EXPECT_FALSE(model.registry() || model.store() || model.history() || model.endpointStore() ||
                 model.settingsStore() || model.scheduler() || model.isAttached());
    EXPECT_TRUE(model.jobs().empty() && model.endpoints().empty());
    EXPECT_EQ(model.settings(), AppSettings());
}

// Each spoils the home and gives the start-up error expected of it.
class StartupFailure : public testing::TestWithParam<std::string (*)(ModelHome&)> {};

TEST_P(StartupFailure, LeavesTheErrorAndNothingElse) {
    ModelHome home;
    const std::string expected = GetParam()(home);
    Job job = home.job("Every minute");
    if (std::filesystem::exists(home.support() / "Jobs"))
        home.save(job);

    auto model = home.model();
    ASSERT_TRUE(model->startupError());
    EXPECT_EQ(*model->startupError(), expected);
    expectNothingStarted(*model);
    // No scheduler: the lock is free and nothing is recorded.
    EXPECT_FALSE(SchedulerLock::holder(home.support() / "scheduler.lock"));
    test::settle(std::chrono::milliseconds(200));
    EXPECT_TRUE(home.runs().empty());
}

INSTANTIATE_TEST_SUITE_P(
    EachStep, StartupFailure,
    testing::Values(
        +[](ModelHome& home) {
            // The data folder is a file: nothing can be made inside it.
            std::filesystem::remove_all(home.root / "data");
            marrowbell::test::writeFile(home.root / "data", "not a folder");
            try {
                JobStore(JobStore::defaultDirectory());
            } catch (const std::exception& error) {
                return std::string(error.what());
            }
            return std::string("(the folder could be created)");
        },
        // After the job store and the history were made: they are not published either.
        +[](ModelHome& home) {
            const auto file = home.support() / "endpoints.json";
            std::filesystem::create_directories(file);
            return "Could not read " + file.string() + ": it is not a regular file";
        }));

// The manifest is looked for beside the binary: a copy of this program in a folder of
// its own finds none. The copy runs this test again, with `probe` set.
TEST(StartupFailure, ManifestMissing) {
    static const char* probe = "MARROWBELL_MODEL_PROBE";
    if (std::getenv(probe)) {
        ModelHome home;
        auto model = home.model();
        ASSERT_TRUE(model->startupError());
        EXPECT_EQ(*model->startupError(), HarnessError::manifestMissing().what());
        expectNothingStarted(*model);
        return;
    }
    marrowbell::test::TempDir elsewhere;
    const auto copy = elsewhere / "bin" / "app_model_tests";
    std::filesystem::create_directories(copy.parent_path());
    std::filesystem::copy_file("/proc/self/exe", copy);
    std::filesystem::permissions(copy, std::filesystem::perms::owner_all);
    auto result = marrowbell::test::runProcess(
        {copy.string(), "--gtest_filter=StartupFailure.ManifestMissing"}, "",
        {std::string(probe) + "=1", "QT_QPA_PLATFORM=offscreen"});
    EXPECT_EQ(result.exitStatus, 0) << result.out << result.err;
    EXPECT_NE(result.out.find("[  PASSED  ] 1 test"), std::string::npos) << result.out;
}

// The suggested endpoints are seeded only into an empty list.
TEST(Startup, PublishesTheServicesLoadsWhatIsOnDiskAndSeedsTheEndpointsOnce) {
    ModelHome home;
    home.harness("exit 0\n");
    Job job = home.job("Every minute");
    home.save(job);
    std::vector<Endpoint> seeded;
    {
        auto model = home.model();
        EXPECT_FALSE(model->startupError());
        ASSERT_TRUE(model->store() && model->history() && model->endpointStore() &&
                    model->settingsStore() && model->scheduler() && model->registry());
        EXPECT_FALSE(model->isAttached());
        EXPECT_EQ(model->jobs(), std::vector{job});
        ASSERT_EQ(model->installedHarnesses().size(), 1u);
        EXPECT_EQ(model->installedHarnesses().front().id, "claude");
        // The one scheduler of this user.
        EXPECT_EQ(SchedulerLock::holder(home.support() / "scheduler.lock"), ::getpid());
        EXPECT_NE(model->scheduler()->nextWakeUp(), std::nullopt);

        seeded = model->endpoints();
        const auto& suggested = model->registry()->suggestedEndpoints();
        ASSERT_EQ(seeded.size(), suggested.size());
        ASSERT_GT(seeded.size(), 1u);
        for (std::size_t i = 0; i < suggested.size(); ++i)
            EXPECT_EQ(seeded[i].name, suggested[i].name);
        EXPECT_NE(seeded.front().id, seeded.back().id);
    }
    EXPECT_EQ(home.model()->endpoints(), seeded);
}

#ifndef NDEBUG
// Debug builds stop a use of the model from another thread at once, before it races
// with the main thread.
TEST(MainThreadDeathTest, TheModelIsNotUsedOffTheMainThread) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    ModelHome home;
    auto model = home.model();
    EXPECT_DEATH(std::thread([&] { model->jobs(); }).join(), "off the main thread");
    EXPECT_DEATH(std::thread([&] { model->refresh(); }).join(), "off the main thread");
}
#endif

} // namespace
} // namespace marrowbell::app
