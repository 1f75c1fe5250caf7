#include "harness/HarnessRegistry.h"
#include "service/JobDraft.h"
#include "support/JobFixture.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

namespace marrowbell {
namespace {

using Field = JobDraft::Field;
using F = JobDraft::Field;

Endpoint endpoint(const std::string& name, EndpointKind kind) {
    return Endpoint{Uuid::random(), name, *Endpoint::validated("http://127.0.0.1:1234/v1"), kind};
}

class JobDraftCheck : public testing::Test {
protected:
    JobDraftCheck() {
        std::filesystem::create_directories(project / "repo");
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

// A relative folder is read from the working folder, "~" is the home folder; either is
// stored absolute and lexically normal.
TEST_F(JobDraftCheck, ValidDraftMakesTheJob) {
    JobDraft draft = valid();
    draft.name = "";
    draft.endpoint = "proxy"; // by name in another letter case
    draft.model = "";
    draft.skills = {"tests", "lint", "tests"};
    draft.timeLimit = 900.5;
    const auto here = std::filesystem::current_path();
    std::filesystem::current_path(project.path());
    draft.folder = "./repo/./../repo/";
    const JobDraft::Checked checked = draft.check(context, Instant{1000});
    std::filesystem::current_path(here);
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

    test::ScopedEnv home("HOME", project.path().string());
    draft.folder = "~/repo";
    EXPECT_EQ(draft.check(context, Instant{1000}).job->workingDirectory, job.workingDirectory);
    // A prompt still to come: the rest is checked, and no job is made yet.
    draft.prompt = std::nullopt;
    EXPECT_TRUE(draft.check(context, Instant{0}).problems.empty());
    EXPECT_FALSE(draft.check(context, Instant{0}).job);
}

// Unchanged, the draft of a job makes that job; a zone left out keeps the job's, and
// its own name is no clash.
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

    draft.timeZone = std::nullopt;
    draft.schedule = "*/15 * * * *";
    Job moved = *draft.check(context, Instant{9000}).job;
    EXPECT_EQ(moved.schedule.text(), "*/15 * * * *");
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

struct Row {
    std::string label;
    std::function<void(JobDraft&)> change;
    Field field;
    bool blocking;
    std::string message; // expected within the problem's message
};

class JobDraftProblem : public JobDraftCheck, public testing::WithParamInterface<Row> {};

TEST_P(JobDraftProblem, IsTheOneProblemOfItsField) {
    const Row& row = GetParam();
    JobDraft draft = valid();
    row.change(draft);
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
        Row{"nameTaken", [](auto& d) { d.name = "Taken"; }, F::name, false,
            "another job is also named"},
        Row{"noFolder", [](auto& d) { d.folder = ""; }, F::folder, true, "no folder is given"},
        Row{"missingFolder", [](auto& d) { d.folder = "/nonexistent/folder"; }, F::folder, true,
            "there is no folder"},
        Row{"fileAsFolder", [](auto& d) { d.folder = "/dev/null"; }, F::folder, true,
            "is not a folder"},
        Row{"badCron", [](auto& d) { d.schedule = "61 * * * *"; }, F::schedule, true,
            "does not accept \"61\""},
        Row{"unknownZone", [](auto& d) { d.timeZone = "Europe/Atlantis"; }, F::timeZone, true,
            "no time zone is called"},
        Row{"unknownHarness", [](auto& d) { d.harnessID = "cursor"; }, F::harness, true,
            "known harnesses: claude"},
        Row{"harnessNotInstalled", [](auto& d) { d.harnessID = "codex"; }, F::harness, false,
            "Codex was not found"},
        Row{"unknownEndpoint", [](auto& d) { d.endpoint = "Nowhere"; }, F::endpoint, true,
            "no endpoint is named"},
        Row{"ambiguousEndpoint", [](auto& d) { d.endpoint = "Twin"; }, F::endpoint, true,
            "2 endpoints are named"},
        Row{"wrongProtocol", [](auto& d) { d.endpoint = "Local"; }, F::endpoint, true,
            "answers in OpenAI"},
        Row{"emptySkill",
            [](auto& d) {
                d.skills = {"lint", ""};
            },
            F::skills, true, "name is empty"},
        Row{"zeroTimeLimit", [](auto& d) { d.timeLimit = 0; }, F::timeLimit, true,
            "positive number"},
        Row{"infiniteTimeLimit", [](auto& d) { d.timeLimit = INFINITY; }, F::timeLimit, true,
            "positive number"},
        Row{"subSecondTimeLimit", [](auto& d) { d.timeLimit = 0.5; }, F::timeLimit, true,
            "at least 1 second"},
        Row{"blankPrompt", [](auto& d) { d.prompt = " \t\n"; }, F::prompt, true,
            "the prompt is empty"},
        Row{"promptNotUtf8", [](auto& d) { d.prompt = "caf\xE9"; }, F::prompt, true, "not UTF-8"}),
    [](const testing::TestParamInfo<Row>& info) { return info.param.label; });

} // namespace
} // namespace marrowbell
