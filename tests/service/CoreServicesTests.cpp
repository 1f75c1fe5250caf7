#include "service/CoreServices.h"
#include "support/JobFixture.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace marrowbell {
namespace {

class CoreServicesTest : public testing::Test {
protected:
    test::TempDir home;
    test::ScopedEnv data{"XDG_DATA_HOME", (home / "data").string()};
    // No login shell to ask for its PATH.
    test::ScopedEnv shell{"SHELL", "/bin/false"};
};

// The lock holder runs jobs and writes the history out at shut-down; beside it, another
// is refused when the lock is required, else it gets the stores but no scheduler.
TEST_F(CoreServicesTest, OnlyTheLockHolderRunsJobsAndWritesTheHistory) {
    CoreServices core;
    ASSERT_TRUE(core.holdsSchedulerLock());
    ASSERT_TRUE(core.scheduler() && core.runner());
    EXPECT_EQ(SchedulerLock::holder(SchedulerLock::defaultPath()), ::getpid());
    EXPECT_THROW(CoreServices{CoreServices::LockPolicy::required}, SchedulerLockError);

    CoreServices beside(CoreServices::LockPolicy::ifFree);
    EXPECT_FALSE(beside.holdsSchedulerLock());
    EXPECT_FALSE(beside.scheduler() || beside.runner());
    Job job = test::makeJob("Refused");
    job.workingDirectory = FileUrl::fromPath(home.path(), true);
    job.harnessID = "no-such-harness"; // refused at once, with a record
    beside.jobs()->save(job);
    EXPECT_EQ(JobStore(JobStore::defaultDirectory()).jobs().size(), 1u);
    beside.shutDown();
    EXPECT_FALSE(std::filesystem::exists(RunHistory::defaultFileURL()));

    std::future<RunRecord> run = core.scheduler()->runNow(job);
    core.shutDown();
    ASSERT_EQ(run.wait_for(std::chrono::seconds(0)), std::future_status::ready);
    // What shut down left on disk, as the next process reads it.
    RunHistory reread(RunHistory::defaultFileURL());
    ASSERT_EQ(reread.runs(job.id).size(), 1u);
    EXPECT_EQ(reread.runs(job.id).front().id, run.get().id);
    core.shutDown(); // a second time does nothing
}

} // namespace
} // namespace marrowbell
