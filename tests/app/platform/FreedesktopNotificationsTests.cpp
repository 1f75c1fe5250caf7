#include "platform/FreedesktopNotifications.h"
#include "platform/NotificationServer.h"

#include "model/AppModel.h"
#include "model/ModelTestSupport.h"

#include <QDBusConnection>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <condition_variable>

namespace marrowbell::app {
namespace {

using Authorization = NotificationCenter::Authorization;
using test::NotificationServer;

class NotificationsTest : public testing::Test {
protected:
    void SetUp() override {
        if (!QDBusConnection::sessionBus().isConnected())
            GTEST_SKIP() << "no session bus (run the tests inside dbus-run-session)";
    }
};

NotificationCenter::Content failedRun() {
    return {"Morning brief", "Failed after 42s", "The model did not answer.", true, true};
}

TEST_F(NotificationsTest, PostsOneNotificationPerRunAndHearsItsShowAction) {
    NotificationServer server;
    ASSERT_TRUE(server.appear());
    FreedesktopNotifications centre;
    ASSERT_TRUE(
        test::eventually([&] { return centre.authorization() == Authorization::authorized; }));
    QSignalSpy activated(&centre, &NotificationCenter::activated);

    centre.post("RUN-1", failedRun());
    ASSERT_TRUE(test::eventually([&] { return server.calls().size() == 1; }));
    const NotificationServer::Call call = server.calls().front();
    EXPECT_EQ(call.appName, "Marrowbell");
    EXPECT_EQ(call.replacesID, 0u);
    EXPECT_EQ(call.icon, "marrowbell");
    EXPECT_EQ(call.summary, "Morning brief");
    EXPECT_EQ(call.body, "Failed after 42s\n\nThe model did not answer.");
    EXPECT_TRUE(call.actions.contains("default"));
    EXPECT_EQ(call.hints.value("urgency").value<uchar>(), 2);
    EXPECT_EQ(call.hints.value("sound-name").toString(), "message-new-instant");

    // The server's id reaches the centre with its answer; then "Show" opens the panel.
    test::settle(std::chrono::milliseconds(200));
    server.invokeAction(1, "default");
    ASSERT_TRUE(test::eventually([&] { return activated.count() == 1; }));
    EXPECT_EQ(activated.front().front().toString(), "RUN-1");
    // A closed notification is forgotten.
    centre.post("RUN-2", failedRun());
    ASSERT_TRUE(test::eventually([&] { return server.calls().size() == 2; }));
    test::settle(std::chrono::milliseconds(200));
    server.close(2);
    test::settle(std::chrono::milliseconds(200));
    server.invokeAction(2, "default");
    test::settle(std::chrono::milliseconds(200));
    EXPECT_EQ(activated.count(), 1);
}

struct SoundCase {
    const char* name;
    QStringList capabilities;
    bool hinted;
};

class NotificationSound : public NotificationsTest,
                          public testing::WithParamInterface<SoundCase> {};

TEST_P(NotificationSound, HintedUnlessTheServerCannotPlayIt) {
    NotificationServer server(GetParam().capabilities);
    ASSERT_TRUE(server.appear());
    FreedesktopNotifications centre;
    test::settle(std::chrono::milliseconds(300)); // its capabilities are known by now
    NotificationCenter::Content finished{"Tidy", "Finished in 5s", "Done.", false, true};
    centre.post("RUN", finished);
    ASSERT_TRUE(test::eventually([&] { return server.calls().size() == 1; }));
    EXPECT_EQ(server.calls().front().hints.contains("sound-name"), GetParam().hinted);
    EXPECT_EQ(server.calls().front().hints.value("urgency").value<uchar>(), 1);
}

INSTANTIATE_TEST_SUITE_P(Capabilities, NotificationSound,
                         testing::Values(SoundCase{"Sound", {"body", "sound"}, true},
                                         SoundCase{"NoSound", {"body", "actions"}, false}),
                         [](const testing::TestParamInfo<SoundCase>& info) {
                             return info.param.name;
                         });

TEST_F(NotificationsTest, MarkupIsEscapedForServersThatReadIt) {
    NotificationServer server({"body", "body-markup"});
    ASSERT_TRUE(server.appear());
    FreedesktopNotifications centre;
    test::settle(std::chrono::milliseconds(300));
    centre.post("RUN", {"Job", "Failed after 1s", "<b>not bold</b> & so on", true, true});
    ASSERT_TRUE(test::eventually([&] { return server.calls().size() == 1; }));
    EXPECT_EQ(server.calls().front().body,
              "Failed after 1s\n\n&lt;b&gt;not bold&lt;/b&gt; &amp; so on");
}

TEST_F(NotificationsTest, FollowsTheServerComingAndGoing) {
    FreedesktopNotifications centre;
    ASSERT_TRUE(test::eventually([&] { return centre.authorization() == Authorization::denied; }));

    NotificationServer server;
    ASSERT_TRUE(server.appear());
    EXPECT_TRUE(
        test::eventually([&] { return centre.authorization() == Authorization::authorized; }));
    server.disappear();
    EXPECT_TRUE(test::eventually([&] { return centre.authorization() == Authorization::denied; }));
    // Posting to nobody: no crash, no wait.
    centre.post("LOST", failedRun());
    test::settle(std::chrono::milliseconds(200));
    EXPECT_TRUE(server.calls().empty());
}

// The server does not answer until the main thread has run again: were the call
// synchronous, the main thread would be waiting for that answer and the server would
// give up on it.
TEST_F(NotificationsTest, ASlowServerNeverHoldsUpTheMainThread) {
    NotificationServer server;
    ASSERT_TRUE(server.appear());
    FreedesktopNotifications centre;
    ASSERT_TRUE(
        test::eventually([&] { return centre.authorization() == Authorization::authorized; }));

    std::mutex mutex;
    std::condition_variable ran;
    bool mainThreadRan = false;
    bool mainThreadHeld = false;
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
    centre.post("SLOW", failedRun());
    ASSERT_TRUE(test::eventually([&] { return mainThreadRan; }));
    test::settle(std::chrono::milliseconds(100));
    std::lock_guard lock(mutex);
    EXPECT_FALSE(mainThreadHeld);
    EXPECT_EQ(server.calls().size(), 1u);
}

// A run finishes while no server runs: nothing is shown, and the next is once it is back.
TEST_F(NotificationsTest, AnnouncementsResumeWhenTheServerIsBack) {
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
    RunRecord again = failed;
    again.id = Uuid::random();
    model.announce(job, again);
    ASSERT_TRUE(test::eventually([&] { return server.calls().size() == 1; }));
    EXPECT_EQ(server.calls().front().summary, "Nightly");
}

} // namespace
} // namespace marrowbell::app
