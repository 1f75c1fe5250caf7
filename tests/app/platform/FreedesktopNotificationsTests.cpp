#include "platform/FreedesktopNotifications.h"

#include "model/AppModel.h"
#include "model/ModelTestSupport.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

#include <condition_variable>

namespace marrowbell::app {
namespace {

using Authorization = NotificationCenter::Authorization;
using Service = FreedesktopNotifications;

// A notification server on a bus connection and a thread of its own (so it can be slow
// without holding up the main thread): it records each Notify and answers with ids 1, 2, …
class NotificationServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Call {
        QString appName;
        uint replacesID;
        QString icon, summary, body;
        QStringList actions;
        QVariantMap hints;
    };

    explicit NotificationServer(QStringList capabilities = {"body", "actions", "sound"})
        : bus_(QString("test-notification-server-%1").arg(++count))
        , capabilities_(std::move(capabilities)) {
        thread_.start();
        moveToThread(&thread_);
        onThread([this] { QDBusConnection::connectToBus(QDBusConnection::SessionBus, bus_); });
    }
    ~NotificationServer() override {
        onThread([this] {
            disappear();
            QDBusConnection::disconnectFromBus(bus_);
            moveToThread(QCoreApplication::instance()->thread());
        });
        thread_.quit();
        thread_.wait();
    }

    // The previous test's server may have gone a moment ago, before the bus let its name go.
    bool appear() {
        bool registered = false;
        onThread([&] {
            QDBusConnection(bus_).registerObject(Service::path, this,
                                                 QDBusConnection::ExportAllSlots);
            registered = QTest::qWaitFor(
                [&] { return QDBusConnection(bus_).registerService(Service::service); }, 2000);
        });
        return registered;
    }
    void disappear() {
        onThread([&] {
            QDBusConnection(bus_).unregisterService(Service::service);
            QDBusConnection(bus_).unregisterObject(Service::path);
        });
    }
    // Before answering a Notify, waits until this returns (on the server's thread).
    void setBeforeAnswer(std::function<void()> wait) {
        std::lock_guard lock(mutex_);
        beforeAnswer_ = std::move(wait);
    }
    std::vector<Call> calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    // Emits the desktop's signal about notification `id` (ActionInvoked, NotificationClosed).
    void send(const char* name, uint id, const QVariant& detail) {
        onThread([&] {
            QDBusMessage signal = QDBusMessage::createSignal(Service::path, Service::service, name);
            signal << id << detail;
            QDBusConnection(bus_).send(signal);
        });
    }

public slots:
    QStringList GetCapabilities() { return capabilities_; }
    uint Notify(const QString& appName, uint replacesID, const QString& icon,
                const QString& summary, const QString& body, const QStringList& actions,
                const QVariantMap& hints, int) {
        std::function<void()> wait;
        {
            std::lock_guard lock(mutex_);
            calls_.push_back({appName, replacesID, icon, summary, body, actions, hints});
            wait = beforeAnswer_;
        }
        if (wait)
            wait();
        std::lock_guard lock(mutex_);
        return uint(calls_.size());
    }

private:
    void onThread(const std::function<void()>& work) {
        if (QThread::currentThread() == &thread_)
            return work();
        QMetaObject::invokeMethod(this, work, Qt::BlockingQueuedConnection);
    }

    static inline std::atomic<int> count{0};
    QThread thread_;
    const QString bus_;
    const QStringList capabilities_;
    mutable std::mutex mutex_;
    std::vector<Call> calls_;
    std::function<void()> beforeAnswer_;
};

class NotificationsTest : public testing::Test {
protected:
    void SetUp() override {
        if (!QDBusConnection::sessionBus().isConnected())
            GTEST_SKIP() << "no session bus (run the tests inside dbus-run-session)";
    }
    // A centre that has heard from `server` and knows its capabilities.
    void reach(FreedesktopNotifications& centre) {
        ASSERT_TRUE(
            test::eventually([&] { return centre.authorization() == Authorization::authorized; }));
        test::settle(std::chrono::milliseconds(300));
    }
};

NotificationCenter::Content failedRun() {
    return {"Morning brief", "Failed after 42s", "The model did not answer.", true, true};
}

// The show action names the run; a closed notification is forgotten; a slow server never
// holds up the main thread.
TEST_F(NotificationsTest, TheShowActionOfAShownNotificationNamesItsRun) {
    NotificationServer server;
    ASSERT_TRUE(server.appear());
    FreedesktopNotifications centre;
    reach(centre);
    QSignalSpy activated(&centre, &NotificationCenter::activated);

    centre.post("RUN-1", failedRun());
    ASSERT_TRUE(test::eventually([&] { return server.calls().size() == 1; }));
    EXPECT_TRUE(server.calls().front().actions.contains("default"));
    // The server's id reaches the centre with its answer.
    test::settle(std::chrono::milliseconds(200));
    server.send("ActionInvoked", 1, "default");
    ASSERT_TRUE(test::eventually([&] { return activated.count() == 1; }));
    EXPECT_EQ(activated.front().front().toString(), "RUN-1");
    centre.post("RUN-2", failedRun());
    ASSERT_TRUE(test::eventually([&] { return server.calls().size() == 2; }));
    test::settle(std::chrono::milliseconds(200));
    server.send("NotificationClosed", 2, 2u);
    test::settle(std::chrono::milliseconds(200));
    server.send("ActionInvoked", 2, "default");
    test::settle(std::chrono::milliseconds(200));
    EXPECT_EQ(activated.count(), 1);

    // The server does not answer until the main thread has run again: were the call
    // synchronous, the main thread would be waiting for that answer and the server would
    // give up on it.
    std::mutex mutex;
    std::condition_variable ran;
    bool mainThreadRan = false, mainThreadHeld = false;
    QObject context;
    server.setBeforeAnswer([&] {
        QMetaObject::invokeMethod(
            &context,
            [&] {
                std::lock_guard lock(mutex);
                mainThreadRan = true;
                ran.notify_all();
            },
            Qt::QueuedConnection);
        std::unique_lock lock(mutex);
        mainThreadHeld =
            !ran.wait_for(lock, std::chrono::seconds(10), [&] { return mainThreadRan; });
    });
    centre.post("RUN-3", failedRun());
    ASSERT_TRUE(test::eventually([&] { return mainThreadRan; }));
    test::settle(std::chrono::milliseconds(100));
    std::lock_guard lock(mutex);
    EXPECT_FALSE(mainThreadHeld);
}

struct ContentCase {
    QStringList capabilities;
    bool critical;
    const char* body; // of the detail "<b>x</b> & y"
    bool sound;
};

class NotificationContent : public NotificationsTest,
                            public testing::WithParamInterface<ContentCase> {};

TEST_P(NotificationContent, FollowsTheServersCapabilities) {
    NotificationServer server(GetParam().capabilities);
    ASSERT_TRUE(server.appear());
    FreedesktopNotifications centre;
    reach(centre);
    centre.post("RUN", {"Tidy", "Finished in 5s", "<b>x</b> & y", GetParam().critical, true});
    ASSERT_TRUE(test::eventually([&] { return server.calls().size() == 1; }));
    const NotificationServer::Call call = server.calls().front();
    EXPECT_EQ((QStringList{call.appName, call.icon, call.summary, call.body}),
              (QStringList{"Marrowbell", "marrowbell", "Tidy",
                           QString("Finished in 5s\n\n") + GetParam().body}));
    EXPECT_EQ(call.replacesID, 0u);
    EXPECT_EQ(call.hints.value("urgency").value<uchar>(), GetParam().critical ? 2 : 1);
    EXPECT_EQ(call.hints.value("sound-name").toString(),
              GetParam().sound ? "message-new-instant" : "");
}

INSTANTIATE_TEST_SUITE_P(
    Servers, NotificationContent,
    testing::Values(ContentCase{{"body", "sound"}, true, "<b>x</b> & y", true},
                    ContentCase{{}, false, "<b>x</b> & y", true},
                    ContentCase{{"body", "actions"}, false, "<b>x</b> & y", false},
                    ContentCase{{"body-markup"}, true, "&lt;b&gt;x&lt;/b&gt; &amp; y", false}));

// A run that ends while no server runs is not shown; the next is once the server is back,
// and none once it has gone again.
TEST_F(NotificationsTest, FollowsTheServerComingAndGoing) {
    test::ModelHome home;
    FreedesktopNotifications centre;
    AppPlatform platform = home.platform();
    platform.notifications = &centre;
    AppModel model(platform);
    ASSERT_TRUE(test::eventually([&] { return !model.notificationsAllowed(); }));
    Job job = home.job("Nightly");
    RunRecord failed;
    failed.jobID = job.id;
    failed.exitCode = 1;
    model.announce(job, failed);

    NotificationServer server;
    ASSERT_TRUE(server.appear());
    ASSERT_TRUE(test::eventually([&] { return model.notificationsAllowed(); }));
    EXPECT_TRUE(server.calls().empty());
    failed.id = Uuid::random();
    model.announce(job, failed);
    ASSERT_TRUE(test::eventually([&] { return server.calls().size() == 1; }));
    EXPECT_EQ(server.calls().front().summary, "Nightly");

    server.disappear();
    EXPECT_TRUE(test::eventually([&] { return centre.authorization() == Authorization::denied; }));
    centre.post("LOST", failedRun());
    test::settle(std::chrono::milliseconds(200));
    EXPECT_EQ(server.calls().size(), 1u);
}

} // namespace
} // namespace marrowbell::app

#include "FreedesktopNotificationsTests.moc"
