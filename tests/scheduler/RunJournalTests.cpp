#include "scheduler/RunJournal.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace marrowbell;

extern char** environ;

namespace {

// A process in a session and group of its own, as a harness runs; killed and reaped
// at the end of the test whatever happened to it.
struct Leftover {
    pid_t pid = -1;
    Leftover() {
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
        const char* argv[] = {"sleep", "60", nullptr};
        ::posix_spawn(&pid, "/bin/sleep", nullptr, &attributes, const_cast<char**>(argv), environ);
        posix_spawnattr_destroy(&attributes);
    }
    ~Leftover() {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    // Still running: alive and not a zombie waiting for this test to reap it.
    bool running() const {
        siginfo_t info{};
        return ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
               info.si_pid == 0;
    }
};

} // namespace

// A run left in the journal is recorded as interrupted, once; its harness's group is
// ended only when it is still the same process (not when the id was reused: another
// start time). A slot already recorded is not recorded again.
TEST(RunJournal, RecoveryEndsTheLeftoverGroupOnlyWhenItIsTheSameProcess) {
    for (auto [startTimeShift, ended] : {std::pair<std::uint64_t, bool>{0, true}, {1, false}}) {
        test::TempDir dir;
        Leftover harness;
        ASSERT_GT(harness.pid, 0);
        RunHistory history;
        const Uuid job = Uuid::random();
        const Instant slot{800000000};
        RunRecord finished;
        finished.jobID = Uuid::random();
        finished.startedAt = slot;
        history.record(finished);
        {
            RunJournal crashed(dir / RunJournal::fileName);
            crashed.add({Uuid::random(), job, slot,
                         RunProcess{.group = harness.pid,
                                    .groupStartTime =
                                        *RunProcess::startTime(harness.pid) + startTimeShift}});
            crashed.add({Uuid::random(), finished.jobID, slot, RunProcess{}});
        }
        std::vector<RunRecord> recorded = RunJournal(dir / RunJournal::fileName).recover(history);
        // A killed process ends a moment later; one spared must still run a moment later.
        EXPECT_EQ(test::eventually([&] { return !harness.running(); },
                                   std::chrono::milliseconds(ended ? 30000 : 200)),
                  ended);
        ASSERT_EQ(recorded.size(), 1u);
        EXPECT_EQ(
            std::tie(recorded[0].jobID, recorded[0].startedAt, recorded[0].failureMessage),
            std::tuple(job, slot, std::optional<std::string>(RunJournal::interruptedMessage)));
        EXPECT_EQ(history.allRuns(), (std::vector{finished, recorded[0]}));
        EXPECT_TRUE(RunJournal(dir / RunJournal::fileName).recover(history).empty());
        EXPECT_EQ(history.allRuns().size(), 2u);
    }
}
