#include "run/OutputSink.h"
#include "run/RunExecutor.h"
#include "support/TestSupport.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

using namespace marrowbell;
namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

namespace {

const RunExecutor::Timing quick{0.5, 0.5, 0.5};

BuiltCommand shell(const std::string& script, const fs::path& folder = "/",
                   const std::string& input = "") {
    BuiltCommand command;
    command.executable = "/bin/sh";
    command.arguments = {"-c", script};
    command.environment = {{"PATH", "/usr/bin:/bin"}};
    command.workingDirectory = folder;
    if (!input.empty())
        command.standardInput = input;
    return command;
}

// Runs `command`, collecting its lines; `stopAt` cancels the run when that line arrives.
RunOutcome run(const BuiltCommand& command, Seconds limit, Lines* lines = nullptr,
               RunExecutor::Timing timing = {}, const std::string& stopAt = "") {
    std::stop_source stop;
    return RunExecutor(timing).run(
        command, limit,
        [&](std::string_view line) {
            if (lines)
                lines->emplace_back(line);
            if (!stopAt.empty() && line == stopAt)
                stop.request_stop();
        },
        stop.get_token());
}

std::size_t countEntries(const char* folder) {
    return static_cast<std::size_t>(
        std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

} // namespace

// Exactly the given arguments, environment and folder, in its own session and process
// group.
TEST(RunExecutor, StartsWithExactlyTheArgumentsEnvironmentAndFolderInItsOwnSession) {
    test::TempDir dir;
    BuiltCommand command = shell(
        "cut -d' ' -f1,5,6 /proc/$$/stat; printf '%s|' \"$@\"; echo; pwd; env | sort", dir.path());
    command.arguments.insert(command.arguments.end(), {"zero", "one two", "", "*"});
    command.environment = {{"ONLY", "this value"}, {"EMPTY", ""}};
    Lines lines;
    EXPECT_EQ(run(command, 10, &lines).exitCode, 0);
    ASSERT_GE(lines.size(), 3u);
    pid_t pid = 0, group = 0, session = 0;
    std::istringstream(lines[0]) >> pid >> group >> session;
    EXPECT_GT(pid, 0);
    EXPECT_EQ(group, pid);
    EXPECT_EQ(session, pid);
    EXPECT_EQ(lines[1], "one two||*|");
    EXPECT_EQ(lines[2], dir.path().string());
    // sh adds PWD (and may add SHLVL, _, OLDPWD) itself; nothing of ours leaks in.
    Lines environment;
    for (auto line = lines.begin() + 3; line != lines.end(); ++line)
        if (!line->starts_with("PWD=") && !line->starts_with("SHLVL=") &&
            !line->starts_with("_=") && !line->starts_with("OLDPWD="))
            environment.push_back(*line);
    EXPECT_EQ(environment, (Lines{"EMPTY=", "ONLY=this value"}));
}

// Standard error is kept apart: only standard output's lines (the last one even
// unterminated) reach the callback.
TEST(RunExecutor, ReportsExitStatusOrEndingSignalAndBothStreams) {
    Lines lines, errors;
    auto into = [](Lines& to) { return [&to](std::string_view line) { to.emplace_back(line); }; };
    RunOutcome outcome =
        RunExecutor().run(shell("echo out; echo err >&2; printf 'c'; printf 'e' >&2; exit 7"), 10,
                          into(lines), {}, into(errors));
    EXPECT_EQ(outcome.exitCode, 7);
    EXPECT_EQ(lines, (Lines{"out", "c"}));
    EXPECT_EQ(errors, (Lines{"err", "e"}));
    EXPECT_EQ(outcome.standardOutput, "out\nc");
    EXPECT_EQ(outcome.standardError, "err\ne");
    EXPECT_FALSE(outcome.timedOut || outcome.cancelled);
    EXPECT_EQ(outcome.terminationSummary().substr(0, 7), "Exit 7 ");
    EXPECT_EQ(run(shell("kill -USR1 $$"), 10).exitCode, SIGUSR1);
}

// Written then closed; without input the child reads end of input at once; a child that
// never reads it still yields an outcome (and this process survives the broken pipe).
// Large input is fed while large output is read: cat echoes as it reads, so a blocking
// writer would deadlock against the full output pipe.
TEST(RunExecutor, WritesStandardInputThenClosesIt) {
    EXPECT_EQ(run(shell("cat; echo end", "/", "first\nsecond"), 10).standardOutput,
              "first\nsecondend\n");
    EXPECT_EQ(run(shell("cat; echo eof"), 10).standardOutput, "eof\n");
    EXPECT_EQ(run(shell("exit 3", "/", std::string(8u << 20, 'x')), 10).exitCode, 3);
    std::string input;
    while (input.size() < (4u << 20))
        input += "a line of input that cat will echo straight back\n";
    Lines lines;
    RunOutcome outcome = run(shell("cat", "/", input), 30, &lines);
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_EQ(lines.size() * 49, input.size());
    EXPECT_EQ(outcome.standardOutput.size(), OutputSink::tailLimit);
}

TEST(RunExecutor, LaunchFailureRaisesCouldNotStartWithTheSystemsReason) {
    test::TempDir dir;
    test::writeFile(dir / "plain", "#!/bin/sh\necho hi\n", false);
    const std::string missing = "No such file or directory";
    for (auto [executable, folder, reason] : {std::tuple{"no such tool", "", missing},
                                              {"plain", "", "Permission denied"},
                                              {"", "gone", missing}}) {
        BuiltCommand command = shell("true", dir / folder);
        if (*executable)
            command.executable = dir / executable;
        try {
            RunExecutor().run(command, 10);
            ADD_FAILURE() << "expected RunExecutorError for " << command.executable;
        } catch (const RunExecutorError& error) {
            EXPECT_EQ(std::string(error.what()),
                      "Could not start " + command.executable.string() + " \u2014 " + reason);
            EXPECT_EQ(error.executable(), command.executable);
            EXPECT_EQ(error.underlying(), reason);
        }
    }
}

// SIGTERM at the limit (a zero limit included: it stops at once, not never); a child
// ignoring it is killed about three seconds later.
TEST(RunExecutor, TimeLimitStopsTheChildWithSigtermThenSigkill) {
    for (Seconds limit : {0.2, 0.0}) {
        RunOutcome outcome = run(shell("exec sleep 30"), limit, nullptr, quick);
        EXPECT_TRUE(outcome.timedOut) << limit;
        EXPECT_EQ(outcome.exitCode, SIGTERM) << limit;
        EXPECT_LT(outcome.duration, 2) << limit;
        EXPECT_FALSE(outcome.succeeded());
    }
    Lines lines;
    RunOutcome outcome = run(shell("trap '' TERM; echo ready; sleep 30; echo late"), 0.5, &lines);
    EXPECT_TRUE(outcome.timedOut);
    EXPECT_FALSE(outcome.cancelled);
    EXPECT_EQ(outcome.exitCode, SIGKILL);
    EXPECT_GT(outcome.duration, 3.3);
    EXPECT_LT(outcome.duration, 5.5);
    EXPECT_EQ(lines, Lines{"ready"});
    EXPECT_EQ(outcome.terminationSummary().rfind("Stopped at its time limit after ", 0), 0u);
}

// Started from an interactive shell, a tool must not reach that shell's terminal: input
// it pushed there (TIOCSTI) would run as a command once the run is over.
TEST(RunExecutor, TheChildHasNoTerminalToTypeInto) {
    int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master) | ::unlockpt(master), 0);
    std::string name = ::ptsname(master);
    int report[2];
    ASSERT_EQ(::pipe(report), 0);
    pid_t shellProcess = ::fork();
    if (shellProcess == 0) {
        // Plays the user's shell: the terminal controls its session and is open in it.
        ::close(report[0]);
        ::setsid();
        int terminal = ::open(name.c_str(), O_RDWR);
        termios raw{};
        ::tcgetattr(terminal, &raw);
        ::cfmakeraw(&raw);
        ::tcsetattr(terminal, TCSANOW, &raw);
        RunOutcome outcome = RunExecutor().run(shell(R"sh(exec /usr/bin/python3 -c '
import errno, fcntl, os, sys, termios
try:
    fcntl.ioctl(os.open("/dev/tty", os.O_RDONLY), termios.TIOCSTI, b"x")
    print("typed")
except OSError as error:
    print("no-terminal" if error.errno == errno.ENXIO else error)
try:
    os.fstat(int(sys.argv[1]))
    print("inherited-terminal")
except OSError:
    print("nothing-inherited")
' )sh" + std::to_string(terminal)),
                                               30);
        ::fcntl(terminal, F_SETFL, O_NONBLOCK);
        char typed = 0;
        std::string text =
            outcome.standardOutput + (::read(terminal, &typed, 1) == 1 ? "input waits\n" : "");
        [[maybe_unused]] ssize_t written = ::write(report[1], text.data(), text.size());
        ::_exit(0);
    }
    ::close(report[1]);
    std::string text;
    char buffer[256];
    for (ssize_t n; (n = ::read(report[0], buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<std::size_t>(n));
    ::close(report[0]);
    ::close(master);
    ASSERT_EQ(::waitpid(shellProcess, nullptr, 0), shellProcess);
    EXPECT_EQ(text, "no-terminal\nnothing-inherited\n");
}

namespace {

// Processes running `sleep {seconds}`, found by their command line.
int countSleeping(const std::string& seconds) {
    int count = 0;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        std::ifstream in(entry.path() / "cmdline");
        count += std::string(std::istreambuf_iterator<char>(in), {}) ==
                 std::string("sleep") + '\0' + seconds + '\0';
    }
    return count;
}

struct RunEnd {
    const char* name;
    const char* finish; // what the harness does once its descendants run
    Seconds limit;
    bool cancel;
};

} // namespace

class RunExecutorLeftovers : public testing::TestWithParam<RunEnd> {};

// A descendant in the harness's group, one that left it with setsid, and one
// double-forked away, all ignoring SIGTERM and holding the output pipe: however the
// run ends, none is left.
TEST_P(RunExecutorLeftovers, NothingTheRunStartedOutlivesIt) {
    test::TempDir dir;
    const std::string seconds = std::to_string(100000 + ::getpid() % 100000) + "." +
                                std::to_string(testing::UnitTest::GetInstance()->random_seed());
    const std::string sleep = "; exec sleep " + seconds + "'";
    BuiltCommand command = shell("trap '' TERM\n"
                                 "sh -c 'echo > a" +
                                     sleep + " &\nsetsid sh -c 'echo > b" + sleep +
                                     " &\nsh -c \"sh -c 'echo > c" + sleep +
                                     " & exit\" &\n"
                                     "while [ ! -e a ] || [ ! -e b ] || [ ! -e c ]; do sleep "
                                     "0.01; done\necho ready\n" +
                                     GetParam().finish,
                                 dir.path());
    RunOutcome outcome =
        run(command, GetParam().limit, nullptr, quick, GetParam().cancel ? "ready" : "");
    EXPECT_EQ(outcome.standardOutput, "ready\n");
    EXPECT_EQ(countSleeping(seconds), 0);
}

INSTANTIATE_TEST_SUITE_P(Ends, RunExecutorLeftovers,
                         testing::Values(RunEnd{"success", "exit 0", 60, false},
                                         RunEnd{"failure", "exit 3", 60, false},
                                         RunEnd{"timeLimit", "exec sleep 60", 3, false},
                                         RunEnd{"cancel", "exec sleep 60", 60, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// Before the start no process is made; during the run (from the line callback, while
// the wait is under way) it is stopped; after the end it changes nothing.
TEST(RunExecutor, CancellationStopsWhatRunsAndOnlyThat) {
    test::TempDir dir;
    std::stop_source early;
    early.request_stop();
    RunOutcome before =
        RunExecutor().run(shell("touch started", dir.path()), 10, {}, early.get_token());
    EXPECT_TRUE(before.cancelled);
    EXPECT_FALSE(before.timedOut);
    EXPECT_EQ(before.exitCode, -1);
    EXPECT_FALSE(fs::exists(dir / "started"));
    EXPECT_EQ(before.terminationSummary(), "Cancelled after 0s");

    RunOutcome during = run(shell("echo ready; exec sleep 30"), 60, nullptr, quick, "ready");
    EXPECT_TRUE(during.cancelled);
    EXPECT_FALSE(during.timedOut);
    EXPECT_EQ(during.exitCode, SIGTERM);
    EXPECT_LT(during.duration, 2);

    std::stop_source late;
    RunOutcome after = RunExecutor().run(shell("echo done"), 10, {}, late.get_token());
    late.request_stop();
    EXPECT_TRUE(after.succeeded());
    EXPECT_FALSE(after.cancelled);
}

// A line callback that throws leaves no child behind either.
TEST(RunExecutor, AThousandRunsLeakNoDescriptorsThreadsOrZombies) {
    std::size_t descriptors = countEntries("/proc/self/fd");
    std::size_t threads = countEntries("/proc/self/task");
    BuiltCommand command;
    command.executable = "/bin/true";
    command.standardInput = "ignored";
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ(RunExecutor().run(command, 10).exitCode, 0);
    EXPECT_THROW(RunExecutor().run(shell("echo line; exec sleep 30"), 60,
                                   [](std::string_view) { throw std::runtime_error("no"); }),
                 std::runtime_error);
    EXPECT_EQ(countEntries("/proc/self/fd"), descriptors);
    EXPECT_EQ(countEntries("/proc/self/task"), threads);
    EXPECT_TRUE(::waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD);
}

TEST(RunExecutor, SignalsIgnoredHereAreDefaultInTheChild) {
    auto previous = ::signal(SIGPIPE, SIG_IGN);
    RunOutcome outcome = RunExecutor().run(shell("exec grep SigIgn /proc/self/status"), 10);
    ::signal(SIGPIPE, previous);
    ASSERT_EQ(outcome.standardOutput.rfind("SigIgn:\t", 0), 0u);
    unsigned long long ignored = std::stoull(outcome.standardOutput.substr(8), nullptr, 16);
    EXPECT_EQ(ignored & (1ULL << (SIGPIPE - 1)), 0u);
}
