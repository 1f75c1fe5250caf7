#include "support/JobFixture.h"
#include "support/TestSupport.h"

namespace marrowbell {
namespace {

using test::makeJob;

Json minimal() {
    return Json::parse(R"({
      "id": "6F1D2C3B-4A59-4E8D-9C7B-0123456789AB", "name": "Nightly", "prompt": "Tidy up",
      "workingDirectory": "file:///home/me/My%20Project/", "harnessID": "codex",
      "permission": "scopedWrite", "schedule": "0 9 * * 1-5",
      "timeZoneIdentifier": "Europe/London", "createdAt": 786000000.25})");
}

TEST(JobJson, MissingOrNullOptionalKeysTakeDefaultsAndAreWrittenBack) {
    Job job = Job::fromJson(minimal());
    EXPECT_EQ(job.workingDirectory.fsPath(), "/home/me/My Project");
    Json expected = minimal();
    expected.update({{"skills", Json::array()},
                     {"isPaused", false},
                     {"limitOverrides", Json::object()},
                     {"offlinePolicy", "skipAndNotify"}});
    EXPECT_EQ(job.toJson(), expected);

    Json nulls = minimal();
    for (const char* key : {"endpointID", "model", "skills", "isPaused", "limitOverrides",
                            "offlinePolicy", "resumedAt"})
        nulls[key] = nullptr;
    nulls["somethingNewer"] = 42;
    EXPECT_EQ(Job::fromJson(nulls), job);
}

TEST(JobJson, EveryFieldRoundTrips) {
    Job job = makeJob();
    job.endpointID = Uuid::random();
    job.model = "gpt-5";
    job.skills = {"review", "tests"};
    job.permission = PermissionLevel::fullAccess;
    job.timeZoneIdentifier = "Asia/Kolkata";
    job.isPaused = true;
    job.limitOverrides.timeoutSeconds = 900.5;
    job.offlinePolicy = OfflinePolicy::failAndNotify;
    job.resumedAt = Instant{812345678.123456789};
    Json written = job.toJson();
    EXPECT_EQ(written["endpointID"], job.endpointID->text());
    EXPECT_EQ(written["limitOverrides"], Json({{"timeoutSeconds", 900.5}}));
    EXPECT_EQ(Job::fromJson(Json::parse(json::pretty(written))), job);
}

// Every required key, then one bad value per decoding rule the job uses.
TEST(JobJson, MissingRequiredKeysAndBadValuesMakeTheJobUndecodable) {
    for (const char* key : {"id", "name", "prompt", "workingDirectory", "harnessID", "permission",
                            "schedule", "timeZoneIdentifier", "createdAt"}) {
        Json value = minimal();
        value.erase(key);
        EXPECT_THROW(Job::fromJson(value), DecodeError) << key;
    }
    EXPECT_THROW(Job::fromJson(Json::array()), DecodeError);
    for (const auto& [key, bad] : std::initializer_list<std::pair<const char*, Json>>{
             {"id", "not-a-uuid"},
             {"workingDirectory", "https://x.org/"},
             {"permission", "ReadOnly"},
             {"offlinePolicy", "retry"},
             {"schedule", 5},
             {"createdAt", "yesterday"},
             {"isPaused", "yes"},
             {"model", 3},
             {"skills", Json::array({1, 2})},
             {"skills", "review"},
             {"limitOverrides", 900},
             {"limitOverrides", Json({{"timeoutSeconds", "x"}})},
             {"endpointID", "abc"},
             {"resumedAt", true}}) {
        Json value = minimal();
        value[key] = bad;
        EXPECT_THROW(Job::fromJson(value), DecodeError) << key << bad;
    }
    Json value = minimal();
    value["schedule"] = "0 24 * * *";
    EXPECT_THROW(Job::fromJson(value), CronError);
}

TEST(Job, UnknownZoneReadsFineAndUsesTheSystemZone) {
    Json value = minimal();
    value["timeZoneIdentifier"] = "Atlantis/Capital";
    value["schedule"] = "0 9 * * *";
    Job job = Job::fromJson(value);
    test::ScopedEnv zoneEnv("TZ", "America/Denver");
    auto zone = *TimeZone::named("America/Denver");
    EXPECT_EQ(job.nextRun(*zone.instant({2026, 1, 5, 8, 0})), zone.instant({2026, 1, 5, 9, 0}));
}

// A paused job has no next run unless asked as if resumed; resuming stamps `resumedAt`
// and eligibility starts at the later of it and creation.
TEST(Job, PausingResumingAndEligibility) {
    Job job = makeJob("J", "*/30 * * * *", Instant{36000});
    const Instant t{800000000};
    const auto next = job.nextRun(t);
    ASSERT_TRUE(next);
    EXPECT_EQ(job.nextRuns(3, t).size(), 3u);
    job.isPaused = true;
    EXPECT_FALSE(job.nextRun(t));
    EXPECT_TRUE(job.nextRuns(3, t).empty());
    EXPECT_EQ(job.nextRunIfResumed(t), next);
    EXPECT_EQ(job.earliestEligible(), Instant{36000});
    job.setPaused(false, Instant{32400});
    EXPECT_EQ(job.earliestEligible(), Instant{36000});
    job.setPaused(false, Instant{40000});
    job.setPaused(true, Instant{50000});
    EXPECT_TRUE(job.isPaused);
    EXPECT_EQ(job.resumedAt, Instant{40000});
    EXPECT_EQ(job.earliestEligible(), Instant{40000});
}

TEST(Job, EffectiveLimitsOverrideOnlyTheTimeout) {
    Job job = makeJob();
    EXPECT_EQ(job.effectiveLimits({3600, true}), (RunLimits{3600, true}));
    EXPECT_FALSE(job.hasOverriddenLimits());
    job.limitOverrides.timeoutSeconds = 900;
    EXPECT_EQ(job.effectiveLimits({60, false}), (RunLimits{900, false}));
    EXPECT_TRUE(job.hasOverriddenLimits());
}

} // namespace
} // namespace marrowbell
