// The app in a desktop session: one instance per session, and its status icon behind a
// tray host or, where no tray is, its panel in a window of its own.
#include "PanelTestSupport.h"
#include "panel/SingleInstance.h"
#include "panel/StatusItem.h"

#include <QSignalSpy>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <memory>

namespace marrowbell::app {
namespace {

// A second launch shows the first one's panel and exits (leaving the first app running:
// the tray test).
TEST(SingleInstance, ASecondLaunchShowsTheFirstOnesPanelAndExits) {
    if (test::runInPrivateSession(false))
        return;
    SingleInstance first;
    ASSERT_TRUE(first.claim());
    QSignalSpy shown(&first, &SingleInstance::showRequested);
    marrowbell::test::CtlHome home;
    EXPECT_EQ(test::AppProcess("marrowbell", {}, home).wait(15000), 0);
    EXPECT_EQ(shown.count(), 1);
}

// The real app under Xvfb beside a tray host: its icon registers and follows a run
// that starts and fails; a second launch leaves it running.
TEST(TrayEndToEnd, IconRegistersAndShowsARunStartingAndFailing) {
    if (test::runInPrivateSession(true))
        return;
    test::TestStatusNotifierWatcher watcher;
    ASSERT_TRUE(watcher.isServing());
    marrowbell::test::CtlHome home;
    home.harness("sleep 2\nexit 3\n"); // long enough to be seen, then fails
    home.save(home.job("Tray check", Instant::now(), "0 0 1 1 *"));

    test::AppProcess app("marrowbell", {}, home, true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !watcher.registeredItems().isEmpty(); }, 20000))
        << "the status icon never registered";
    const QString item = watcher.registeredItems().first();
    QString idle, running, attention;
    ASSERT_TRUE(QTest::qWaitFor([&] { return !(idle = watcher.iconOf(item)).isEmpty(); }, 5000));

    test::AppProcess run("marrowbellctl", {"run", "Tray check"}, home);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return (running = watcher.iconOf(item)) != idle && !running.isEmpty(); }, 15000))
        << "the icon did not change when the run started";
    EXPECT_EQ(run.wait(30000), 1) << "the run should fail";
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            attention = watcher.iconOf(item);
            return attention != running && attention != idle && !attention.isEmpty();
        },
        10000))
        << "the icon did not turn to attention after the failure";
    EXPECT_EQ(test::AppProcess("marrowbell", {}, home, true).wait(10000), 0);
    EXPECT_EQ(app.wait(2000), -1) << "the first one ended";
}

bool isWindow(const QWidget& panel) {
    return panel.isVisible() && !(panel.windowFlags() & Qt::FramelessWindowHint) &&
           panel.windowTitle() == QStringLiteral("Marrowbell");
}

TEST(StatusItem, FollowsATrayHostComingAndGoingWithoutARestart) {
    if (test::runInPrivateSession(true))
        return;
    QWidget panel;
    StatusItem item(panel);
    item.start();
    // No tray host on this bus: the panel is an ordinary window, shown at start.
    ASSERT_FALSE(item.hasTray());
    EXPECT_TRUE(isWindow(panel));
    panel.close(); // only hides it
    EXPECT_FALSE(panel.isVisible());

    auto host = std::make_unique<test::TrayHostThread>();
    ASSERT_TRUE(host->watcher().isServing());
    ASSERT_TRUE(QTest::qWaitFor([&] { return item.hasTray(); }, 5000));
    EXPECT_FALSE(panel.isVisible());
    host.reset();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !item.hasTray(); }, 5000));
    EXPECT_TRUE(isWindow(panel));
}

TEST(StatusItem, PopupClosesOnEscapeAndWhenItLosesTheFocus) {
    QWidget panel;
    StatusItem item(panel);
    item.setTrayAvailable(true);
    item.showPanel();
    ASSERT_TRUE(panel.isVisible());
    EXPECT_TRUE(panel.windowFlags() & Qt::FramelessWindowHint);
    QTest::keyClick(&panel, Qt::Key_Escape);
    EXPECT_FALSE(panel.isVisible());

    item.showPanel();
    QEvent deactivate(QEvent::WindowDeactivate);
    QApplication::sendEvent(&panel, &deactivate);
    EXPECT_FALSE(panel.isVisible());
    // The click on the icon that took the focus away does not bring it straight back.
    item.togglePanel();
    EXPECT_FALSE(panel.isVisible());
}

} // namespace
} // namespace marrowbell::app
