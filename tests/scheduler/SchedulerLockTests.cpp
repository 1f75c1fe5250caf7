#include "scheduler/SchedulerLock.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace marrowbell;

TEST(SchedulerLock, SecondHolderIsRefusedUntilTheFirstLetsGo) {
    test::TempDir dir;
    auto path = dir / "support" / "scheduler.lock";
    EXPECT_FALSE(SchedulerLock::holder(path));
    {
        SchedulerLock first = SchedulerLock::acquire(path);
        // A second open file description in this same process conflicts too, as a
        // second process would.
        try {
            SchedulerLock::acquire(path);
            FAIL() << "a second scheduler took the lock";
        } catch (const SchedulerLockError& error) {
            EXPECT_NE(std::string(error.what()).find("process " + std::to_string(::getpid())),
                      std::string::npos)
                << error.what();
        }
        EXPECT_EQ(SchedulerLock::holder(path), ::getpid());
    }
    EXPECT_FALSE(SchedulerLock::holder(path));
    SchedulerLock again = SchedulerLock::acquire(path);
}

TEST(SchedulerLock, LockDiesWithItsProcess) {
    test::TempDir dir;
    auto path = dir / "scheduler.lock";
    pid_t child = ::fork();
    if (child == 0) {
        SchedulerLock held = SchedulerLock::acquire(path);
        ::_exit(0); // exits without running destructors, as a crash would
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_NO_THROW(SchedulerLock::acquire(path));
}
