#include "harness/HarnessRegistry.h"
#include "service/JobDraft.h"
#include "support/JobFixture.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <functional>

namespace marrowbell {
namespace {

using Field = JobDraft::Field;

Endpoint endpoint(const std::string& name, EndpointKind kind) {
    return Endpoint{Uuid::random(), name, *Endpoint::validated("http://127.0.0.1:1234/v1"), kind};
}

class JobDraftCheck : public testing::Test {
protected:
    JobDraftCheck() {
        std::filesystem::create_directories(project / "repo");
        test::writeFile(project / "file.txt", "not a folder");
        test::writeFile(tools / "claude", "#!/bin/sh\n", true);
        context.endpoints = {endpoint("Local", EndpointKind::lmStudio),
                             endpoint("Proxy", EndpointKind::anthropicCompatible),
                             endpoint("Twin", EndpointKind::anthropicCompatible),
                             endpoint("Twin", EndpointKind::anthropicCompatible)};
        context.jobs = {test::makeJob("Taken")};
        context.searchPaths = std::vector<std::string>{tools.path().string()};
    }

    JobDraft valid() const {
        JobDraft draft;
        draft.name = "Morning brief";
        draft.folder = (project / "repo").string();
        draft.schedule = "0 9 * * 1-5";
        draft.harnessID = "claude";
        draft.prompt = "Summarise yesterday's commits.";
        return draft;
    }

    test::TempDir project, tools;
    HarnessRegistry registry = HarnessRegistry::bundled();
    JobDraft::Context context{registry, {}, {}, {}};
};

TEST_F(JobDraftCheck, ValidDraftMakesTheJob) {
    JobDraft draft = valid();
    draft.name = "";
    draft.folder = (project / "repo/./").string();
    draft.endpoint = "proxy"; // by name in another letter case
    draft.model = "";
    draft.skills = {"tests", "lint", "tests"};
    draft.timeLimit = 900.5;
    const JobDraft::Checked checked = draft.check(context, Instant{1000});
    EXPECT_TRUE(checked.problems.empty());
    ASSERT_TRUE(checked.job);
    const Job& job = *checked.job;
    EXPECT_EQ(job.name, "Untitled job");
    EXPECT_EQ(job.workingDirectory, FileUrl::fromPath(project / "repo", true));
    EXPECT_EQ(job.endpointID, context.endpoints[1].id);
    EXPECT_FALSE(job.model);
    EXPECT_EQ(job.skills, (std::vector<std::string>{"lint", "tests"}));
    EXPECT_EQ(job.limitOverrides.timeoutSeconds, 900.5);
    EXPECT_EQ(job.createdAt, Instant{1000});
    EXPECT_FALSE(job.isPaused);
}

TEST_F(JobDraftCheck, EditedJobKeepsWhatTheUserDoesNotEdit) {
    JobDraft draft = valid();
    Job original = test::makeJob("Taken");
    original.isPaused = true;
    original.timeZoneIdentifier = "Europe/Berlin";
    context.jobs = {original};
    draft.original = original;
    draft.name = "Taken"; // its own name is no clash
    const JobDraft::Checked checked = draft.check(context, Instant{original.createdAt + 5000});
    EXPECT_TRUE(checked.problems.empty());
    ASSERT_TRUE(checked.job);
    EXPECT_EQ(checked.job->id, original.id);
    EXPECT_EQ(checked.job->createdAt, original.createdAt);
    EXPECT_TRUE(checked.job->isPaused);
    EXPECT_EQ(checked.job->timeZoneIdentifier, "Europe/Berlin");
    EXPECT_EQ(checked.job->prompt, *valid().prompt);
}

TEST_F(JobDraftCheck, EditingDraftRemakesTheJobAsItWas) {
    Job job = *valid().check(context, Instant{1000}).job;
    job.endpointID = context.endpoints[1].id; // Proxy, which Claude Code reads
    job.model = "opus";
    job.skills = {"lint", "tests"};
    job.limitOverrides.timeoutSeconds = 900;
    job.offlinePolicy = OfflinePolicy::failAndNotify;
    job.permission = PermissionLevel::scopedWrite;
    job.timeZoneIdentifier = "Europe/Berlin";
    job.isPaused = true;
    job.resumedAt = Instant{1500};
    context.jobs = {job};
    JobDraft draft = JobDraft::editing(job);
    const JobDraft::Checked same = draft.check(context, Instant{9000});
    EXPECT_TRUE(same.problems.empty());
    EXPECT_EQ(same.job, job);

    draft.timeZone = "Asia/Tokyo";
    draft.schedule = "*/15 * * * *";
    Job moved = *draft.check(context, Instant{9000}).job;
    EXPECT_EQ(moved.timeZoneIdentifier, "Asia/Tokyo");
    moved.timeZoneIdentifier = job.timeZoneIdentifier;
    moved.schedule = job.schedule;
    EXPECT_EQ(moved, job);
}

TEST_F(JobDraftCheck, EveryProblemIsReportedAtOnceInFieldOrder) {
    JobDraft draft;
    draft.name = "Taken";
    draft.folder = (project / "nowhere").string();
    draft.schedule = "0 9 * *";
    draft.timeZone = "Mars/Olympus";
    draft.harnessID = "cursor";
    draft.endpoint = "Nowhere";
    draft.skills = {""};
    draft.timeLimit = 0;
    draft.prompt = " \n";
    const JobDraft::Checked checked = draft.check(context, Instant{0});
    std::vector<Field> fields;
    for (const JobDraft::Problem& problem : checked.problems)
        fields.push_back(problem.field);
    EXPECT_EQ(fields, (std::vector<Field>{Field::name, Field::folder, Field::schedule,
                                          Field::timeZone, Field::harness, Field::endpoint,
                                          Field::skills, Field::timeLimit, Field::prompt}));
    EXPECT_TRUE(checked.blocked());
    EXPECT_FALSE(checked.job);
}

TEST_F(JobDraftCheck, PromptStillToComeChecksTheRestAndMakesNoJob) {
    JobDraft draft = valid();
    draft.prompt = std::nullopt;
    JobDraft::Checked checked = draft.check(context, Instant{0});
    EXPECT_TRUE(checked.problems.empty());
    EXPECT_FALSE(checked.job);
}

struct Row {
    std::string label;
    std::function<void(JobDraft&, const std::filesystem::path& project)> change;
    Field field;
    bool blocking;
    std::string message; // expected within the problem's message
};

class JobDraftProblem : public JobDraftCheck, public testing::WithParamInterface<Row> {};

TEST_P(JobDraftProblem, IsTheOneProblemOfItsField) {
    const Row& row = GetParam();
    JobDraft draft = valid();
    row.change(draft, project.path());
    const JobDraft::Checked checked = draft.check(context, Instant{0});
    ASSERT_EQ(checked.problems.size(), 1u);
    const JobDraft::Problem& problem = checked.problems.front();
    EXPECT_EQ(problem.field, row.field);
    EXPECT_EQ(problem.blocking, row.blocking);
    EXPECT_NE(problem.message.find(row.message), std::string::npos) << problem.message;
    // A warning leaves the job to be made; a blocking problem never does.
    EXPECT_EQ(checked.job.has_value(), !row.blocking);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, JobDraftProblem,
    testing::Values(
        Row{"nameTaken", [](JobDraft& d, auto&) { d.name = "Taken"; }, Field::name, false,
            "another job is also named \u201CTaken\u201D"},
        Row{"noFolder", [](JobDraft& d, auto&) { d.folder = ""; }, Field::folder, true,
            "no folder is given"},
        Row{"missingFolder", [](JobDraft& d, auto& p) { d.folder = (p / "nowhere").string(); },
            Field::folder, true, "there is no folder"},
        Row{"fileAsFolder", [](JobDraft& d, auto& p) { d.folder = (p / "file.txt").string(); },
            Field::folder, true, "is not a folder"},
        Row{"badCron", [](JobDraft& d, auto&) { d.schedule = "61 * * * *"; }, Field::schedule, true,
            "The minute field does not accept \"61\"."},
        Row{"unknownZone", [](JobDraft& d, auto&) { d.timeZone = "Europe/Atlantis"; },
            Field::timeZone, true, "no time zone is called \u201CEurope/Atlantis\u201D"},
        Row{"unknownHarness", [](JobDraft& d, auto&) { d.harnessID = "cursor"; }, Field::harness,
            true, "known harnesses: claude, codex, opencode, pi"},
        Row{"harnessNotInstalled", [](JobDraft& d, auto&) { d.harnessID = "codex"; },
            Field::harness, false, "Codex was not found on this computer"},
        Row{"unknownEndpoint", [](JobDraft& d, auto&) { d.endpoint = "Nowhere"; }, Field::endpoint,
            true, "no endpoint is named or identified by \u201CNowhere\u201D"},
        Row{"ambiguousEndpoint", [](JobDraft& d, auto&) { d.endpoint = "Twin"; }, Field::endpoint,
            true, "2 endpoints are named \u201CTwin\u201D"},
        Row{"wrongProtocol", [](JobDraft& d, auto&) { d.endpoint = "Local"; }, Field::endpoint,
            true, "it speaks the Anthropic protocol and the endpoint answers in OpenAI"},
        Row{"emptySkill",
            [](JobDraft& d, auto&) {
                d.skills = {"lint", ""};
            },
            Field::skills, true, "a skill's name is empty"},
        Row{"zeroTimeLimit", [](JobDraft& d, auto&) { d.timeLimit = 0; }, Field::timeLimit, true,
            "positive number of seconds"},
        Row{"infiniteTimeLimit",
            [](JobDraft& d, auto&) { d.timeLimit = std::numeric_limits<double>::infinity(); },
            Field::timeLimit, true, "positive number of seconds"},
        Row{"subSecondTimeLimit", [](JobDraft& d, auto&) { d.timeLimit = 0.5; }, Field::timeLimit,
            true, "at least 1 second"},
        Row{"blankPrompt", [](JobDraft& d, auto&) { d.prompt = " \t\n"; }, Field::prompt, true,
            "the prompt is empty"},
        Row{"promptNotUtf8", [](JobDraft& d, auto&) { d.prompt = "caf\xE9"; }, Field::prompt, true,
            "not UTF-8"}),
    [](const testing::TestParamInfo<Row>& info) { return info.param.label; });

} // namespace
} // namespace marrowbell
