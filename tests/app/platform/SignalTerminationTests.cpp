#include "platform/SignalTermination.h"

#include "model/ModelTestSupport.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <csignal>

namespace marrowbell::app {
namespace {

class StopSignal : public testing::TestWithParam<int> {};

// A stop signal (the session logging out) ends the application in order: the model
// hears of it once, on the main thread.
TEST_P(StopSignal, TellsTheModelOnce) {
    SignalTermination termination;
    QSignalSpy willTerminate(&termination, &Termination::willTerminate);
    ::raise(GetParam());
    ASSERT_TRUE(test::eventually([&] { return willTerminate.count() == 1; }));
    ::raise(GetParam());
    test::settle(std::chrono::milliseconds(100));
    EXPECT_EQ(willTerminate.count(), 1);
}

INSTANTIATE_TEST_SUITE_P(Signals, StopSignal, testing::Values(SIGTERM, SIGINT, SIGHUP));

TEST(StopSignal, TheRunInFlightIsCancelledAndRecorded) {
    test::ModelHome home;
    home.harness("sleep 30\n");
    Job job = home.job("Long", Instant::now(), "0 0 1 1 *");
    home.save(job);
    SignalTermination termination;
    AppPlatform platform = home.platform();
    platform.termination = &termination;
    AppModel model(platform);
    model.runNow(job);
    ASSERT_TRUE(test::eventually([&] { return model.runningJobIDs().count(job.id) > 0; }));

    ::raise(SIGTERM);
    ASSERT_TRUE(test::eventually([&] { return !home.runs().empty(); }));
    EXPECT_TRUE(home.runs().front().wasCancelled);
}

} // namespace
} // namespace marrowbell::app
