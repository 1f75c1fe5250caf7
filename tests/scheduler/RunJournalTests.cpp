#include "scheduler/RunJournal.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <spawn.h>
#include <sys/wait.h>

using namespace marrowbell;

extern char** environ;

namespace {

// A process in a session and group of its own, as a harness runs; killed and reaped
// at the end of the test whatever happened to it.
class Leftover {
public:
    Leftover() {
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
        char* argv[] = {const_cast<char*>("sleep"), const_cast<char*>("60"), nullptr};
        ::posix_spawn(&pid_, "/bin/sleep", nullptr, &attributes, argv, environ);
        posix_spawnattr_destroy(&attributes);
    }
    ~Leftover() {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    pid_t pid() const { return pid_; }
    // Still running: alive and not a zombie waiting for this test to reap it.
    bool running() const {
        siginfo_t info{};
        return ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
               info.si_pid == 0;
    }

private:
    pid_t pid_ = -1;
};

struct Recovery {
    const char* name;
    std::uint64_t startTimeShift; // 0: the journal names this very process
    bool ended;
};

class RunJournalRecovery : public testing::TestWithParam<Recovery> {};

} // namespace

TEST_P(RunJournalRecovery, EndsTheLeftoverGroupOnlyWhenItIsTheSameProcess) {
    test::TempDir dir;
    Leftover harness;
    ASSERT_GT(harness.pid(), 0);
    RunHistory history;
    const Uuid job = Uuid::random();
    const Instant slot{800000000};
    {
        RunJournal crashed(dir / RunJournal::fileName);
        RunProcess process;
        process.group = harness.pid();
        process.groupStartTime = *RunProcess::startTime(harness.pid()) + GetParam().startTimeShift;
        crashed.add({Uuid::random(), job, slot, process});
    }

    RunJournal journal(dir / RunJournal::fileName);
    std::vector<RunRecord> recorded = journal.recover(history);
    EXPECT_EQ(!harness.running(), GetParam().ended);
    ASSERT_EQ(recorded.size(), 1u);
    EXPECT_EQ(recorded[0].startedAt, slot);
    EXPECT_EQ(recorded[0].failureMessage, RunJournal::interruptedMessage);
    EXPECT_EQ(history.allRuns(), recorded);
    // Once: the journal is empty now.
    EXPECT_TRUE(RunJournal(dir / RunJournal::fileName).recover(history).empty());
    EXPECT_EQ(history.allRuns().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Cases, RunJournalRecovery,
                         testing::Values(Recovery{"sameProcess", 0, true},
                                         Recovery{"reusedId", 1, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(RunJournal, ASlotAlreadyRecordedIsNotRecordedAgain) {
    test::TempDir dir;
    RunHistory history;
    RunRecord finished;
    finished.jobID = Uuid::random();
    finished.startedAt = Instant{800000000};
    history.record(finished);
    RunJournal(dir / RunJournal::fileName)
        .add({Uuid::random(), finished.jobID, finished.startedAt, RunProcess{}});
    EXPECT_TRUE(RunJournal(dir / RunJournal::fileName).recover(history).empty());
    EXPECT_EQ(history.allRuns(), std::vector<RunRecord>{finished});
}
