#include "ctl/SchedulerCommandSupport.h"

#include <cmath>

namespace marrowbell {
namespace {

using CtlAdd = test::CtlTest;

// With only what is needed, the prompt comes from standard input and the rest takes its
// defaults; every option then reaches the job, the prompt from a file.
TEST_F(CtlAdd, NewJobsTakeThePromptAndEveryOption) {
    auto result = ctl({"add", "Morning brief", "--folder", work().string(), "--harness", "claude",
                       "--schedule", "0 9 * * 1-5"},
                      "Summarise yesterday's commits.\n");
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    ASSERT_EQ(jobs().size(), 1u);
    Job job = jobs().front();
    EXPECT_EQ(std::tuple(job.name, job.prompt, job.workingDirectory, job.schedule.text(),
                         job.permission, job.offlinePolicy, job.timeZoneIdentifier),
              std::tuple("Morning brief", "Summarise yesterday's commits.",
                         FileUrl::fromPath(work(), true), "0 9 * * 1-5", PermissionLevel::readOnly,
                         OfflinePolicy::skipAndNotify, "UTC"));
    EXPECT_FALSE(job.endpointID || job.model || job.resumedAt || job.isPaused);
    EXPECT_TRUE(job.skills.empty() && job.limitOverrides.isEmpty());
    EXPECT_LT(std::fabs(Instant::now() - job.createdAt), 60);
    EXPECT_THAT(result.out, HasSubstr(job.id.text()));
    EXPECT_THAT(result.out, Not(HasSubstr("scheduler")));
    EXPECT_EQ(Json::parse(ctl({"jobs", "--json"}).out)[0]["id"], job.id.text());

    const Endpoint local = endpoint("Local LM Studio");
    test::writeFile(work() / "prompt.md", "Fix the flaky test.\nThen stop.\n\n");
    std::filesystem::create_directory(work() / "repo");
    env.push_back("TZ=Europe/Berlin");
    result = ctl(test::split("add|Nightly fix|--folder=" + (work() / "repo/").string() +
                             "|--harness|codex|--schedule|*/30 2-4 * * *|--permission|"
                             "scopedWrite|--model|qwen3-coder|--endpoint|Local LM Studio|"
                             "--skill|tests|--skill|lint|--timeout|900.5|--offline|fail|"
                             "--prompt-file|" +
                             (work() / "prompt.md").string()),
                 "standard input is not read");
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    ASSERT_EQ(jobs().size(), 2u);
    job = jobs()[jobs()[0].name == "Nightly fix" ? 0 : 1];
    EXPECT_EQ(std::tuple(job.prompt, job.workingDirectory.fsPath(), job.harnessID, job.permission,
                         job.model, job.endpointID, job.limitOverrides.timeoutSeconds,
                         job.offlinePolicy, job.timeZoneIdentifier),
              std::tuple("Fix the flaky test.\nThen stop.", work() / "repo", "codex",
                         PermissionLevel::scopedWrite, "qwen3-coder", local.id, 900.5,
                         OfflinePolicy::failAndNotify, "Europe/Berlin"));
    EXPECT_EQ(job.skills, (std::vector<std::string>{"lint", "tests"}));
}

// JobDraft's problems (their order is its tests') reach the terminal before the prompt
// is read: none is given, and reading one would add "the prompt is empty".
TEST_F(CtlAdd, EveryProblemIsShownAtOnceBeforeThePromptIsRead) {
    auto result = ctl(test::split("add|X|--folder|" + (work() / "nowhere").string() +
                                  "|--harness|claude|--schedule|0 9 * *|--timeout|0"));
    EXPECT_EQ(result.exitStatus, 2);
    for (const char* problem : {"there is no folder", "is not valid", "the time limit must be"})
        EXPECT_THAT(result.err, HasSubstr(problem));
    EXPECT_THAT(result.err, Not(HasSubstr("the prompt is empty")));
    EXPECT_TRUE(jobs().empty());
}

} // namespace
} // namespace marrowbell
