// The desktop session's start and end: the login item that starts the app, and the stop
// signals that end it.
#include "platform/AutostartLoginItem.h"
#include "platform/SignalTermination.h"

#include "base/Files.h"
#include "model/ModelTestSupport.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <csignal>

namespace marrowbell::app {
namespace {

using Status = LoginItem::Status;

struct AutostartHome {
    marrowbell::test::TempDir config;
    marrowbell::test::ScopedEnv variable{"XDG_CONFIG_HOME", config.path().string()};
    std::filesystem::path entry() const { return config / "autostart" / "marrowbell.desktop"; }
};

TEST(AutostartLoginItem, EnablingWritesAnEntryStartingTheBinary) {
    AutostartHome home;
    AutostartLoginItem item("/opt/Marrow Bell/bin/marrowbell");
    EXPECT_EQ(item.entry(), home.entry());
    EXPECT_EQ(item.status(), Status::notRegistered);
    item.setEnabled(true);
    EXPECT_EQ(item.status(), Status::enabled);
    const std::string entry = files::read(home.entry()).value_or("");
    for (const char* line : {"[Desktop Entry]\n", "\nExec=\"/opt/Marrow Bell/bin/marrowbell\"\n",
                             "\nType=Application\n"})
        EXPECT_NE(entry.find(line), std::string::npos) << line;
    item.setEnabled(false);
    EXPECT_EQ(item.status(), Status::notRegistered);
    EXPECT_FALSE(std::filesystem::exists(home.entry()));
}

struct FoundEntry {
    std::string content;
    Status status;
    bool keptWhenDisabled;
};

class AutostartStatus : public testing::TestWithParam<FoundEntry> {};

TEST_P(AutostartStatus, EnabledOnlyForOurVisibleEntry) {
    AutostartHome home;
    marrowbell::test::writeFile(home.entry(), "[Desktop Entry]\n" + GetParam().content);
    AutostartLoginItem item("/usr/bin/marrowbell");
    EXPECT_EQ(item.status(), GetParam().status);
    item.setEnabled(false);
    EXPECT_EQ(std::filesystem::exists(home.entry()), GetParam().keptWhenDisabled);
}

INSTANTIATE_TEST_SUITE_P(
    Entries, AutostartStatus,
    testing::Values(FoundEntry{"Exec=/usr/bin/marrowbell\nX-Marrowbell-LoginItem=true\n",
                               Status::enabled, false},
                    FoundEntry{"Hidden=true\nX-Marrowbell-LoginItem=true\n", Status::notRegistered,
                               false},
                    FoundEntry{"Exec=/usr/bin/marrowbell --quiet\n", Status::notRegistered, true},
                    FoundEntry{"Exec=x\n[Desktop Action y]\nX-Marrowbell-LoginItem=true\n",
                               Status::notRegistered, true}));

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
