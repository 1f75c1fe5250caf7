#include "model/ModelTestSupport.h"

#include "scheduler/SchedulerLock.h"

#include <gtest/gtest.h>

#include <csignal>

namespace marrowbell::app {
namespace {

using marrowbell::test::BackgroundCtl;
using test::ModelHome;

// `marrowbellctl daemon` in the same home: it holds the scheduler lock.
struct DaemonHome : ModelHome {
    std::unique_ptr<BackgroundCtl> daemon;
    pid_t daemonPID = -1;

    void startDaemon() {
        daemon = std::make_unique<BackgroundCtl>(std::vector<std::string>{"daemon"}, environment(),
                                                 root / "daemon");
        ASSERT_TRUE(test::eventually(
            [&] {
                auto holder = SchedulerLock::holder(support() / "scheduler.lock");
                daemonPID = holder.value_or(-1);
                return holder && *holder != ::getpid() &&
                       std::filesystem::exists(runtime() / "marrowbell" / "control");
            },
            std::chrono::seconds(20)))
            << daemon->err();
    }
    // Lines the stand-in harness wrote, one per start.
    std::size_t starts() const {
        std::string text = files::read(home() / "starts").value_or("");
        return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
    }
};

// Attached to the daemon, the model runs and stops jobs through it and announces what it
// recorded. The daemon then dies during a scheduled run: the model takes the scheduling
// over, shows what became of the run, does not run that slot again and serves the
// control channel.
TEST(AttachedMode, RunsThroughTheDaemonAndTakesOverWhenItDies) {
    DaemonHome home;
    home.harness("echo started >> \"$HOME/starts\"\nsleep 30\n");
    // Due five minutes ago, within the catch-up grace: the daemon runs it at once.
    const LocalDateTime at = TimeZone::utc().local(Instant::now() - 300);
    Job job = home.job("Daily", Instant::now() - 2 * 86400,
                       std::to_string(at.minute) + " " + std::to_string(at.hour) + " * * *");
    Job manual = home.job("Through the daemon", Instant::now(), "0 0 1 1 *");
    home.save(job);
    home.save(manual);
    home.startDaemon();
    ASSERT_TRUE(test::eventually([&] { return home.starts() == 1; })) << home.daemon->err();

    auto model = home.model();
    EXPECT_FALSE(model->startupError());
    ASSERT_TRUE(model->isAttached());
    EXPECT_FALSE(model->scheduler());
    EXPECT_EQ(model->attachedProcessID(), home.daemonPID);
    EXPECT_EQ(model->attachedNote(),
              "Jobs are run by the Marrowbell scheduler already running (process " +
                  std::to_string(home.daemonPID) + ").");
    EXPECT_EQ(model->jobs().size(), 2u);
    EXPECT_TRUE(test::eventually([&] { return model->runningJobIDs().count(job.id) > 0; }));

    model->runNow(manual);
    ASSERT_TRUE(test::eventually([&] { return model->runningJobIDs().count(manual.id) > 0; }));
    // Started before it is stopped: a run stopped sooner may not reach the harness.
    ASSERT_TRUE(test::eventually([&] { return home.starts() == 2; }));
    model->cancel(manual);
    ASSERT_TRUE(test::eventually([&] { return !home.notifications.posted.empty(); }));
    EXPECT_EQ(home.notifications.posted.front().content.title, "Through the daemon");
    EXPECT_EQ(model->runningJobIDs().count(manual.id), 0u);
    // The daemon's record, read from the file it wrote.
    ASSERT_TRUE(test::eventually([&] { return model->history()->lastRun(manual.id).has_value(); }));
    EXPECT_TRUE(model->history()->lastRun(manual.id)->wasCancelled);

    home.daemon->signal(SIGKILL);
    home.daemon->wait();
    EXPECT_TRUE(
        test::eventually([&] { return model->scheduler() != nullptr; }, std::chrono::seconds(5)));
    EXPECT_FALSE(model->isAttached());
    EXPECT_FALSE(model->attachedNote());
    EXPECT_EQ(SchedulerLock::holder(home.support() / "scheduler.lock"), ::getpid());
    EXPECT_TRUE(model->runningJobIDs().empty());
    // The interrupted run, as the new scheduler recorded it.
    ASSERT_TRUE(test::eventually([&] { return model->history()->lastRun(job.id).has_value(); }));
    EXPECT_FALSE(model->history()->lastRun(job.id)->succeeded());
    EXPECT_EQ(model->barState(), BarState::attention);

    test::settle(std::chrono::seconds(3));
    EXPECT_EQ(home.starts(), 2u);
    EXPECT_EQ(model->history()->runs(job.id).size(), 1u);

    // A terminal now reaches the scheduler the app runs, as it did the daemon.
    model->runNow(job);
    ASSERT_TRUE(test::eventually([&] { return model->runningJobIDs().count(job.id) > 0; }));
    auto status = home.ctl({"status", "--json"});
    EXPECT_EQ(status.exitStatus, 0) << status.err;
    EXPECT_NE(status.out.find("\"app\""), std::string::npos) << status.out;
    auto stop = home.ctl({"stop", job.id.text()});
    EXPECT_EQ(stop.exitStatus, 0) << stop.err;
    ASSERT_TRUE(test::eventually([&] { return model->runningJobIDs().empty(); }));
    EXPECT_TRUE(model->history()->lastRun(job.id)->wasCancelled);
}

} // namespace
} // namespace marrowbell::app
