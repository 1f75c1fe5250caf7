#include "run/OutputSink.h"
#include "run/RunExecutor.h"
#include "support/TestSupport.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

using namespace marrowbell;
namespace fs = std::filesystem;

namespace {

const RunExecutor::Timing quick{0.5, 0.5, 0.5};

BuiltCommand shell(const std::string& script, const fs::path& folder = "/") {
    BuiltCommand command;
    command.executable = "/bin/sh";
    command.arguments = {"-c", script};
    command.environment = {{"PATH", "/usr/bin:/bin"}};
    command.workingDirectory = folder;
    return command;
}

std::size_t countEntries(const char* folder) {
    return static_cast<std::size_t>(
        std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

// True when `pid` no longer runs (gone, or a zombie waiting for its reaper).
bool isGone(pid_t pid) {
    if (::kill(pid, 0) != 0)
        return errno == ESRCH;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string content((std::istreambuf_iterator<char>(stat)), {});
    auto close = content.rfind(')');
    return close != std::string::npos && close + 2 < content.size() && content[close + 2] == 'Z';
}

bool becomesGone(pid_t pid) {
    for (int i = 0; i < 200; ++i) {
        if (isGone(pid))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

pid_t readPid(const fs::path& file) {
    std::ifstream in(file);
    pid_t pid = 0;
    in >> pid;
    return pid;
}

} // namespace

TEST(RunOutcome, TerminationSummaryAndSuccess) {
    RunOutcome outcome;
    outcome.duration = 59.6;
    EXPECT_TRUE(outcome.succeeded());
    EXPECT_EQ(outcome.terminationSummary(), "Finished in 60s");
    outcome.duration = 61.9;
    EXPECT_EQ(outcome.terminationSummary(), "Finished in 1m 1s");
    outcome.exitCode = -2;
    EXPECT_FALSE(outcome.succeeded());
    EXPECT_EQ(outcome.terminationSummary(), "Exit -2 after 1m 1s");
    outcome.timedOut = true;
    EXPECT_EQ(outcome.terminationSummary(), "Stopped at its time limit after 1m 1s");
    outcome = RunOutcome{};
    outcome.cancelled = true;
    outcome.duration = 5;
    EXPECT_FALSE(outcome.succeeded());
    EXPECT_EQ(outcome.terminationSummary(), "Cancelled after 5s");
}

TEST(RunExecutor, StartsWithExactlyTheArgumentsEnvironmentAndFolder) {
    test::TempDir dir;
    BuiltCommand command;
    command.executable = "/bin/sh";
    command.arguments = {"-c", "printf '%s|' \"$@\"; echo; pwd; env | sort", "zero", "one two", "",
                         "*"};
    command.environment = {{"ONLY", "this value"}, {"EMPTY", ""}};
    command.workingDirectory = dir.path();
    std::vector<std::string> lines;
    RunOutcome outcome =
        RunExecutor().run(command, 10, [&](std::string_view line) { lines.emplace_back(line); });
    EXPECT_EQ(outcome.exitCode, 0);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], "one two||*|");
    EXPECT_EQ(lines[1], dir.path().string());
    // sh adds PWD (and may add SHLVL/_) itself; nothing of the test's environment leaks in.
    std::vector<std::string> environment(lines.begin() + 2, lines.end());
    EXPECT_NE(std::find(environment.begin(), environment.end(), "ONLY=this value"),
              environment.end());
    EXPECT_NE(std::find(environment.begin(), environment.end(), "EMPTY="), environment.end());
    for (const std::string& entry : environment)
        EXPECT_TRUE(entry.starts_with("ONLY=") || entry.starts_with("EMPTY=") ||
                    entry.starts_with("PWD=") || entry.starts_with("SHLVL=") ||
                    entry.starts_with("_=") || entry.starts_with("OLDPWD="))
            << entry;
}

TEST(RunExecutor, ChildLeadsItsOwnSessionAndProcessGroup) {
    RunOutcome outcome = RunExecutor().run(shell("cut -d' ' -f1,5,6 /proc/$$/stat"), 10);
    std::istringstream fields(outcome.standardOutput);
    pid_t pid = 0, group = 0, session = 0;
    fields >> pid >> group >> session;
    EXPECT_GT(pid, 0);
    EXPECT_EQ(pid, group);
    EXPECT_EQ(pid, session);
    EXPECT_NE(group, ::getpgrp());
}

// Standard error is kept apart: only standard output's lines (the last one even
// unterminated) reach the callback.
TEST(RunExecutor, ReportsExitStatusOrEndingSignalAndBothStreams) {
    std::vector<std::string> lines;
    RunOutcome outcome =
        RunExecutor().run(shell("echo out; echo err >&2; printf 'c'; exit 7"), 10,
                          [&](std::string_view line) { lines.emplace_back(line); });
    EXPECT_EQ(outcome.exitCode, 7);
    EXPECT_EQ(lines, (std::vector<std::string>{"out", "c"}));
    EXPECT_EQ(outcome.standardOutput, "out\nc");
    EXPECT_EQ(outcome.standardError, "err\n");
    EXPECT_FALSE(outcome.timedOut || outcome.cancelled);
    EXPECT_EQ(outcome.terminationSummary().substr(0, 7), "Exit 7 ");

    outcome = RunExecutor().run(shell("kill -USR1 $$"), 10);
    EXPECT_EQ(outcome.exitCode, SIGUSR1);
}

// The input is written then closed; without one the child reads end of input at once.
TEST(RunExecutor, WritesStandardInputThenClosesIt) {
    BuiltCommand command = shell("cat; echo end");
    command.standardInput = "first\nsecond";
    EXPECT_EQ(RunExecutor().run(command, 10).standardOutput, "first\nsecondend\n");
    RunOutcome outcome = RunExecutor().run(shell("cat; echo eof"), 10);
    EXPECT_EQ(outcome.standardOutput, "eof\n");
    EXPECT_LT(outcome.duration, 5);
}

TEST(RunExecutor, LargeInputIsFedWhileLargeOutputIsRead) {
    // cat echoes as it reads: a blocking writer would deadlock against the full output pipe.
    BuiltCommand command = shell("cat");
    std::string input;
    while (input.size() < (4u << 20))
        input += "a line of input that cat will echo straight back\n";
    command.standardInput = input;
    std::size_t lines = 0;
    RunOutcome outcome = RunExecutor().run(command, 30, [&](std::string_view) { ++lines; });
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_EQ(lines * 49, input.size());
    EXPECT_EQ(outcome.standardOutput.size(), OutputSink::tailLimit);
}

TEST(RunExecutor, AChildThatExitsBeforeReadingItsInputStillYieldsAnOutcome) {
    BuiltCommand command = shell("exit 3");
    command.standardInput = std::string(8u << 20, 'x');
    RunOutcome outcome = RunExecutor().run(command, 10);
    EXPECT_EQ(outcome.exitCode, 3); // and this test process survived the broken pipe
}

struct LaunchFailure {
    const char* name;
    std::function<BuiltCommand(const fs::path&)> command;
    const char* reason;
};

class RunExecutorLaunch : public testing::TestWithParam<LaunchFailure> {};

TEST_P(RunExecutorLaunch, FailureRaisesCouldNotStartWithTheSystemsReason) {
    test::TempDir dir;
    test::writeFile(dir / "plain", "#!/bin/sh\necho hi\n", false);
    BuiltCommand command = GetParam().command(dir.path());
    try {
        RunExecutor().run(command, 10);
        FAIL() << "expected RunExecutorError";
    } catch (const RunExecutorError& error) {
        std::string expected =
            "Could not start " + command.executable.string() + " \xE2\x80\x94 " + GetParam().reason;
        EXPECT_EQ(std::string(error.what()), expected);
        EXPECT_EQ(error.executable(), command.executable);
        EXPECT_EQ(error.underlying(), GetParam().reason);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, RunExecutorLaunch,
                         testing::Values(LaunchFailure{"missingExecutable",
                                                       [](const fs::path& dir) {
                                                           BuiltCommand c = shell("true");
                                                           c.executable = dir / "no such tool";
                                                           return c;
                                                       },
                                                       "No such file or directory"},
                                         LaunchFailure{"notExecutable",
                                                       [](const fs::path& dir) {
                                                           BuiltCommand c = shell("true");
                                                           c.executable = dir / "plain";
                                                           return c;
                                                       },
                                                       "Permission denied"},
                                         LaunchFailure{"missingFolder",
                                                       [](const fs::path& dir) {
                                                           return shell("true", dir / "gone");
                                                       },
                                                       "No such file or directory"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(RunExecutor, AChildIgnoringSigtermIsKilledAboutThreeSecondsAfterItsLimit) {
    std::vector<std::string> lines;
    RunOutcome outcome =
        RunExecutor().run(shell("trap '' TERM; echo ready; sleep 30; echo late"), 0.5,
                          [&](std::string_view line) { lines.emplace_back(line); });
    EXPECT_TRUE(outcome.timedOut);
    EXPECT_FALSE(outcome.cancelled);
    EXPECT_EQ(outcome.exitCode, SIGKILL);
    EXPECT_GT(outcome.duration, 3.3);
    EXPECT_LT(outcome.duration, 5.5);
    EXPECT_EQ(lines, std::vector<std::string>{"ready"});
    EXPECT_EQ(outcome.terminationSummary().rfind("Stopped at its time limit after ", 0), 0u);
}

// A zero limit included: it stops at once, not never.
TEST(RunExecutor, TimeLimitStopsTheChildWithSigterm) {
    for (Seconds limit : {0.2, 0.0}) {
        RunOutcome outcome = RunExecutor(quick).run(shell("exec sleep 30"), limit);
        EXPECT_TRUE(outcome.timedOut) << limit;
        EXPECT_EQ(outcome.exitCode, SIGTERM) << limit;
        EXPECT_LT(outcome.duration, 2) << limit;
        EXPECT_FALSE(outcome.succeeded());
    }
}

TEST(RunExecutor, GrandchildrenHoldingThePipesAreStoppedWithTheGroup) {
    test::TempDir dir;
    // The background subshell ignores SIGTERM and keeps standard output open.
    BuiltCommand command =
        shell("(trap '' TERM; echo $(exec sh -c 'echo $PPID') > grandchild; sleep 30; echo) & "
              "while [ ! -s grandchild ]; do sleep 0.01; done; echo started; sleep 30",
              dir.path());
    RunOutcome outcome = RunExecutor(quick).run(command, 0.3);
    EXPECT_TRUE(outcome.timedOut);
    EXPECT_EQ(outcome.standardOutput, "started\n");
    EXPECT_LT(outcome.duration, 3); // limit + SIGTERM grace + a little, never the 30 s
    pid_t grandchild = readPid(dir / "grandchild");
    ASSERT_GT(grandchild, 0);
    EXPECT_TRUE(becomesGone(grandchild));
}

namespace {

// Processes running `sleep {seconds}`, found by their command line.
int countSleeping(const std::string& seconds) {
    int count = 0;
    const std::string wanted = std::string("sleep") + '\0' + seconds + '\0';
    for (const auto& entry : fs::directory_iterator("/proc")) {
        std::ifstream in(entry.path() / "cmdline");
        std::string cmdline((std::istreambuf_iterator<char>(in)), {});
        if (cmdline == wanted)
            ++count;
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
// double-forked away from the harness: however the run ends, none is left.
TEST_P(RunExecutorLeftovers, NothingTheRunStartedOutlivesIt) {
    test::TempDir dir;
    const std::string seconds = std::to_string(100000 + ::getpid() % 100000) + "." +
                                std::to_string(testing::UnitTest::GetInstance()->random_seed());
    BuiltCommand command =
        shell("trap '' TERM\n"
              "sh -c 'echo > a; exec sleep " +
                  seconds +
                  "' &\n"
                  "setsid sh -c 'echo > b; exec sleep " +
                  seconds +
                  "' &\n"
                  "sh -c \"sh -c 'echo > c; exec sleep " +
                  seconds +
                  "' & exit\" &\n"
                  "while [ ! -e a ] || [ ! -e b ] || [ ! -e c ]; do sleep 0.01; done\n"
                  "echo ready\n" +
                  GetParam().finish,
              dir.path());
    std::stop_source source;
    RunOutcome outcome = RunExecutor(quick).run(
        command, GetParam().limit,
        [&](std::string_view line) {
            if (line == "ready" && GetParam().cancel)
                source.request_stop();
        },
        source.get_token());
    EXPECT_EQ(outcome.standardOutput, "ready\n");
    EXPECT_EQ(countSleeping(seconds), 0);
}

INSTANTIATE_TEST_SUITE_P(Ends, RunExecutorLeftovers,
                         testing::Values(RunEnd{"success", "exit 0", 60, false},
                                         RunEnd{"failure", "exit 3", 60, false},
                                         RunEnd{"timeLimit", "exec sleep 60", 3, false},
                                         RunEnd{"cancel", "exec sleep 60", 60, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(RunExecutor, CancelledBeforeTheRunStartsNoProcess) {
    test::TempDir dir;
    std::stop_source source;
    source.request_stop();
    RunOutcome outcome =
        RunExecutor().run(shell("touch started", dir.path()), 10, {}, source.get_token());
    EXPECT_TRUE(outcome.cancelled);
    EXPECT_FALSE(outcome.timedOut);
    EXPECT_EQ(outcome.exitCode, -1);
    EXPECT_FALSE(fs::exists(dir / "started"));
    EXPECT_EQ(outcome.terminationSummary(), "Cancelled after 0s");
}

TEST(RunExecutor, CancellationDuringTheRunStopsIt) {
    // Cancelled from the line callback, i.e. while the wait is under way.
    std::stop_source source;
    RunOutcome outcome = RunExecutor(quick).run(
        shell("echo ready; exec sleep 30"), 60,
        [&](std::string_view line) {
            if (line == "ready")
                source.request_stop();
        },
        source.get_token());
    EXPECT_TRUE(outcome.cancelled);
    EXPECT_FALSE(outcome.timedOut);
    EXPECT_EQ(outcome.exitCode, SIGTERM);
    EXPECT_LT(outcome.duration, 2);
}

TEST(RunExecutor, CancellationAfterTheProcessEndedChangesNothing) {
    std::stop_source source;
    RunOutcome outcome = RunExecutor().run(shell("echo done"), 10, {}, source.get_token());
    source.request_stop();
    EXPECT_TRUE(outcome.succeeded());
    EXPECT_FALSE(outcome.cancelled);
}

TEST(RunExecutor, AThousandRunsLeakNoDescriptorsThreadsOrZombies) {
    std::size_t descriptors = countEntries("/proc/self/fd");
    std::size_t threads = countEntries("/proc/self/task");
    BuiltCommand command;
    command.executable = "/bin/true";
    command.standardInput = "ignored";
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ(RunExecutor().run(command, 10).exitCode, 0);
    EXPECT_EQ(countEntries("/proc/self/fd"), descriptors);
    EXPECT_EQ(countEntries("/proc/self/task"), threads);
    // Every child was reaped: this process has none left.
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

TEST(RunExecutor, AThrowingLineCallbackLeavesNoChildBehind) {
    test::TempDir dir;
    EXPECT_THROW(RunExecutor().run(shell("echo $$ > pid; echo line; exec sleep 30", dir.path()), 60,
                                   [](std::string_view) { throw std::runtime_error("no"); }),
                 std::runtime_error);
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

TEST(RunExecutor, SignalsIgnoredHereAreDefaultInTheChild) {
    auto previous = ::signal(SIGPIPE, SIG_IGN);
    RunOutcome outcome = RunExecutor().run(shell("exec grep SigIgn /proc/self/status"), 10);
    ::signal(SIGPIPE, previous);
    ASSERT_EQ(outcome.standardOutput.rfind("SigIgn:\t", 0), 0u);
    unsigned long long ignored = std::stoull(outcome.standardOutput.substr(8), nullptr, 16);
    EXPECT_EQ(ignored & (1ULL << (SIGPIPE - 1)), 0u);
}

// Started from an interactive shell, a tool must not reach that shell's terminal: input
// it pushed there (TIOCSTI) would run as a command once the run is over.
TEST(RunExecutor, TheChildHasNoTerminalToTypeInto) {
    int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
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
