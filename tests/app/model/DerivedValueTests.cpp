#include "model/Format.h"
#include "model/ModelTestSupport.h"

#include <QSignalSpy>
#include <gtest/gtest.h>

namespace marrowbell::app {
namespace {

using test::ModelHome;

// Attention while the last run of any job, a paused one too, failed; each new record
// reaches the views.
TEST(DerivedValues, BarStateFollowsTheLastRunOfEveryJob) {
    ModelHome home;
    Job paused = home.job("Paused"), fine = home.job("Fine");
    paused.isPaused = true;
    home.save(paused);
    home.save(fine);
    auto model = home.model();
    QSignalSpy history(model.get(), &AppModel::historyChanged);
    QSignalSpy bar(model.get(), &AppModel::barStateChanged);
    Instant at = Instant::now();
    auto record = [&](const Job& job, const std::function<void(RunRecord&)>& shape) {
        RunRecord run;
        run.jobID = job.id;
        run.startedAt = at = at + 1;
        shape(run);
        model->history()->record(run);
    };
    EXPECT_EQ(model->barState(), BarState::idle);
    record(fine, [](RunRecord&) {});
    record(paused, [](RunRecord& r) { r.warning = "Partly done."; });
    EXPECT_EQ(model->barState(), BarState::idle);
    for (const auto& failure : std::vector<std::function<void(RunRecord&)>>{
             [](RunRecord& r) { r.exitCode = 1; }, [](RunRecord& r) { r.timedOut = true; },
             [](RunRecord& r) { r.wasCancelled = true; },
             [](RunRecord& r) { r.failureMessage = "The endpoint was offline."; }}) {
        record(paused, failure);
        EXPECT_EQ(model->barState(), BarState::attention);
        record(paused, [](RunRecord&) {});
        EXPECT_EQ(model->barState(), BarState::idle);
    }
    bar.clear();
    history.clear();
    record(fine, [](RunRecord& r) { r.exitCode = 2; });
    EXPECT_TRUE(test::eventually([&] { return history.count() > 0; }));
    EXPECT_EQ(bar.count(), 1);
}

// Nothing installed: the empty state names every harness the manifest knows.
TEST(DerivedValues, WithNothingInstalled) {
    ModelHome home;
    auto model = home.model();
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

// What another process (a terminal) changes reaches the model by itself, within a second;
// one change at a time, as each change refreshes everything.
TEST(FollowsTheDisk, JobsEndpointsAndSettingsWithinASecond) {
    ModelHome home;
    auto model = home.model();
    const auto seen = [](QSignalSpy& changed, const std::function<bool()>& shown) {
        return test::eventually(shown, std::chrono::milliseconds(1000)) && changed.count() > 0;
    };
    QSignalSpy jobs(model.get(), &AppModel::jobsChanged);
    // Read once before the change, so a value kept from then would show.
    EXPECT_TRUE(model->timeline().marks.empty());
    home.save(home.job("From a terminal"));
    EXPECT_TRUE(seen(jobs, [&] {
        return model->jobs().size() == 1 && model->jobs().front().name == "From a terminal" &&
               !model->timeline().marks.empty();
    }));

    QSignalSpy endpoints(model.get(), &AppModel::endpointsChanged);
    EndpointStore(home.support() / "endpoints.json")
        .save(Endpoint{Uuid::random(), "Box under the desk", *Url::parse("http://127.0.0.1:9/v1"),
                       EndpointKind::ollama});
    EXPECT_TRUE(seen(endpoints, [&] {
        return !model->endpoints().empty() &&
               model->endpoints().back().name == "Box under the desk";
    }));

    QSignalSpy settings(model.get(), &AppModel::settingsChanged);
    SettingsStore(home.support() / "settings.json").update([](AppSettings& s) {
        s.defaults.notifyOnFailureOnly = false;
    });
    EXPECT_TRUE(seen(settings, [&] { return !model->settings().defaults.notifyOnFailureOnly; }));
}

// {seconds ahead (none: no date), text}
class FormatRelative
    : public testing::TestWithParam<std::tuple<std::optional<Seconds>, const char*>> {};

TEST_P(FormatRelative, WritesTheWaitInTheLargestUnits) {
    const Instant now{800000000};
    const auto& [ahead, text] = GetParam();
    EXPECT_EQ(Format::relative(ahead ? std::optional(now + *ahead) : std::nullopt, now), text);
}

INSTANTIATE_TEST_SUITE_P(Boundaries, FormatRelative,
                         testing::Values(std::tuple(std::nullopt, "paused"), std::tuple(-1, "due"),
                                         std::tuple(0, "in <1m"), std::tuple(59.9, "in <1m"),
                                         std::tuple(60, "in 1m"), std::tuple(3599, "in 59m"),
                                         std::tuple(3600, "in 1h 0m"), std::tuple(7200, "in 2h 0m"),
                                         std::tuple(86399, "in 23h 59m"),
                                         std::tuple(86400, "in 1d 0h"),
                                         std::tuple(3 * 86400 + 5 * 3600 + 59, "in 3d 5h")));

class FormatBrief : public testing::TestWithParam<std::tuple<Seconds, const char*>> {};

TEST_P(FormatBrief, NamesTheWeekdayWithinSixDays) {
    const Instant now = Instant::fromUnix(1704099600); // Monday 2024-01-01 09:00 UTC
    EXPECT_EQ(Format::brief(now + std::get<0>(GetParam()), now, "en_US", TimeZone::utc()),
              std::get<1>(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(Boundaries, FormatBrief,
                         testing::Values(std::tuple(5 * 86400, "Sat 9:00 AM"),
                                         std::tuple(-2 * 86400, "Sat 9:00 AM"),
                                         std::tuple(518399, "Sun 8:59 AM"),
                                         std::tuple(518400, "7 Jan 9:00 AM"),
                                         std::tuple(7 * 86400, "8 Jan 9:00 AM")));

} // namespace
} // namespace marrowbell::app
