// Where the panel lives: behind the tray icon, or in its own window where no tray is.
#include "PrivateSession.h"
#include "TestStatusNotifierWatcher.h"
#include "panel/StatusItem.h"

#include <QKeyEvent>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <memory>

namespace marrowbell::app {
namespace {

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
    // Closing it only hides it.
    panel.close();
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
