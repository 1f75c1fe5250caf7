#include "model/ModelTestSupport.h"

#include <QSignalSpy>
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

// What another process (a terminal) changes reaches the model by itself.
struct OutsideChange {
    const char* name;
    void (AppModel::*signal)();
    std::function<void(ModelHome&)> change;
    std::function<bool(const AppModel&)> seen;
};

class FollowsTheDisk : public testing::TestWithParam<OutsideChange> {};

TEST_P(FollowsTheDisk, WithinASecond) {
    ModelHome home;
    auto model = home.model();
    ASSERT_FALSE(model->startupError());
    QSignalSpy changed(model.get(), GetParam().signal);
    // Read once before the change, so a value kept from then would show.
    EXPECT_TRUE(model->timeline().marks.empty());

    GetParam().change(home);
    EXPECT_TRUE(
        test::eventually([&] { return GetParam().seen(*model); }, std::chrono::milliseconds(1000)));
    EXPECT_GE(changed.count(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    EachStore, FollowsTheDisk,
    testing::Values(
        OutsideChange{"JobAdded", &AppModel::jobsChanged,
                      [](ModelHome& home) { home.save(home.job("From a terminal")); },
                      [](const AppModel& model) {
                          return model.jobs().size() == 1 &&
                                 model.jobs().front().name == "From a terminal" &&
                                 model.timeline().marks.size() > 0;
                      }},
        OutsideChange{"EndpointAdded", &AppModel::endpointsChanged,
                      [](ModelHome& home) {
                          EndpointStore(home.support() / "endpoints.json")
                              .save(Endpoint{Uuid::random(), "Box under the desk",
                                             *Url::parse("http://127.0.0.1:9/v1"),
                                             EndpointKind::ollama});
                      },
                      [](const AppModel& model) {
                          return !model.endpoints().empty() &&
                                 model.endpoints().back().name == "Box under the desk";
                      }},
        OutsideChange{
            "SettingsChanged", &AppModel::settingsChanged,
            [](ModelHome& home) {
                SettingsStore(home.support() / "settings.json").update([](AppSettings& settings) {
                    settings.defaults.notifyOnFailureOnly = false;
                });
            },
            [](const AppModel& model) { return !model.settings().defaults.notifyOnFailureOnly; }}),
    [](const testing::TestParamInfo<OutsideChange>& info) { return info.param.name; });

TEST(FollowsTheDisk, ANewRecordTellsTheViews) {
    ModelHome home;
    Job job = home.job("Recorded");
    home.save(job);
    auto model = home.model();
    QSignalSpy history(model.get(), &AppModel::historyChanged);
    QSignalSpy bar(model.get(), &AppModel::barStateChanged);

    RunRecord failed;
    failed.jobID = job.id;
    failed.startedAt = Instant::now();
    failed.exitCode = 2;
    model->history()->record(failed);
    EXPECT_TRUE(test::eventually([&] { return history.count() > 0; }));
    EXPECT_EQ(bar.count(), 1);
    EXPECT_EQ(model->barState(), BarState::attention);
}

} // namespace
} // namespace marrowbell::app
