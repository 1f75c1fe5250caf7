// The real app under Xvfb beside a tray host: its icon registers and follows a run
// that starts and fails.
#include "AppProcess.h"
#include "PrivateSession.h"
#include "TestStatusNotifierWatcher.h"

#include <QTest>

#include <gtest/gtest.h>

namespace marrowbell::app {
namespace {

TEST(TrayEndToEnd, IconRegistersAndShowsARunStartingAndFailing) {
    if (test::runInPrivateSession(true))
        return;
    test::TestStatusNotifierWatcher watcher;
    ASSERT_TRUE(watcher.isServing());

    marrowbell::test::CtlHome home;
    // A run that lasts long enough to be seen, then fails.
    home.harness("sleep 2\nexit 3\n");
    home.save(home.job("Tray check", Instant::now(), "0 0 1 1 *"));

    QProcessEnvironment display;
    display.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    test::AppProcess app("marrowbell", {}, home, display);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !watcher.registeredItems().isEmpty(); }, 20000))
        << "the status icon never registered";
    const QString item = watcher.registeredItems().first();
    QString idle;
    ASSERT_TRUE(QTest::qWaitFor([&] { return !(idle = watcher.iconOf(item)).isEmpty(); }, 5000));

    test::AppProcess run("marrowbellctl", {QStringLiteral("run"), QStringLiteral("Tray check")},
                         home);
    QString running;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return (running = watcher.iconOf(item)) != idle && !running.isEmpty(); }, 15000))
        << "the icon did not change when the run started";
    EXPECT_EQ(run.wait(30000), 1) << "the run should fail";
    QString attention;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            attention = watcher.iconOf(item);
            return attention != running && attention != idle && !attention.isEmpty();
        },
        10000))
        << "the icon did not turn to attention after the failure";
}

} // namespace
} // namespace marrowbell::app
