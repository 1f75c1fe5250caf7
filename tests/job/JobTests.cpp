#include "support/JobFixture.h"
#include "support/TestSupport.h"

#include <cstdlib>

namespace marrowbell {
namespace {

using test::makeJob;

const char* minimalJob = R"({
  "id": "6F1D2C3B-4A59-4E8D-9C7B-0123456789AB",
  "name": "Nightly",
  "prompt": "Tidy up",
  "workingDirectory": "file:///home/me/My%20Project/",
  "harnessID": "codex",
  "permission": "scopedWrite",
  "schedule": "0 9 * * 1-5",
  "timeZoneIdentifier": "Europe/London",
  "createdAt": 786000000.25
})";

Json minimal() {
    return Json::parse(minimalJob);
}

TEST(JobJson, MissingOptionalKeysTakeDefaultsAndAreWrittenBack) {
    Job job = Job::fromJson(minimal());
    EXPECT_EQ(job.id.text(), "6F1D2C3B-4A59-4E8D-9C7B-0123456789AB");
    EXPECT_EQ(job.workingDirectory.fsPath(), "/home/me/My Project");
    EXPECT_EQ(job.schedule.text(), "0 9 * * 1-5");
    EXPECT_TRUE(job.skills.empty());
    EXPECT_FALSE(job.isPaused);
    EXPECT_TRUE(job.limitOverrides.isEmpty());
    EXPECT_EQ(job.offlinePolicy, OfflinePolicy::skipAndNotify);
    EXPECT_FALSE(job.endpointID);
    EXPECT_FALSE(job.model);
    EXPECT_FALSE(job.resumedAt);
    EXPECT_EQ(job.createdAt.sinceReference, 786000000.25);

    Json expected = minimal();
    expected["skills"] = Json::array();
    expected["isPaused"] = false;
    expected["limitOverrides"] = Json::object();
    expected["offlinePolicy"] = "skipAndNotify";
    EXPECT_EQ(job.toJson(), expected);
}

TEST(JobJson, NullOptionalKeysReadAsAbsent) {
    Json value = minimal();
    for (const char* key : {"endpointID", "model", "skills", "isPaused", "limitOverrides",
                            "offlinePolicy", "resumedAt"})
        value[key] = nullptr;
    value["somethingNewer"] = 42;
    EXPECT_EQ(Job::fromJson(value), Job::fromJson(minimal()));
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

struct BadJob {
    const char* why;
    const char* key;
    Json value; // null: the key is removed
};

class JobJsonRefusal : public testing::TestWithParam<BadJob> {};

TEST_P(JobJsonRefusal, MakesTheJobUndecodable) {
    Json value = minimal();
    if (GetParam().value.is_null() && std::string(GetParam().why).find("null") == std::string::npos)
        value.erase(GetParam().key);
    else
        value[GetParam().key] = GetParam().value;
    EXPECT_ANY_THROW(Job::fromJson(value)) << GetParam().why;
}

INSTANTIATE_TEST_SUITE_P(
    Rules, JobJsonRefusal,
    testing::Values(BadJob{"missing id", "id", nullptr}, BadJob{"missing name", "name", nullptr},
                    BadJob{"missing prompt", "prompt", nullptr},
                    BadJob{"missing folder", "workingDirectory", nullptr},
                    BadJob{"missing harness", "harnessID", nullptr},
                    BadJob{"missing permission", "permission", nullptr},
                    BadJob{"missing schedule", "schedule", nullptr},
                    BadJob{"missing zone", "timeZoneIdentifier", nullptr},
                    BadJob{"missing creation", "createdAt", nullptr}, BadJob{"number id", "id", 7},
                    BadJob{"malformed id", "id", "not-a-uuid"},
                    BadJob{"folder not a file URL", "workingDirectory", "https://example.com/"},
                    BadJob{"unknown permission", "permission", "root"},
                    BadJob{"unknown policy", "offlinePolicy", "retry"},
                    BadJob{"schedule as number", "schedule", 5},
                    BadJob{"string creation", "createdAt", "yesterday"},
                    BadJob{"wrong type optional", "isPaused", "yes"},
                    BadJob{"wrong type model", "model", 3},
                    BadJob{"skills not strings", "skills", Json::array({1, 2})},
                    BadJob{"skills as string", "skills", "review"},
                    BadJob{"overrides not object", "limitOverrides", 900},
                    BadJob{"override wrong type", "limitOverrides",
                           Json({{"timeoutSeconds", "x"}})},
                    BadJob{"endpoint malformed", "endpointID", "abc"},
                    BadJob{"resumed wrong type", "resumedAt", true}));

TEST(JobJson, ScheduleFailureIsTheCronError) {
    Json value = minimal();
    value["schedule"] = "0 24 * * *";
    EXPECT_THROW(Job::fromJson(value), CronError);
    EXPECT_THROW(Job::fromJson(Json::array()), DecodeError);
}

TEST(Job, UnknownZoneReadsFineAndUsesTheSystemZone) {
    Json value = minimal();
    value["timeZoneIdentifier"] = "Atlantis/Capital";
    Job job = Job::fromJson(value);
    test::ScopedEnv zoneEnv("TZ", "America/Denver");
    EXPECT_EQ(job.timeZone().identifier(), "America/Denver");
    job.schedule = CronExpression("0 9 * * *");
    auto zone = *TimeZone::named("America/Denver");
    EXPECT_EQ(job.nextRun(*zone.instant({2026, 1, 5, 8, 0})), zone.instant({2026, 1, 5, 9, 0}));
}

TEST(Job, PausedJobsHaveNoNextRunUnlessAskedAsIfResumed) {
    Job job = makeJob("J", "*/30 * * * *");
    Instant t{800000000};
    ASSERT_TRUE(job.nextRun(t));
    EXPECT_EQ(job.nextRuns(3, t).size(), 3u);
    job.isPaused = true;
    EXPECT_FALSE(job.nextRun(t));
    EXPECT_TRUE(job.nextRuns(3, t).empty());
    EXPECT_EQ(job.nextRunIfResumed(t), makeJob("J", "*/30 * * * *").nextRun(t));
}

TEST(Job, EffectiveLimitsOverrideOnlyTheTimeout) {
    RunLimits defaults{3600, true};
    Job job = makeJob();
    EXPECT_EQ(job.effectiveLimits(defaults), defaults);
    EXPECT_FALSE(job.hasOverriddenLimits());
    job.limitOverrides.timeoutSeconds = 900;
    EXPECT_EQ(job.effectiveLimits(defaults), (RunLimits{900, true}));
    EXPECT_EQ(job.effectiveLimits({60, false}), (RunLimits{900, false}));
    EXPECT_TRUE(job.hasOverriddenLimits());
}

TEST(Job, PausingKeepsResumedAtAndResumingStampsIt) {
    Job job = makeJob();
    job.setPaused(false, Instant{100});
    EXPECT_EQ(job.resumedAt, Instant{100});
    job.setPaused(true, Instant{200});
    EXPECT_TRUE(job.isPaused);
    EXPECT_EQ(job.resumedAt, Instant{100});
}

TEST(Job, EarliestEligibleIsTheLaterOfCreationAndResumption) {
    Job job = makeJob("J", "0 9 * * *", Instant{36000});
    EXPECT_EQ(job.earliestEligible(), Instant{36000});
    job.resumedAt = Instant{32400};
    EXPECT_EQ(job.earliestEligible(), Instant{36000});
    job.resumedAt = Instant{40000};
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
    EXPECT_EQ(RunLimits::fromJson(Json::object()), (RunLimits{3600, true}));
    EXPECT_EQ(RunLimits::fromJson(Json({{"timeoutSeconds", nullptr}})), (RunLimits{3600, true}));
    EXPECT_EQ(RunLimits::fromJson(Json({{"timeoutSeconds", 60}, {"notifyOnFailureOnly", false}})),
              (RunLimits{60, false}));
    EXPECT_EQ((RunLimits{60, false}).toJson(),
              Json({{"timeoutSeconds", 60.0}, {"notifyOnFailureOnly", false}}));
    EXPECT_THROW(RunLimits::fromJson(Json({{"notifyOnFailureOnly", "yes"}})), DecodeError);
    EXPECT_THROW(RunLimits::fromJson(Json({{"timeoutSeconds", "60"}})), DecodeError);
}

TEST(Enumerations, RawValuesRoundTrip) {
    for (PermissionLevel level : allPermissionLevels)
        EXPECT_EQ(permissionLevelFromRaw(rawValue(level)), level);
    for (OfflinePolicy policy : allOfflinePolicies)
        EXPECT_EQ(offlinePolicyFromRaw(rawValue(policy)), policy);
    EXPECT_FALSE(permissionLevelFromRaw("ReadOnly"));
    EXPECT_FALSE(offlinePolicyFromRaw(""));
}

} // namespace
} // namespace marrowbell
