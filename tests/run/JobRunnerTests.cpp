#include "base/Files.h"
#include "run/JobRunnerTestSupport.h"
#include "support/LocalHttpServer.h"

#include <gtest/gtest.h>

#include <limits>
#include <mutex>
#include <thread>

using namespace marrowbell;
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

Endpoint endpoint(const std::string& url, EndpointKind kind, const std::string& name = "Local") {
    return Endpoint{Uuid::random(), name, *Endpoint::validated(url), kind};
}

// Asserts the run is the one record in the history and returns it.
RunRecord onlyRecord(const RunnerFixture& f, const RunRecord& returned) {
    auto all = f.history->allRuns();
    EXPECT_EQ(all.size(), 1u);
    if (!all.empty()) {
        EXPECT_EQ(all[0], returned);
    }
    return returned;
}

} // namespace

TEST(JobRunner, SuccessfulRunRecordsTheSummary) {
    RunnerFixture f;
    Lines lines;
    Job job = f.job();
    RunRecord r = onlyRecord(f, f.runner->run(job, std::nullopt, {}, slot, lines.handler()));
    EXPECT_EQ(r.jobID, job.id);
    EXPECT_EQ(r.startedAt, slot);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.resultText, "All done");
    EXPECT_EQ(r.inputTokens, 12);
    EXPECT_EQ(r.outputTokens, 34);
    EXPECT_FALSE(r.failureMessage);
    EXPECT_TRUE(r.succeeded());
    EXPECT_EQ(lines.all.size(), 2u);
}

TEST(JobRunner, UnknownHarnessIsRefusedWithoutOutput) {
    RunnerFixture f;
    Lines lines;
    RunRecord r =
        onlyRecord(f, f.runner->run(f.job("nope"), std::nullopt, {}, slot, lines.handler()));
    EXPECT_EQ(r.failureMessage, "No harness called \"nope\" is described in the manifest.");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.duration, 0);
    EXPECT_EQ(r.startedAt, slot);
    EXPECT_TRUE(lines.all.empty());
    EXPECT_THROW(f.runner->preview(f.job("nope"), std::nullopt), HarnessError);
}

TEST(JobRunner, MissingExecutableIsRefusedWithThePathsTried) {
    RunnerFixture f;
    std::filesystem::remove(f.folder / "bin" / "standin");
    RunRecord r = onlyRecord(f, f.runner->run(f.job(), std::nullopt, {}, slot, {}));
    EXPECT_EQ(r.failureMessage, "Could not find the Stand-in binary. Looked for: " +
                                    (f.folder / "bin" / "standin").string() + ".");
    EXPECT_EQ(r.exitCode, 1);
}

TEST(JobRunner, WrongProtocolEndpointIsRefusedBeforeAnyProbe) {
    RunnerFixture f;
    int requests = 0;
    test::LocalHttpServer server([&](const auto&) {
        ++requests;
        return test::LocalHttpServer::reply(200, R"({"data":[]})");
    });
    Endpoint studio = endpoint(server.url("/v1"), EndpointKind::lmStudio, "LM Studio");
    RunRecord r = onlyRecord(f, f.runner->run(f.job(), studio, {}, slot, {}));
    EXPECT_EQ(r.failureMessage, "Stand-in speaks Anthropic and LM Studio answers in OpenAI. "
                                "Choose an endpoint the harness can read.");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(server.requests().empty());
}

struct OfflineCase {
    OfflinePolicy policy;
    int status; // 0: nothing listens
    std::int32_t exitCode;
    std::string message;
};
class JobRunnerOffline : public ::testing::TestWithParam<OfflineCase> {};

TEST_P(JobRunnerOffline, AppliesTheJobsOfflinePolicy) {
    RunnerFixture f;
    f.writeHarness("echo started > \"$PWD/ran\"\n");
    const OfflineCase& c = GetParam();
    std::unique_ptr<test::LocalHttpServer> server;
    std::string url = "http://127.0.0.1:" + std::to_string(test::LocalHttpServer::closedPort());
    if (c.status) {
        server = std::make_unique<test::LocalHttpServer>(
            [&](const auto&) { return test::LocalHttpServer::reply(c.status, "{}"); });
        url = server->url();
    }
    Job job = f.job();
    job.offlinePolicy = c.policy;
    Endpoint proxy = endpoint(url + "/v1", EndpointKind::anthropicCompatible, "Proxy");
    RunRecord r = onlyRecord(f, f.runner->run(job, proxy, {}, slot, {}));
    EXPECT_EQ(r.exitCode, c.exitCode);
    ASSERT_TRUE(r.failureMessage);
    EXPECT_EQ(r.failureMessage->substr(0, c.message.size()), c.message);
    EXPECT_EQ(r.duration, 0);
    EXPECT_FALSE(std::filesystem::exists(f.folder / "work" / "ran")) << "nothing was started";
}

INSTANTIATE_TEST_SUITE_P(
    Policies, JobRunnerOffline,
    ::testing::Values(
        OfflineCase{OfflinePolicy::skipAndNotify, 0, 0, "Skipped — Proxy could not be reached — "},
        OfflineCase{OfflinePolicy::failAndNotify, 0, 1, "Proxy could not be reached — "},
        OfflineCase{OfflinePolicy::skipAndNotify, 401, 0,
                    "Skipped — Reachable, but the key was refused"},
        OfflineCase{OfflinePolicy::failAndNotify, 403, 1, "Reachable, but the key was refused"}));

TEST(JobRunner, ReachableEndpointRunsWithItsKey) {
    RunnerFixture f;
    f.writeHarness("cat >/dev/null\necho \"$ANTHROPIC_API_KEY\" > \"$PWD/key\"\n");
    test::LocalHttpServer server(
        [](const auto&) { return test::LocalHttpServer::reply(200, R"({"data":[{"id":"m"}]})"); });
    Endpoint proxy = endpoint(server.url("/v1"), EndpointKind::anthropicCompatible, "Proxy");
    f.secrets->save("sk-test", proxy.id);
    EXPECT_EQ(f.runner->apiKey(proxy), "sk-test");
    RunRecord r = f.runner->run(f.job(), proxy, {}, slot, {});
    EXPECT_TRUE(r.succeeded()) << r.summary();
    EXPECT_EQ(files::read(f.folder / "work" / "key"), "sk-test\n");
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].header("x-api-key"), "sk-test");
}

TEST(JobRunner, RunFilesExistForTheRunAloneAndHoldNoKey) {
    test::TempDir cache;
    test::ScopedEnv cacheHome("XDG_CACHE_HOME", cache.path().string());
    Json described = test::standInSpec();
    described.erase("endpointProtocol");
    described["apiKeyVariables"] = Json::parse(R"({"openAI": "STANDIN_KEY"})");
    described["localEndpoint"] = Json::parse(R"({"style": "configuration", "delivery": "file",
        "variable": "STANDIN_HOME", "fileName": "models.json", "model": "{model}",
        "content": {"openAI": {"url": "{baseURL}", "key": "{keyVariable}"}}})");
    RunnerFixture f("cat >/dev/null\n"
                    "cp \"$STANDIN_HOME/models.json\" \"$PWD/seen.json\"\n"
                    "echo \"$STANDIN_HOME\" > \"$PWD/folder\"\n"
                    "stat -c %a \"$STANDIN_HOME\" > \"$PWD/mode\"\n",
                    described);
    test::LocalHttpServer server(
        [](const auto&) { return test::LocalHttpServer::reply(200, R"({"data":[]})"); });
    Endpoint gateway = endpoint(server.url("/v1"), EndpointKind::openAICompatible, "Gateway");
    f.secrets->save("sk-run-file", gateway.id);
    RunRecord r = f.runner->run(f.job(), gateway, {}, slot, {});
    EXPECT_EQ(r.exitCode, 0) << r.summary();
    EXPECT_EQ(Json::parse(*files::read(f.folder / "work" / "seen.json")),
              Json::parse(R"({"url": ")" + server.url("/v1") + R"(", "key": "STANDIN_KEY"})"));
    EXPECT_EQ(files::read(f.folder / "work" / "mode"), "700\n");
    std::string folder = *files::read(f.folder / "work" / "folder");
    folder.pop_back();
    EXPECT_TRUE(folder.starts_with((cache / "Marrowbell" / "runs").string())) << folder;
    EXPECT_FALSE(std::filesystem::exists(folder)) << "removed when the run ended";
}

TEST(JobRunner, KeyIsOnlyForKindsThatTakeOne) {
    RunnerFixture f;
    Endpoint studio = endpoint("http://127.0.0.1:1234/v1", EndpointKind::lmStudio);
    f.secrets->save("sk-stale", studio.id);
    EXPECT_EQ(f.runner->apiKey(studio), std::nullopt);
    EXPECT_EQ(f.runner->apiKey(std::nullopt), std::nullopt);
    Endpoint open = endpoint("http://127.0.0.1:1234/v1", EndpointKind::openAICompatible);
    EXPECT_EQ(f.runner->apiKey(open), std::nullopt) << "nothing stored";
}

TEST(JobRunner, WarningsReachTheLineHandlerBeforeTheHarnessOutput) {
    RunnerFixture f;
    Lines lines;
    Job job = f.job();
    job.permission = PermissionLevel::readOnly; // the stand-in has no read-only flag
    job.skills = {"review"};                    // nor any skill support
    BuiltCommand preview = f.runner->preview(job, std::nullopt);
    ASSERT_EQ(preview.warnings.size(), 2u);
    RunRecord r = f.runner->run(job, std::nullopt, {}, slot, lines.handler());
    ASSERT_GE(lines.all.size(), 3u);
    EXPECT_EQ(lines.all[0], "warning: " + preview.warnings[0]);
    EXPECT_EQ(lines.all[1], "warning: " + preview.warnings[1]);
    EXPECT_EQ(lines.all[2].rfind("{\"type\":\"system\"", 0), 0u);
    EXPECT_FALSE(r.warning) << "command warnings are not stored";
}

TEST(JobRunner, FailedExitNamesTheLastLineOfStandardError) {
    RunnerFixture f("cat >/dev/null\nprintf 'first\\nthe real reason\\n\\n' >&2\nexit 3\n");
    RunRecord r = onlyRecord(f, f.runner->run(f.job(), std::nullopt, {}, slot, {}));
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(r.failureMessage, "Exit 3 after 0s — the real reason");
}

TEST(JobRunner, FailedExitWithoutStandardErrorIsTheTerminationSummary) {
    RunnerFixture f("cat >/dev/null\nexit 2\n");
    RunRecord r = f.runner->run(f.job(), std::nullopt, {}, slot, {});
    EXPECT_EQ(r.failureMessage, "Exit 2 after 0s");
}

TEST(JobRunner, StreamFailureWinsOverACleanExit) {
    RunnerFixture f("cat >/dev/null\necho '{\"type\":\"result\",\"is_error\":true,\"result\":"
                    "\"Invalid API key\"}'\nexit 0\n");
    RunRecord r = f.runner->run(f.job(), std::nullopt, {}, slot, {});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.failureMessage, "Invalid API key");
    EXPECT_FALSE(r.succeeded());
}

TEST(JobRunner, HarnessHangingPastItsLimitIsStopped) {
    RunnerFixture f("cat >/dev/null\nexec sleep 30\n");
    Job job = f.job();
    job.limitOverrides.timeoutSeconds = 1.9; // runs with a limit of 1 s
    RunRecord r = onlyRecord(f, f.runner->run(job, std::nullopt, {}, slot, {}));
    EXPECT_TRUE(r.timedOut);
    EXPECT_FALSE(r.wasCancelled);
    EXPECT_LT(r.duration, 1.9);
    ASSERT_TRUE(r.failureMessage);
    EXPECT_EQ(r.failureMessage->rfind("Stopped at its time limit after ", 0), 0u);
}

TEST(JobRunner, CancelledRunIsRecordedAsCancelled) {
    RunnerFixture f("cat >/dev/null\necho '{\"type\":\"system\"}'\nexec sleep 30\n");
    std::stop_source stop;
    std::atomic<bool> started = false;
    std::thread canceller([&] {
        while (!started)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        stop.request_stop();
    });
    RunRecord r = onlyRecord(f, f.runner->run(
                                    f.job(), std::nullopt, {}, slot,
                                    [&](std::string_view) { started = true; }, stop.get_token()));
    canceller.join();
    EXPECT_TRUE(r.wasCancelled);
    EXPECT_FALSE(r.timedOut);
    ASSERT_TRUE(r.failureMessage);
    EXPECT_EQ(r.failureMessage->rfind("Cancelled after ", 0), 0u);
}

TEST(JobRunner, UnusableLimitIsRefused) {
    RunnerFixture f;
    Job job = f.job();
    job.limitOverrides.timeoutSeconds = std::numeric_limits<double>::infinity();
    RunRecord r = onlyRecord(f, f.runner->run(job, std::nullopt, {}, slot, {}));
    EXPECT_EQ(r.failureMessage, JobRunner::unusableLimitMessage);
    EXPECT_EQ(r.exitCode, 1);
}

TEST(JobRunner, LimitIsTruncatedToWholeSeconds) {
    EXPECT_EQ(JobRunner::wholeSeconds(90.9), 90);
    EXPECT_EQ(JobRunner::wholeSeconds(-1.5), -1);
    EXPECT_EQ(JobRunner::wholeSeconds(9.2e18), std::int64_t(9.2e18));
    EXPECT_EQ(JobRunner::wholeSeconds(1e19), std::nullopt);
    EXPECT_EQ(JobRunner::wholeSeconds(std::numeric_limits<double>::quiet_NaN()), std::nullopt);
    EXPECT_EQ(JobRunner::wholeSeconds(-std::numeric_limits<double>::infinity()), std::nullopt);
}

TEST(JobRunner, ExecutorFailureIsRefusedWithItsMessage) {
    RunnerFixture f;
    Job job = f.job();
    job.workingDirectory = FileUrl::fromPath(f.folder / "gone", true);
    RunRecord r = onlyRecord(f, f.runner->run(job, std::nullopt, {}, slot, {}));
    ASSERT_TRUE(r.failureMessage);
    EXPECT_EQ(r.failureMessage->rfind("Could not start ", 0), 0u) << *r.failureMessage;
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.duration, 0);
}

// The key of the run's endpoint, echoed by the harness on every stream, is hidden in
// the lines handed out and in everything the record keeps.
TEST(JobRunner, TheEndpointsKeyIsRedactedFromLinesAndRecord) {
    RunnerFixture f;
    f.writeHarness("cat >/dev/null\n"
                   "echo \"key $ANTHROPIC_API_KEY\"\n"
                   "echo \"{\\\"type\\\":\\\"result\\\",\\\"is_error\\\":false,"
                   "\\\"result\\\":\\\"used $ANTHROPIC_API_KEY\\\"}\"\n"
                   "echo \"auth failed for $ANTHROPIC_API_KEY\" >&2\n"
                   "exit 1\n");
    test::LocalHttpServer server(
        [](const auto&) { return test::LocalHttpServer::reply(200, R"({"data":[]})"); });
    Endpoint proxy = endpoint(server.url("/v1"), EndpointKind::anthropicCompatible, "Proxy");
    f.secrets->save("sk-secret-123", proxy.id);
    Lines lines;
    RunRecord r = onlyRecord(f, f.runner->run(f.job(), proxy, {}, slot, lines.handler()));
    EXPECT_EQ(lines.all.front(), "key [redacted]");
    EXPECT_EQ(r.resultText, "used [redacted]");
    ASSERT_TRUE(r.failureMessage);
    EXPECT_TRUE(r.failureMessage->ends_with(" — auth failed for [redacted]")) << *r.failureMessage;
    EXPECT_EQ(f.history->allRuns()[0].toJson().dump().find("sk-secret"), std::string::npos);
}

struct Flood {
    const char* name;
    const char* script; // prints far more than a record keeps
};

class JobRunnerFlood : public testing::TestWithParam<Flood> {};

TEST_P(JobRunnerFlood, RecordTextsAreCappedWithAVisibleMark) {
    RunnerFixture f(std::string("cat >/dev/null\n") + GetParam().script);
    RunRecord r = onlyRecord(f, f.runner->run(f.job(), std::nullopt, {}, slot, {}));
    const std::optional<std::string>& text = r.resultText ? r.resultText : r.failureMessage;
    ASSERT_TRUE(text);
    std::size_t limit = r.resultText ? RunRecord::resultTextLimit : RunRecord::messageLimit;
    EXPECT_LE(text->size(), limit);
    EXPECT_TRUE(text->ends_with("\u2026")) << text->substr(text->size() - 10);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, JobRunnerFlood,
    testing::Values(Flood{"resultText", "printf '{\"type\":\"result\",\"is_error\":false,"
                                        "\"result\":\"%0500000d\"}\\n' 0\n"},
                    Flood{"failureMessage", "printf '{\"type\":\"result\",\"is_error\":true,"
                                            "\"result\":\"%0500000d\"}\\n' 0\n"},
                    Flood{"standardErrorTail", "printf '%0500000d\\n' 0 >&2\nexit 1\n"}),
    [](const auto& info) { return std::string(info.param.name); });
