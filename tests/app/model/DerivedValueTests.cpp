#include "model/ModelTestSupport.h"

#include <gtest/gtest.h>

namespace marrowbell::app {
namespace {

using test::ModelHome;

struct LastRun {
    const char* name;
    std::function<void(RunRecord&)> shape; // none: no record
    BarState expected;
};

class BarStateFromLastRuns : public testing::TestWithParam<LastRun> {};

TEST_P(BarStateFromLastRuns, AttentionForTheFirstJobWhoseLastRunFailed) {
    ModelHome home;
    Job paused = home.job("Paused");
    paused.isPaused = true; // counts too
    Job fine = home.job("Fine");
    home.save(paused);
    home.save(fine);
    auto model = home.model();

    RunRecord earlier;
    earlier.jobID = fine.id;
    earlier.startedAt = Instant::now() - 60;
    model->history()->record(earlier);
    if (GetParam().shape) {
        RunRecord last;
        last.jobID = paused.id;
        last.startedAt = Instant::now();
        GetParam().shape(last);
        model->history()->record(last);
    }
    EXPECT_EQ(model->barState(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    EachOutcome, BarStateFromLastRuns,
    testing::Values(
        LastRun{"NeverRun", nullptr, BarState::idle},
        LastRun{"Succeeded", [](RunRecord&) {}, BarState::idle},
        LastRun{"ExitCode", [](RunRecord& r) { r.exitCode = 1; }, BarState::attention},
        LastRun{"TimedOut", [](RunRecord& r) { r.timedOut = true; }, BarState::attention},
        LastRun{"Cancelled", [](RunRecord& r) { r.wasCancelled = true; }, BarState::attention},
        LastRun{"Skipped", [](RunRecord& r) { r.failureMessage = "The endpoint was offline."; },
                BarState::attention},
        LastRun{"WarnedOnly", [](RunRecord& r) { r.warning = "Partly done."; }, BarState::idle}),
    [](const testing::TestParamInfo<LastRun>& info) { return info.param.name; });

TEST(DerivedValues, WithoutJobs) {
    ModelHome home;
    auto model = home.model();
    EXPECT_EQ(model->barState(), BarState::idle);
    EXPECT_EQ(model->activeJobsTitle(), "Next up");
    EXPECT_TRUE(model->pausedJobs().empty());
    // Nothing installed: the empty state names every harness the manifest knows.
    ASSERT_TRUE(model->panelEmptyState());
    EXPECT_EQ(model->panelEmptyState()->kind, PanelEmptyState::Kind::noHarness);
    EXPECT_EQ(model->panelEmptyState()->installable.size(), model->registry()->specs().size());
}

TEST(DerivedValues, DefaultHarnessIsTheSettingElseTheRegistrysPreference) {
    ModelHome home;
    home.harness("exit 0\n");
    auto model = home.model();
    EXPECT_EQ(model->defaultHarnessID(), "claude"); // the one installed
    model->updateSettings([](AppSettings& settings) { settings.defaultHarnessID = "pi"; });
    EXPECT_EQ(model->defaultHarnessID(), "pi");
    EXPECT_TRUE(model->isInstalled("claude"));
    EXPECT_FALSE(model->isInstalled("pi"));
    ASSERT_TRUE(model->newEndpointTemplate());
    EXPECT_EQ(*model->newEndpointTemplate(), model->registry()->suggestedEndpoints().front());
    ASSERT_TRUE(model->panelEmptyState());
    EXPECT_EQ(model->panelEmptyState()->kind, PanelEmptyState::Kind::noJobs);
}

} // namespace
} // namespace marrowbell::app
