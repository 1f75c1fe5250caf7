#include "harness/HarnessRegistry.h"
#include "service/JobDraft.h"
#include "support/JobFixture.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

namespace marrowbell {
namespace {

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
    EXPECT_EQ(std::tuple(job.name, job.workingDirectory, job.endpointID, job.model,
                         job.limitOverrides.timeoutSeconds, job.createdAt, job.isPaused),
              std::tuple("Untitled job", FileUrl::fromPath(project / "repo", true),
                         context.endpoints[1].id, std::nullopt, 900.5, Instant{1000}, false));
    EXPECT_EQ(job.skills, (std::vector<std::string>{"lint", "tests"}));

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
    std::vector<F> fields;
    for (const JobDraft::Problem& problem : checked.problems)
        fields.push_back(problem.field);
    EXPECT_EQ(fields, (std::vector<F>{F::name, F::folder, F::schedule, F::timeZone, F::harness,
                                      F::endpoint, F::skills, F::timeLimit, F::prompt}));
    EXPECT_TRUE(checked.blocked());
    EXPECT_FALSE(checked.job);
}

struct Row {
    std::string label;
    std::function<void(JobDraft&)> change;
    F field;
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

// One change to the valid draft, the field it lands in, whether it blocks, the message.
#define ROW(label, change, field, blocking, message)                                               \
    (Row{#label, [](JobDraft& d) { d.change; }, F::field, blocking, message})

INSTANTIATE_TEST_SUITE_P(
    Rows, JobDraftProblem,
    testing::Values(
        ROW(nameTaken, name = "Taken", name, false, "another job is also named"),
        ROW(noFolder, folder = "", folder, true, "no folder is given"),
        ROW(missingFolder, folder = "/nonexistent/f", folder, true, "there is no folder"),
        ROW(fileAsFolder, folder = "/dev/null", folder, true, "is not a folder"),
        ROW(badCron, schedule = "61 * * * *", schedule, true, "does not accept \"61\""),
        ROW(unknownZone, timeZone = "Europe/Atlantis", timeZone, true, "no time zone is"),
        ROW(unknownHarness, harnessID = "cursor", harness, true, "known harnesses: claude"),
        ROW(harnessNotInstalled, harnessID = "codex", harness, false, "Codex was not found"),
        ROW(unknownEndpoint, endpoint = "Nowhere", endpoint, true, "no endpoint is named"),
        ROW(ambiguousEndpoint, endpoint = "Twin", endpoint, true, "2 endpoints are named"),
        ROW(wrongProtocol, endpoint = "Local", endpoint, true, "answers in OpenAI"),
        ROW(emptySkill, skills = (std::vector<std::string>{"lint", ""}), skills, true, "is empty"),
        ROW(zeroTimeLimit, timeLimit = 0, timeLimit, true, "positive number"),
        ROW(infiniteTimeLimit, timeLimit = INFINITY, timeLimit, true, "positive number"),
        ROW(subSecondTimeLimit, timeLimit = 0.5, timeLimit, true, "at least 1 second"),
        ROW(blankPrompt, prompt = " \t\n", prompt, true, "the prompt is empty"),
        ROW(promptNotUtf8, prompt = "caf\xE9", prompt, true, "not UTF-8")),
    [](const testing::TestParamInfo<Row>& info) { return info.param.label; });
#undef ROW

} // namespace
} // namespace marrowbell
