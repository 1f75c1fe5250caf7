#include "JobCommandFixture.h"

#include "settings/EndpointStore.h"

#include <cmath>

namespace marrowbell {
namespace {

namespace fs = std::filesystem;

class CtlAdd : public test::JobCommandFixture {
protected:
    std::vector<std::string> minimal(const std::string& name = "Morning brief") const {
        return {"add",       name,     "--folder",   project.path().string(),
                "--harness", "claude", "--schedule", "0 9 * * 1-5"};
    }

    Endpoint endpoint(const std::string& name, EndpointKind kind = EndpointKind::lmStudio) const {
        Endpoint endpoint{Uuid::random(), name, *Endpoint::validated("http://127.0.0.1:1234/v1"),
                          kind};
        EndpointStore(supportFolder() / "endpoints.json").save(endpoint);
        return endpoint;
    }
};

TEST_F(CtlAdd, NewJobGetsTheEditorsDefaultsAndShowsInJobs) {
    auto result = ctl(minimal(), "Summarise yesterday's commits.\n");
    ASSERT_EQ(result.exitStatus, 0) << result.err;

    auto jobs = storedJobs();
    ASSERT_EQ(jobs.size(), 1u);
    const Job& job = jobs.front();
    EXPECT_EQ(job.name, "Morning brief");
    EXPECT_EQ(job.prompt, "Summarise yesterday's commits.");
    EXPECT_EQ(job.workingDirectory, FileUrl::fromPath(project.path(), true));
    EXPECT_EQ(job.harnessID, "claude");
    EXPECT_EQ(job.schedule.text(), "0 9 * * 1-5");
    EXPECT_EQ(job.permission, PermissionLevel::readOnly);
    EXPECT_EQ(job.offlinePolicy, OfflinePolicy::skipAndNotify);
    EXPECT_EQ(job.timeZoneIdentifier, "UTC");
    EXPECT_FALSE(job.endpointID || job.model || job.resumedAt || job.isPaused);
    EXPECT_TRUE(job.skills.empty());
    EXPECT_TRUE(job.limitOverrides.isEmpty());
    EXPECT_LT(std::fabs(Instant::now() - job.createdAt), 60);
    EXPECT_NE(result.out.find(job.id.text()), std::string::npos) << result.out;
    EXPECT_EQ(result.out.find("scheduler"), std::string::npos) << result.out;

    auto listed = ctl({"jobs", "--json"});
    ASSERT_EQ(listed.exitStatus, 0) << listed.err;
    auto list = Json::parse(listed.out);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0]["name"], "Morning brief");
    EXPECT_EQ(list[0]["id"], job.id.text());
}

TEST_F(CtlAdd, EveryOptionReachesTheJob) {
    const Endpoint local = endpoint("Local LM Studio");
    test::writeFile(project / "prompt.md", "Fix the flaky test.\nThen stop.\n\n");
    fs::create_directory(project / "repo");
    environment.push_back("TZ=Europe/Berlin");
    auto result = ctl({"add",
                       "Nightly fix",
                       "--folder=" + (project / "repo/").string(),
                       "--harness",
                       "codex",
                       "--schedule",
                       "*/30 2-4 * * *",
                       "--permission",
                       "scopedWrite",
                       "--model",
                       "qwen3-coder",
                       "--endpoint",
                       "Local LM Studio",
                       "--skill",
                       "tests",
                       "--skill",
                       "lint",
                       "--skill",
                       "tests",
                       "--timeout",
                       "900.5",
                       "--offline",
                       "fail",
                       "--prompt-file",
                       (project / "prompt.md").string()},
                      "standard input is not read");
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    auto jobs = storedJobs();
    ASSERT_EQ(jobs.size(), 1u);
    const Job& job = jobs.front();
    EXPECT_EQ(job.prompt, "Fix the flaky test.\nThen stop.");
    EXPECT_EQ(job.workingDirectory.fsPath(), project / "repo");
    EXPECT_EQ(job.harnessID, "codex");
    EXPECT_EQ(job.permission, PermissionLevel::scopedWrite);
    EXPECT_EQ(job.model, "qwen3-coder");
    EXPECT_EQ(job.endpointID, local.id);
    EXPECT_EQ(job.skills, (std::vector<std::string>{"lint", "tests"}));
    EXPECT_EQ(job.limitOverrides.timeoutSeconds, 900.5);
    EXPECT_EQ(job.offlinePolicy, OfflinePolicy::failAndNotify);
    EXPECT_EQ(job.timeZoneIdentifier, "Europe/Berlin");
}

TEST_F(CtlAdd, FolderIsStoredAbsoluteAndLexicallyNormal) {
    fs::create_directories(project / "a/b");
    // Relative to the working folder, with "." and ".." and a trailing slash.
    std::vector<std::string> arguments{"/bin/sh", "-c",
                                       "cd \"$0\" && exec \"$1\" add Relative --folder "
                                       "./a/./b/../b/ --harness pi --schedule '0 * * * *'",
                                       project.path().string(),
                                       test::builtBinary("marrowbellctl").string()};
    auto result = test::runProcess(arguments, "p", environment);
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_EQ(storedJobs().front().workingDirectory, FileUrl::fromPath(project / "a/b", true));
}

struct BadAdd {
    std::string label;
    std::vector<std::string> replace; // option then value, replacing or adding
    std::string input;
    std::string message; // expected within standard error
};

void PrintTo(const BadAdd& bad, std::ostream* out) {
    *out << bad.label;
}

class CtlAddRefuses : public CtlAdd, public testing::WithParamInterface<BadAdd> {};

TEST_P(CtlAddRefuses, WithStatusTwoAndWritesNothing) {
    const BadAdd& bad = GetParam();
    test::writeFile(project / "file.txt", "not a folder");
    auto arguments = minimal();
    for (std::size_t i = 0; i < bad.replace.size(); i += 2) {
        std::string option = bad.replace[i];
        std::string value = bad.replace[i + 1];
        if (value.starts_with("{project}"))
            value = project.path().string() + value.substr(9);
        auto found = std::find(arguments.begin(), arguments.end(), option);
        if (option.empty())
            arguments.push_back(value);
        else if (found != arguments.end() && value == "<drop>")
            arguments.erase(found, found + 2);
        else if (found != arguments.end())
            *(found + 1) = value;
        else
            arguments.insert(arguments.end(), {option, value});
    }
    auto result = ctl(arguments, bad.input);
    EXPECT_EQ(result.exitStatus, 2) << result.out << result.err;
    EXPECT_NE(result.err.find(bad.message), std::string::npos) << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_FALSE(fs::exists(supportFolder()));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CtlAddRefuses,
    testing::Values(
        BadAdd{"unitTimeout", {"--timeout", "15m"}, "p", "--timeout takes a number of seconds"},
        BadAdd{"unknownPermission",
               {"--permission", "root"},
               "p",
               "--permission takes readOnly, scopedWrite or fullAccess"},
        BadAdd{"unknownOfflinePolicy", {"--offline", "retry"}, "p", "--offline takes skip or fail"},
        BadAdd{"missingPromptFile",
               {"--prompt-file", "{project}/absent.md"},
               "p",
               "cannot read the prompt file"},
        BadAdd{"noFolder", {"--folder", "<drop>"}, "p", "add needs --folder"},
        BadAdd{"unknownOption", {"--colour", "red"}, "p", "unknown option \u201C--colour\u201D"},
        BadAdd{"twoNames", {"", "Extra"}, "p", "unexpected \u201CExtra\u201D"},
        BadAdd{
            "repeatedOption", {"", "--harness=codex"}, "p", "--harness is given more than once"}),
    [](const testing::TestParamInfo<BadAdd>& info) { return info.param.label; });

TEST_F(CtlAdd, EveryProblemIsShownAtOnceBeforeThePromptIsRead) {
    auto arguments = minimal();
    arguments[3] = (project / "nowhere").string();
    arguments[7] = "0 9 * *";
    arguments.insert(arguments.end(), {"--timeout", "0"});
    // No prompt is given: standard input would block if it were read.
    auto result = ctl(arguments, "");
    EXPECT_EQ(result.exitStatus, 2);
    const std::size_t folder = result.err.find("there is no folder");
    const std::size_t schedule = result.err.find("is not valid");
    const std::size_t limit = result.err.find("the time limit must be");
    EXPECT_TRUE(folder < schedule && schedule < limit && limit != std::string::npos) << result.err;
    EXPECT_EQ(result.err.find("the prompt is empty"), std::string::npos) << result.err;
    EXPECT_TRUE(storedJobs().empty());
}

TEST_F(CtlAdd, MissingValueIsAUsageError) {
    auto arguments = minimal();
    arguments.push_back("--model");
    auto result = ctl(arguments, "p");
    EXPECT_EQ(result.exitStatus, 2);
    EXPECT_NE(result.err.find("--model needs a value"), std::string::npos) << result.err;
    EXPECT_TRUE(storedJobs().empty());
}

} // namespace
} // namespace marrowbell
