#include "scheduler/SchedulerLock.h"
#include "support/TestSupport.h"

#include <gmock/gmock.h>
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
        EXPECT_THAT([&] { SchedulerLock::acquire(path); },
                    testing::ThrowsMessage<SchedulerLockError>(
                        testing::HasSubstr("process " + std::to_string(::getpid()))));
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
