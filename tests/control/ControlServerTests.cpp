#include "control/ControlClient.h"
#include "control/ControlProtocol.h"
#include "control/ControlServer.h"

#include "base/Files.h"
#include "base/Utf8.h"
#include "run/JobRunnerTestSupport.h"
#include "support/TestSupport.h"

#include <chrono>
#include <fstream>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace marrowbell {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

using test::eventually;

// Each run appends a line to "started" in the working folder, then waits to be stopped.
const char* hangingHarness = "cat >/dev/null\n"
                             "echo '{\"type\":\"system\",\"session_id\":\"s\"}'\n"
                             "echo $$ >> \"$PWD/started\"\n"
                             "exec sleep 60\n";

// A real scheduler with a real runner, its runs' transcripts and a control server on a
// socket of its own.
struct ServerFixture {
    explicit ServerFixture(const std::string& script, ControlServer::Limits limits = {})
        : runner(script, test::standInSpec(),
                 std::make_shared<LiveRuns>(TranscriptFolder(dir / "Runs")))
        , store(std::make_shared<JobStore>(dir / "Jobs"))
        , endpoints(std::make_shared<EndpointStore>(dir / "endpoints.json"))
        , settings(std::make_shared<SettingsStore>(dir / "settings.json"))
        , job(runner.job()) {
        store->save(job);
        service =
            SchedulerService::create(store, runner.history, endpoints, settings, runner.runner);
        server = ControlServer::start({service, store, runner.live, "daemon", endpoints, settings},
                                      socket(), limits);
        service->setOnRunFinished(
            [this](const Job& job, const RunRecord& record) { server->runFinished(job, record); });
    }
    ~ServerFixture() {
        service->cancelAll();
        service->waitUntilIdle();
        server->stop();
    }
    fs::path socket() const { return dir / "control"; }
    ControlClient connect() const {
        auto client = ControlClient::connect(socket());
        if (!client)
            throw std::runtime_error("no server");
        return std::move(*client);
    }
    Json ask(const Json& request) const {
        ControlClient client = connect();
        client.send(request);
        return client.expect();
    }
    int startedRuns() const {
        auto text = files::read(runner.folder / "work" / "started");
        return text ? static_cast<int>(std::count(text->begin(), text->end(), '\n')) : 0;
    }
    // Starts a run of the job through the channel; returns once it is in flight.
    ControlClient startRun() const {
        ControlClient run = connect();
        run.send({{"request", "run"}, {"job", job.id.text()}});
        run.expect();
        if (!eventually([&] { return !runner.live->runs().empty(); }))
            throw std::runtime_error("the run never began");
        return run;
    }
    // A follower of the run in flight that takes in as little as the kernel allows and
    // reads nothing by itself.
    ControlClient silentFollower() const {
        ControlClient silent = connect();
        int small = 4096;
        ::setsockopt(silent.fd(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        silent.send({{"request", "follow"}, {"job", job.id.text()}});
        return silent;
    }
    // The next message that is not output.
    static Json nextEvent(ControlClient& client) {
        for (;;) {
            Json message = client.expect(30s);
            if (message.value("event", "") != "output")
                return message;
        }
    }

    test::TempDir dir;
    test::RunnerFixture runner;
    std::shared_ptr<JobStore> store;
    std::shared_ptr<EndpointStore> endpoints;
    std::shared_ptr<SettingsStore> settings;
    Job job;
    std::shared_ptr<SchedulerService> service;
    std::shared_ptr<ControlServer> server;
};

TEST(ControlServer, StatusNamesTheSchedulerAndItsRunsInFlight) {
    ServerFixture fixture(hangingHarness);
    Json idle = fixture.ask({{"request", "status"}});
    EXPECT_EQ(idle["reply"], "status");
    EXPECT_EQ(idle["pid"], ::getpid());
    EXPECT_EQ(idle["kind"], "daemon");
    EXPECT_TRUE(idle["runs"].empty());

    ControlClient run = fixture.connect();
    run.send({{"request", "run"}, {"job", fixture.job.id.text()}});
    EXPECT_EQ(run.expect()["reply"], "run");
    ASSERT_TRUE(eventually([&] { return fixture.startedRuns() == 1; }));
    Json busy = fixture.ask({{"request", "status"}});
    ASSERT_EQ(busy["runs"].size(), 1u);
    EXPECT_EQ(busy["runs"][0]["job"], fixture.job.id.text());
    EXPECT_EQ(busy["runs"][0]["jobName"], fixture.job.name);
    EXPECT_GT(busy["runs"][0]["pid"].get<int>(), 0);
}

struct BadRequest {
    const char* label;
    std::string bytes;
    const char* error;
};

class ControlServerRefuses : public testing::TestWithParam<BadRequest> {};

TEST_P(ControlServerRefuses, WithOneErrorAndServesTheNextClient) {
    ServerFixture fixture(hangingHarness);
    {
        ControlClient client = fixture.connect();
        ASSERT_EQ(
            ::send(client.fd(), GetParam().bytes.data(), GetParam().bytes.size(), MSG_NOSIGNAL),
            static_cast<ssize_t>(GetParam().bytes.size()));
        Json message;
        ASSERT_EQ(client.read(message, 10s), ControlClient::Read::message);
        EXPECT_NE(message.value("error", "").find(GetParam().error), std::string::npos)
            << message.dump();
        EXPECT_EQ(client.read(message, 10s), ControlClient::Read::closed);
    }
    EXPECT_EQ(fixture.ask({{"request", "status"}})["reply"], "status");
    EXPECT_EQ(fixture.startedRuns(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Requests, ControlServerRefuses,
    testing::Values(BadRequest{"Garbage", "\x01\x02 hello\n", "not a JSON object"},
                    BadRequest{"NotAnObject", "[1,2]\n", "not a JSON object"},
                    BadRequest{"OtherVersion",
                               R"({"version":2,"request":"status"})"
                               "\n",
                               "version 1"},
                    BadRequest{"UnknownRequest",
                               R"({"version":1,"request":"reboot"})"
                               "\n",
                               "Unknown request"},
                    BadRequest{"UnknownJob",
                               R"({"version":1,"request":"run","job":"not a uuid"})"
                               "\n",
                               "no such job"},
                    BadRequest{"OverLong", std::string(100 * 1024, 'x'), "longer than 64 KiB"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(ControlServer, AHalfWrittenRequestIsDroppedAfterItsTimeout) {
    ServerFixture fixture(hangingHarness, {.requestTimeout = 300ms});
    ControlClient client = fixture.connect();
    std::string half = R"({"version":1,"requ)";
    ASSERT_GT(::send(client.fd(), half.data(), half.size(), MSG_NOSIGNAL), 0);
    EXPECT_EQ(fixture.ask({{"request", "status"}})["reply"], "status") << "others are served";
    Json message;
    EXPECT_EQ(client.read(message, 30s), ControlClient::Read::closed);
}

// A client that stops sending halfway through its request (a half-close) is closed
// unanswered at once, long before its time-out, and what it began to ask is not done.
TEST(ControlServer, AHalfClosedRequestIsClosedUnanswered) {
    ServerFixture fixture(hangingHarness, {.requestTimeout = 600s});
    ControlClient client = fixture.connect();
    std::string half = R"({"version":1,"request":"run","job":")" + fixture.job.id.text();
    ASSERT_GT(::send(client.fd(), half.data(), half.size(), MSG_NOSIGNAL), 0);
    ASSERT_EQ(::shutdown(client.fd(), SHUT_WR), 0);
    Json message;
    EXPECT_EQ(client.read(message, 30s), ControlClient::Read::closed) << message.dump();
    EXPECT_EQ(fixture.ask({{"request", "status"}})["runs"].size(), 0u);
    EXPECT_EQ(fixture.startedRuns(), 0);
}

TEST(ControlServer, AnotherUsersProcessGetsNothingAndChangesNothing) {
    if (::getuid() != 0 || ::access("/usr/bin/setpriv", X_OK) != 0 ||
        ::access("/usr/bin/python3", X_OK) != 0)
        GTEST_SKIP() << "needs root, setpriv and python3";
    ServerFixture fixture(hangingHarness);
    ControlClient run = fixture.connect();
    run.send({{"request", "run"}, {"job", fixture.job.id.text()}});
    ASSERT_TRUE(eventually([&] { return fixture.startedRuns() == 1; }));
    // Only the peer check stands in the way: the folder and socket let anyone in.
    fs::permissions(fixture.dir.path(), fs::perms::owner_all | fs::perms::others_exec);
    fs::permissions(fixture.socket(), fs::perms::all);
    std::string script = "import socket,sys\n"
                         "s=socket.socket(socket.AF_UNIX)\n"
                         "s.connect(sys.argv[1])\n"
                         "data=b''\n"
                         "try:\n"
                         "    s.sendall(sys.argv[2].encode()+b'\\n')\n"
                         "    s.settimeout(10)\n"
                         "    while True:\n"
                         "        chunk=s.recv(4096)\n"
                         "        if not chunk: break\n"
                         "        data+=chunk\n"
                         "except OSError:\n"
                         "    pass\n"
                         "print(len(data))\n";
    auto stranger = test::runProcess(
        {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "/usr/bin/python3",
         "-c", script, fixture.socket().string(),
         R"({"version":1,"request":"stop","job":")" + fixture.job.id.text() + "\"}"});
    EXPECT_EQ(stranger.exitStatus, 0) << stranger.err;
    EXPECT_EQ(stranger.out, "0\n") << "no byte of an answer";
    EXPECT_TRUE(fixture.service->isRunning(fixture.job.id)) << "the run goes on";
}

TEST(ControlServer, CancelStopsOnlyTheRunItsConnectionStarted) {
    ServerFixture fixture(hangingHarness);
    ControlClient first = fixture.connect();
    ControlClient second = fixture.connect();
    for (ControlClient* client : {&first, &second}) {
        client->send({{"request", "run"}, {"job", fixture.job.id.text()}, {"stream", true}});
        client->expect();
    }
    ASSERT_TRUE(eventually([&] { return fixture.startedRuns() == 2; }));
    first.send({{"request", "cancel"}});
    Json finished = ServerFixture::nextEvent(first);
    EXPECT_EQ(finished["event"], "runFinished");
    EXPECT_TRUE(finished["record"]["wasCancelled"].get<bool>());
    EXPECT_EQ(fixture.ask({{"request", "status"}})["runs"].size(), 1u) << "the other goes on";

    Json stop = fixture.ask({{"request", "stop"}, {"job", fixture.job.id.text()}});
    EXPECT_TRUE(stop["wasRunning"].get<bool>());
    EXPECT_TRUE(ServerFixture::nextEvent(second)["record"]["wasCancelled"].get<bool>());
    fixture.service->waitUntilIdle();
    EXPECT_EQ(fixture.runner.history->allRuns().size(), 2u);
}

TEST(ControlServer, AClientGoingAwayMidRunCancelsNothing) {
    ServerFixture fixture("cat >/dev/null\n"
                          "while [ ! -e \"$PWD/go\" ]; do echo waiting; sleep 0.05; done\n"
                          "echo '{\"type\":\"result\",\"subtype\":\"success\",\"is_error\":false,"
                          "\"result\":\"done\"}'\n");
    {
        ControlClient client = fixture.connect();
        client.send({{"request", "run"}, {"job", fixture.job.id.text()}, {"stream", true}});
        client.expect();
        Json line = client.expect();
        EXPECT_EQ(line["event"], "output");
    }
    test::writeFile(fixture.runner.folder / "work" / "go", "");
    ASSERT_TRUE(eventually([&] { return !fixture.runner.history->allRuns().empty(); }));
    EXPECT_TRUE(fixture.runner.history->allRuns()[0].succeeded());
}

// The lines before a follower came from the transcript, the later ones live: each once,
// in order.
TEST(ControlServer, FollowGivesTheWholeOutputOnceAndInOrder) {
    ServerFixture fixture("cat >/dev/null\n"
                          "seq 1 20000\n"
                          "echo 'a warning' >&2\n"
                          "while [ ! -e \"$PWD/go\" ]; do sleep 0.02; done\n"
                          "seq 20001 40000\n");
    ControlClient run = fixture.connect();
    run.send({{"request", "run"}, {"job", fixture.job.id.text()}});
    run.expect();
    ASSERT_TRUE(eventually([&] {
        auto runs = fixture.runner.live->runs();
        if (runs.empty())
            return false;
        fixture.runner.live->flushTranscript(runs[0].runID);
        auto text = files::read(fixture.dir / "Runs" / (runs[0].runID.text() + ".log"));
        return text && text->find("a warning") != std::string::npos;
    }));
    ControlClient follower = fixture.connect();
    follower.send({{"request", "follow"}, {"job", fixture.job.id.text()}});
    EXPECT_EQ(follower.expect()["reply"], "follow");
    test::writeFile(fixture.runner.folder / "work" / "go", "");
    std::vector<std::string> lines;
    std::string stderrLine;
    for (;;) {
        Json message = follower.expect(30s);
        if (message["event"] == "runFinished")
            break;
        ASSERT_EQ(message["event"], "output") << message.dump();
        if (message["stream"] == "stderr")
            stderrLine = message["line"];
        else if (message["stream"] == "stdout")
            lines.push_back(message["line"]);
    }
    EXPECT_EQ(stderrLine, "a warning");
    ASSERT_EQ(lines.size(), 40000u);
    for (std::size_t i = 0; i < lines.size(); ++i)
        ASSERT_EQ(lines[i], std::to_string(i + 1));
}

long residentKiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return 0;
}

// A follower that reads nothing while the harness prints 64 MiB of short lines: the run
// and the other clients go on, memory stays within the bounds, and the follower still
// hears that lines were dropped, then the run finish.
TEST(ControlServer, AClientThatNeverReadsLosesLinesNotTheScheduler) {
    ServerFixture fixture("cat >/dev/null\n"
                          "while [ ! -e \"$PWD/go\" ]; do sleep 0.02; done\n"
                          "yes 'a short line of agent output' | head -c 67108864\n",
                          {.queueBytes = 256 * 1024, .stallTimeout = 600s});
    ControlClient run = fixture.startRun();
    ControlClient silent = fixture.silentFollower();
    long before = residentKiB();
    test::writeFile(fixture.runner.folder / "work" / "go", "");
    ASSERT_TRUE(eventually([&] { return fixture.runner.live->runs().empty(); }, 120s));
    EXPECT_EQ(fixture.ask({{"request", "status"}})["reply"], "status");
#ifndef __SANITIZE_ADDRESS__ // its quarantine holds freed memory resident
    EXPECT_LT(residentKiB() - before, 24 * 1024) << "KiB grown while 64 MiB went by";
#endif
    std::uint64_t dropped = 0;
    for (;;) {
        Json message = silent.expect(30s);
        if (message.value("event", "") == "dropped")
            dropped += message["lines"].get<std::uint64_t>();
        if (message.value("event", "") == "runFinished")
            break;
    }
    EXPECT_GT(dropped, 0u) << "told of the lines it lost, before the run's end";
}

// A follower that stops reading is disconnected once it has taken nothing for the
// stall time-out; the run goes on to its end without it.
TEST(ControlServer, AStalledFollowerIsDisconnected) {
    ServerFixture fixture("cat >/dev/null\n"
                          "while [ ! -e \"$PWD/go\" ]; do sleep 0.02; done\n"
                          "yes 'a short line of agent output' | head -c 16777216\n"
                          "while [ ! -e \"$PWD/end\" ]; do sleep 0.02; done\n",
                          {.stallTimeout = 300ms});
    ControlClient run = fixture.startRun();
    ControlClient silent = fixture.silentFollower();
    test::writeFile(fixture.runner.folder / "work" / "go", "");
    // The run is still in flight: only the stall can end the connection, which the
    // client sees (before reading what is buffered) as the server's hang-up.
    ASSERT_TRUE(eventually([&] {
        pollfd hangUp{silent.fd(), POLLRDHUP, 0};
        return ::poll(&hangUp, 1, 0) == 1 && (hangUp.revents & (POLLRDHUP | POLLHUP));
    }));
    Json message;
    ControlClient::Read read;
    while ((read = silent.read(message, 60s)) == ControlClient::Read::message)
        ASSERT_NE(message.value("event", ""), "runFinished");
    EXPECT_EQ(read, ControlClient::Read::closed);
    EXPECT_EQ(fixture.ask({{"request", "status"}})["runs"].size(), 1u);
    test::writeFile(fixture.runner.folder / "work" / "end", "");
    EXPECT_TRUE(eventually([&] { return !fixture.runner.history->allRuns().empty(); }));
}

TEST(ControlServer, SubscribersHearRunsStartAndFinish) {
    ServerFixture fixture(test::succeedingHarness);
    ControlClient subscriber = fixture.connect();
    subscriber.send({{"request", "subscribe"}});
    EXPECT_EQ(subscriber.expect()["reply"], "subscribe");
    fixture.service->runNow(fixture.job).get();
    Json started = subscriber.expect();
    EXPECT_EQ(started["event"], "runStarted");
    EXPECT_EQ(started["run"]["job"], fixture.job.id.text());
    Json finished = subscriber.expect();
    EXPECT_EQ(finished["event"], "runFinished");
    EXPECT_EQ(finished["record"]["id"], started["run"]["run"]);
}

TEST(ControlServer, SubscribersHearTheStoresChange) {
    ServerFixture fixture(test::succeedingHarness);
    ControlClient subscriber = fixture.connect();
    subscriber.send({{"request", "subscribe"}});
    subscriber.expect();
    Job renamed = fixture.job;
    renamed.name = "Renamed";
    fixture.store->save(renamed);
    EXPECT_EQ(subscriber.expect()["what"], "jobs");
    fixture.endpoints->save(
        Endpoint{Uuid::random(), "Studio", Url{"http://127.0.0.1:1234"}, EndpointKind::lmStudio});
    EXPECT_EQ(subscriber.expect()["what"], "endpoints");
    fixture.settings->update([](AppSettings& settings) { settings.catchUpGraceSeconds += 60; });
    EXPECT_EQ(subscriber.expect()["what"], "settings");
}

// A scheduler killed outright leaves its socket; nobody answers there, and the next
// scheduler takes the path over.
TEST(ControlServer, ReplacesTheSocketADeadSchedulerLeft) {
    test::TempDir dir;
    fs::path path = dir / "control";
    int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, path.c_str());
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::listen(fd, 1);
    ::close(fd);
    EXPECT_FALSE(ControlClient::connect(path).has_value());

    ServerFixture fixture(hangingHarness);
    auto server = ControlServer::start(
        {fixture.service, fixture.store, nullptr, "app", nullptr, nullptr}, path);
    auto client = ControlClient::connect(path);
    ASSERT_TRUE(client.has_value());
    client->send({{"request", "status"}});
    EXPECT_EQ(client->expect()["kind"], "app");
    server->stop();
    EXPECT_FALSE(fs::exists(path));
}

TEST(ControlProtocol, OutputEventsAreJsonWhateverTheLineHolds) {
    std::string line = "quote \" backslash \\ tab \t bell \x07 escape \x1b[31m invalid \xff end";
    std::string event;
    ControlProtocol::appendOutputEvent(event, OutputChannel::standardError, line);
    ASSERT_EQ(event.back(), '\n');
    std::optional<Json> parsed = json::parse(event);
    ASSERT_TRUE(parsed);
    EXPECT_EQ((*parsed)["stream"], "stderr");
    EXPECT_EQ((*parsed)["version"], ControlProtocol::version);
    EXPECT_EQ((*parsed)["line"].get<std::string>().substr(0, 45), line.substr(0, 45));
    EXPECT_NE((*parsed)["line"].get<std::string>().find("\xEF\xBF\xBD end"), std::string::npos);
}

// The client's single-pass reader of output events against the full JSON parse: on
// every line it accepts, both give the same stream and text; lines it is not sure of
// are left to the parse. The server's own events, whatever the line held, are always
// accepted.
struct OutputEventCase {
    const char* name;
    std::string line; // without its newline
    bool fast;        // the single-pass reader takes it
};

class OutputEventDecoding : public testing::TestWithParam<OutputEventCase> {};

TEST_P(OutputEventDecoding, AgreesWithTheFullParse) {
    const OutputEventCase& given = GetParam();
    OutputChannel channel;
    std::string text = "left over from an earlier line";
    bool fast = ControlProtocol::decodeOutputEvent(given.line, channel, text);
    EXPECT_EQ(fast, given.fast);
    if (!fast)
        return;
    std::optional<Json> parsed = json::parse(given.line);
    ASSERT_TRUE(parsed && parsed->is_object());
    EXPECT_EQ((*parsed)["event"], "output");
    EXPECT_EQ((*parsed)["stream"], name(channel));
    EXPECT_EQ((*parsed)["line"].get<std::string>(), text);
}

std::string outputEvent(std::string_view content, std::string_view stream = "stdout") {
    return R"({"event":"output","stream":")" + std::string(stream) + R"(","line":")" +
           std::string(content) + R"(","version":1})";
}

INSTANTIATE_TEST_SUITE_P(
    ControlProtocol, OutputEventDecoding,
    testing::Values(
        OutputEventCase{"plain", outputEvent("a plain line of output"), true},
        OutputEventCase{"empty", outputEvent(""), true},
        OutputEventCase{"stderr", outputEvent("oops", "stderr"), true},
        OutputEventCase{"shortEscapes", outputEvent(R"(q\" b\\ s\/ \b\f\n\r\t end)"), true},
        OutputEventCase{"unicodeEscapes", outputEvent(R"(\u0007 \u00e9 \u20AC \u0000)"), true},
        OutputEventCase{"rawUtf8", outputEvent("h\xC3\xA9llo \xE2\x82\xAC \xF0\x9F\x98\x80"), true},
        OutputEventCase{"surrogatePair", outputEvent(R"(\ud83d\ude00)"), false},
        OutputEventCase{"loneSurrogate", outputEvent(R"(\ud83d)"), false},
        OutputEventCase{"shortUnicodeEscape", outputEvent(R"(\u00e)"), false},
        OutputEventCase{"unknownEscape", outputEvent(R"(\x41)"), false},
        OutputEventCase{"rawInvalidUtf8", outputEvent("bad \xFF end"), false},
        OutputEventCase{"rawControlCharacter", outputEvent("tab\there"), false},
        OutputEventCase{"rawQuote", outputEvent(R"(a"b)"), false},
        OutputEventCase{"escapedClosingQuote", outputEvent(R"(ends in \)"), false},
        OutputEventCase{"unknownStream", outputEvent("x", "stdin"), false},
        OutputEventCase{"otherKeyOrder",
                        R"({"event":"output","line":"x","stream":"stdout","version":1})", false},
        OutputEventCase{"anotherVersion",
                        R"({"event":"output","stream":"stdout","line":"x","version":2})", false},
        OutputEventCase{"notOutput", R"({"event":"runFinished","version":1})", false}),
    [](const testing::TestParamInfo<OutputEventCase>& info) { return info.param.name; });

TEST(ControlProtocol, TheServersOutputEventsTakeTheSinglePass) {
    for (std::string line :
         {std::string("quote \" backslash \\ tab \t bell \x07 escape \x1b[31m del \x7f"),
          std::string("h\xC3\xA9llo \xE2\x82\xAC \xF0\x9F\x98\x80 and a long plain stretch"),
          std::string("invalid \xFF\xC3 cut"), std::string(1000, 'x') + "\r"}) {
        std::string event;
        ControlProtocol::appendOutputEvent(event, OutputChannel::warning, line);
        event.pop_back(); // the newline
        OutputChannel channel;
        std::string text;
        ASSERT_TRUE(ControlProtocol::decodeOutputEvent(event, channel, text)) << event;
        EXPECT_EQ(channel, OutputChannel::warning);
        EXPECT_EQ(text, (*json::parse(event))["line"].get<std::string>());
        EXPECT_EQ(text, utf8::repaired(line));
    }
}

TEST(ControlProtocol, TheSocketFolderMustBeOurs) {
    test::TempDir dir;
    test::ScopedEnv runtime("XDG_RUNTIME_DIR", dir.path().string());
    EXPECT_EQ(ControlProtocol::socketPath(), dir / "marrowbell" / "control");
    EXPECT_EQ(fs::status(dir / "marrowbell").permissions(), fs::perms::owner_all);
    fs::permissions(dir / "marrowbell", fs::perms::all);
    EXPECT_THROW(ControlProtocol::socketPath(), ControlError);
}

} // namespace
} // namespace marrowbell
