#include "scheduler/SchedulerLock.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace marrowbell;

// A second open file description in this same process conflicts, as a second process
// would; the lock ends with its holder, even one that exits without clean-up.
TEST(SchedulerLock, SecondHolderIsRefusedUntilTheFirstLetsGo) {
    test::TempDir dir;
    auto path = dir / "support" / "scheduler.lock";
    EXPECT_FALSE(SchedulerLock::holder(path));
    {
        SchedulerLock first = SchedulerLock::acquire(path);
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
    if (pid_t child = ::fork(); child == 0) {
        SchedulerLock held = SchedulerLock::acquire(path);
        ::_exit(0); // exits without running destructors, as a crash would
    } else {
        ::waitpid(child, nullptr, 0);
    }
    EXPECT_NO_THROW(SchedulerLock::acquire(path));
}
