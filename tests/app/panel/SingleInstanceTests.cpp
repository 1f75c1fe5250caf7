// One app per session: a later launch shows the first one's panel and leaves.
#include "AppProcess.h"
#include "PrivateSession.h"
#include "panel/SingleInstance.h"

#include <QDBusConnectionInterface>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace marrowbell::app {
namespace {

TEST(SingleInstance, SecondInstanceAsksTheFirstToShowItsPanel) {
    if (test::runInPrivateSession(false))
        return;
    SingleInstance first;
    ASSERT_TRUE(first.claim());
    QSignalSpy shown(&first, &SingleInstance::showRequested);
    // Another process is another connection to the bus.
    auto other =
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("second"));
    {
        SingleInstance second(other);
        EXPECT_FALSE(second.claim());
        EXPECT_TRUE(second.showFirst());
        EXPECT_EQ(shown.count(), 1);
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("second"));
}

TEST(SingleInstance, SecondLaunchExitsAtOnceAndLeavesTheFirstRunning) {
    if (test::runInPrivateSession(false))
        return;
    marrowbell::test::CtlHome home;
    test::AppProcess first("marrowbell", {}, home);
    auto bus = QDBusConnection::sessionBus().interface();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return bus->isServiceRegistered(QString::fromLatin1(SingleInstance::serviceName))
                .value();
        },
        15000));
    test::AppProcess second("marrowbell", {}, home);
    EXPECT_EQ(second.wait(10000), 0);
    EXPECT_EQ(first.process().state(), QProcess::Running);
}

} // namespace
} // namespace marrowbell::app
