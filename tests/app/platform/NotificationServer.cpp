#include "platform/NotificationServer.h"

#include "platform/FreedesktopNotifications.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace marrowbell::app::test {

namespace {
std::atomic<int> servers{0};
}

NotificationServer::NotificationServer(QStringList capabilities)
    : connectionName_(QString("test-notification-server-%1").arg(++servers))
    , capabilities_(std::move(capabilities)) {
    thread_.start();
    moveToThread(&thread_);
    onThread(
        [this] { QDBusConnection::connectToBus(QDBusConnection::SessionBus, connectionName_); });
}

NotificationServer::~NotificationServer() {
    onThread([this] {
        QDBusConnection bus(connectionName_);
        bus.unregisterService(FreedesktopNotifications::service);
        bus.unregisterObject(FreedesktopNotifications::path);
        QDBusConnection::disconnectFromBus(connectionName_);
        moveToThread(QCoreApplication::instance()->thread());
    });
    thread_.quit();
    thread_.wait();
}

void NotificationServer::onThread(const std::function<void()>& work) {
    if (QThread::currentThread() == &thread_)
        return work();
    QMetaObject::invokeMethod(this, work, Qt::BlockingQueuedConnection);
}

bool NotificationServer::appear() {
    bool registered = false;
    onThread([&] {
        QDBusConnection bus(connectionName_);
        if (!bus.registerObject(FreedesktopNotifications::path, this,
                                QDBusConnection::ExportAllSlots))
            return;
        // The previous test's server may have exited a moment ago, before the bus let
        // its name go.
        for (int attempt = 0; attempt < 100 && !registered; ++attempt) {
            registered = bus.registerService(FreedesktopNotifications::service);
            if (!registered)
                QThread::msleep(20);
        }
    });
    return registered;
}

void NotificationServer::disappear() {
    onThread([&] {
        QDBusConnection bus(connectionName_);
        bus.unregisterService(FreedesktopNotifications::service);
        bus.unregisterObject(FreedesktopNotifications::path);
    });
}

void NotificationServer::setBeforeAnswer(std::function<void()> wait) {
    std::lock_guard lock(mutex_);
    beforeAnswer_ = std::move(wait);
}

std::vector<NotificationServer::Call> NotificationServer::calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

void NotificationServer::invokeAction(uint id, const QString& action) {
    onThread([&] {
        QDBusMessage signal = QDBusMessage::createSignal(
            FreedesktopNotifications::path, FreedesktopNotifications::service, "ActionInvoked");
        signal << id << action;
        QDBusConnection(connectionName_).send(signal);
    });
}

void NotificationServer::close(uint id) {
    onThread([&] {
        QDBusMessage signal =
            QDBusMessage::createSignal(FreedesktopNotifications::path,
                                       FreedesktopNotifications::service, "NotificationClosed");
        signal << id << uint(2);
        QDBusConnection(connectionName_).send(signal);
    });
}

QStringList NotificationServer::GetCapabilities() {
    return capabilities_;
}

uint NotificationServer::Notify(const QString& appName, uint replacesID, const QString& icon,
                                const QString& summary, const QString& body,
                                const QStringList& actions, const QVariantMap& hints, int timeout) {
    std::function<void()> wait;
    {
        std::lock_guard lock(mutex_);
        calls_.push_back({appName, replacesID, icon, summary, body, actions, hints, timeout});
        wait = beforeAnswer_;
    }
    if (wait)
        wait();
    std::lock_guard lock(mutex_);
    return nextID_++;
}

void NotificationServer::CloseNotification(uint) {}

QString NotificationServer::GetServerInformation(QString& vendor, QString& version,
                                                 QString& specVersion) {
    vendor = "Marrowbell tests";
    version = "1";
    specVersion = "1.2";
    return "test-notification-server";
}

} // namespace marrowbell::app::test
