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

TEST(JobJson, EveryRequiredKeyMustBePresent) {
    for (const char* key : {"id", "name", "prompt", "workingDirectory", "harnessID", "permission",
                            "schedule", "timeZoneIdentifier", "createdAt"}) {
        Json value = minimal();
        value.erase(key);
        EXPECT_THROW(Job::fromJson(value), DecodeError) << key;
    }
    EXPECT_THROW(Job::fromJson(Json::array()), DecodeError);
}

struct BadValue {
    const char* key;
    Json value;
};

class JobJsonRefusal : public testing::TestWithParam<BadValue> {};

TEST_P(JobJsonRefusal, MakesTheJobUndecodable) {
    Json value = minimal();
    value[GetParam().key] = GetParam().value;
    EXPECT_THROW(Job::fromJson(value), DecodeError) << GetParam().key << GetParam().value;
}

// One per decoding rule the job uses.
INSTANTIATE_TEST_SUITE_P(
    Rules, JobJsonRefusal,
    testing::Values(BadValue{"id", "not-a-uuid"}, BadValue{"workingDirectory", "https://x.org/"},
                    BadValue{"permission", "root"}, BadValue{"offlinePolicy", "retry"},
                    BadValue{"schedule", 5}, BadValue{"createdAt", "yesterday"},
                    BadValue{"isPaused", "yes"}, BadValue{"model", 3},
                    BadValue{"skills", Json::array({1, 2})}, BadValue{"skills", "review"},
                    BadValue{"limitOverrides", 900},
                    BadValue{"limitOverrides", Json({{"timeoutSeconds", "x"}})},
                    BadValue{"endpointID", "abc"}, BadValue{"resumedAt", true}));

TEST(JobJson, ScheduleFailureIsTheCronError) {
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

TEST(Job, PausedJobsHaveNoNextRunUnlessAskedAsIfResumed) {
    Job job = makeJob("J", "*/30 * * * *");
    Instant t{800000000};
    const auto next = job.nextRun(t);
    ASSERT_TRUE(next);
    EXPECT_EQ(job.nextRuns(3, t).size(), 3u);
    job.isPaused = true;
    EXPECT_FALSE(job.nextRun(t));
    EXPECT_TRUE(job.nextRuns(3, t).empty());
    EXPECT_EQ(job.nextRunIfResumed(t), next);
}

TEST(Job, EffectiveLimitsOverrideOnlyTheTimeout) {
    Job job = makeJob();
    EXPECT_EQ(job.effectiveLimits({3600, true}), (RunLimits{3600, true}));
    EXPECT_FALSE(job.hasOverriddenLimits());
    job.limitOverrides.timeoutSeconds = 900;
    EXPECT_EQ(job.effectiveLimits({60, false}), (RunLimits{900, false}));
    EXPECT_TRUE(job.hasOverriddenLimits());
}

TEST(Job, ResumingStampsResumedAtAndEligibilityStartsAtTheLaterOfItAndCreation) {
    Job job = makeJob("J", "0 9 * * *", Instant{36000});
    EXPECT_EQ(job.earliestEligible(), Instant{36000});
    job.setPaused(false, Instant{32400});
    EXPECT_EQ(job.earliestEligible(), Instant{36000});
    job.setPaused(false, Instant{40000});
    job.setPaused(true, Instant{50000});
    EXPECT_TRUE(job.isPaused);
    EXPECT_EQ(job.resumedAt, Instant{40000});
    EXPECT_EQ(job.earliestEligible(), Instant{40000});
}

TEST(Job, PermissionTitleNamesAWorktreeOnlyForScopedWriteInARepository) {
    test::TempDir folder;
    Job job = makeJob();
    job.workingDirectory = FileUrl::fromPath(folder.path(), true);
    job.permission = PermissionLevel::scopedWrite;
    EXPECT_EQ(job.permissionTitle(), "Write in this folder only (scoped write)");
    test::writeFile(folder / ".git", "gitdir: /elsewhere/.git/worktrees/x\n");
    EXPECT_EQ(job.permissionTitle(), "Write in a worktree (scoped write)");
}

TEST(RunLimitsJson, DefaultsForMissingKeysAndStrictTypes) {
    EXPECT_EQ(RunLimits::fromJson(Json({{"timeoutSeconds", nullptr}})), (RunLimits{3600, true}));
    const Json stored = {{"timeoutSeconds", 60.0}, {"notifyOnFailureOnly", false}};
    EXPECT_EQ((RunLimits{60, false}).toJson(), stored);
    EXPECT_EQ(RunLimits::fromJson(stored), (RunLimits{60, false}));
    EXPECT_THROW(RunLimits::fromJson(Json({{"notifyOnFailureOnly", "yes"}})), DecodeError);
    EXPECT_THROW(RunLimits::fromJson(Json({{"timeoutSeconds", "60"}})), DecodeError);
}

TEST(Enumerations, RawValuesRoundTrip) {
    for (PermissionLevel level : allPermissionLevels)
        EXPECT_EQ(permissionLevelFromRaw(rawValue(level)), level);
    for (OfflinePolicy policy : allOfflinePolicies)
        EXPECT_EQ(offlinePolicyFromRaw(rawValue(policy)), policy);
    EXPECT_FALSE(permissionLevelFromRaw("ReadOnly"));
}

} // namespace
} // namespace marrowbell
