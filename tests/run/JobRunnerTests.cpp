#include "base/Files.h"
#include "run/JobRunnerTestSupport.h"
#include "support/LocalHttpServer.h"

#include <gtest/gtest.h>

#include <mutex>

using namespace marrowbell;
using test::LocalHttpServer;
using test::RunnerFixture;

namespace {

const Instant slot{800100000};

// Collects the lines a run hands out, from whatever thread.
struct Lines {
    std::mutex mutex;
    std::vector<std::string> all;
    JobRunning::LineHandler handler() {
        return [this](std::string_view line) {
            std::lock_guard lock(mutex);
            all.emplace_back(line);
        };
    }
};

Endpoint endpoint(const std::string& url, EndpointKind kind, const std::string& name = "Proxy") {
    return Endpoint{Uuid::random(), name, *Endpoint::validated(url), kind};
}

// A model server on 127.0.0.1 that answers every request with `status`.
LocalHttpServer modelServer(int status = 200) {
    return LocalHttpServer([status](const auto&) {
        return LocalHttpServer::reply(status, R"({"data":[{"id":"m"}]})");
    });
}

// Runs the job; asserts the run is the one record in the history.
RunRecord runOnce(const RunnerFixture& f, const Job& job,
                  const std::optional<Endpoint>& endpoint = std::nullopt,
                  JobRunning::LineHandler lines = {}) {
    RunRecord r = f.runner->run(job, endpoint, {}, slot, std::move(lines));
    EXPECT_EQ(f.history->allRuns(), std::vector{r});
    return r;
}

} // namespace

// Command warnings (no read-only flag, no skill support here) come before the harness's
// lines and are not stored.
TEST(JobRunner, SuccessfulRunRecordsTheSummaryAfterItsWarnings) {
    RunnerFixture f;
    Lines lines;
    Job job = f.job();
    job.permission = PermissionLevel::readOnly;
    job.skills = {"review"};
    BuiltCommand preview = f.runner->preview(job, std::nullopt);
    ASSERT_EQ(preview.warnings.size(), 2u);
    RunRecord r = runOnce(f, job, std::nullopt, lines.handler());
    EXPECT_EQ(r.jobID, job.id);
    EXPECT_EQ(r.startedAt, slot);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.resultText, "All done");
    EXPECT_EQ(r.inputTokens, 12);
    EXPECT_EQ(r.outputTokens, 34);
    EXPECT_FALSE(r.failureMessage || r.warning);
    ASSERT_EQ(lines.all.size(), 4u);
    EXPECT_EQ(lines.all[0], "warning: " + preview.warnings[0]);
    EXPECT_EQ(lines.all[1], "warning: " + preview.warnings[1]);
    EXPECT_EQ(lines.all[2].rfind("{\"type\":\"system\"", 0), 0u);
}

// Each refusal is one record with its message, exit 1, no time and no output, and the
// harness never started.
TEST(JobRunner, RefusalsAreOneRecordWithTheirMessageAndStartNothing) {
    RunnerFixture f;
    LocalHttpServer server = modelServer();
    std::size_t records = 0;
    auto refused = [&](const Job& job, const std::optional<Endpoint>& endpoint = std::nullopt) {
        Lines lines;
        RunRecord r = f.runner->run(job, endpoint, {}, slot, lines.handler());
        EXPECT_EQ(f.history->allRuns().size(), ++records);
        EXPECT_EQ(f.history->runs(job.id), std::vector{r});
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.duration, 0);
        EXPECT_EQ(r.startedAt, slot);
        EXPECT_TRUE(lines.all.empty());
        return r.failureMessage.value_or("");
    };
    EXPECT_EQ(refused(f.job("nope")), "No harness called \"nope\" is described in the manifest.");
    EXPECT_THROW(f.runner->preview(f.job("nope"), std::nullopt), HarnessError);
    EXPECT_EQ(refused(f.job(), endpoint(server.url("/v1"), EndpointKind::lmStudio, "LM Studio")),
              "Stand-in speaks Anthropic and LM Studio answers in OpenAI. Choose an endpoint "
              "the harness can read.");
    EXPECT_TRUE(server.requests().empty()) << "refused before any probe";
    Job job = f.job();
    job.limitOverrides.timeoutSeconds = 1e19; // beyond 64 bits
    EXPECT_EQ(refused(job), JobRunner::unusableLimitMessage);
    job = f.job();
    job.workingDirectory = FileUrl::fromPath(f.folder / "gone", true);
    EXPECT_EQ(refused(job).rfind("Could not start ", 0), 0u);
    std::filesystem::remove(f.folder / "bin" / "standin");
    EXPECT_EQ(refused(f.job()), "Could not find the Stand-in binary. Looked for: " +
                                    (f.folder / "bin" / "standin").string() + ".");
}

struct OfflineCase {
    const char* name;
    OfflinePolicy policy;
    int status; // 0: nothing listens
    std::int32_t exitCode;
    std::string message;
};
class JobRunnerOffline : public ::testing::TestWithParam<OfflineCase> {};

TEST_P(JobRunnerOffline, AppliesTheJobsOfflinePolicy) {
    RunnerFixture f("echo started > \"$PWD/ran\"\n");
    const OfflineCase& c = GetParam();
    LocalHttpServer server = modelServer(c.status);
    std::string url = c.status
                          ? server.url()
                          : "http://127.0.0.1:" + std::to_string(LocalHttpServer::closedPort());
    Job job = f.job();
    job.offlinePolicy = c.policy;
    RunRecord r = runOnce(f, job, endpoint(url + "/v1", EndpointKind::anthropicCompatible));
    EXPECT_EQ(r.exitCode, c.exitCode);
    EXPECT_EQ(r.failureMessage.value_or("").substr(0, c.message.size()), c.message);
    EXPECT_EQ(r.duration, 0);
    EXPECT_FALSE(std::filesystem::exists(f.folder / "work" / "ran")) << "nothing was started";
}

INSTANTIATE_TEST_SUITE_P(
    Policies, JobRunnerOffline,
    ::testing::Values(OfflineCase{"skipUnreachable", OfflinePolicy::skipAndNotify, 0, 0,
                                  "Skipped — Proxy could not be reached — "},
                      OfflineCase{"skipUnauthorized", OfflinePolicy::skipAndNotify, 401, 0,
                                  "Skipped — Reachable, but the key was refused"},
                      OfflineCase{"failForbidden", OfflinePolicy::failAndNotify, 403, 1,
                                  "Reachable, but the key was refused"}),
    [](const auto& info) { return std::string(info.param.name); });

// The harness gets the endpoint's key, which the probe used too; the key, echoed by
// the harness on every stream, is hidden in the lines handed out and in the record.
// Only the kinds that take a key are given one.
TEST(JobRunner, ReachableEndpointRunsWithItsKeyRedactedFromLinesAndRecord) {
    RunnerFixture f("cat >/dev/null\n"
                    "echo \"$ANTHROPIC_API_KEY\" > \"$PWD/key\"\n"
                    "echo \"key $ANTHROPIC_API_KEY\"\n"
                    "echo \"{\\\"type\\\":\\\"result\\\",\\\"is_error\\\":false,"
                    "\\\"result\\\":\\\"used $ANTHROPIC_API_KEY\\\"}\"\n"
                    "echo \"auth failed for $ANTHROPIC_API_KEY\" >&2\n"
                    "exit 1\n");
    LocalHttpServer server = modelServer();
    Endpoint proxy = endpoint(server.url("/v1"), EndpointKind::anthropicCompatible);
    f.secrets->save("sk-secret-123", proxy.id);
    EXPECT_EQ(f.runner->apiKey(proxy), "sk-secret-123");
    Lines lines;
    RunRecord r = runOnce(f, f.job(), proxy, lines.handler());
    EXPECT_EQ(files::read(f.folder / "work" / "key"), "sk-secret-123\n");
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].header("x-api-key"), "sk-secret-123");
    EXPECT_EQ(lines.all.front(), "key [redacted]");
    EXPECT_EQ(r.resultText, "used [redacted]");
    EXPECT_TRUE(r.failureMessage.value_or("").ends_with(" — auth failed for [redacted]"))
        << r.failureMessage.value_or("");
    EXPECT_EQ(r.toJson().dump().find("sk-secret"), std::string::npos);
    Endpoint studio = endpoint("http://127.0.0.1:1234/v1", EndpointKind::lmStudio);
    f.secrets->save("sk-stale", studio.id);
    EXPECT_FALSE(f.runner->apiKey(studio)) << "a kind that takes no key";
    EXPECT_FALSE(f.runner->apiKey(std::nullopt));
}

TEST(JobRunner, RunFilesExistForTheRunAloneAndHoldNoKey) {
    test::TempDir cache;
    test::ScopedEnv cacheHome("XDG_CACHE_HOME", cache.path().string());
    Json described = test::standInSpec();
    described.erase("endpointProtocol");
    described["apiKeyVariables"] = {{"openAI", "STANDIN_KEY"}};
    described["localEndpoint"] = Json::parse(R"({"style": "configuration", "delivery": "file",
        "variable": "STANDIN_HOME", "fileName": "models.json", "model": "{model}",
        "content": {"openAI": {"url": "{baseURL}", "key": "{keyVariable}"}}})");
    RunnerFixture f("cat >/dev/null\n"
                    "cp \"$STANDIN_HOME/models.json\" \"$PWD/seen.json\"\n"
                    "echo \"$STANDIN_HOME\" > \"$PWD/folder\"\n"
                    "stat -c %a \"$STANDIN_HOME\" > \"$PWD/mode\"\n",
                    described);
    LocalHttpServer server = modelServer();
    Endpoint gateway = endpoint(server.url("/v1"), EndpointKind::openAICompatible);
    f.secrets->save("sk-run-file", gateway.id);
    RunRecord r = f.runner->run(f.job(), gateway, {}, slot, {});
    EXPECT_EQ(r.exitCode, 0) << r.summary();
    EXPECT_EQ(Json::parse(*files::read(f.folder / "work" / "seen.json")),
              Json({{"url", server.url("/v1")}, {"key", "STANDIN_KEY"}}));
    EXPECT_EQ(files::read(f.folder / "work" / "mode"), "700\n");
    std::string folder = *files::read(f.folder / "work" / "folder");
    folder.pop_back();
    EXPECT_TRUE(folder.starts_with((cache / "Marrowbell" / "runs").string())) << folder;
    EXPECT_FALSE(std::filesystem::exists(folder)) << "removed when the run ended";
}

struct Failure {
    const char* name;
    const char* script;
    std::int32_t exitCode;
    const char* message;
};
class JobRunnerFailure : public testing::TestWithParam<Failure> {};

TEST_P(JobRunnerFailure, MessageIsTheStreamsElseStandardErrorsLastLineElseTheExit) {
    RunnerFixture f(std::string("cat >/dev/null\n") + GetParam().script);
    RunRecord r = runOnce(f, f.job());
    EXPECT_EQ(r.exitCode, GetParam().exitCode);
    EXPECT_EQ(r.failureMessage, GetParam().message);
    EXPECT_FALSE(r.succeeded());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, JobRunnerFailure,
    testing::Values(Failure{"lastErrorLine", "printf 'first\\nthe real reason\\n\\n' >&2\nexit 3\n",
                            3, "Exit 3 after 0s — the real reason"},
                    Failure{"noErrorText", "printf '\\n\\n' >&2\nexit 2\n", 2, "Exit 2 after 0s"},
                    Failure{"streamFailureOnCleanExit",
                            "echo '{\"type\":\"result\",\"is_error\":true,\"result\":\"Invalid "
                            "API key\"}'\n",
                            0, "Invalid API key"}),
    [](const auto& info) { return std::string(info.param.name); });

// Past its limit (1.9 s runs as 1 s: whole seconds) or cancelled: one record saying so.
TEST(JobRunner, StoppedRunsAreRecordedAsTimedOutOrCancelled) {
    RunnerFixture f("cat >/dev/null\necho '{\"type\":\"system\"}'\nexec sleep 30\n");
    Job job = f.job();
    job.limitOverrides.timeoutSeconds = 1.9;
    RunRecord r = runOnce(f, job);
    EXPECT_TRUE(r.timedOut);
    EXPECT_FALSE(r.wasCancelled);
    EXPECT_LT(r.duration, 1.9);
    EXPECT_EQ(r.failureMessage.value_or("").rfind("Stopped at its time limit after ", 0), 0u);
    std::stop_source stop;
    r = f.runner->run(
        f.job(), std::nullopt, {}, slot, [&](std::string_view) { stop.request_stop(); },
        stop.get_token());
    EXPECT_TRUE(r.wasCancelled);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.failureMessage.value_or("").rfind("Cancelled after ", 0), 0u);
    EXPECT_EQ(f.history->allRuns().size(), 2u);
    EXPECT_EQ(f.history->runs(r.jobID), std::vector{r});
}

// A harness printing far more than a record keeps: the text is capped with a visible mark.
TEST(JobRunner, RecordTextsAreCappedWithAVisibleMark) {
    const std::string result =
        "printf '{\"type\":\"result\",\"is_error\":%s,\"result\":\"%0500000d\"}\\n' ";
    for (const std::string& script : {result + "false 0", result + "true 0",
                                      std::string("printf '%0500000d\\n' 0 >&2\nexit 1")}) {
        RunnerFixture f("cat >/dev/null\n" + script + "\n");
        RunRecord r = runOnce(f, f.job());
        const std::optional<std::string>& text = r.resultText ? r.resultText : r.failureMessage;
        ASSERT_TRUE(text) << script;
        EXPECT_LE(text->size(),
                  r.resultText ? RunRecord::resultTextLimit : RunRecord::messageLimit);
        EXPECT_TRUE(text->ends_with("\u2026")) << script;
    }
}
