#include "control/ControlClient.h"
#include "control/ControlProtocol.h"
#include "control/ControlServer.h"

#include "base/Files.h"
#include "base/Utf8.h"
#include "run/JobRunnerTestSupport.h"
#include "support/TestSupport.h"

#include <fstream>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
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

// A stand-in that prints `before`, waits for the file "go" in its folder, then `after`.
std::string gated(const std::string& before, const std::string& after) {
    return "cat >/dev/null\n" + before + "\nwhile [ ! -e \"$PWD/go\" ]; do sleep 0.02; done\n" +
           after + "\n";
}

// A real scheduler with a real runner, its runs' transcripts and a control server on a
// socket of its own.
struct ServerFixture {
    explicit ServerFixture(const std::string& script, ControlServer::Limits limits = {})
        : f(script, test::standInSpec(), std::make_shared<LiveRuns>(TranscriptFolder(dir / "Runs")))
        , job(f.job()) {
        f.schedule();
        f.store->save(job);
        server = ControlServer::start(
            {f.service, f.store, f.live, "daemon", f.endpoints, f.settings}, socket(), limits);
        f.service->setOnRunFinished(
            [this](const Job& job, const RunRecord& record) { server->runFinished(job, record); });
    }
    ~ServerFixture() {
        f.service->cancelAll();
        f.service->waitUntilIdle();
        server->stop();
    }
    fs::path socket() const { return dir / "control"; }
    ControlClient connect() const { return std::move(ControlClient::connect(socket()).value()); }
    // Connects and sends `request`, about this job unless it names another.
    ControlClient send(Json request) const {
        ControlClient client = connect();
        request.emplace("job", job.id.text());
        client.send(request);
        return client;
    }
    Json ask(const Json& request) const { return send(request).expect(); }
    int startedRuns() const {
        auto text = files::read(f.folder / "work" / "started");
        return text ? static_cast<int>(std::count(text->begin(), text->end(), '\n')) : 0;
    }
    void go() const { test::writeFile(f.folder / "work" / "go", ""); }
    // Starts a run of the job through the channel; returns once it is in flight.
    ControlClient startRun() const {
        ControlClient run = send({{"request", "run"}});
        run.expect();
        if (!eventually([&] { return !f.live->runs().empty(); }))
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

    test::TempDir dir;
    test::RunnerFixture f;
    Job job;
    std::shared_ptr<ControlServer> server;
};

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
        const std::string& bytes = GetParam().bytes;
        ASSERT_EQ(::send(client.fd(), bytes.data(), bytes.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(bytes.size()));
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
    testing::Values(
        BadRequest{"Garbage", "\x01\x02 hello\n", "not a JSON object"},
        BadRequest{"NotAnObject", "[1,2]\n", "not a JSON object"},
        BadRequest{"OtherVersion", "{\"version\":2,\"request\":\"status\"}\n", "version 1"},
        BadRequest{"UnknownRequest", "{\"version\":1,\"request\":\"reboot\"}\n", "Unknown request"},
        BadRequest{"UnknownJob", "{\"version\":1,\"request\":\"run\",\"job\":\"x\"}\n",
                   "no such job"},
        BadRequest{"OverLong", std::string(100 * 1024, 'x'), "longer than 64 KiB"}),
    [](const auto& info) { return std::string(info.param.label); });

// A half-written request is dropped after its time-out while others are served; one
// half-closed is closed unanswered at once, and what it began to ask is not done.
TEST(ControlServer, AnUnfinishedRequestIsClosedUnanswered) {
    for (bool halfClosed : {false, true}) {
        ServerFixture fixture(hangingHarness, {.requestTimeout = halfClosed ? 600s : 300ms});
        ControlClient client = fixture.connect();
        std::string half = R"({"version":1,"request":"run","job":")" + fixture.job.id.text();
        ASSERT_GT(::send(client.fd(), half.data(), half.size(), MSG_NOSIGNAL), 0);
        if (halfClosed)
            ASSERT_EQ(::shutdown(client.fd(), SHUT_WR), 0);
        else
            EXPECT_EQ(fixture.ask({{"request", "status"}})["reply"], "status");
        Json message;
        EXPECT_EQ(client.read(message, 30s), ControlClient::Read::closed) << message.dump();
        Json idle = fixture.ask({{"request", "status"}});
        EXPECT_EQ(std::tuple(idle["runs"], idle["pid"], idle["kind"]),
                  std::tuple(Json::array(), ::getpid(), "daemon"));
        EXPECT_EQ(fixture.startedRuns(), 0);
    }
}

TEST(ControlServer, AnotherUsersProcessGetsNothingAndChangesNothing) {
    if (::getuid() != 0 || ::access("/usr/bin/setpriv", X_OK) != 0 ||
        ::access("/usr/bin/python3", X_OK) != 0)
        GTEST_SKIP() << "needs root, setpriv and python3";
    ServerFixture fixture(hangingHarness);
    ControlClient run = fixture.send({{"request", "run"}});
    ASSERT_TRUE(eventually([&] { return fixture.startedRuns() == 1; }));
    // Only the peer check stands in the way: the folder and socket let anyone in.
    fs::permissions(fixture.dir.path(), fs::perms::owner_all | fs::perms::others_exec);
    fs::permissions(fixture.socket(), fs::perms::all);
    auto stranger = test::runProcess(
        {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "/usr/bin/python3",
         "-c",
         "import socket,sys\ns=socket.socket(socket.AF_UNIX)\ns.connect(sys.argv[1])\ndata=b''\n"
         "try:\n    s.sendall(sys.argv[2].encode()+b'\\n')\n    s.settimeout(10)\n"
         "    while chunk:=s.recv(4096): data+=chunk\nexcept OSError: pass\nprint(len(data))\n",
         fixture.socket().string(),
         R"({"version":1,"request":"stop","job":")" + fixture.job.id.text() + "\"}"});
    EXPECT_EQ(stranger.exitStatus, 0) << stranger.err;
    EXPECT_EQ(stranger.out, "0\n") << "no byte of an answer";
    EXPECT_TRUE(fixture.f.service->isRunning(fixture.job.id)) << "the run goes on";
}

// The lines before a follower came from the transcript, the later ones live: each once,
// in order. The client that started the run goes away meanwhile, which cancels nothing.
TEST(ControlServer, FollowGivesTheWholeOutputOnceAndInOrder) {
    ServerFixture fixture(gated("seq 1 20000\necho 'a warning' >&2", "seq 20001 40000"));
    std::optional<ControlClient> run = fixture.send({{"request", "run"}, {"stream", true}});
    run->expect();
    ASSERT_TRUE(eventually([&] {
        auto runs = fixture.f.live->runs();
        if (runs.empty())
            return false;
        fixture.f.live->flushTranscript(runs[0].runID);
        auto text = files::read(fixture.dir / "Runs" / (runs[0].runID.text() + ".log"));
        return text && text->find("a warning") != std::string::npos;
    }));
    ControlClient follower = fixture.send({{"request", "follow"}});
    EXPECT_EQ(follower.expect()["reply"], "follow");
    run.reset();
    fixture.go();
    std::vector<std::string> lines, errors;
    for (Json message; (message = follower.expect(30s))["event"] != "runFinished";) {
        ASSERT_EQ(message["event"], "output") << message.dump();
        (message["stream"] == "stderr" ? errors : lines).push_back(message["line"]);
    }
    EXPECT_EQ(errors, std::vector<std::string>{"a warning"});
    ASSERT_EQ(lines.size(), 40000u);
    for (std::size_t i = 0; i < lines.size(); ++i)
        ASSERT_EQ(lines[i], std::to_string(i + 1));
    ASSERT_TRUE(eventually([&] { return !fixture.f.history->allRuns().empty(); }));
    EXPECT_FALSE(fixture.f.history->allRuns()[0].wasCancelled);
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
    ServerFixture fixture(gated("", "yes 'a short line of agent output' | head -c 67108864"),
                          {.queueBytes = 256 * 1024, .stallTimeout = 600s});
    ControlClient run = fixture.startRun();
    ControlClient silent = fixture.silentFollower();
    [[maybe_unused]] long before = residentKiB(); // unread under ASan
    fixture.go();
    ASSERT_TRUE(eventually([&] { return fixture.f.live->runs().empty(); }, 120s));
    EXPECT_EQ(fixture.ask({{"request", "status"}})["reply"], "status");
#ifndef __SANITIZE_ADDRESS__ // its quarantine holds freed memory resident
    EXPECT_LT(residentKiB() - before, 24 * 1024) << "KiB grown while 64 MiB went by";
#endif
    std::uint64_t dropped = 0;
    for (Json message; (message = silent.expect(30s)).value("event", "") != "runFinished";)
        if (message.value("event", "") == "dropped")
            dropped += message["lines"].get<std::uint64_t>();
    EXPECT_GT(dropped, 0u) << "told of the lines it lost, before the run's end";
}

// A follower that stops reading is disconnected once it has taken nothing for the
// stall time-out; the run goes on to its end without it, and the status shows it.
TEST(ControlServer, AStalledFollowerIsDisconnected) {
    ServerFixture fixture(gated("", "yes 'a short line of agent output' | head -c 16777216\n"
                                    "while [ ! -e \"$PWD/end\" ]; do sleep 0.02; done"),
                          {.stallTimeout = 300ms});
    ControlClient run = fixture.startRun();
    ControlClient silent = fixture.silentFollower();
    fixture.go();
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
    Json runs = fixture.ask({{"request", "status"}})["runs"];
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(std::tuple(runs[0]["job"], runs[0]["jobName"], runs[0]["pid"] > 0),
              std::tuple(fixture.job.id.text(), fixture.job.name, true));
    test::writeFile(fixture.f.folder / "work" / "end", "");
    EXPECT_TRUE(eventually([&] { return !fixture.f.history->allRuns().empty(); }));
    fixture.server->stop();
    EXPECT_FALSE(fs::exists(fixture.socket()));
}

TEST(ControlServer, SubscribersHearRunsAndTheStoresChange) {
    ServerFixture fixture(test::succeedingHarness);
    ControlClient subscriber = fixture.send({{"request", "subscribe"}});
    EXPECT_EQ(subscriber.expect()["reply"], "subscribe");
    fixture.f.service->runNow(fixture.job).get();
    Json started = subscriber.expect(), finished = subscriber.expect();
    EXPECT_EQ(std::tuple(started["event"], started["run"]["job"], finished["event"]),
              std::tuple("runStarted", fixture.job.id.text(), "runFinished"));
    EXPECT_EQ(finished["record"]["id"], started["run"]["run"]);

    Job renamed = fixture.job;
    renamed.name = "Renamed";
    fixture.f.store->save(renamed);
    EXPECT_EQ(subscriber.expect()["what"], "jobs");
    fixture.f.endpoints->save(
        Endpoint{Uuid::random(), "Studio", Url{"http://127.0.0.1:1234"}, EndpointKind::lmStudio});
    EXPECT_EQ(subscriber.expect()["what"], "endpoints");
    fixture.f.settings->update([](AppSettings& settings) { settings.catchUpGraceSeconds += 60; });
    EXPECT_EQ(subscriber.expect()["what"], "settings");
}

// Whatever the line holds, the server's output event is JSON the client's single-pass
// reader takes, with the line repaired.
TEST(ControlProtocol, TheServersOutputEventsAreJsonAndTakeTheSinglePass) {
    OutputChannel channel = OutputChannel::warning;
    for (std::string line :
         {std::string("quote \" backslash \\ tab \t bell \x07 escape \x1b[31m del \x7f"),
          std::string("h\xC3\xA9llo \xE2\x82\xAC \xF0\x9F\x98\x80 and a long plain stretch"),
          std::string("invalid \xFF\xC3 cut"), std::string(1000, 'x') + "\r"}) {
        channel = channel == OutputChannel::warning ? OutputChannel::standardError
                                                    : OutputChannel::warning;
        std::string event;
        ControlProtocol::appendOutputEvent(event, channel, line);
        ASSERT_TRUE(event.ends_with('\n'));
        event.pop_back();
        EXPECT_EQ(Json::parse(event), Json({{"event", "output"},
                                            {"stream", name(channel)},
                                            {"line", utf8::repaired(line)},
                                            {"version", ControlProtocol::version}}));
        OutputChannel decoded;
        std::string text;
        ASSERT_TRUE(ControlProtocol::decodeOutputEvent(event, decoded, text)) << event;
        EXPECT_EQ(std::pair(decoded, text), std::pair(channel, utf8::repaired(line)));
    }
}

// The client's single-pass reader of output events against the full JSON parse: on
// every line it accepts, both give the same stream and text; lines it is not sure of
// are left to the parse.
struct OutputEventCase {
    const char* name;
    std::string line; // a whole event when it begins with "{", else the line's content
    bool fast;        // the single-pass reader takes it
};

class OutputEventDecoding : public testing::TestWithParam<OutputEventCase> {};

TEST_P(OutputEventDecoding, AgreesWithTheFullParse) {
    std::string event = GetParam().line;
    if (!event.starts_with("{"))
        event = R"({"event":"output","stream":"stdout","line":")" + event + R"(","version":1})";
    OutputChannel channel;
    std::string text = "left over from an earlier line";
    bool fast = ControlProtocol::decodeOutputEvent(event, channel, text);
    EXPECT_EQ(fast, GetParam().fast);
    if (!fast)
        return;
    EXPECT_EQ(json::parse(event), Json({{"event", "output"},
                                        {"stream", name(channel)},
                                        {"line", text},
                                        {"version", ControlProtocol::version}}));
}

INSTANTIATE_TEST_SUITE_P(
    ControlProtocol, OutputEventDecoding,
    testing::Values(
        OutputEventCase{"plain", "a plain line of output", true},
        OutputEventCase{"empty", "", true},
        OutputEventCase{"stderr", R"({"event":"output","stream":"stderr","line":"x","version":1})",
                        true},
        OutputEventCase{"shortEscapes", R"(q\" b\\ s\/ \b\f\n\r\t end)", true},
        OutputEventCase{"unicodeEscapes", R"(\u0007 \u00e9 \u20AC \u0000)", true},
        OutputEventCase{"rawUtf8", "h\xC3\xA9llo \xE2\x82\xAC \xF0\x9F\x98\x80", true},
        OutputEventCase{"surrogatePair", R"(\ud83d\ude00)", false},
        OutputEventCase{"loneSurrogate", R"(\ud83d)", false},
        OutputEventCase{"shortUnicodeEscape", R"(\u00e)", false},
        OutputEventCase{"unknownEscape", R"(\x41)", false},
        OutputEventCase{"rawInvalidUtf8", "bad \xFF end", false},
        OutputEventCase{"rawControlCharacter", "tab\there", false},
        OutputEventCase{"rawQuote", R"(a"b)", false},
        OutputEventCase{"escapedClosingQuote", R"(ends in \)", false},
        OutputEventCase{"unknownStream",
                        R"({"event":"output","stream":"stdin","line":"x","version":1})", false},
        OutputEventCase{"otherKeyOrder",
                        R"({"event":"output","line":"x","stream":"stdout","version":1})", false},
        OutputEventCase{"anotherVersion",
                        R"({"event":"output","stream":"stdout","line":"x","version":2})", false},
        OutputEventCase{"notOutput", R"({"event":"runFinished","version":1})", false}),
    [](const auto& info) { return std::string(info.param.name); });

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
